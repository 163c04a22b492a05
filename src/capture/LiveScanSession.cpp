#include "capture/LiveScanSession.h"

#include "capture/FingerArchive.h"
#include "capture/FingerImages.h"
#include "capture/quality/QualityTexts.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QProcess>

#include <filesystem>
#include <memory>
#include <vector>

namespace qev::capture {

namespace {

constexpr int kRepaintMs = 50;

QString fingerName(int finger) {
    return QString::fromStdString(quality::fingerName(finger));
}

// A file of the folder whatever the case of its name, else the name as given.
QString existing(const QString& folder, const QString& name) {
    const QString exact = folder + QLatin1Char('/') + name;
    if (QFileInfo::exists(exact)) return exact;
    const QStringList found = QDir(folder).entryList({name}, QDir::Files);
    return found.isEmpty() ? exact : folder + QLatin1Char('/') + found.front();
}

// Puts a finished temporary file in the place of `target` in one step: the finger keeps its old image until the
// new one is whole.
bool replaceWith(const QString& temp, const QString& target, QString* error) {
    std::error_code ec;
    std::filesystem::rename(QFile::encodeName(temp).toStdString(), QFile::encodeName(target).toStdString(), ec);
    if (!ec) return true;
    QFile::remove(temp);
    if (error) *error = QStringLiteral("No se pudo guardar \"%1\"").arg(target);
    return false;
}

// Copies through a temporary name, so a failed copy leaves no half-written image under the finger's name.
bool copyOver(const QString& source, const QString& target, QString* error) {
    const QString temp = target + QStringLiteral(".tmp");
    QFile::remove(temp);
    if (!QFile::copy(source, temp)) {
        QFile::remove(temp);
        if (error) *error = QStringLiteral("No se pudo copiar \"%1\"").arg(source);
        return false;
    }
    return replaceWith(temp, target, error);
}

} // namespace

LiveScanSession::LiveScanSession(QString folder) : m_folder(QDir(folder).absolutePath()) {
    resetGrades();
    m_chrono.start();
}

QString LiveScanSession::file(const QString& name) const {
    return m_folder + QLatin1Char('/') + name;
}

QString LiveScanSession::fingerBmp(int finger) const {
    return file(QStringLiteral("dedo%1.bmp").arg(finger));
}

QString LiveScanSession::fingerWsq(int finger) const {
    return file(QStringLiteral("dedo%1.wsq").arg(finger));
}

bool LiveScanSession::hasImage(int finger) const {
    return QFileInfo(fingerBmp(finger)).isFile();
}

QString LiveScanSession::storedArchiveName() const {
    return (m_esOficial ? QStringLiteral("z") : QStringLiteral("zp")) + QString::number(m_pedido) + QLatin1Char('.') +
           QString::number(m_regional);
}

void LiveScanSession::begin(int pedido, int regional, bool soloLectura, bool esOficial) {
    resetGrades();
    m_pedido = pedido;
    m_regional = regional;
    m_soloLectura = soloLectura;
    m_esOficial = esOficial;
    m_modificado = false;
    m_archivoZip.clear();
    QFile::remove(file(QLatin1String(kFingerArchive)));
    deleteWorkFiles();
    m_chrono.restart();
}

void LiveScanSession::deleteWorkFiles() {
    for (int n = 1; n <= kFingers; ++n) {
        QFile::remove(fingerBmp(n));
        QFile::remove(fingerWsq(n));
    }
}

bool LiveScanSession::hasStoredArchive() const {
    return QFileInfo(existing(m_folder, storedArchiveName())).isFile();
}

bool LiveScanSession::openStored(const std::function<void(int)>& progress, QString* error) {
    if (!hasStoredArchive()) return true;
    const QString stored = existing(m_folder, storedArchiveName());
    auto unpacked =
        FingerArchive::unpack(QFile::encodeName(stored).toStdString(), QFile::encodeName(m_folder).toStdString());
    if (!unpacked) {
        if (error)
            *error = QStringLiteral("ERROR: No se pudo descomprimir archivo zip: Mensaje: ") +
                     QString::fromStdString(unpacked.error());
        return false;
    }
    for (int n = 1; n <= kFingers; ++n) {
        if (progress) progress(n);
        const QString wsqName = fingerWsq(n);
        if (!QFileInfo(wsqName).isFile()) {
            deleteWorkFiles();
            if (error) *error = QStringLiteral("ERROR: No existe archivo a decodificar: ") + wsqName;
            return false;
        }
        std::string decodeError;
        const bool converted = wsqFileToBitmapFile(QFile::encodeName(wsqName).toStdString(),
                                                   QFile::encodeName(fingerBmp(n)).toStdString(), &decodeError);
        QString message;
        if (!converted) message = QStringLiteral("No se pudo convertir el archivo: ") + wsqName;
        if (!QFile::remove(wsqName) && converted)
            message = QStringLiteral("No se pudo eliminar archivo origen: ") + wsqName;
        if (!message.isEmpty()) {
            if (!decodeError.empty()) message += QStringLiteral(" (") + QString::fromStdString(decodeError) + ')';
            deleteWorkFiles();
            if (error)
                *error = QStringLiteral("ERROR: No se pudo decodificar archivo wsq: Mensaje: ") + message +
                         QStringLiteral("- Archivo: ") + wsqName;
            return false;
        }
    }
    return true;
}

void LiveScanSession::resetGrades() {
    m_codes.fill(kNotGraded);
    m_qualities.fill(0);
}

void LiveScanSession::setGrade(int finger, int code, int quality) {
    if (finger < 1 || finger > kFingers) return;
    m_codes[index(finger)] = code;
    m_qualities[index(finger)] = quality;
}

int LiveScanSession::averageQuality() const {
    int sum = 0, count = 0;
    for (int i = 0; i < kFingers; ++i) {
        if (m_codes[size_t(i)] != 0) continue;
        sum += m_qualities[size_t(i)];
        ++count;
    }
    return count == 0 ? 9 : sum / count;
}

std::array<std::pair<int, int>, kFingers> LiveScanSession::grades() const {
    std::array<std::pair<int, int>, kFingers> out{};
    for (int i = 0; i < kFingers; ++i)
        out[size_t(i)] = {m_codes[size_t(i)], m_qualities[size_t(i)]};
    return out;
}

bool LiveScanSession::storeImage(int finger, const QByteArray& bmp, bool flipVertical, bool flipHorizontal,
                                 QString* error) {
    const QString target = fingerBmp(finger);
    const QString temp = target + QStringLiteral(".tmp");
    QFile::remove(temp);
    Raster source, flipped;
    std::string why;
    if (!fingerBitmapFromBmp(std::span(reinterpret_cast<const uint8_t*>(bmp.constData()), size_t(bmp.size())), source,
                             &why) ||
        !copyWithFlips(flipVertical, flipHorizontal, source, flipped) ||
        !saveGreyBmp(QFile::encodeName(temp).toStdString(), flipped, &why) || !QFileInfo(temp).isFile() ||
        !replaceWith(temp, target, nullptr)) {
        QFile::remove(temp);
        if (error) *error = QStringLiteral("No se pudo generar el archivo: dedo%1.bmp").arg(finger);
        return false;
    }
    m_modificado = true;
    return true;
}

bool LiveScanSession::copyImage(int finger, const QString& source, QString* error) {
    if (!copyOver(source, fingerBmp(finger), error)) return false;
    m_modificado = true;
    return true;
}

bool LiveScanSession::amputatedImageExists() const {
    return QFileInfo(existing(m_folder, QLatin1String(kAmputatedImage))).isFile();
}

bool LiveScanSession::amputate(int finger, QString* error) {
    if (!amputatedImageExists()) {
        if (error) *error = QStringLiteral("Falta el archivo \"%1\"").arg(QLatin1String(kAmputatedImage));
        return false;
    }
    return copyImage(finger, existing(m_folder, QLatin1String(kAmputatedImage)), error);
}

void LiveScanSession::clear() {
    resetGrades();
    for (int n = 1; n <= kFingers; ++n)
        QFile::remove(fingerBmp(n));
    m_chrono.restart();
}

LiveScanSession::SaveResult LiveScanSession::save(const std::function<void(int, const QString&)>& progress) {
    SaveResult result;
    auto stopAt = [&](int finger, const QString& status) {
        result.finger = finger;
        result.status = status;
        return result;
    };
    for (int n = 1; n <= kFingers; ++n)
        if (!hasImage(n)) return stopAt(n, QStringLiteral("Error: falta el ") + fingerName(n) + QLatin1Char('!'));
    if (!QFileInfo(m_converter).isFile())
        return stopAt(1, QStringLiteral("Error: convirtiendo el ") + fingerName(1) + QStringLiteral("! . Mensaje:") +
                             QStringLiteral("Error: no existe el programa \"%1\"").arg(m_converter));

    // The ten conversions run side by side: each is a short process, and the operator waits for all of them.
    std::vector<std::unique_ptr<QProcess>> runs;
    for (int n = 1; n <= kFingers; ++n) {
        QFile::remove(fingerWsq(n));
        auto p = std::make_unique<QProcess>();
        p->setProgram(m_converter);
        p->setArguments({fingerBmp(n), fingerWsq(n)});
        p->setWorkingDirectory(m_folder);
        p->setStandardInputFile(QProcess::nullDevice());
        p->setStandardOutputFile(QProcess::nullDevice());
        p->setProcessChannelMode(QProcess::SeparateChannels);
        p->start();
        runs.push_back(std::move(p));
    }
    // One time limit for all ten; while they run, the caller's windows repaint (user input waits).
    const QDeadlineTimer deadline(m_converterTimeout);
    QStringList converted;
    int failedAt = 0;
    QString failure;
    for (int n = 1; n <= kFingers; ++n) {
        QProcess& p = *runs[size_t(n - 1)];
        const QString wsqName = QFileInfo(fingerWsq(n)).fileName();
        if (progress) progress(n, QStringLiteral("Convirtiendo a WSQ el ") + fingerName(n));
        // A converter may have ended already while an earlier one was waited for: only one still running is
        // waited for, and killed when the time is up.
        while (p.state() != QProcess::NotRunning && !deadline.hasExpired())
            if (!p.waitForFinished(kRepaintMs) && QCoreApplication::instance())
                QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
        bool timedOut = false;
        if (p.state() != QProcess::NotRunning) {
            timedOut = true;
            p.kill();
            p.waitForFinished(5000);
        }
        const bool finished = !timedOut && p.error() != QProcess::FailedToStart;
        if (failedAt != 0) continue;
        QString why;
        if (!finished || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0 ||
            !QFileInfo(fingerWsq(n)).isFile()) {
            const QString err = QString::fromLocal8Bit(p.readAllStandardError()).trimmed();
            why = !hasImage(n) ? QStringLiteral("ERROR: No existe archivo origen")
                               : QStringLiteral("ERROR: No se pudo generar ") + wsqName;
            if (!finished)
                why += QStringLiteral(" (el convertidor no terminó)");
            else if (!err.isEmpty())
                why += QStringLiteral(" (") + err + QLatin1Char(')');
            failedAt = n;
            failure = QStringLiteral("Error: convirtiendo el ") + fingerName(n) + QStringLiteral("! . Mensaje:") + why;
            continue;
        }
        converted << fingerWsq(n);
    }
    auto removeConverted = [&] {
        for (int n = 1; n <= kFingers; ++n)
            QFile::remove(fingerWsq(n));
    };
    if (failedAt != 0) {
        // No archive is written from a part of the fingers: a request's card holds all ten or none.
        removeConverted();
        return stopAt(failedAt, failure);
    }
    const QString archive = file(QLatin1String(kFingerArchive));
    std::vector<std::string> members;
    for (const QString& f : converted)
        members.push_back(QFile::encodeName(f).toStdString());
    const auto packed = FingerArchive::pack(members, QFile::encodeName(archive).toStdString());
    removeConverted();
    if (!packed)
        return stopAt(0, QStringLiteral("Error al generar archivo Zip: Mensaje: ") +
                             QString::fromStdString(packed.error()));
    result.ok = true;
    result.archive = archive;
    result.status = QStringLiteral(" grabada exitosamente! - Total: ") + QString::number(elapsedMs() / 1000) +
                    QStringLiteral(" seg.");
    m_archivoZip = archive;
    return result;
}

} // namespace qev::capture
