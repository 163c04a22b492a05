// Grade time per finger image: the in-process median of several grades, and the median whole-process time of
// fingerquality on the same pixels written as an 8-bit BMP (start-up, reading the file and grading, as the livescan
// path runs it), with the ratio of the two.
#include "BenchProcess.h"
#include "capture/quality/QualityGrader.h"
#include "capture/wsq/GreyBmp.h"

#include <QImage>
#include <QString>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <unistd.h>

namespace {

struct Sample {
    const char* file;
    int width;
    int height;
};

std::vector<std::uint8_t> load(const std::string& path, int w, int h) {
    if (path.ends_with(".png")) {
        QImage image(QString::fromStdString(path));
        if (image.isNull() || image.width() != w || image.height() != h) return {};
        image = image.convertToFormat(QImage::Format_Grayscale8);
        std::vector<std::uint8_t> px;
        for (int y = 0; y < h; ++y)
            px.insert(px.end(), image.constScanLine(y), image.constScanLine(y) + w);
        return px;
    }
    std::ifstream in(path, std::ios::binary);
    std::vector<std::uint8_t> px((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    return px.size() == static_cast<std::size_t>(w) * static_cast<std::size_t>(h) ? px : std::vector<std::uint8_t>{};
}

double median(std::vector<double> v) {
    std::nth_element(v.begin(), v.begin() + static_cast<std::ptrdiff_t>(v.size() / 2), v.end());
    return v[v.size() / 2];
}

} // namespace

int main(int argc, char** argv) {
    const std::string dir = argc > 1 ? argv[1] : std::string(QEV_FINGERPRINT_DIR) + "/";
    const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 7;
    const Sample samples[] = {
        {"nist_finger_500x500.raw", 500, 500},   {"nist_finger_500x500.nbis075.dec.png", 500, 500},
        {"an2k_valid12_512x512.raw", 512, 512},  {"an2k_valid12_512x512.nbis075.dec.png", 512, 512},
        {"an2k_valid1.1_r3.dec.png", 512, 512},  {"an2k_valid1.14_r3.dec.png", 784, 1133},
        {"an2k_valid1.9_r3.dec.png", 800, 800},  {"an2k_valid1.9_r4.dec.png", 2000, 2000},
        {"an2k_valid1.8_r3.dec.png", 1600, 976}, {"an2k_valid1.8_r4.dec.png", 1600, 976},
        {"an2k_valid1.8_r5.dec.png", 1600, 800},
    };
    char tmpl[] = "/tmp/quality_bench.XXXXXX";
    const char* tmp = mkdtemp(tmpl);
    if (tmp == nullptr) {
        std::fprintf(stderr, "cannot make a temporary folder\n");
        return 1;
    }
    std::printf("%-40s %11s %6s %10s %12s %12s %9s\n", "image", "size", "nfiq", "grade ms", "us/kpixel", "process ms",
                "process/grade");
    for (const Sample& s : samples) {
        const auto px = load(dir + s.file, s.width, s.height);
        if (px.empty()) {
            std::printf("%-40s cannot be read\n", s.file);
            continue;
        }
        const std::string bmp = std::string(tmp) + "/dedo.bmp";
        {
            const auto bytes = qev::wsq::writeGreyBmp({s.width, s.height, px}, 500);
            std::ofstream(bmp, std::ios::binary)
                .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        }
        std::vector<double> ms;
        qev::quality::GradeResult result;
        for (int r = 0; r < runs; ++r) {
            const auto t0 = std::chrono::steady_clock::now();
            result = qev::quality::grade(px.data(), s.width, s.height, 500);
            ms.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count());
        }
        const double grade = median(ms);
        std::vector<double> whole;
        for (int r = 0; r < runs; ++r)
            whole.push_back(bench::timeProcess(QEV_FINGERQUALITY, {bmp}));
        const double process = median(whole);
        std::remove(bmp.c_str());
        std::printf("%-40s %5dx%-5d %6d %10.1f %12.1f %12.1f %9.2f\n", s.file, s.width, s.height, result.quality, grade,
                    1000.0 * grade / (s.width * s.height / 1000.0), process, process / grade);
    }
    rmdir(tmp);
    return 0;
}
