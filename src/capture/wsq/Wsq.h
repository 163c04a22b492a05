#pragma once
// WSQ fingerprint image codec: 8-bit grey images to and from WSQ streams (encoder number 2, any conforming
// decoder input including restart markers and even-length filters).

#include "capture/wsq/Result.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace qev::wsq {

// Encoder limits: smaller images leave the lowest subbands a few pixels wide, too little to measure their variance.
constexpr int kMinEncodeSide = 128;
// Decoder limits: below 32 pixels the deepest split would filter fewer than two samples.
constexpr int kMinDecodeSide = 32;
constexpr int kMaxSide = 65535;
// Largest image either direction accepts (the float work image takes four bytes per pixel).
constexpr int64_t kMaxPixels = int64_t{1} << 25;

constexpr float kDefaultBitRate = 0.75f;
constexpr int kDefaultPpi = 500;

// 8-bit grey pixels, top row first, width bytes per row.
struct GreyImage {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> pixels;
};

struct DecodedImage {
    GreyImage image;
    int depth = 8;
    int ppi = -1; // from a NIST_COM comment's PPI line, else -1
    bool lossy = true;
    int encoderNumber = 0;
    int softwareNumber = 0;
    std::vector<std::string> comments;
};

// Encodes at the given bit rate (bits per pixel the quantiser aims for, > 0). Without a comment (or with an empty
// one) the stream carries no comment segment.
Result<std::vector<uint8_t>> encode(const GreyImage& image, float bitRate, int ppi,
                                    const std::optional<std::string>& comment = std::nullopt);

// The NIST_COM comment a caller may pass to say the size, ppi and bit rate in the stream.
std::string nistComment(const GreyImage& image, int ppi, float bitRate);

Result<DecodedImage> decode(std::span<const uint8_t> data);

} // namespace qev::wsq
