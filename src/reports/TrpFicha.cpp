#include "reports/TrpFicha.h"

#include "capture/ImageLib.h"

#include <QFileInfo>

#include <cstring>

namespace qev::reports {

QImage readImageFile(const QString& file, int page, QString* error) {
    std::string why;
    capture::Raster raster;
    if (!capture::loadPage(file.toStdString(), page, raster, &why) || raster.empty()) {
        if (error) *error = QStringLiteral("Imágen: \"%1\" no se pudo leer: %2").arg(file, QString::fromStdString(why));
        return QImage();
    }
    const QImage::Format format = raster.channels == 3 ? QImage::Format_RGB888 : QImage::Format_Grayscale8;
    QImage img(raster.width, raster.height, format);
    for (int y = 0; y < raster.height; ++y)
        std::memcpy(img.scanLine(y), raster.row(y), raster.rowBytes());
    if (raster.resolutionX > 0 && raster.resolutionY > 0) {
        img.setDotsPerMeterX(static_cast<int>(raster.resolutionX / 0.0254));
        img.setDotsPerMeterY(static_cast<int>(raster.resolutionY / 0.0254));
    }
    return img;
}

bool TrpFicha::setImageFile(const QString& file, QString* error) {
    if (!QFileInfo::exists(file)) {
        if (error) *error = QStringLiteral("Imágen: \"%1\" inexistente.").arg(file);
        return false;
    }
    QImage img = readImageFile(file, 1, error);
    if (img.isNull()) return false;
    m_file = file;
    m_image = std::move(img);
    return true;
}

QString TrpFicha::caption(const QString& cPed, const QString& cReg) {
    return QStringLiteral("Ped:") + cPed + QStringLiteral(" Reg:") + cReg;
}

Layout TrpFicha::layout() const {
    Layout l;
    l.title = QStringLiteral("Ficha ") + m_caption;
    l.page.setOrientation(QPageLayout::Landscape);
    Band& b = l.add(BandKind::Title, l.contentHeight() - 0.5);
    b.picture(QRectF(0, 0, l.contentWidth(), l.contentHeight() - 0.5), m_image).name = QStringLiteral("Picture");
    b.text(QRectF(2, 2, 120, 6), m_caption, arial(10, true)).name = QStringLiteral("QRLabel1");
    return l;
}

} // namespace qev::reports
