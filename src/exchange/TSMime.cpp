#include "exchange/TSMime.h"

#include "core/Settings.h"
#include "exchange/HostIdentity.h"
#include "exchange/SendLog.h"
#include "exchange/TSendQEVMessage.h"
#include "exchange/mail/TdmMail.h"
#include "util/Clock.h"
#include "util/Prompter.h"
#include "util/TCrono.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

namespace qev {

TSMime::TSMime(Settings& settings, Prompter& prompter, const Clock& clock, const AppDir& folder, TdmMail& mail,
               SendLog& log, const HostIdentity& host, QObject* parent)
    : QObject(parent), m_settings(settings), m_prompter(prompter), m_clock(clock), m_folder(folder), m_mail(mail),
      m_log(log), m_host(host) {
    m_webService = settings.unlessN(QStringLiteral("envWebService"));
    m_outlook = settings.onlyIfS(QStringLiteral("usaOutlook"));
    m_waitFin = settings.unlessN(QStringLiteral("waitFin"));
    auto e = messageServiceEndpoint(folder.folder(), settings);
    if (e)
        m_endpoint = *e;
    else
        m_endpointError = QString::fromStdString(e.error());
}

TSMime::~TSMime() {
    waitForSends();
}

int TSMime::sendsUnderway() const {
    int n = 0;
    for (const auto& t : m_running)
        if (t && !t->isFinished()) ++n;
    return n;
}

void TSMime::waitForSends() {
    for (auto& t : m_running) {
        if (!t) continue;
        t->wait();
    }
    // The threads' log lines are queued to this thread: deliver them before the threads go.
    QCoreApplication::sendPostedEvents(&m_log);
    for (auto& t : m_running)
        if (t) delete t.data();
    m_running.clear();
}

bool TSMime::EnviarMensaje(const QString& destinatarios, const QString& asunto, int pedido, int regional,
                           const QStringList& archivos, const QString& texto) {
    if (m_webService) return EnviarWebService(destinatarios, asunto, pedido, regional, archivos, texto);
    if (m_outlook) return EnviarOutlook();
    return EnviarSmtp(destinatarios, asunto, archivos, texto);
}

bool TSMime::EnviarOutlook() {
    if (!m_outlookReported) {
        m_outlookReported = true;
        (void)writeLogLine(m_folder.folder(),
                           m_clock.now().toString(QStringLiteral("dd/MM/yyyy HH:mm:ss")) +
                               QStringLiteral(" - Outlook no está disponible en este sistema: los mensajes "
                                              "configurados para Outlook no se envían"));
    }
    return false;
}

bool TSMime::EnviarSmtp(const QString& destinatarios, const QString& asunto, const QStringList& archivos,
                        const QString& texto) {
    const BusyScope busy(m_prompter);
    THeaderMsg header;
    header.recipients = destinatarios;
    header.subject = asunto;
    header.priority = 2;
    QStringList paths;
    for (const QString& name : archivos)
        paths << m_folder.file(name);
    QString error;
    const bool ok = m_mail.EnviarCorreo(header, {texto}, error, paths);
    if (!ok) m_prompter.error(QStringLiteral("Error al enviar: ") + error);
    return ok;
}

bool TSMime::EnviarWebService(const QString& destinatarios, const QString& asunto, int pedido, int regional,
                              const QStringList& archivos, const QString& texto) {
    const BusyScope busy(m_prompter);
    if (!m_endpoint) {
        m_log.append(QStringLiteral("Error: el servicio de mensajes no está configurado (%1)").arg(m_endpointError));
        return false;
    }
    QEVMessage msg;
    const NetworkIdentity id = m_host.identity();
    msg.Pedido = pedido;
    msg.Regional = regional;
    msg.MAC = id.mac;
    msg.HostName = id.host;
    msg.Recipients = destinatarios;
    msg.Subject = asunto;
    msg.Body = texto;
    for (const QString& name : archivos) {
        auto a = makeAttachment(m_folder.file(name));
        if (!a) {
            m_log.append(QStringLiteral("Error: ") + QString::fromStdString(a.error()));
            return false;
        }
        msg.Attachments.push_back(std::move(*a));
    }
    // Threads of earlier sends that have ended are let go.
    for (auto it = m_running.begin(); it != m_running.end();) {
        if (!*it) {
            it = m_running.erase(it);
        } else if ((*it)->isFinished()) {
            delete it->data();
            it = m_running.erase(it);
        } else {
            ++it;
        }
    }
    auto* thread = new TSendQEVMessage(std::move(msg), *m_endpoint, &m_log);
    m_running.emplace_back(thread);
    if (!m_waitFin) {
        thread->start();
        return true;
    }
    // Waiting in an event loop: the thread's log line, queued to this thread, is delivered meanwhile.
    QEventLoop loop;
    connect(thread, &QThread::finished, &loop, &QEventLoop::quit);
    thread->start();
    if (!thread->isFinished()) loop.exec(QEventLoop::ExcludeUserInputEvents);
    thread->wait();
    QCoreApplication::sendPostedEvents(&m_log);
    const bool ok = thread->succeeded();
    if (!ok) m_log.append(QStringLiteral("Error del servicio: ") + thread->error());
    return ok;
}

bool TSMime::VerificarConfiguracion(QString& line, QString& error) {
    const BusyScope busy(m_prompter);
    if (!m_endpoint) {
        error = QStringLiteral("El servicio de mensajes no está configurado: ") + m_endpointError;
        return false;
    }
    auto number = [this](const char* key) {
        int n = 0;
        return parseWholeNumber(m_settings.read(QString::fromLatin1(key)), n) ? n : 0;
    };
    QEVMessage msg;
    const NetworkIdentity id = m_host.identity();
    msg.Regional = number("c_regp") != 0 ? number("c_regp") : number("c_reg");
    msg.MAC = id.mac;
    msg.HostName = id.host;
    TCrono crono;
    crono.start();
    auto proxy = CreateMessageServiceProxy(*m_endpoint);
    auto answer = proxy->VerifyMessage(msg);
    crono.stop();
    if (!answer) {
        error = QString::fromStdString(answer.error());
        return false;
    }
    line = *answer + QStringLiteral(" - tiempo: ") + QString::number(crono.elapsed()) + QStringLiteral(" ms.");
    m_log.append(line);
    return true;
}

QStringList TSMime::MostrarConfiguracion() const {
    const NetworkIdentity id = m_host.identity();
    return {QStringLiteral("Código de regional oficial: ") + m_settings.read(QStringLiteral("c_reg")),
            QStringLiteral("Código de regional privado: ") + m_settings.read(QStringLiteral("c_regp")),
            QStringLiteral("MAC: ") + id.mac, QStringLiteral("Host: ") + id.host, QStringLiteral("IP: ") + id.ip};
}

} // namespace qev
