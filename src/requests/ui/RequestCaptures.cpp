#include "requests/ui/RequestCaptures.h"

#include "capture/ui/TFDigFich.h"
#include "capture/ui/TFImgDig.h"
#include "capture/ui/TFVerImg.h"
#include "dm/Tdm.h"
#include "requests/CaptureResults.h"
#include "requests/WorkFiles.h"
#include "util/Prompter.h"

#include <QFile>
#include <QFileInfo>

namespace qev {

namespace {
void removeIfExists(const QString& file) {
    if (!file.isEmpty() && QFileInfo::exists(file)) QFile::remove(file);
}
} // namespace

RequestCaptures::RequestCaptures(Tdm& dm, Prompter& prompter, Dataset& requests, Windows windows)
    : m_dm(dm), m_prompter(prompter), m_requests(requests), m_windows(windows) {}

bool RequestCaptures::saveIfEditing() {
    return !m_requests.editing() || m_requests.post();
}

QString RequestCaptures::workCopy(int n) const {
    return m_dm.appDir().file(QString::number(n) + QStringLiteral(".tif"));
}

void RequestCaptures::storeClassifications(const QString& der, const QString& izq) {
    Dataset& r = m_requests;
    if (der == r.text(QStringLiteral("C_CLASDER")) && izq == r.text(QStringLiteral("C_CLASIZQ"))) return;
    if (!r.editing() && !r.edit()) return;
    r.setText(QStringLiteral("C_CLASDER"), der);
    r.setText(QStringLiteral("C_CLASIZQ"), izq);
}

void RequestCaptures::card(bool soloLectura) {
    const auto pause = m_dm.pauseReception();
    Dataset& r = m_requests;
    m_dm.deleteWorkFiles({QString::fromLatin1(kCardWorkFile)});
    const int n = ++m_contador;
    capture::CardCapture& card = m_windows.card.card();
    m_windows.card.prepare(soloLectura, r.text(QStringLiteral("C_CLASDER")), r.text(QStringLiteral("C_CLASIZQ")));
    const QString stored = m_dm.appDir().existingFile(m_dm.requestFile(r, QLatin1Char('h')));
    if (QFileInfo::exists(stored)) {
        QFile::remove(workCopy(n));
        if (QFile::copy(stored, workCopy(n))) (void)m_windows.card.CargarArchivo(workCopy(n), false);
    }
    m_windows.card.exec();
    if (card.Modificado && QFileInfo(card.ArchivoHuella).isFile()) {
        // Entering edit clears the work files, so the card becomes "edit.tif" afterwards.
        QString error;
        if (r.edit() && !tomarFicha(m_dm.appDir(), card.ArchivoHuella, true, &error) && !error.isEmpty())
            m_prompter.error(error);
    }
    removeIfExists(workCopy(n - 1));
    removeIfExists(workCopy(n));
    removeIfExists(card.ArchivoHuella);
    storeClassifications(card.ClasDer, card.ClasIzq);
}

void RequestCaptures::documents() {
    const auto pause = m_dm.pauseReception();
    Dataset& r = m_requests;
    const int n = ++m_contador;
    m_dm.deleteWorkFiles({QString::fromLatin1(kDocumentsWorkFile), QStringLiteral("out.tif")});
    const QString name = QString::number(n) + QStringLiteral(".tif");
    m_windows.documents.document().ArchivoDocumento = name;
    const QString work = m_dm.appDir().file(name);
    QFile::remove(work);
    const QString stored = m_dm.appDir().existingFile(m_dm.requestFile(r, QLatin1Char('d')));
    if (QFileInfo::exists(stored)) (void)QFile::copy(stored, work);
    const QFileInfo before(work);
    const QDateTime mtime = before.exists() ? before.lastModified() : QDateTime();
    m_windows.documents.exec();
    const QFileInfo after(work);
    if (after.isFile() && (!mtime.isValid() || after.lastModified() > mtime) && r.edit()) {
        QString error;
        if (!tomarDocumento(m_dm.appDir(), work, mtime, &error) && !error.isEmpty()) m_prompter.error(error);
    }
    removeIfExists(workCopy(n - 1));
    removeIfExists(work);
}

bool RequestCaptures::showAnswer(const QString& file, const QByteArray& bytes) {
    const int n = ++m_contador;
    const QString copy = workCopy(n);
    QFile::remove(copy);
    bool ready = !file.isEmpty() && QFileInfo::exists(file) && QFile::copy(file, copy);
    if (!ready && !bytes.isEmpty()) {
        QFile f(copy);
        ready = f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
    }
    if (!ready) {
        m_prompter.error(QStringLiteral("No se pudo preparar la contestación para mostrarla."));
        return false;
    }
    m_windows.viewer.setArchivo(copy);
    m_windows.viewer.exec();
    removeIfExists(workCopy(n - 1));
    return true;
}

} // namespace qev
