#include "capture/ImageRules.h"

#include "capture/ImageLib.h"
#include "util/Prompter.h"

#include <QFile>
#include <QFileInfo>

namespace qev {

namespace {
// The first page's properties; a file that cannot be read has none, and so fails every rule that reads one.
capture::PageInfo firstPage(const QString& file) {
    capture::PageInfo info;
    std::string error;
    if (!capture::readPageInfo(QFile::encodeName(file).toStdString(), 1, info, &error)) info = capture::PageInfo{};
    return info;
}

bool report(Prompter& prompter, const QString& pending) {
    if (pending.isEmpty()) return true;
    prompter.error(pending, QStringLiteral("Error"));
    return false;
}
} // namespace

bool ValidarImagenHuella(const QString& file, Prompter& prompter) {
    if (file.isEmpty() || !QFileInfo(file).isFile()) return false;
    const capture::PageInfo p = firstPage(file);
    QString pending;
    if (p.height < 600) pending = QStringLiteral("La huella digitalizada debe tener por lo menos 5 cm. de alto");
    if (p.height > 1800) pending = QStringLiteral("La huella digitalizada debe tener menos de 15 cm. de alto");
    if (p.width < 1200) pending = QStringLiteral("La huella digitalizada debe tener por lo menos 15 cm. de ancho");
    if (p.width > 3000) pending = QStringLiteral("La huella digitalizada debe tener menos de 25 cm. de ancho");
    if (p.resolutionX != 300 || p.resolutionY != 300)
        pending = QStringLiteral("La resolución de la huella debe ser de 300 puntos por pulgada (DPI)");
    if (p.compressionInfo != capture::kInfoJpegMedium)
        pending = QStringLiteral("La huella debe utilizar la compresión JPEG calidad media");
    if (p.compressionType != capture::kCompressionJpeg)
        pending = QStringLiteral("La huella debe utilizar la compresión JPEG");
    if (p.pageType != capture::kPageGrey8)
        pending = QStringLiteral("La huella debe digitalizarse en 256 tonos de gris");
    if (p.fileType != capture::kFileTiff) pending = QStringLiteral("La huella debe guardarse en formato TIFF");
    return report(prompter, pending);
}

bool ValidarImagenDocumento(const QString& file, Prompter& prompter) {
    if (file.isEmpty() || !QFileInfo(file).isFile()) return false;
    const capture::PageInfo p = firstPage(file);
    QString pending;
    // A4 at 300 DPI is 2480 x 3508; a page may be 0.75 to 1.25 times each side.
    const double w = p.width;
    const double h = p.height;
    if (w < 2480 * 0.75 || w > 2480 * 1.25 || h < 3508 * 0.75 || h > 3508 * 1.25)
        pending = QStringLiteral("La imagen debe estar en tamaño A4 a 300 puntos por pulgada");
    if (p.compressionType != capture::kCompressionGroup4 && p.compressionType != capture::kCompressionJpeg)
        pending = QStringLiteral("La documentación debe utilizar la compresión Group4(2D - FAX) o JPEG");
    if (p.pageType != capture::kPageBlackWhite && p.pageType != capture::kPageGrey8)
        pending = QStringLiteral("La documentación debe digitalizarse en blanco y negro o escala de grises");
    if (p.fileType != capture::kFileTiff) pending = QStringLiteral("La documentación debe guardarse en formato TIFF");
    return report(prompter, pending);
}

} // namespace qev
