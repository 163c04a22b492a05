#pragma once
// Feeds arbitrary bytes to the WSQ decoder, through the C++ entry and through the buffer-handing entry the
// program's binding uses. A decoded image must have the pixel count its size promises. Used by the fuzzer and by
// the regression test over saved inputs.

#include "capture/wsq/Wsq.h"
#include "capture/wsq/WsqPack.h"

#include <cstdint>
#include <cstdlib>
#include <span>

namespace qev::fuzz {

inline void exerciseWsqBytes(const uint8_t* data, size_t size) {
    auto img = wsq::decode(std::span(data, size));
    if (img && img->image.pixels.size() != static_cast<size_t>(img->image.width) * img->image.height) std::abort();
    uint8_t* raw = nullptr;
    int w = 0, h = 0, depth = 0, ppi = 0, lossy = 0;
    const int rc = wsq::uncompress(&raw, &w, &h, &depth, &ppi, &lossy, data, static_cast<int>(size));
    if ((rc == 0) != (raw != nullptr) || (rc == 0) != img.ok()) std::abort();
    wsq::freeBuffer(&raw);
}

} // namespace qev::fuzz
