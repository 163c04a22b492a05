#pragma once
// Grey BMP files without Qt: reads uncompressed 8-bit paletted (palette mapped to grey) and 24-bit (luminance)
// bitmaps, writes 8-bit bitmaps with a 256-entry grey palette, bottom-up rows padded to 4 bytes.

#include "capture/wsq/Result.h"
#include "capture/wsq/Wsq.h"

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace qev::wsq {

struct GreyBitmap {
    GreyImage image; // top row first
    int ppi = -1;    // from the pixels-per-metre field, -1 when absent
};

Result<GreyBitmap> readGreyBmp(std::span<const uint8_t> bytes);
std::vector<uint8_t> writeGreyBmp(const GreyImage& image, int ppi);

// File helpers: a read error names the file; a write goes to a temporary name first and is renamed into place,
// so a failed write never leaves a partial file under the target name.
Result<std::vector<uint8_t>> readFileBytes(const std::string& path);
Result<bool> writeFileAtomically(const std::string& path, std::span<const uint8_t> bytes);
// The first half of such a write: `bytes` in a new file beside `path`, under a name no other writer uses, flushed
// to disk; answers that file's name for the caller to rename. Nothing is left behind on failure.
Result<std::string> writeTempFileBeside(const std::string& path, std::span<const uint8_t> bytes);

} // namespace qev::wsq
