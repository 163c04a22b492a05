#pragma once
// The mail account of the office and every mail operation on it: SMTP sending with attachments, raw forwarding,
// and a POP3 session that stays open between operations until a message is deleted, the account reconnects or the
// program ends (a deletion only takes effect when the session is closed). No operation throws: each answers false
// (or -1) and an error text beginning with the operation's tag.
//
// Beyond plain SMTP and POP3, connections are protected when the server allows it: implicit TLS on ports 465 and
// 995 (or when the account says so), STARTTLS/STLS whenever the server offers it, the server's certificate checked
// against the system's authorities and an optional authority file of the office; SMTP authentication (PLAIN or
// LOGIN) when the account has a user.
#include "core/Settings.h"
#include "exchange/mail/MimeRead.h"
#include "util/TransferProgress.h"

#include <QString>
#include <QStringList>

#include <memory>
#include <vector>

namespace vmime::net {
class folder;
class session;
class store;
} // namespace vmime::net

namespace qev {

class Clock;
class Prompter;

// Headers passed to and returned by the mail operations. Priority 0 (highest) .. 4 (lowest), 2 normal, when
// sending; a header read from the server answers it one higher (1..5).
struct THeaderMsg {
    QString msgId;
    QString from;
    QString recipients;
    QString subject;
    int priority = 2;
    QString cc;
    QString bcc;
    QString receipt;
};

// One row of the inbox table.
struct MsgHeaderRow {
    int index = 0;
    QString subject;
    QString from;
    int priority = 0;
    QString date;
    qint64 bytes = 0;
    QString uidl = QStringLiteral("n/a");
    QString recipients;
    QString cc;
    QString receipt;
    QString organization;
    QString msgId;
    QString contentType;
};

struct AttachmentRow {
    int index = 0;
    QString filename;
    QString contentType;
};

// How a connection is protected.
enum class MailSecurity {
    Auto,     // implicit TLS on the standard TLS ports (465, 995), else STARTTLS when the server offers it
    StartTls, // STARTTLS required
    Tls,      // implicit TLS
    None,     // plain text only
};

struct MailConnection {
    MailSecurity smtpSecurity = MailSecurity::Auto;
    MailSecurity pop3Security = MailSecurity::Auto;
    bool verifyCertificates = true; // off only for a server with a private certificate
    QString caFile;                 // extra authorities (PEM) trusted besides the system's
    int timeoutMs = 60000;
};

// The protection settings of the office: `smtpSeguridad` and `pop3Seguridad` ("", "STARTTLS", "SSL" or "NO"),
// `tlsVerificar` (certificates checked unless "N"), `tlsCA` (an authority file).
MailConnection mailConnectionFromSettings(const Settings& s);

class TdmMail {
public:
    TdmMail(Settings& settings, Prompter& prompter, const Clock& clock, QString folder);
    ~TdmMail();
    TdmMail(const TdmMail&) = delete;
    TdmMail& operator=(const TdmMail&) = delete;

    // The account as read from the settings (false and the fixed message when it cannot be read).
    bool leerConfiguracion();
    MailSettings& account() { return m_account; }
    MailConnection& connection() { return m_connection; }
    // SMTP user and password: set only for the running program by the configuration window.
    QString smtpUser;
    QString smtpPassword;
    // The authentication the configuration window chose: false none, true simple login.
    bool smtpAuthentication = false;

    void setProgress(TransferProgress* p) { m_progress = p; }

    bool ConectarPop3(QString& error);
    bool ContarMensajes(int& total, QString& error);
    bool LeerEncabezado(int index, THeaderMsg& header, QString& error);
    bool LeerEncabezados(QString& error, std::vector<MsgHeaderRow>& data);
    bool LeerMensaje(int index, QStringList& lines, std::vector<AttachmentRow>& data, QString* error = nullptr);
    // The whole message `index` read for showing: header, plain-text and HTML parts, attachments.
    bool LeerMensajeCompleto(int index, MimeMessage& message, QString& error);
    bool GuardarAdjunto(int index, int part, const QString& path);
    bool GuardarAdjuntos(int index, const QString& folder, QString& error);
    bool BorrarMensaje(int index, QString& error);
    bool ReenviarMensaje(int index, const QString& address, QString& error);
    bool EnviarCorreo(const THeaderMsg& header, const QStringList& lines, QString& error, const QStringList& files);
    bool GuardarConfiguracion();

    bool pop3Connected() const;
    // Ends the POP3 session without deleting anything (also at destruction).
    void desconectarPop3();

private:
    struct Pop3;
    bool ensurePop3(QString& error);
    // The whole message `index` as received (dot-unstuffed), with the progress window.
    bool retrieve(int index, QByteArray& raw, QString& why);
    bool smtpSend(const QString& from, const QStringList& envelopeTo, const QByteArray& data, QString& why);
    void log(const QString& text);

    Settings& m_settings;
    Prompter& m_prompter;
    const Clock& m_clock;
    QString m_folder;
    MailSettings m_account;
    MailConnection m_connection;
    TransferProgress* m_progress = nullptr;
    std::unique_ptr<Pop3> m_pop3;
};

} // namespace qev
