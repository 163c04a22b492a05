// wsq2bmp WSQ BMP: decodes a WSQ stream into an 8-bit grey BMP. On failure it prints one Spanish line on stderr,
// exits with 1 and leaves no output file.
#include "capture/wsq/GreyBmp.h"
#include "capture/wsq/Wsq.h"

#include <cstdio>
#include <string>

using namespace qev::wsq;

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "Uso: wsq2bmp ARCHIVO.WSQ ARCHIVO.BMP\n");
        return 2;
    }
    const std::string in = argv[1], out = argv[2];
    auto bytes = readFileBytes(in);
    if (!bytes) {
        std::fprintf(stderr, "Error: no existe o no se puede leer el archivo origen %s\n", in.c_str());
        return 1;
    }
    auto img = decode(*bytes);
    if (!img) {
        std::fprintf(stderr, "Error: no se pudo decodificar %s: %s\n", in.c_str(), img.error().c_str());
        return 1;
    }
    auto written = writeFileAtomically(out, writeGreyBmp(img->image, img->ppi));
    if (!written) {
        std::fprintf(stderr, "Error: %s\n", written.error().c_str());
        return 1;
    }
    return 0;
}
