// WSQ codec timings: encode (bit rate 0.75, 500 ppi) and decode of the reference originals and of the pixels of the
// reference and foreign streams, the grade of the single-finger originals, and the whole-process time of bmp2wsq
// on the same pixels written as a BMP (start-up, reading, encoding and writing, as the livescan path runs it once
// per finger); median of several runs per image, in milliseconds. The last columns compare the process with the
// in-process encode and with a bare process start (/bin/true) measured in the same run.
// Usage: wsq_bench [runs]   (15 by default)
//
// Each image row is a list of timed operations; another module's operation (the quality grader) is added by
// appending to kOperations without touching the rest.
#include "BenchProcess.h"
#include "capture/quality/QualityGrader.h"
#include "capture/wsq/GreyBmp.h"
#include "capture/wsq/Wsq.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <optional>
#include <string>
#include <vector>

using namespace qev;
using Stopwatch = std::chrono::steady_clock;

namespace {

const std::string kDir = QEV_SOURCE_DIR "/tests/data/fingerprints/";

// One benchmark image: pixels when we have the original, the stream when we have one.
struct Sample {
    std::string name;
    wsq::GreyImage image;
    std::vector<uint8_t> stream;
    bool original = false; // a single finger as captured, which the grader takes
};

// A timed operation; returns false when it does not apply to the sample.
struct Operation {
    const char* name;
    std::function<bool(const Sample&)> run;
};

const std::vector<Operation> kOperations = {
    {"encode",
     [](const Sample& s) {
         if (s.image.pixels.empty()) return false;
         auto r = wsq::encode(s.image, 0.75f, 500);
         if (!r) std::abort();
         return true;
     }},
    {"decode",
     [](const Sample& s) {
         auto r = wsq::decode(s.stream);
         if (!r) std::abort();
         return true;
     }},
    // Grading one finger: only the single-finger originals, as the livescan window grades them.
    {"grade",
     [](const Sample& s) {
         if (!s.original) return false;
         const auto r = quality::grade(s.image.pixels.data(), s.image.width, s.image.height, 500);
         if (r.code < 0) std::abort();
         return true;
     }},
};

std::optional<double> medianMs(const Operation& op, const Sample& s, int runs) {
    std::vector<double> t;
    for (int i = 0; i < runs; ++i) {
        const auto t0 = Stopwatch::now();
        if (!op.run(s)) return std::nullopt;
        t.push_back(std::chrono::duration<double, std::milli>(Stopwatch::now() - t0).count());
    }
    std::sort(t.begin(), t.end());
    return t[t.size() / 2];
}

Sample original(const char* stem, int w, int h) {
    Sample s;
    s.name = stem;
    s.original = true;
    auto raw = wsq::readFileBytes(kDir + stem + ".raw");
    if (!raw) std::abort();
    s.image = wsq::GreyImage{w, h, std::move(*raw)};
    auto enc = wsq::encode(s.image, 0.75f, 500);
    if (!enc) std::abort();
    s.stream = std::move(*enc);
    return s;
}

// A stream, with its decoded pixels to encode again.
Sample stream(const char* file) {
    Sample s;
    s.name = file;
    auto bytes = wsq::readFileBytes(kDir + file);
    if (!bytes) std::abort();
    s.stream = std::move(*bytes);
    auto dec = wsq::decode(s.stream);
    if (!dec) std::abort();
    s.image = std::move(dec->image);
    return s;
}

// Median whole-process time of bmp2wsq on the sample's pixels written as a BMP.
double bmp2wsqMs(const Sample& s, const std::string& dir, int runs) {
    const std::string bmp = dir + "/dedo.bmp", out = dir + "/dedo.wsq";
    if (!wsq::writeFileAtomically(bmp, wsq::writeGreyBmp(s.image, 500))) std::abort();
    std::vector<double> t;
    for (int i = 0; i < runs; ++i) {
        const double ms = bench::timeProcess(QEV_BMP2WSQ, {bmp, out});
        if (ms < 0) std::abort();
        t.push_back(ms);
    }
    std::remove(bmp.c_str());
    std::remove(out.c_str());
    std::sort(t.begin(), t.end());
    return t[t.size() / 2];
}

} // namespace

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 15;
    std::vector<Sample> samples;
    samples.push_back(original("nist_finger_500x500", 500, 500));
    samples.push_back(original("an2k_valid12_512x512", 512, 512));
    for (const char* f : {"nist_finger_500x500.nbis075.wsq", "an2k_valid1.1_r3.wsq", "an2k_valid1.14_r3.wsq",
                          "an2k_valid1.9_r3.wsq", "an2k_valid1.8_r3.wsq", "an2k_valid1.9_r4.wsq"})
        samples.push_back(stream(f));

    char tmpl[] = "/tmp/wsq_bench.XXXXXX";
    const char* tmp = mkdtemp(tmpl);
    if (tmp == nullptr) std::abort();
    std::vector<double> bare;
    for (int i = 0; i < runs; ++i)
        bare.push_back(bench::timeProcess("/bin/true", {}));
    std::sort(bare.begin(), bare.end());
    const double start = bare[bare.size() / 2];

    std::printf("%-34s %11s %9s", "image", "size", "bytes");
    for (const Operation& op : kOperations)
        std::printf(" %9s ms", op.name);
    std::printf(" %9s ms %14s %14s   (median of %d runs; /bin/true %.2f ms)\n", "bmp2wsq", "bmp2wsq/encode",
                "bmp2wsq/true", runs, start);
    for (const Sample& s : samples) {
        std::printf("%-34s %5dx%-5d %9zu", s.name.c_str(), s.image.width, s.image.height, s.stream.size());
        double encodeMs = 0.0;
        for (const Operation& op : kOperations) {
            const auto ms = medianMs(op, s, runs);
            if (ms && std::string(op.name) == "encode") encodeMs = *ms;
            if (ms)
                std::printf(" %12.2f", *ms);
            else
                std::printf(" %12s", "-");
        }
        const double process = bmp2wsqMs(s, tmp, runs);
        std::printf(" %12.2f %14.2f %14.2f\n", process, process / encodeMs, process / start);
    }
    rmdir(tmp);
    return 0;
}
