#include "capture/FingerImages.h"

#include "capture/quality/QualityGrader.h"
#include "capture/wsq/GreyBmp.h"
#include "capture/wsq/Wsq.h"

#include <fstream>

namespace qev::capture {

namespace {
bool setError(std::string* error, std::string text) {
    if (error) *error = std::move(text);
    return false;
}
} // namespace

bool wsqFileToBitmapFile(const std::string& wsqFile, const std::string& bmpFile, std::string* error) {
    std::ifstream in(wsqFile, std::ios::binary);
    if (!in) return setError(error, "No se puede abrir el archivo " + wsqFile);
    const std::vector<uint8_t> data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    auto decoded = wsq::decode(data);
    if (!decoded) return setError(error, decoded.error());
    Raster r;
    r.width = decoded->image.width;
    r.height = decoded->image.height;
    r.pixels = std::move(decoded->image.pixels);
    r.resolutionX = r.resolutionY = decoded->ppi > 0 ? decoded->ppi : kFingerPpi;
    return saveGreyBmp(bmpFile, r, error);
}

std::vector<uint8_t> bitmapToWsq(const Raster& bitmap, std::string* error) {
    if (bitmap.empty()) {
        setError(error, "Input image is empty");
        return {};
    }
    const Raster grey = toGrey8(bitmap);
    wsq::GreyImage image{grey.width, grey.height, grey.pixels};
    auto encoded = wsq::encode(image, kFingerBitRate, kFingerPpi);
    if (!encoded) {
        setError(error, encoded.error());
        return {};
    }
    return std::move(encoded).value();
}

bool fingerBitmapFromBmp(std::span<const uint8_t> bmp, Raster& out, std::string* error) {
    auto grey = wsq::readGreyBmp(bmp);
    if (!grey) {
        if (error) *error = grey.error();
        return false;
    }
    out = Raster{};
    out.width = grey->image.width;
    out.height = grey->image.height;
    out.pixels = std::move(grey->image.pixels);
    out.resolutionX = out.resolutionY = kFingerPpi;
    return true;
}

bool copyWithFlips(bool vertical, bool horizontal, const Raster& source, Raster& target) {
    if (source.empty() || source.channels != 1) return false;
    target = flip(source, vertical, horizontal);
    return true;
}

bool cropWidthToMultipleOf4(Raster& image, std::string* error) {
    if (image.empty()) return setError(error, "Input image is empty");
    const int width = image.width - image.width % 4;
    if (width != image.width) image = crop(image, 0, 0, width, image.height);
    return true;
}

int gradeImage(Raster& image, int& quality) {
    if (image.width <= 0) return quality::kNoImage;
    if (!cropWidthToMultipleOf4(image, nullptr)) return quality::kNoImage;
    const Raster grey = toGrey8(image);
    const quality::GradeResult r = quality::grade(grey.pixels.data(), grey.width, grey.height, kFingerPpi);
    quality = r.quality;
    return r.code;
}

} // namespace qev::capture
