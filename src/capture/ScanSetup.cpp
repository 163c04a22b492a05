#include "capture/ScanSetup.h"

#include "util/Prompter.h"

#include <QFile>
#include <QSettings>
#include <algorithm>
#include <cmath>

namespace qev::capture {

namespace {
const char* const kKeys[] = {"DPI",    "Izquierda", "Derecha",    "Arriba", "Abajo",
                             "Brillo", "Contraste", "TipoImagen", "UIMode", "RotarGrados"};

int* fieldOf(ScanSettings& s, int i) {
    int* fields[] = {&s.dpi,    &s.izquierda, &s.derecha,    &s.arriba, &s.abajo,
                     &s.brillo, &s.contraste, &s.tipoImagen, &s.uiMode, &s.rotarGrados};
    return fields[i];
}

class Collect final : public ScanSink {
public:
    Collect(ScanSetup& setup, std::vector<Raster>& pages) : m_setup(setup), m_pages(pages) {}
    bool page(Raster&& page, int) override {
        m_pages.push_back(m_setup.processPage(std::move(page)));
        return true;
    }
    void progress(int) override {
        if (m_setup.keepResponsive) m_setup.keepResponsive();
    }
    bool cancelRequested() override { return m_setup.cancelRequested && m_setup.cancelRequested(); }

private:
    ScanSetup& m_setup;
    std::vector<Raster>& m_pages;
};
} // namespace

void ScanSettings::clamp() {
    dpi = std::clamp((dpi + 25) / 50 * 50, 100, 500);
    for (int* v : {&izquierda, &derecha, &arriba, &abajo})
        *v = std::clamp(*v, 0, 500);
    brillo = std::clamp(brillo, -1000, 1000);
    contraste = std::clamp(contraste, -1000, 1000);
    tipoImagen = std::clamp(tipoImagen, -1, 3);
    uiMode = std::clamp(uiMode, -1, 4);
    rotarGrados = std::clamp(rotarGrados, 0, 359);
    paginas = std::clamp(paginas, 1, 999999);
}

ScanSettings loadScanSettings(const QString& iniFile) {
    ScanSettings s; // the defaults of a missing key
    if (!QFile::exists(iniFile)) return s;
    QSettings ini(iniFile, QSettings::IniFormat);
    ini.beginGroup(QStringLiteral("Config"));
    for (int i = 0; i < 10; ++i) {
        bool ok = false;
        const int v = ini.value(QString::fromLatin1(kKeys[i])).toString().trimmed().toInt(&ok);
        if (ok) *fieldOf(s, i) = v;
    }
    s.clamp();
    return s;
}

bool saveScanSettings(const QString& iniFile, const ScanSettings& settings) {
    ScanSettings s = settings;
    QSettings ini(iniFile, QSettings::IniFormat);
    ini.beginGroup(QStringLiteral("Config"));
    for (int i = 0; i < 10; ++i)
        ini.setValue(QString::fromLatin1(kKeys[i]), *fieldOf(s, i));
    ini.endGroup();
    ini.sync();
    return ini.status() == QSettings::NoError;
}

AcquireCodes acquireCodes(const ScanSettings& s, bool showScannerDialog) {
    AcquireCodes c;
    switch (s.tipoImagen) {
    case kImageBw:
        c = {1, 1, 0};
        break;
    case kImageGray:
        c = {2, 8, 0};
        break;
    case kImageColor8:
        c = {8, 0, 0};
        break;
    case kImageColor24:
        c = {4, 0, 0};
        break;
    default:
        c = {1, 0, 0};
    }
    switch (s.uiMode) {
    case 1:
        c.dialogMode = 2;
        break;
    case 3:
        c.dialogMode = 3;
        break;
    case 4:
        c.dialogMode = 1;
        break;
    default:
        c.dialogMode = 0;
    }
    if (showScannerDialog) c.dialogMode |= 2;
    return c;
}

ScanRequest scanRequest(const ScanSettings& s, bool showScannerDialog) {
    const AcquireCodes c = acquireCodes(s, showScannerDialog);
    ScanRequest r;
    r.dpi = s.dpi;
    r.pixels = c.imageKind == 2 ? PixelKind::Grey : c.imageKind == 1 ? PixelKind::BlackWhite : PixelKind::Colour;
    r.depth = c.bitDepth;
    r.left = s.izquierda / 25.4;
    r.top = s.arriba / 25.4;
    r.right = s.derecha / 25.4;
    r.bottom = s.abajo / 25.4;
    r.brightness = s.brillo;
    r.contrast = s.contraste;
    r.feeder = (c.dialogMode & 1) != 0;
    r.showDialog = (c.dialogMode & 2) != 0;
    r.pages = s.paginas;
    return r;
}

ScanSetup::ScanSetup(Scanner& scanner, const AppDir& programFolder, Prompter& prompter)
    : m_scanner(scanner), m_folder(programFolder), m_prompter(prompter) {}

Raster ScanSetup::processPage(Raster page) {
    if (m_settings.deskew) {
        if (status) status(QStringLiteral("DESKEWING"));
        double angle = 0;
        if (!measureSkew(page, angle)) angle = 0;
        page = rotateBy(page, angle);
        if (status) status(QString::asprintf("Skew value (in degree) is %8.2f", angle));
    }
    const int turn = m_settings.rotarGrados % 360;
    if (turn == 90 || turn == 270)
        page = rotate90(page, turn == 270);
    else if (turn == 180)
        page = rotate90(rotate90(page, false), false);
    else if (turn != 0)
        page = rotateBy(page, turn);
    return page;
}

ScanSetup::Result ScanSetup::scan() {
    Result result;
    if (m_scanning) {
        result.error = QStringLiteral("Problema de scanner: existe una digitalización en progreso\r"
                                      "por favor, espere unos segundos y vuelva a intentar");
        m_prompter.warn(result.error, QStringLiteral("Configurar Scanner"));
        return result;
    }
    m_scanning = true;
    QFile::remove(m_folder.file(QStringLiteral("TEMP.TIF")));
    const auto done = [this](Result& r) -> Result {
        m_scanning = false;
        if (!r.ok && !r.cancelled && !r.error.isEmpty())
            m_prompter.error(r.error, QStringLiteral("Configurar Scanner"));
        return std::move(r);
    };
    std::string error;
    if (!m_scanner.isOpen() || (!source.isEmpty() && QString::fromStdString(m_scanner.currentSource()) != source)) {
        if (!m_scanner.open(source.toStdString(), &error)) {
            result.error = QString::fromStdString(error);
            return done(result);
        }
    }
    ScanSettings effective = m_settings;
    effective.clamp();
    const ScanRequest request = scanRequest(effective, showScannerDialog);
    Collect sink(*this, result.pages);
    const ScanOutcome outcome = m_scanner.scan(request, sink);
    if (!outcome.notSet.empty() && status) {
        QStringList names;
        for (const std::string& n : outcome.notSet)
            names << QString::fromStdString(n);
        status(QStringLiteral("El scanner no admite: ") + names.join(QStringLiteral(", ")));
    }
    if (outcome.status == ScanOutcome::Status::Cancelled) {
        result.cancelled = true;
        result.pages.clear();
        if (status) status(QStringLiteral("Digitalización cancelada"));
        return done(result);
    }
    if (!outcome.ok() || result.pages.empty()) {
        result.pages.clear();
        result.error = outcome.error.empty() ? QStringLiteral("El scanner no entregó ninguna página")
                                             : QString::fromStdString(outcome.error);
        return done(result);
    }
    // The last page, as the windows read it: BMP at the depth of the image kind, and TIFF without loss.
    const Raster& last = result.pages.back();
    const int kind = effective.tipoImagen;
    SaveFormat bmp{kFileBmp, kPageGrey8, kCompressionNone, kInfoNone};
    SaveFormat tif{kFileTiff, kPageGrey8, kCompressionNone, kInfoNone};
    if (kind == kImageBw || kind < 0) {
        bmp.pageType = tif.pageType = kPageBlackWhite;
        tif.compressionType = kCompressionGroup4;
        tif.compressionInfo = kInfoGroup4;
    } else if (kind == kImageColor24 && last.channels == 3) {
        bmp.pageType = tif.pageType = kPageRgb24;
        tif.compressionType = kCompressionLzw;
    }
    if (!saveAs(m_folder.file(QString::fromLatin1(kOutBmp)).toStdString(), last, bmp, &error) ||
        !saveAs(m_folder.file(QString::fromLatin1(kOutTif)).toStdString(), last, tif, &error)) {
        QFile::remove(m_folder.file(QString::fromLatin1(kOutBmp)));
        result.pages.clear();
        result.error = QStringLiteral("No se pudo guardar la página digitalizada: ") + QString::fromStdString(error);
        return done(result);
    }
    result.ok = true;
    return done(result);
}

} // namespace qev::capture
