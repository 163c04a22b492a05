#pragma once
// Feeds arbitrary bytes to the image readers as a file: page count, the properties of every page and, for pages
// of a sane size, the pixels. Used by the fuzzer and by the regression test over saved inputs.

#include "capture/ImageLib.h"

#include <cstdint>
#include <fstream>
#include <string>

namespace qev::fuzz {

inline void exerciseImageBytes(const std::string& path, const uint8_t* data, size_t size) {
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }
    std::string error;
    const int pages = capture::pageCount(path, &error);
    for (int page = 1; page <= std::min(pages, 8); ++page) {
        capture::PageInfo info;
        if (!capture::readPageInfo(path, page, info, &error)) continue;
        if (int64_t(info.width) * info.height <= 4'000'000) {
            capture::Raster r;
            (void)capture::loadPage(path, page, r, &error);
        }
    }
}

} // namespace qev::fuzz
