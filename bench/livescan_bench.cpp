// The livescan save step as the operator waits for it: ten 500 x 500 finger BMPs converted by ten bmp2wsq processes
// run side by side and packed into "dedos.zip", against ten in-process encodes of the same images one after
// another, measured in the same run. Median of several runs, milliseconds.
// Usage: livescan_bench [runs]   (9 by default)
#include "capture/LiveScanSession.h"
#include "capture/wsq/GreyBmp.h"
#include "capture/wsq/Wsq.h"

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

using namespace qev;
using Stopwatch = std::chrono::steady_clock;

namespace {

struct Source {
    const char* file;
    int width, height;
};

// NIST fingers, each centred on a 500 x 500 white canvas (cropped where larger).
const Source kSources[capture::kFingers] = {
    {"more/sivv_card0001_01_545x498.raw", 545, 498}, {"more/sivv_card0002_01_506x551.raw", 506, 551},
    {"more/sivv_card0003_05_372x388.raw", 372, 388}, {"more/sivv_card0004_02_456x503.raw", 456, 503},
    {"more/wvu3_r3_400x375.raw", 400, 375},          {"more/wvu3_r5_400x375.raw", 400, 375},
    {"more/wvu3_r7_400x375.raw", 400, 375},          {"more/wvu3_r13_800x475.raw", 800, 475},
    {"an2k_valid12_512x512.raw", 512, 512},          {"nist_finger_500x500.raw", 500, 500}};

wsq::GreyImage finger500(const Source& s) {
    QFile f(QStringLiteral(QEV_SOURCE_DIR "/tests/data/fingerprints/") + QLatin1String(s.file));
    if (!f.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "no se puede leer %s\n", s.file);
        std::exit(1);
    }
    const QByteArray raw = f.readAll();
    if (raw.size() != qsizetype(s.width) * s.height) {
        std::fprintf(stderr, "%s no mide %dx%d\n", s.file, s.width, s.height);
        std::exit(1);
    }
    wsq::GreyImage out{500, 500, std::vector<uint8_t>(500 * 500, 255)};
    const int dx = (s.width - 500) / 2, dy = (s.height - 500) / 2;
    for (int y = 0; y < 500; ++y)
        for (int x = 0; x < 500; ++x) {
            const int sx = x + dx, sy = y + dy;
            if (sx >= 0 && sy >= 0 && sx < s.width && sy < s.height)
                out.pixels[size_t(y) * 500 + size_t(x)] = uint8_t(raw[qsizetype(sy) * s.width + sx]);
        }
    return out;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

double msSince(Stopwatch::time_point t0) {
    return std::chrono::duration<double, std::milli>(Stopwatch::now() - t0).count();
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 9;

    QTemporaryDir office;
    capture::LiveScanSession session(office.path());
    session.setConverter(QStringLiteral(QEV_BMP2WSQ));
    std::vector<wsq::GreyImage> fingers;
    for (int n = 1; n <= capture::kFingers; ++n) {
        fingers.push_back(finger500(kSources[n - 1]));
        const std::vector<uint8_t> bmp = wsq::writeGreyBmp(fingers.back(), 500);
        QFile f(session.fingerBmp(n));
        if (!f.open(QIODevice::WriteOnly) ||
            f.write(reinterpret_cast<const char*>(bmp.data()), qsizetype(bmp.size())) != qsizetype(bmp.size())) {
            std::fprintf(stderr, "no se puede escribir %s\n", qPrintable(f.fileName()));
            return 1;
        }
    }

    std::vector<double> save, encode;
    qint64 archiveBytes = 0;
    for (int r = 0; r < runs; ++r) {
        auto t0 = Stopwatch::now();
        const auto result = session.save(nullptr);
        save.push_back(msSince(t0));
        if (!result.ok) {
            std::fprintf(stderr, "la grabación falló: %s\n", qPrintable(result.status));
            return 1;
        }
        archiveBytes = QFile(result.archive).size();

        t0 = Stopwatch::now();
        size_t bytes = 0;
        for (const wsq::GreyImage& image : fingers) {
            auto stream = wsq::encode(image, wsq::kDefaultBitRate, wsq::kDefaultPpi);
            if (!stream) std::abort();
            bytes += stream->size();
        }
        encode.push_back(msSince(t0));
        if (bytes == 0) std::abort();
    }

    const double s = median(save), e = median(encode);
    std::printf("livescan save, ten 500x500 fingers, median of %d runs\n", runs);
    std::printf("%-44s %9.1f ms\n", "save (10 x bmp2wsq side by side + dedos.zip)", s);
    std::printf("%-44s %9.1f ms\n", "10 in-process encodes, one after another", e);
    std::printf("%-44s %9.2f x   (aim: <= 2.00)\n", "ratio save / in-process", s / e);
    std::printf("%-44s %9lld bytes\n", "dedos.zip", static_cast<long long>(archiveBytes));
    return 0;
}
