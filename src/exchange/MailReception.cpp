#include "exchange/MailReception.h"

#include "core/Settings.h"
#include "exchange/ReplyHandlers.h"
#include "exchange/mail/TdmMail.h"
#include "util/Clock.h"
#include "util/Prompter.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace qev {

MailReception::MailReception(ReplyHost& host, TdmMail& mail, ReplyHandlers& handlers, ReceptionViews& views)
    : m_host(host), m_mail(mail), m_handlers(handlers), m_views(&views) {}

QString MailReception::receptionFolder() const {
    return m_host.appDir().file(QStringLiteral("recepcion"));
}

bool MailReception::webService() const {
    return m_host.settings().read(QStringLiteral("envWebService")) != QStringLiteral("N");
}

bool MailReception::mailSettingsOk() {
    return checkMailSettings(m_mail.account(), m_host.prompter());
}

QString MailReception::now() const {
    return m_host.clock().now().toString(QStringLiteral("dd/MM/yyyy HH:mm:ss"));
}

void MailReception::mailLog(const QString& line) {
    if (m_mail.account().logOpeMail) (void)writeLogLine(m_host.appDir().folder(), line);
}

void MailReception::RecibirCorreo(bool ready) {
    if (!ready) return;
    if (m_host.settings().onlyIfS(QStringLiteral("usaOutlook")))
        RecibirOutlook();
    else
        RecibirPop3();
}

void MailReception::RecibirOutlook() {
    if (m_outlookReported) return;
    m_outlookReported = true;
    (void)writeLogLine(m_host.appDir().folder(),
                       now() + QStringLiteral(" - La recepción por Outlook no existe en este sistema: no se reciben "
                                              "mensajes mientras usaOutlook sea S"));
    m_views->status(QStringLiteral("La recepción por Outlook no está disponible en este sistema"));
}

void MailReception::RecibirPop3() {
    m_last = Counters();
    if (!webService() && !mailSettingsOk()) {
        m_last.failed = true;
        m_last.error = QStringLiteral("la configuración de correo está incompleta");
        return;
    }
    m_views->status(QStringLiteral("Procesando mensajes de correo..."));
    BusyScope busy(m_host.prompter());
    Counters& c = m_last;
    auto fail = [&](const QString& error) {
        c.failed = true;
        c.error = error;
        m_views->status(QStringLiteral("Error al procesar mensajes de correo: ") + error);
    };
    QString error;
    if (!m_mail.ContarMensajes(c.total, error)) return fail(error);
    int i = 1;
    // A server that does not remove deleted messages would otherwise hand the same message back for ever.
    int rounds = 2 * c.total + 100;
    struct EndSession {
        TdmMail& mail;
        ~EndSession() { mail.desconectarPop3(); }
    } endSession{m_mail};
    while (c.total >= i && rounds-- > 0) {
        m_views->status(QStringLiteral("Procesando mensajes de correo...(Procesados: %1 -  No Procesados: %2 - "
                                       "Reenviados: %3) - Total en el servidor: %4")
                            .arg(c.processed)
                            .arg(c.notProcessed)
                            .arg(c.forwarded)
                            .arg(c.total));
        QString why;
        const int r = ProcesarMensajeCorreo(i, why);
        if (r == 1) {
            ++c.processed;
        } else if (r == 0) {
            ++c.forwarded;
        } else {
            m_views->activityLine(now() + QStringLiteral(" - Error al procesar correo: ") + why);
            mailLog(QStringLiteral("%1 - MailIndex: %2 - ERROR: %3 ").arg(now()).arg(i).arg(why));
            ++i;
            ++c.notProcessed;
        }
        // A handled message was deleted and the session closed: the next one now has index i.
        if (!m_mail.ContarMensajes(c.total, error)) return fail(error);
    }
    m_views->status(QStringLiteral("Total mensajes de correo: Procesados: %1 - No procesados: %2 - Reenviados: %3 ")
                        .arg(c.processed)
                        .arg(c.notProcessed)
                        .arg(c.forwarded));
    if (c.notProcessed > 0) m_views->showActivity();
}

int MailReception::ProcesarMensajeCorreo(int index, QString& error) {
    error.clear();
    if (!webService() && !mailSettingsOk()) {
        error = QStringLiteral("la configuración de correo está incompleta");
        return -1;
    }
    THeaderMsg header;
    QString why;
    auto failed = [&](const QString& text) {
        error = QStringLiteral("Error RecibirMsgIndyToQev: ") + text + QStringLiteral(" - MsgId: ") + header.msgId;
        return -1;
    };
    if (!m_mail.LeerEncabezado(index, header, why)) return failed(why);
    auto step = [&](const QString& what) {
        mailLog(QStringLiteral("%1 - From: %2 - Tema: %3 - MailIndex: %4 - %5 - MsgId: %6")
                    .arg(now(), header.from, header.subject)
                    .arg(index)
                    .arg(what, header.msgId));
    };
    mailLog(QStringLiteral("\n\r%1 - From: %2 - Tema: %3 - MailIndex: %4 - GetHeadMail OK - MsgId: %5")
                .arg(now(), header.from, header.subject)
                .arg(index)
                .arg(header.msgId));
    if (EsAsuntoPropio(header.subject)) {
        const QString folder = receptionFolder();
        if (!QDir().mkpath(folder))
            return failed(QStringLiteral("No se pudo eliminar adjuntos temporales en disco:") +
                          QStringLiteral("no se pudo crear la carpeta ") + folder);
        if (!BorrarAdjuntosTemp(folder, why) || !emptyFolder(folder, why))
            return failed(QStringLiteral("No se pudo eliminar adjuntos temporales en disco:") + why);
        step(QStringLiteral("BorroAdjuntosTempEnDisco OK"));
        if (!m_mail.GuardarAdjuntos(index, folder, why)) {
            QString ignored;
            (void)emptyFolder(folder, ignored);
            return failed(QStringLiteral("No se pudo guardar adjuntos en disco:") + why);
        }
        step(QStringLiteral("SaveAllAttachToPath OK"));
        m_handlers.setReceptionFolder(folder);
        const bool applied = ProcesarAsunto(header.subject, why);
        QString ignored;
        (void)emptyFolder(folder, ignored);
        if (!applied) return failed(QStringLiteral("No se pudo procesar el mensaje en la base QEV: ") + why);
        step(QStringLiteral("ProcesaMsgIndyToQEV OK"));
        // Only now, with the reply on disk, does the message leave the server.
        if (!m_mail.BorrarMensaje(index, why))
            return failed(QStringLiteral("No se pudo eliminar mensaje de la bandeja de entrada:") + why);
        step(QStringLiteral("DeleteMail OK"));
        return 1;
    }
    if (!webService()) {
        if (!m_mail.ReenviarMensaje(index, m_mail.account().emailFwd, why))
            return failed(QStringLiteral("No se pudo reenviar mensaje de la bandeja de entrada:") + why);
    }
    step(QStringLiteral("ForwardMail OK"));
    if (!m_mail.BorrarMensaje(index, why))
        return failed(QStringLiteral("No se pudo eliminar mensaje de la bandeja de entrada:") + why);
    step(QStringLiteral("DeleteMail OK"));
    return 0;
}

bool MailReception::EsAsuntoPropio(const QString& subject) const {
    const Settings& s = m_host.settings();
    for (const char* key : {"x_msgexp", "x_msgexpp", "x_msgconfp"})
        if (subject == s.read(QString::fromLatin1(key))) return true;
    for (const char* fixed : {"CONFIRMO", "RECHAZO", "RECHAZOP", "SETESTADO"})
        if (subject == QLatin1String(fixed)) return true;
    return false;
}

bool MailReception::ProcesarAsunto(const QString& subject, QString& error) {
    error.clear();
    const Settings& s = m_host.settings();
    auto failed = [&](const QString& text) {
        error = QStringLiteral("ERROR ProcesaMsgIndyToQEV: ") + text;
        if (!m_handlers.lastReason().isEmpty())
            error += QStringLiteral(" (") + m_handlers.lastReason() + QLatin1Char(')');
        return false;
    };
    if (!EsAsuntoPropio(subject)) return failed(QStringLiteral("No se puede procesar pedido. Asunto desconocido"));
    if (subject == s.read(QStringLiteral("x_msgexp")) && !m_handlers.AplicarContestacionOficial())
        return failed(QStringLiteral("Error al procesar pedido oficial contestado"));
    if (subject == QLatin1String("CONFIRMO") && !m_handlers.AplicarConfirmacionOficial())
        return failed(QStringLiteral("Error al confirmar pedido oficial"));
    if ((subject == s.read(QStringLiteral("x_msgexpp")) || subject == s.read(QStringLiteral("x_msgconfp"))) &&
        !m_handlers.AplicarRespuestaPersonal())
        return failed(QStringLiteral("Error al procesar confirmo/contestación de pedido privado"));
    if (subject == QLatin1String("SETESTADO") && !m_handlers.AplicarListasEstado())
        return failed(QStringLiteral("Error al procesar estado"));
    if (subject == QLatin1String("RECHAZO") && !m_handlers.AplicarRechazoOficial())
        return failed(QStringLiteral("ERROR: No se pudo procesar un rechazo de pedido oficial"));
    if (subject == QLatin1String("RECHAZOP") && !m_handlers.AplicarRechazoPersonal())
        return failed(QStringLiteral("ERROR: No se pudo procesar un rechazo de pedido privado"));
    return true;
}

bool MailReception::emptyFolder(const QString& folder, QString& error) {
    // The reception folder holds nothing but the attachments of the message being handled.
    QDir dir(folder);
    for (const QString& name : dir.entryList(QDir::Files | QDir::Hidden | QDir::System)) {
        if (!dir.remove(name)) {
            error = QStringLiteral("Error BorroAdjuntosTempEnDisco: ") + QStringLiteral("Error DeleteFile:") +
                    dir.filePath(name);
            return false;
        }
    }
    return true;
}

bool MailReception::BorrarAdjuntosTemp(const QString& folder, QString& error) {
    const QDir dir(folder);
    for (const char* name : {"resp.dat", "resp.tif", "EstOfi.DAT", "EstPriv.DAT"}) {
        const QString path = AppDir(folder).existingFile(QString::fromLatin1(name));
        if (QFileInfo::exists(path) && !QFile::remove(path)) {
            error = QStringLiteral("Error BorroAdjuntosTempEnDisco: ") + QStringLiteral("Error DeleteFile:") + path;
            return false;
        }
    }
    return true;
}

} // namespace qev
