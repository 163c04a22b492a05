#include "capture/wsq/WsqPack.h"

#include "capture/wsq/Wsq.h"

#include <cstdlib>
#include <cstring>
#include <new>

namespace qev::wsq {

namespace {

thread_local std::string t_lastError;

int refuse(std::string text, int code) {
    t_lastError = std::move(text);
    return code;
}

} // namespace

const std::string& lastError() {
    return t_lastError;
}

int compress(uint8_t** data, int* size, float bitRate, const uint8_t* raw, int width, int height, int depth, int ppi,
             const char* comment) {
    if (!data || !size) return refuse("argumentos inválidos", kPackBadArgument);
    *data = nullptr;
    *size = 0;
    if (!raw || width <= 0 || height <= 0) return refuse("argumentos inválidos", kPackBadArgument);
    if (depth != 8) return refuse("sólo se comprimen imágenes de 8 bits", kPackBadArgument);
    try {
        GreyImage img;
        img.width = width;
        img.height = height;
        if (int64_t{width} * height > kMaxPixels) return refuse("la imagen es demasiado grande para WSQ", kPackRefused);
        img.pixels.assign(raw, raw + static_cast<size_t>(width) * static_cast<size_t>(height));
        auto stream = encode(img, bitRate, ppi, comment ? std::optional<std::string>(comment) : std::nullopt);
        if (!stream) return refuse(stream.error(), kPackRefused);
        auto* buf = static_cast<uint8_t*>(std::malloc(stream->size()));
        if (!buf) return refuse("memoria insuficiente", kPackNoMemory);
        std::memcpy(buf, stream->data(), stream->size());
        *data = buf;
        *size = static_cast<int>(stream->size());
        return kPackOk;
    } catch (const std::bad_alloc&) {
        return refuse("memoria insuficiente", kPackNoMemory);
    }
}

int uncompress(uint8_t** raw, int* width, int* height, int* depth, int* ppi, int* lossy, const uint8_t* data,
               int size) {
    if (!raw || !width || !height || !depth || !ppi || !lossy) return refuse("argumentos inválidos", kPackBadArgument);
    *raw = nullptr;
    *width = *height = *depth = *lossy = 0;
    *ppi = -1;
    if (!data || size <= 0) return refuse("argumentos inválidos", kPackBadArgument);
    auto img = decode(std::span(data, static_cast<size_t>(size)));
    if (!img) return refuse(img.error(), kPackRefused);
    auto* buf = static_cast<uint8_t*>(std::malloc(img->image.pixels.size()));
    if (!buf) return refuse("memoria insuficiente", kPackNoMemory);
    std::memcpy(buf, img->image.pixels.data(), img->image.pixels.size());
    *raw = buf;
    *width = img->image.width;
    *height = img->image.height;
    *depth = img->depth;
    *ppi = img->ppi;
    *lossy = img->lossy ? 1 : 0;
    return kPackOk;
}

void freeBuffer(uint8_t** buffer) {
    if (!buffer) return;
    std::free(*buffer);
    *buffer = nullptr;
}

} // namespace qev::wsq
