#include "capture/CardCapture.h"

#include "capture/ImageLib.h"
#include "util/Prompter.h"

#include <QFile>
#include <QFileInfo>

namespace qev::capture {

namespace {
const SaveFormat kCardTiff{kFileTiff, kPageGrey8, kCompressionJpeg, kInfoJpegMedium};
const SaveFormat kCardBmp{kFileBmp, kPageGrey8, kCompressionNone, kInfoNone};

std::string local(const QString& path) {
    return QFile::encodeName(path).toStdString();
}

bool copyOver(const QString& from, const QString& to) {
    QFile::remove(to);
    return QFile::copy(from, to);
}

// Converts the first page of `source` into the card TIFF `tif` and, when given, the grey BMP `bmp`.
bool convertCard(const QString& source, const QString& tif, const QString* bmp, std::string* error) {
    Raster r;
    if (!loadPage(local(source), 1, r, error)) return false;
    r = toGrey8(r);
    if (!saveAs(local(tif), r, kCardTiff, error)) return false;
    return !bmp || saveAs(local(*bmp), r, kCardBmp, error);
}
} // namespace

CardCapture::CardCapture(const AppDir& folder, Prompter& prompter, ScanSetup& setup)
    : m_folder(folder), m_prompter(prompter), m_setup(setup) {}

QString CardCapture::numbered(const char* ext) const {
    return m_folder.file(QStringLiteral("huella") + QString::number(Contador) + QLatin1Char('.') +
                         QString::fromLatin1(ext));
}

void CardCapture::prepareShow() {
    m_setup.loadSettings(m_folder.file(QString::fromLatin1(kCardIni)));
}

bool CardCapture::guardarConfiguracion() {
    return m_setup.saveSettings(m_folder.file(QString::fromLatin1(kCardIni)));
}

bool CardCapture::showResult() {
    m_shown = m_folder.file(QStringLiteral("out.bmp"));
    return true;
}

bool CardCapture::escanear(bool testShortcut) {
    if (SoloLectura) {
        m_prompter.error(QStringLiteral("ERROR: Solo se puede modificar las impresiones dactilares\r antes de enviar "
                                        "ó si fue rechazada"));
        return false;
    }
    if (m_scanUnderWay || m_setup.scanning()) {
        m_prompter.warn(QStringLiteral("Problema de scanner: existe una digitalización en progreso\rpor favor, "
                                       "espere unos segundos y vuelva a intentar"));
        return false;
    }
    m_scanUnderWay = true;
    m_shown.clear();
    const QString outTif = m_folder.file(QStringLiteral("out.tif"));
    const QString outBmp = m_folder.file(QStringLiteral("out.bmp"));
    QFile::remove(outTif);
    QFile::remove(outBmp);
    {
        BusyScope busy(m_prompter);
        if (testShortcut) {
            QFile::copy(m_folder.existingFile(QStringLiteral("ficha.tif")), outTif);
            QFile::copy(m_folder.existingFile(QStringLiteral("ficha.bmp")), outBmp);
        } else {
            const ScanSetup::Result r = m_setup.scan();
            // The scanner set-up writes upper-case names; the card window reads them in lower case.
            if (r.ok) {
                QFile::rename(m_folder.file(QString::fromLatin1(kOutTif)), outTif);
                QFile::rename(m_folder.file(QString::fromLatin1(kOutBmp)), outBmp);
            }
        }
    }
    m_scanUnderWay = false;
    if (!QFileInfo::exists(outTif)) return false;
    Modificado = true;
    return showResult();
}

bool CardCapture::refuseLoad(LoadFrom from) {
    if (!SoloLectura) return false;
    m_prompter.error(from == LoadFrom::Button
                         ? QStringLiteral("ERROR: No se puede modificar las impresiones dactilares ya que el pedido "
                                          "esta en trámite ó ya fue contestado")
                         : QStringLiteral("ERROR: Solo se puede modificar la huella\r antes de enviar ó si fue "
                                          "rechazada"));
    return true;
}

bool CardCapture::CargarArchivo(const QString& file, bool modified) {
    if (!QFileInfo(file).isFile()) {
        m_prompter.error(QStringLiteral("No existe el archivo %1").arg(file));
        return false;
    }
    ++Contador;
    const QString t = numbered("TIF");
    const QString b = numbered("BMP");
    QFile::remove(b);
    QFile::remove(t);
    if (!copyOver(file, t)) {
        m_prompter.error(QStringLiteral("No se pudo copiar el archivo %1").arg(file));
        return false;
    }
    std::string error;
    BusyScope busy(m_prompter);
    if (!convertCard(t, t, &b, &error)) {
        // A file that is not a usable image changes nothing of the card shown.
        QFile::remove(b);
        QFile::remove(t);
        m_prompter.error(QStringLiteral("No se pudo cargar la imagen %1:\r%2")
                             .arg(QFileInfo(file).fileName(), QString::fromStdString(error)));
        return false;
    }
    Modificado = modified;
    if (!copyOver(b, m_folder.file(QStringLiteral("out.bmp"))) ||
        !copyOver(t, m_folder.file(QStringLiteral("out.tif")))) {
        m_prompter.error(QStringLiteral("No se pudo preparar la imagen cargada en la carpeta de la oficina"));
        return false;
    }
    return showResult();
}

bool CardCapture::grabar(const QString& clasDer, const QString& clasIzq) {
    const QString outTif = m_folder.file(QStringLiteral("out.tif"));
    ClasDer = clasDer;
    ClasIzq = clasIzq;
    if (!QFileInfo::exists(outTif)) return true; // only the classifications change
    ++Contador;
    const QString t = numbered("TIF");
    const QString b = numbered("BMP");
    QFile::remove(b);
    QFile::remove(t);
    std::string error;
    bool ok = false;
    {
        BusyScope busy(m_prompter);
        // Converted from a copy: a failed conversion keeps the shown card for another try.
        ok = QFile::copy(outTif, t) && convertCard(t, t, nullptr, &error);
    }
    QFile::remove(b);
    if (!ok) {
        QFile::remove(t);
        m_prompter.error(QStringLiteral("No se pudo grabar la ficha: %1").arg(QString::fromStdString(error)));
        return false;
    }
    ArchivoHuella = QFileInfo(t).absoluteFilePath();
    return true;
}

void CardCapture::cerrar() {
    m_shown.clear();
    QFile::remove(m_folder.file(QStringLiteral("out.tif")));
    QFile::remove(m_folder.file(QStringLiteral("out.bmp")));
}

} // namespace qev::capture
