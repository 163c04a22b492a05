// bmp2wsq BMP WSQ: compresses an 8-bit grey (or 24-bit) BMP to WSQ at bit rate 0.75 and 500 ppi. On failure it
// prints one Spanish line on stderr, exits with 1 and leaves no output file.
#include "capture/wsq/GreyBmp.h"
#include "capture/wsq/Wsq.h"

#include <cstdio>
#include <string>

using namespace qev::wsq;

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "Uso: bmp2wsq ARCHIVO.BMP ARCHIVO.WSQ\n");
        return 2;
    }
    const std::string in = argv[1], out = argv[2];
    auto bytes = readFileBytes(in);
    if (!bytes) {
        std::fprintf(stderr, "Error: no existe o no se puede leer el archivo origen %s\n", in.c_str());
        return 1;
    }
    auto bmp = readGreyBmp(*bytes);
    if (!bmp) {
        std::fprintf(stderr, "Error: %s: %s\n", in.c_str(), bmp.error().c_str());
        return 1;
    }
    auto wsq = encode(bmp->image, kDefaultBitRate, kDefaultPpi);
    if (!wsq) {
        std::fprintf(stderr, "Error: no se pudo comprimir %s: %s\n", in.c_str(), wsq.error().c_str());
        return 1;
    }
    auto written = writeFileAtomically(out, *wsq);
    if (!written) {
        std::fprintf(stderr, "Error: %s\n", written.error().c_str());
        return 1;
    }
    return 0;
}
