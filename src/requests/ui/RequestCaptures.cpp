#include "requests/ui/RequestCaptures.h"

#include "capture/ui/TFDigFich.h"
#include "capture/ui/TFImgDig.h"
#include "capture/ui/TFVerImg.h"
#include "dm/Tdm.h"
#include "exchange/CentralState.h"
#include "requests/CaptureResults.h"
#include "requests/WorkFiles.h"
#include "util/Prompter.h"

#include <QDialog>
#include <QFile>
#include <QFileInfo>
#include <QMenu>
#include <QPushButton>
#include <QScreen>

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

bool RequestCaptures::liveScan(const LiveScanWindow& take, bool viewOnly) {
    Dataset& r = m_requests;
    if (m_dm.settings().read(QStringLiteral("LiveScan")) != QStringLiteral("Plano") || !take) {
        m_prompter.warn(QStringLiteral("El lector de huellas configurado no permite capturar desde esta ventana.\r"
                                       "Elija el lector \"Plano\" en la configuración del LiveScan."));
        return false;
    }
    QString izq = r.text(QStringLiteral("C_CLASIZQ"));
    QString der = r.text(QStringLiteral("C_CLASDER"));
    const QString archive = take(number("C_PED"), number("C_REG"), viewOnly, izq, der);
    if (archive.isEmpty() || !QFileInfo(archive).isFile() || !r.edit()) return false;
    QString error;
    if (!fileOver(archive, m_dm.appDir(), QString::fromLatin1(kLivescanWorkFile), &error)) {
        m_prompter.error(QStringLiteral("Error al crear la ficha comprimida"));
        return false;
    }
    QFile::remove(archive);
    storeClassifications(der, izq);
    return true;
}

void RequestCaptures::fingerprints(QMenu& menu, const QPushButton& button, const std::function<void()>& card) {
    if (!m_dm.liveScan()) {
        card();
        return;
    }
    menu.popup(button.parentWidget()->mapToGlobal(button.geometry().topLeft()));
}

bool RequestCaptures::showRejectionReason(bool official) {
    QString reason = m_requests.text(QStringLiteral("X_RECHAZO")).trimmed();
    if (reason.isEmpty()) {
        QString error;
        bool asked = false;
        {
            BusyScope busy(m_prompter);
            asked = m_dm.centralState().ObtenerMotivoRechazo(official, number("C_PED"), number("C_REG"), reason, error);
        }
        if (!asked) {
            m_prompter.error(error);
            return false;
        }
    }
    m_prompter.inform(reason, QStringLiteral("Motivo del Rechazo"));
    return true;
}

void RequestCaptures::estadoVorlund(const QString& prefijo) {
    const int expte = number("N_EXPE");
    if (expte < 1) {
        m_prompter.warn(QStringLiteral("Sin número de expte. no se puede consultar el estado"));
        return;
    }
    m_dm.centralState().ConsultarEstadoVorlund(number("C_PED"), expte, number("C_REG"), prefijo);
}

bool RequestCaptures::receptionAllows(bool insertOrSave) {
    if (!insertOrSave || m_dm.receptionIdle()) return true;
    m_prompter.warn(QStringLiteral("Advertencia: Se están recibiendo mensajes. \rVuelva a intentar en unos "
                                   "instantes."));
    return false;
}

bool RequestCaptures::closeUnsaved(const std::function<bool()>& save) {
    if (!m_requests.editing()) return true;
    if (!m_prompter.confirm(QStringLiteral("El pedido tiene cambios sin grabar.\r¿Desea grabarlos?"),
                            QStringLiteral("Confirmar"))) {
        m_requests.cancel();
        return true;
    }
    return save();
}

int RequestCaptures::number(const char* field) const {
    const dbf::Value v = m_requests.value(QString::fromLatin1(field));
    return v.isNumber() ? static_cast<int>(v.number()) : 0;
}

void RequestCaptures::centre(QDialog& window) {
    if (QScreen* screen = window.screen()) window.move(screen->availableGeometry().center() - window.rect().center());
}

} // namespace qev
