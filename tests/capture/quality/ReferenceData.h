#pragma once

#include <QImage>
#include <QString>

#include <cstdint>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
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

} // namespace qev::test
