#pragma once
// The message sender: every outgoing message goes through EnviarMensaje, which sends it by the central office's
// web service, through Outlook or by SMTP, as the office is configured. Outlook does not exist on this platform:
// with its flag set nothing is sent, the answer is false and the log says why (once per run).
#include "exchange/QevMessage.h"
#include "util/AppDir.h"

#include <QObject>
#include <QPointer>
#include <QStringList>

#include <vector>

namespace qev {

class Clock;
class HostIdentity;
class Prompter;
class SendLog;
class Settings;
class TdmMail;
class TSendQEVMessage;

class TSMime : public QObject {
    Q_OBJECT
public:
    // Reads the flags and the service's endpoint (the workstation file, read once now).
    TSMime(Settings& settings, Prompter& prompter, const Clock& clock, const AppDir& folder, TdmMail& mail,
           SendLog& log, const HostIdentity& host, QObject* parent = nullptr);
    ~TSMime() override;

    // `archivos` are bare names of files in the office folder. True when the message was handed over.
    bool EnviarMensaje(const QString& destinatarios, const QString& asunto, int pedido, int regional,
                       const QStringList& archivos, const QString& texto);

    bool webService() const { return m_webService; }
    bool outlook() const { return m_outlook; }
    bool waitFin() const { return m_waitFin; }
    // The configuration window changes the flags for the running program.
    void setWebService(bool on) { m_webService = on; }
    void setOutlook(bool on) { m_outlook = on; }
    void setWaitFin(bool on) { m_waitFin = on; }
    // The endpoint, or why the service cannot be used.
    const std::optional<MessageServiceEndpoint>& endpoint() const { return m_endpoint; }
    const QString& endpointError() const { return m_endpointError; }
    void setEndpoint(const MessageServiceEndpoint& e) { m_endpoint = e; }

    // "&Verificar configuración": a VerifyMessage call with the workstation's identity and the office's code
    // (the personal one unless it is 0). Answers the log line, or false and the reason.
    bool VerificarConfiguracion(QString& line, QString& error);
    // "&Mostrar configuración": the office codes and the workstation's identity, one line each.
    QStringList MostrarConfiguracion() const;

    // Waits until every send still under way has logged its line (at the end of the run).
    void waitForSends();
    int sendsUnderway() const;
    // Outlook's deleted items: nothing to empty on this platform.
    bool VaciarEliminados() { return false; }

private:
    bool EnviarWebService(const QString& destinatarios, const QString& asunto, int pedido, int regional,
                          const QStringList& archivos, const QString& texto);
    bool EnviarOutlook();
    bool EnviarSmtp(const QString& destinatarios, const QString& asunto, const QStringList& archivos,
                    const QString& texto);

    Settings& m_settings;
    Prompter& m_prompter;
    const Clock& m_clock;
    AppDir m_folder;
    TdmMail& m_mail;
    SendLog& m_log;
    const HostIdentity& m_host;
    bool m_webService = true;
    bool m_outlook = false;
    bool m_waitFin = true;
    bool m_outlookReported = false;
    std::optional<MessageServiceEndpoint> m_endpoint;
    QString m_endpointError;
    std::vector<QPointer<TSendQEVMessage>> m_running;
};

// The sender with the reception operations of the mail windows and the reception cycle.
class TSMimeReg : public TSMime {
    Q_OBJECT
public:
    using TSMime::TSMime;
};

} // namespace qev
