#pragma once
// Shared helpers of the WSQ tests: the reference data folder, file loading and a segment walker that checks the
// marker syntax of a stream.

#include "capture/wsq/Wsq.h"

#include <cstdint>
#include <string>
#include <vector>

namespace qev::test {

std::string fingerprintDir();
std::vector<uint8_t> loadBytes(const std::string& path);
// Reference decode stored as an 8-bit grey PNG.
wsq::GreyImage loadPng(const std::string& path);
wsq::GreyImage loadRaw(const std::string& path, int width, int height);

struct Segment {
    uint16_t marker;
    size_t offset;    // of the marker
    size_t length;    // the segment's length field, 0 for SOI/EOI
    size_t dataBytes; // entropy bytes after a SOB, stuffing included
};

// Splits a stream into segments; fails the current test on any syntax error (bad length, lone 0xFF in entropy
// data, missing EOI).
std::vector<Segment> walkSegments(const std::vector<uint8_t>& s);

double psnr(const wsq::GreyImage& a, const wsq::GreyImage& b);

} // namespace qev::test
