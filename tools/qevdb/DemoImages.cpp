#include "DemoImages.h"

#include "capture/ImageLib.h"
#include "capture/LiveScanCard.h"
#include "capture/LiveScanSession.h"
#include "capture/wsq/GreyBmp.h"

#include <QDir>
#include <QFile>

#include <algorithm>

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
    // The ten-print form the livescan window prints its cards on.
    const auto form =
        capture::LiveScanCard::writeBlankForm(dir.filePath(QLatin1String(capture::kCardFormFile)).toStdString());
    if (!form) {
        if (error) *error = QString::fromStdString(form.error());
        return false;
    }
    // The image the livescan window puts in place of an amputated finger: a white field crossed out.
    constexpr int kSide = 400;
    wsq::GreyImage amputated{kSide, kSide, std::vector<uint8_t>(size_t(kSide) * kSide, 255)};
    for (int i = 0; i < kSide; ++i)
        for (int t = -3; t <= 3; ++t) {
            const int j = std::clamp(i + t, 0, kSide - 1);
            amputated.pixels[size_t(i) * kSide + size_t(j)] = 0;
            amputated.pixels[size_t(i) * kSide + size_t(kSide - 1 - j)] = 0;
        }
    const auto written =
        wsq::writeFileAtomically(QFile::encodeName(dir.filePath(QLatin1String(capture::kAmputatedImage))).toStdString(),
                                 wsq::writeGreyBmp(amputated, 500));
    if (!written) {
        if (error) *error = QString::fromStdString(written.error());
        return false;
    }
    return true;
}

} // namespace qev::tools
