// wsq2bmp WSQ BMP: decodes a WSQ stream into an 8-bit grey BMP. On failure it prints one Spanish line on stderr,
// exits with 1 and leaves no output file.
#include "../ConverterMain.h"
#include "capture/wsq/Wsq.h"

using namespace qev;

int main(int argc, char** argv) {
    return tools::runConverter(argc, argv, "wsq2bmp ARCHIVO.WSQ ARCHIVO.BMP",
                               [](const std::vector<uint8_t>& bytes) -> wsq::Result<std::vector<uint8_t>> {
                                   auto image = wsq::decode(bytes);
                                   if (!image) return wsq::fail("no se pudo decodificar: " + image.error());
                                   return wsq::writeGreyBmp(image->image, image->ppi);
                               });
}
