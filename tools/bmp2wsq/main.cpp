// bmp2wsq BMP WSQ: compresses an 8-bit grey (or 24-bit) BMP to WSQ at bit rate 0.75 and 500 ppi. On failure it
// prints one Spanish line on stderr, exits with 1 and leaves no output file.
#include "../ConverterMain.h"
#include "capture/wsq/Wsq.h"

using namespace qev;

int main(int argc, char** argv) {
    return tools::runConverter(argc, argv, "bmp2wsq ARCHIVO.BMP ARCHIVO.WSQ",
                               [](const std::vector<uint8_t>& bytes) -> wsq::Result<std::vector<uint8_t>> {
                                   auto bmp = wsq::readGreyBmp(bytes);
                                   if (!bmp) return wsq::fail(bmp.error());
                                   auto stream = wsq::encode(bmp->image, wsq::kDefaultBitRate, wsq::kDefaultPpi);
                                   if (!stream) return wsq::fail("no se pudo comprimir: " + stream.error());
                                   return std::move(stream).value();
                               });
}
