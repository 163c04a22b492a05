#pragma once

#include "capture/quality/BlockMaps.h"

#include <QImage>
#include <QString>

#include <cstdint>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace qev::test {

inline std::string fingerprintDir() {
    return std::string(QEV_FINGERPRINT_DIR) + "/";
}

// One row of the reference results table.
struct ReferenceRow {
    std::string file;
    int width = 0;
    int height = 0;
    std::vector<float> features; // f1..f11
    int nfiq = 0;
    std::vector<int> blocks;         // per quality level 0..4
    std::vector<double> activations; // outputs 1..5
};

inline std::vector<std::string> splitCsvLine(const std::string& line) {
    std::vector<std::string> cells;
    std::string cell;
    bool quoted = false;
    for (const char c : line) {
        if (c == '"')
            quoted = !quoted;
        else if (c == ',' && !quoted) {
            cells.push_back(cell);
            cell.clear();
        } else
            cell += c;
    }
    cells.push_back(cell);
    return cells;
}

inline std::vector<ReferenceRow> loadReferenceRows() {
    std::ifstream in(fingerprintDir() + "nfiq_reference.csv");
    std::vector<ReferenceRow> rows;
    std::string line;
    std::getline(in, line); // header
    while (std::getline(in, line)) {
        const auto c = splitCsvLine(line);
        if (c.size() < 30) continue;
        ReferenceRow r;
        r.file = c[0];
        r.width = std::stoi(c[2]);
        r.height = std::stoi(c[3]);
        for (int i = 6; i < 17; ++i)
            r.features.push_back(std::stof(c[static_cast<std::size_t>(i)]));
        r.nfiq = std::stoi(c[17]);
        for (int i = 20; i < 25; ++i)
            r.blocks.push_back(std::stoi(c[static_cast<std::size_t>(i)]));
        for (int i = 25; i < 30; ++i)
            r.activations.push_back(std::stod(c[static_cast<std::size_t>(i)]));
        rows.push_back(r);
    }
    return rows;
}

// Pixels of a .raw original or a .dec.png decode, rows top first; empty when the file cannot be read.
inline std::vector<std::uint8_t> loadFingerprint(const ReferenceRow& row) {
    const std::string path = fingerprintDir() + row.file;
    if (row.file.ends_with(".png")) {
        QImage image(QString::fromStdString(path));
        if (image.isNull() || image.width() != row.width || image.height() != row.height) return {};
        image = image.convertToFormat(QImage::Format_Grayscale8);
        std::vector<std::uint8_t> pixels;
        pixels.reserve(static_cast<std::size_t>(row.width) * static_cast<std::size_t>(row.height));
        for (int y = 0; y < row.height; ++y) {
            const uchar* line = image.constScanLine(y);
            pixels.insert(pixels.end(), line, line + row.width);
        }
        return pixels;
    }
    std::ifstream in(path, std::ios::binary);
    std::vector<std::uint8_t> pixels((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (pixels.size() != static_cast<std::size_t>(row.width) * static_cast<std::size_t>(row.height)) return {};
    return pixels;
}

// ---- What the reference minutiae detector computed for an image named NAME_WxH (more/mindtct/) ----------------

inline std::string stagePath(const std::string& name, const char* ext) {
    return fingerprintDir() + "more/mindtct/" + name + ext;
}

// The 8-bit original: the first two images lie beside the other references, the rest in more/.
inline std::string stageRawPath(const std::string& name) {
    const bool top = name.starts_with("nist") || name.starts_with("an2k");
    return fingerprintDir() + (top ? "" : "more/") + name + ".raw";
}

// Width and height from the name's "_WxH" ending.
inline std::pair<int, int> stageImageSize(const std::string& name) {
    const auto x = name.rfind('x');
    const auto u = name.rfind('_', x);
    return {std::stoi(name.substr(u + 1, x - u - 1)), std::stoi(name.substr(x + 1))};
}

// A block map as whitespace-separated integers, one per 8x8 block, rows top first.
inline std::vector<int> readStageMap(const std::string& path) {
    std::ifstream in(path);
    std::vector<int> values;
    int v = 0;
    while (in >> v)
        values.push_back(v);
    return values;
}

// The reference's five block maps of an image, its directions turned into our numbering (it counts from the
// vertical, a quarter turn from us).
inline quality::BlockMaps referenceBlockMaps(const std::string& name, int width, int height) {
    quality::BlockMaps m;
    m.width = (width + quality::kBlockSize - 1) / quality::kBlockSize;
    m.height = (height + quality::kBlockSize - 1) / quality::kBlockSize;
    m.direction = readStageMap(stagePath(name, ".dm"));
    for (int& d : m.direction)
        if (d != quality::kNoDirection) d = (d + quality::kDirectionCount / 2) % quality::kDirectionCount;
    auto bytes = [&](const char* ext) {
        const auto v = readStageMap(stagePath(name, ext));
        return std::vector<std::uint8_t>(v.begin(), v.end());
    };
    m.lowContrast = bytes(".lcm");
    m.lowFlow = bytes(".lfm");
    m.highCurvature = bytes(".hcm");
    m.quality = bytes(".qm");
    return m;
}

// The reference's binarised image, 1 = ridge; empty when the file is missing or of another size.
inline std::vector<std::uint8_t> referenceRidges(const std::string& name, int width, int height) {
    QImage brw(QString::fromStdString(stagePath(name, ".brw.png")));
    if (brw.width() != width || brw.height() != height) return {};
    brw = brw.convertToFormat(QImage::Format_Grayscale8);
    std::vector<std::uint8_t> ridges;
    ridges.reserve(static_cast<std::size_t>(width) * static_cast<std::size_t>(height));
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            ridges.push_back(brw.constScanLine(y)[x] == 0 ? 1 : 0);
    return ridges;
}

} // namespace qev::test
