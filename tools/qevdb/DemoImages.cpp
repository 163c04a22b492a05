#include "DemoImages.h"

#include "capture/ImageLib.h"

#include <QDir>

namespace qev::tools {

namespace {

// A grey page with ruled boxes and a ridge-like texture, so that it compresses like a real scan.
capture::Raster demoPage(int width, int height, int seed) {
    capture::Raster r = capture::Raster::grey(width, height, 235);
    r.resolutionX = r.resolutionY = 300;
    for (int y = 0; y < height; ++y) {
        uint8_t* row = r.row(y);
        for (int x = 0; x < width; ++x) {
            const bool rule = (x % 240 < 3) || (y % 300 < 3);
            const int ridge = ((x * 7 + y * 5 + seed * 31) / 9) % 11;
            if (rule)
                row[x] = 40;
            else if (ridge < 3 && ((x / 240 + y / 300 + seed) % 3 != 0))
                row[x] = 90;
        }
    }
    return r;
}

} // namespace

bool writeDemoImages(const QString& folder, QString* error) {
    const QDir dir(folder);
    std::string why;
    auto save = [&](const QString& name, const capture::Raster& r) {
        if (capture::saveAs(dir.filePath(name).toStdString(), r, {}, &why)) return true;
        if (error) *error = QStringLiteral("no se pudo crear %1: %2").arg(name, QString::fromStdString(why));
        return false;
    };
    // Official requests 1, 2, 3 and 5 carry a card; personal requests 1 to 6 a card and their documents.
    const capture::Raster card = demoPage(2480, 1299, 1);
    const capture::Raster document = demoPage(2480, 3508, 2);
    for (int n : {1, 2, 3, 5})
        if (!save(QStringLiteral("h%1.7").arg(n), card)) return false;
    if (!save(QStringLiteral("d1.7"), document)) return false;
    for (int n = 1; n <= 6; ++n)
        if (!save(QStringLiteral("hp%1.7").arg(n), card) || !save(QStringLiteral("dp%1.7").arg(n), document))
            return false;
    return true;
}

} // namespace qev::tools
