// fingerquality [--raw W,H] [--ppi N] [--features] [--maps DIR] FILE
// Grades an 8-bit grey BMP, a WSQ stream or a raw grey image and prints "nfiq=N confidence=C"; --features adds the
// eleven network inputs, --maps writes the block maps and minutiae as text files into DIR. Exit 0, or 2 with one
// Spanish line on stderr when the arguments are wrong or the image cannot be read or is too small to grade.
#include "capture/quality/MapText.h"
#include "capture/quality/QualityGrader.h"
#include "capture/wsq/GreyBmp.h"
#include "capture/wsq/Wsq.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>

using namespace qev;

namespace {

// The smallest side graded: the reference grader the central office uses refuses smaller images.
constexpr int kMinSide = 256;
constexpr int kFailure = 2;

const char* const kUsage = "Uso: fingerquality [--raw ANCHO,ALTO] [--ppi N] [--features] [--maps CARPETA] ARCHIVO";

struct Options {
    std::optional<std::pair<int, int>> raw;
    int ppi = quality::kDefaultPpi;
    bool features = false;
    std::string mapsDir;
    std::string file;
};

int refuse(const std::string& message) {
    std::fprintf(stderr, "%s\n", message.c_str());
    return kFailure;
}

bool parsePositive(const std::string& text, int& value) {
    char* end = nullptr;
    const long v = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || end == nullptr || *end != '\0' || v <= 0 || v > 65535) return false;
    value = static_cast<int>(v);
    return true;
}

std::optional<Options> parse(int argc, char** argv) {
    Options o;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const bool hasValue = i + 1 < argc;
        if (a == "--raw" && hasValue) {
            const std::string v = argv[++i];
            const auto comma = v.find(',');
            int w = 0, h = 0;
            if (comma == std::string::npos || !parsePositive(v.substr(0, comma), w) ||
                !parsePositive(v.substr(comma + 1), h))
                return std::nullopt;
            o.raw = std::make_pair(w, h);
        } else if (a == "--ppi" && hasValue) {
            if (!parsePositive(argv[++i], o.ppi)) return std::nullopt;
        } else if (a == "--features") {
            o.features = true;
        } else if (a == "--maps" && hasValue) {
            o.mapsDir = argv[++i];
        } else if (!a.starts_with("--") && o.file.empty()) {
            o.file = a;
        } else {
            return std::nullopt;
        }
    }
    if (o.file.empty()) return std::nullopt;
    return o;
}

// The image in the file, or an error text for the operator.
wsq::Result<wsq::GreyImage> readImage(const Options& o) {
    auto bytes = wsq::readFileBytes(o.file);
    if (!bytes) return wsq::fail("no existe o no se puede leer el archivo " + o.file);
    const std::vector<uint8_t>& b = *bytes;
    if (o.raw) {
        const auto [w, h] = *o.raw;
        if (b.size() != static_cast<std::size_t>(w) * static_cast<std::size_t>(h))
            return wsq::fail("el archivo " + o.file + " no tiene " + std::to_string(w) + " x " + std::to_string(h) +
                             " bytes de una imagen cruda de grises");
        return wsq::GreyImage{w, h, b};
    }
    if (b.size() >= 2 && b[0] == 0xFF && b[1] == 0xA0) {
        auto decoded = wsq::decode(b);
        if (!decoded) return wsq::fail("el archivo WSQ " + o.file + " no se puede leer: " + decoded.error());
        return std::move(decoded->image);
    }
    if (b.size() >= 2 && b[0] == 'B' && b[1] == 'M') {
        auto bmp = wsq::readGreyBmp(b);
        if (!bmp) return wsq::fail("el BMP " + o.file + " no se puede leer: " + bmp.error());
        return std::move(bmp->image);
    }
    return wsq::fail("el archivo " + o.file +
                     " no es un BMP de grises ni un WSQ (para una imagen cruda indique --raw ANCHO,ALTO)");
}

bool writeText(const std::filesystem::path& path, const std::string& text) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) return false;
    const bool ok = std::fwrite(text.data(), 1, text.size(), f) == text.size();
    return std::fclose(f) == 0 && ok;
}

bool writeMaps(const std::string& dir, const std::string& file, const quality::GradeDetails& d, int w, int h) {
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    const std::filesystem::path base = std::filesystem::path(dir) / std::filesystem::path(file).stem();
    const quality::BlockMaps& m = d.maps;
    auto path = [&](const char* ext) { return std::filesystem::path(base.string() + ext); };
    return writeText(path(".dm"), quality::formatDirectionMap(m)) &&
           writeText(path(".lcm"), quality::formatBlockMap(m.lowContrast, m.width, m.height)) &&
           writeText(path(".lfm"), quality::formatBlockMap(m.lowFlow, m.width, m.height)) &&
           writeText(path(".hcm"), quality::formatBlockMap(m.highCurvature, m.width, m.height)) &&
           writeText(path(".qm"), quality::formatBlockMap(m.quality, m.width, m.height)) &&
           writeText(path(".min"), quality::formatMinutiae(d.minutiae, w, h));
}

} // namespace

int main(int argc, char** argv) {
    const auto options = parse(argc, argv);
    if (!options) return refuse(kUsage);
    auto image = readImage(*options);
    if (!image) return refuse("Error: " + image.error());
    if (image->width < kMinSide || image->height < kMinSide)
        return refuse("Error: la imagen de " + options->file + " mide " + std::to_string(image->width) + " x " +
                      std::to_string(image->height) + " píxeles; para calificarla debe medir al menos " +
                      std::to_string(kMinSide) + " x " + std::to_string(kMinSide));
    const quality::GradeDetails d =
        quality::gradeDetailed(image->pixels.data(), image->width, image->height, options->ppi);
    if (d.code < 0) return refuse("Error: no hay memoria suficiente para calificar " + options->file);
    std::printf("nfiq=%d confidence=%.2f\n", d.quality, static_cast<double>(d.confidence));
    if (options->features) std::printf("features=%s\n", quality::formatFeatures(d.features).c_str());
    if (!options->mapsDir.empty() && !writeMaps(options->mapsDir, options->file, d, image->width, image->height))
        return refuse("Error: no se pudieron escribir los mapas en " + options->mapsDir);
    return 0;
}
