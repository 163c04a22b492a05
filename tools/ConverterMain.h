#pragma once
// The shared frame of the one-file converters: argument check, reading the source, writing the result whole or
// not at all, and one Spanish line on stderr with a non-zero exit on any failure.
#include "capture/wsq/GreyBmp.h"

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

namespace qev::tools {

using Conversion = std::function<wsq::Result<std::vector<uint8_t>>(const std::vector<uint8_t>& source)>;

inline int runConverter(int argc, char** argv, const char* usage, const Conversion& convert) {
    if (argc != 3) {
        std::fprintf(stderr, "Uso: %s\n", usage);
        return 2;
    }
    const std::string in = argv[1], out = argv[2];
    auto bytes = wsq::readFileBytes(in);
    if (!bytes) {
        std::fprintf(stderr, "Error: no existe o no se puede leer el archivo origen %s\n", in.c_str());
        return 1;
    }
    auto converted = convert(*bytes);
    if (!converted) {
        std::fprintf(stderr, "Error: %s: %s\n", in.c_str(), converted.error().c_str());
        return 1;
    }
    auto written = wsq::writeFileAtomically(out, *converted);
    if (!written) {
        std::fprintf(stderr, "Error: %s\n", written.error().c_str());
        return 1;
    }
    return 0;
}

} // namespace qev::tools
