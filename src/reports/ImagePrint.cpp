#include "reports/ImagePrint.h"

#include "capture/ImageLib.h"
#include "reports/TrpFicha.h"

#include <QFileInfo>

namespace qev::reports {

namespace {

RenderResult printPages(const QString& file, Renderer& renderer) {
    RenderResult result;
    if (!QFileInfo::exists(file)) {
        result.error = QStringLiteral("Imágen: \"%1\" inexistente.").arg(file);
        return result;
    }
    std::string why;
    const int pages = capture::pageCount(file.toStdString(), &why);
    if (pages <= 0) {
        result.error = QStringLiteral("Imágen: \"%1\" no se pudo leer: %2").arg(file, QString::fromStdString(why));
        return result;
    }
    for (int p = 1; p <= pages; ++p) {
        QString error;
        const QImage img = readImageFile(file, p, &error);
        if (img.isNull()) {
            result.error = error;
            (void)renderer.finish();
            return result;
        }
        Layout l;
        l.title = QFileInfo(file).fileName();
        if (img.width() > img.height()) l.page.setOrientation(QPageLayout::Landscape);
        Band& b = l.add(BandKind::Title, l.contentHeight() - 0.5);
        b.picture(QRectF(0, 0, l.contentWidth(), l.contentHeight() - 0.5), img, true);
        renderer.add(l);
    }
    return renderer.finish();
}

} // namespace

RenderResult printImageFile(const QString& file, QPagedPaintDevice& device) {
    Renderer renderer(device);
    return printPages(file, renderer);
}

RenderResult printImageFile(const QString& file, PageTarget& target) {
    Renderer renderer(target);
    return printPages(file, renderer);
}

} // namespace qev::reports
