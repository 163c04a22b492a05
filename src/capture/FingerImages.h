#pragma once
// The bitmap operations that go with fingerprint grading and WSQ compression: WSQ files to grey bitmaps and back,
// copies with flips, and the crop that leaves rows without padding.
#include "capture/ImageLib.h"
#include <span>
#include <string>
#include <vector>

namespace qev::capture {

// WSQ parameters of every finger the program compresses.
inline constexpr float kFingerBitRate = 0.75f;
inline constexpr int kFingerPpi = 500;

// Decodes a WSQ file and writes it as an 8-bit BMP with a grey palette; false (and the reason) on any failure,
// leaving no partial BMP behind.
bool wsqFileToBitmapFile(const std::string& wsqFile, const std::string& bmpFile, std::string* error);
// Compresses a grey bitmap at 0.75 bits per pixel and 500 ppi; empty for an empty image or on failure.
std::vector<uint8_t> bitmapToWsq(const Raster& bitmap, std::string* error);
// A finger BMP held in memory (a device image, a file read whole) as a grey raster at 500 ppi; false with the
// reason when the bytes are not a BMP this program reads.
bool fingerBitmapFromBmp(std::span<const uint8_t> bmp, Raster& out, std::string* error);
// The target takes the source's size; rows reversed for `vertical`, bytes within a row for `horizontal`.
bool copyWithFlips(bool vertical, bool horizontal, const Raster& source, Raster& target);
// Keeps the left part whose width is a multiple of 4; "Input image is empty" for an empty image.
bool cropWidthToMultipleOf4(Raster& image, std::string* error);
// Grades one finger: -2 (quality untouched) for an empty image; otherwise the image is first cropped to a width
// that is a multiple of 4, then graded. Answers the return code and sets `quality`.
int gradeImage(Raster& image, int& quality);

} // namespace qev::capture
