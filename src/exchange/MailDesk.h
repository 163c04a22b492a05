#pragma once
// What the mail windows do, without their widgets: the sending configuration's load and save (a port that is not a
// number falls back to 110 for POP3 and 25 for SMTP), the check of the mail account, line by line, and the inbox:
// the list of messages on the server, one message shown as plain text or as HTML reduced to safe markup (no
// scripts, no images, no links that fetch anything), its attachments saved under safe names inside the office's
// attachment folder and opened with the desktop's program for their type within the size limits of each type,
// forwarding, deletion and processing of one message.
#include "exchange/mail/MimeRead.h"
#include "exchange/mail/TdmMail.h"

#include <QString>

#include <functional>
#include <vector>

namespace qev {

class Prompter;
class Settings;
class TSMime;

inline constexpr int kDefaultPop3Port = 110;
inline constexpr int kDefaultSmtpPort = 25;
// Text attachments are opened below this size, images below the other.
inline constexpr qint64 kMaxTextAttachment = 46080;
inline constexpr qint64 kMaxImageAttachment = 10485760;

// A port typed in a field: the number, or `fallback` when it is not one (or not a port).
int portOrDefault(const QString& text, int fallback);

// The fields of the sending configuration window.
struct MailConfigForm {
    bool outlook = false;
    bool webService = true;
    bool waitFinish = true;
    QString popServer;
    QString popPort;
    QString account;
    QString password;
    QString email;
    QString smtpServer;
    QString smtpPort;
    bool smtpLogin = false; // authentication "Simple Login" (else "None")
    QString smtpAccount;
    QString smtpPassword;
    QString emailForward;
};

MailConfigForm loadMailConfig(TdmMail& mail, const TSMime& sender);
// "&Aceptar": the flags go to the sender and the settings; unless Outlook is used, the pages go to the mail account
// and its settings. False when the settings could not be written (the message was shown).
bool saveMailConfig(const MailConfigForm& form, TdmMail& mail, TSMime& sender, Settings& settings, Prompter& prompter);

// The check of the mail account: POP3, then a test message to the office's own address. Each line is handed to
// `line` as it is written; true when both steps succeeded.
bool runMailCheck(TdmMail& mail, const std::function<void(const QString&)>& line);

// "&Enviar" of the new-message window: from the office's address, priority 1, the text's lines and the files.
bool sendOperatorMessage(TdmMail& mail, const THeaderMsg& header, const QString& text, const QStringList& files,
                         QString& error);

// HTML reduced to text and harmless markup: only formatting tags, without any attribute; scripts, styles, frames,
// objects, forms and comments dropped with their content; images replaced by "[imagen]"; links kept as their text.
QString sanitizeHtml(const QString& html);
// The page the inbox shows for a message: its HTML parts sanitised, else its plain text.
QString messageViewHtml(const MimeMessage& message);

// The message shown before saving when an attachment's name is not of a type the inbox opens; empty when it is.
QString attachmentTypeRefusal(const QString& fileName);
// The message shown instead of opening a saved attachment (extension or size); empty when it may be opened.
QString attachmentOpenRefusal(const QString& fileName, qint64 size);

class MailInbox {
public:
    MailInbox(TdmMail& mail, Prompter& prompter, QString officeFolder);

    // Opens a saved file with the desktop's program for it; false when nothing could open it.
    std::function<bool(const QString& path)> openFile;
    // Processes message `index` into the tables: 1 applied, 0 forwarded, -1 failed (`error`).
    std::function<int(int index, QString& error)> processMessage;

    const std::vector<MsgHeaderRow>& rows() const { return m_rows; }
    // The status text of the last operation.
    const QString& status() const { return m_status; }

    // "Consultar bandeja de entrada": the header list from the server.
    bool check();
    // "Cerrar conexión": the list closed, the message cleared; nothing is deleted.
    void disconnect();

    // "Leer Mensaje" of the message in list row `row` (0-based). False when it could not be shown; a lost
    // connection is said and the list disconnected.
    bool show(int row);
    bool hasMessage() const { return m_shownIndex > 0; }
    const MimeMessage& message() const { return m_message; }
    const QString& viewHtml() const { return m_viewHtml; }
    void clearMessage();

    // "Borrar Mensaje" and "Procesar Mensaje": on success the list is read again and the row to select (the one
    // whose number is one less) is answered in `selectRow` (-1 for none).
    bool remove(int row, int& selectRow);
    bool process(int row, int& selectRow);
    // "Reenviar Mensaje": asks for the address, proposing `proposed`.
    bool forward(int row, const QString& proposed);

    // The folder attachments are saved in when opened: "adjuntos" in the office folder.
    QString attachmentFolder() const;
    // The path proposed for attachment `n` (1-based) of the shown message; empty when its name is unusable.
    QString proposedPath(int n) const;
    // "Guardar Adjunto" to a path the operator chose.
    bool saveAttachment(int n, const QString& path);
    // "Abrir adjunto tipo dat txt tif".
    bool openAttachment(int n);

private:
    int rowForIndex(int index) const;

    TdmMail& m_mail;
    Prompter& m_prompter;
    QString m_folder;
    std::vector<MsgHeaderRow> m_rows;
    QString m_status;
    MimeMessage m_message;
    QString m_viewHtml;
    int m_shownIndex = 0;
};

} // namespace qev
