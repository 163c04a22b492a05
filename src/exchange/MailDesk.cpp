#include "exchange/MailDesk.h"

#include "core/Settings.h"
#include "exchange/TSMime.h"
#include "util/Prompter.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QSet>

namespace qev {

namespace {

QString yesNo(bool on) {
    return on ? QStringLiteral("S") : QStringLiteral("N");
}

QString portText(int port) {
    return port > 0 ? QString::number(port) : QString();
}

// Formatting tags kept (without attributes).
const QSet<QString>& keptTags() {
    static const QSet<QString> tags{
        QStringLiteral("p"),   QStringLiteral("br"),     QStringLiteral("div"),   QStringLiteral("span"),
        QStringLiteral("b"),   QStringLiteral("strong"), QStringLiteral("i"),     QStringLiteral("em"),
        QStringLiteral("u"),   QStringLiteral("s"),      QStringLiteral("ul"),    QStringLiteral("ol"),
        QStringLiteral("li"),  QStringLiteral("table"),  QStringLiteral("tr"),    QStringLiteral("td"),
        QStringLiteral("th"),  QStringLiteral("thead"),  QStringLiteral("tbody"), QStringLiteral("tfoot"),
        QStringLiteral("h1"),  QStringLiteral("h2"),     QStringLiteral("h3"),    QStringLiteral("h4"),
        QStringLiteral("h5"),  QStringLiteral("h6"),     QStringLiteral("pre"),   QStringLiteral("blockquote"),
        QStringLiteral("hr"),  QStringLiteral("small"),  QStringLiteral("big"),   QStringLiteral("sub"),
        QStringLiteral("sup"), QStringLiteral("code"),   QStringLiteral("tt"),    QStringLiteral("center"),
        QStringLiteral("dl"),  QStringLiteral("dt"),     QStringLiteral("dd"),    QStringLiteral("caption")};
    return tags;
}

// Elements dropped together with everything inside them.
const QSet<QString>& droppedElements() {
    static const QSet<QString> tags{
        QStringLiteral("script"),   QStringLiteral("style"),    QStringLiteral("head"),   QStringLiteral("title"),
        QStringLiteral("iframe"),   QStringLiteral("frameset"), QStringLiteral("object"), QStringLiteral("applet"),
        QStringLiteral("noscript"), QStringLiteral("template"), QStringLiteral("svg"),    QStringLiteral("math"),
        QStringLiteral("form"),     QStringLiteral("textarea"), QStringLiteral("select"), QStringLiteral("audio"),
        QStringLiteral("video"),    QStringLiteral("canvas"),   QStringLiteral("xml")};
    return tags;
}

bool nameChar(QChar c) {
    return (c >= QLatin1Char('a') && c <= QLatin1Char('z')) || (c >= QLatin1Char('A') && c <= QLatin1Char('Z')) ||
           (c >= QLatin1Char('0') && c <= QLatin1Char('9'));
}

// The end of the tag that starts at `from` ('<'), past its '>'; quoted attribute values may hold '>'.
qsizetype tagEnd(const QString& html, qsizetype from) {
    QChar quote;
    for (qsizetype i = from + 1; i < html.size(); ++i) {
        const QChar c = html.at(i);
        if (!quote.isNull()) {
            if (c == quote) quote = QChar();
        } else if (c == QLatin1Char('"') || c == QLatin1Char('\'')) {
            quote = c;
        } else if (c == QLatin1Char('>')) {
            return i + 1;
        }
    }
    return html.size();
}

} // namespace

int portOrDefault(const QString& text, int fallback) {
    bool ok = false;
    const int n = text.trimmed().toInt(&ok);
    return ok && n > 0 && n <= 65535 ? n : fallback;
}

MailConfigForm loadMailConfig(TdmMail& mail, const TSMime& sender) {
    const MailSettings& a = mail.account();
    MailConfigForm f;
    f.outlook = sender.outlook();
    f.webService = sender.webService();
    f.waitFinish = sender.waitFin();
    f.popServer = a.pop3Name;
    f.popPort = portText(a.pop3Port);
    f.account = a.pop3User;
    f.password = a.pop3Password;
    f.email = a.userEmail;
    f.smtpServer = a.smtpName;
    f.smtpPort = portText(a.smtpPort);
    f.smtpLogin = mail.smtpAuthentication;
    f.smtpAccount = mail.smtpUser;
    f.smtpPassword = mail.smtpPassword;
    f.emailForward = a.emailFwd;
    return f;
}

bool saveMailConfig(const MailConfigForm& f, TdmMail& mail, TSMime& sender, Settings& settings, Prompter& prompter) {
    const BusyScope busy(prompter);
    sender.setWebService(f.webService);
    sender.setWaitFin(f.waitFinish);
    sender.setOutlook(f.outlook);
    MailSettings& a = mail.account();
    a.waitFin = f.waitFinish;
    bool ok = settings.write(QStringLiteral("envWebService"), yesNo(f.webService)) &&
              settings.write(QStringLiteral("usaOutlook"), yesNo(f.outlook));
    if (f.outlook) {
        // The account pages are not saved; the wait flag is not one of them and is kept for the next start.
        ok = ok && settings.write(QStringLiteral("waitFin"), yesNo(f.waitFinish));
        if (!ok)
            prompter.error(QStringLiteral("ERROR: Al guardar configuración de la cuenta de correo"),
                           QStringLiteral("Error"));
        return ok;
    }
    if (!ok) {
        prompter.error(QStringLiteral("ERROR: Al guardar configuración de la cuenta de correo"),
                       QStringLiteral("Error"));
        return false;
    }
    a.pop3Name = f.popServer.trimmed();
    a.pop3Port = portOrDefault(f.popPort, kDefaultPop3Port);
    a.pop3User = f.account.trimmed();
    a.pop3Password = f.password;
    a.userEmail = f.email.trimmed();
    a.smtpName = f.smtpServer.trimmed();
    a.smtpPort = portOrDefault(f.smtpPort, kDefaultSmtpPort);
    a.emailFwd = f.emailForward.trimmed();
    mail.smtpAuthentication = f.smtpLogin;
    mail.smtpUser = f.smtpLogin ? f.smtpAccount.trimmed() : QString();
    mail.smtpPassword = f.smtpLogin ? f.smtpPassword : QString();
    return saveMailSettings(settings, a, prompter);
}

bool runMailCheck(TdmMail& mail, const std::function<void(const QString&)>& line) {
    line(QStringLiteral("Chequeando POP3.."));
    QString error;
    if (!mail.ConectarPop3(error)) {
        line(QStringLiteral("Error al conectarse al POP3. Verifique configuración del POP3 y del correo"));
        line(error);
        return false;
    }
    // The check only proves the account answers: no session is kept open for it.
    mail.desconectarPop3();
    line(QStringLiteral("Verificación exitosa"));
    line(QStringLiteral("Chequeando SMTP.."));
    THeaderMsg header;
    header.from = mail.account().userEmail;
    header.recipients = mail.account().userEmail;
    header.subject = QStringLiteral("Mensaje de Prueba sin uso del Outlook");
    header.priority = 2;
    error.clear();
    if (!mail.EnviarCorreo(header,
                           {QStringLiteral("Mensaje de correo electrónico enviado automáticamente para comprobar la "
                                           "configuración de su cuenta")},
                           error, {})) {
        line(QStringLiteral("Error al enviar mail de prueba. Verifique configuración del SMTP y del correo"));
        line(error);
        return false;
    }
    line(QStringLiteral("Verificación exitosa"));
    return true;
}

bool sendOperatorMessage(TdmMail& mail, const THeaderMsg& given, const QString& text, const QStringList& files,
                         QString& error) {
    THeaderMsg header = given;
    header.from = mail.account().userEmail;
    header.priority = 1;
    QString body = text;
    body.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    return mail.EnviarCorreo(header, body.split(QLatin1Char('\n')), error, files);
}

QString sanitizeHtml(const QString& html) {
    QString out;
    out.reserve(html.size());
    qsizetype i = 0;
    while (i < html.size()) {
        const QChar c = html.at(i);
        if (c != QLatin1Char('<')) {
            out += c;
            ++i;
            continue;
        }
        if (html.mid(i, 4) == QLatin1String("<!--")) {
            const qsizetype end = html.indexOf(QLatin1String("-->"), i + 4);
            i = end < 0 ? html.size() : end + 3;
            continue;
        }
        if (i + 1 < html.size() && (html.at(i + 1) == QLatin1Char('!') || html.at(i + 1) == QLatin1Char('?'))) {
            i = tagEnd(html, i);
            continue;
        }
        qsizetype n = i + 1;
        const bool closing = n < html.size() && html.at(n) == QLatin1Char('/');
        if (closing) ++n;
        const qsizetype nameStart = n;
        while (n < html.size() && nameChar(html.at(n)))
            ++n;
        if (n == nameStart) {
            // Not a tag: a lone "<" in the text.
            out += QStringLiteral("&lt;");
            ++i;
            continue;
        }
        const QString name = html.mid(nameStart, n - nameStart).toLower();
        const qsizetype end = tagEnd(html, i);
        const bool selfClosing = end >= 2 && html.at(end - 2) == QLatin1Char('/');
        if (!closing && droppedElements().contains(name) && !selfClosing) {
            // Everything up to the element's own end tag goes; without one, the rest of the text.
            const QString endTag = QStringLiteral("</") + name;
            qsizetype close = html.indexOf(endTag, end, Qt::CaseInsensitive);
            i = close < 0 ? html.size() : tagEnd(html, close);
            continue;
        }
        i = end;
        if (name == QLatin1String("img")) {
            if (!closing) out += QStringLiteral(" [imagen] ");
            continue;
        }
        if (!keptTags().contains(name)) continue;
        out += closing ? QStringLiteral("</") + name + QLatin1Char('>') : QLatin1Char('<') + name + QLatin1Char('>');
    }
    return out;
}

QString messageViewHtml(const MimeMessage& m) {
    QString body;
    if (!m.htmlParts.isEmpty()) {
        QStringList parts;
        for (const QString& part : m.htmlParts)
            parts << sanitizeHtml(part);
        body = parts.join(QStringLiteral("<hr>"));
    } else {
        body = QStringLiteral("<pre>") + m.textLines.join(QLatin1Char('\n')).toHtmlEscaped() + QStringLiteral("</pre>");
    }
    return QStringLiteral("<html><head><meta charset=\"utf-8\"></head><body>") + body +
           QStringLiteral("</body></html>\n");
}

QString attachmentTypeRefusal(const QString& fileName) {
    for (const char* ext : {".dat", ".txt", ".tif"})
        if (fileName.contains(QLatin1String(ext))) return QString();
    return QStringLiteral("Desde esta aplicación, solo se pueden visualizar \radjuntos de tipo .dat .txt .tif");
}

QString attachmentOpenRefusal(const QString& fileName, qint64 size) {
    const QString ext = QLatin1Char('.') + QFileInfo(fileName).suffix();
    if (ext == QLatin1String(".dat") || ext == QLatin1String(".txt"))
        return size < kMaxTextAttachment ? QString()
                                         : QStringLiteral("El adjunto es demasiado grande para el Bloc de notas");
    if (ext == QLatin1String(".tif"))
        return size < kMaxImageAttachment ? QString() : QStringLiteral("La imagen tiene un tamaño demasiado grande");
    return QStringLiteral("Desde esta aplicación, solo se pueden visualizar \radjuntos con extensión .dat .txt .tif");
}

MailInbox::MailInbox(TdmMail& mail, Prompter& prompter, QString officeFolder)
    : m_mail(mail), m_prompter(prompter), m_folder(std::move(officeFolder)) {}

bool MailInbox::check() {
    clearMessage();
    m_status = QStringLiteral("Consultando bandeja de entrada de correo...");
    const BusyScope busy(m_prompter);
    QString error;
    if (!m_mail.LeerEncabezados(error, m_rows)) {
        m_rows.clear();
        m_status = QStringLiteral("ERROR:") + error;
        return false;
    }
    m_status = QStringLiteral("Total de mensajes en el servidor: %1").arg(m_rows.size());
    return true;
}

void MailInbox::disconnect() {
    m_rows.clear();
    clearMessage();
}

void MailInbox::clearMessage() {
    m_message = MimeMessage();
    m_viewHtml.clear();
    m_shownIndex = 0;
}

bool MailInbox::show(int row) {
    clearMessage();
    if (row < 0 || static_cast<size_t>(row) >= m_rows.size()) return false;
    const int index = m_rows[static_cast<size_t>(row)].index;
    QString error;
    MimeMessage message;
    bool ok = false;
    {
        const BusyScope busy(m_prompter);
        ok = m_mail.LeerMensajeCompleto(index, message, error);
    }
    if (!ok) {
        if (!m_mail.pop3Connected()) {
            m_prompter.warn(QStringLiteral("Se perdió la conexión con el servidor. \rConsultar nuevamente la bandeja "
                                           "de entrada"));
            disconnect();
        }
        m_status = QStringLiteral("Error al obtener el mail");
        return false;
    }
    m_message = std::move(message);
    m_viewHtml = messageViewHtml(m_message);
    m_shownIndex = index;
    // The page shown is also left in the office folder, as the view's file.
    const QString body = QDir(m_folder).filePath(QStringLiteral("cuerpo.html"));
    QFile::remove(body);
    QSaveFile f(body);
    const QByteArray bytes = m_viewHtml.toUtf8();
    if (f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size()) (void)f.commit();
    return true;
}

int MailInbox::rowForIndex(int index) const {
    for (size_t i = 0; i < m_rows.size(); ++i)
        if (m_rows[i].index == index) return static_cast<int>(i);
    return -1;
}

bool MailInbox::remove(int row, int& selectRow) {
    selectRow = -1;
    if (!m_prompter.confirm(QStringLiteral("¿Está seguro que desea eliminar este mensaje?"),
                            QStringLiteral("Confirmar")))
        return false;
    if (row < 0 || static_cast<size_t>(row) >= m_rows.size()) return false;
    const int index = m_rows[static_cast<size_t>(row)].index;
    QString error;
    clearMessage();
    if (!m_mail.BorrarMensaje(index, error)) {
        m_status = QStringLiteral("Error al eliminar el mensaje:") + error;
        return false;
    }
    m_prompter.inform(QStringLiteral("Mensaje eliminado"));
    check();
    selectRow = rowForIndex(index - 1);
    return true;
}

bool MailInbox::process(int row, int& selectRow) {
    selectRow = -1;
    if (row < 0 || static_cast<size_t>(row) >= m_rows.size() || !processMessage) return false;
    const int index = m_rows[static_cast<size_t>(row)].index;
    QString error;
    int result = -1;
    clearMessage();
    {
        const BusyScope busy(m_prompter);
        result = processMessage(index, error);
    }
    if (result < 0) {
        m_status = QStringLiteral("Error al procesar: ") + error;
        return false;
    }
    m_prompter.inform(result == 0 ? QStringLiteral("Mensaje reenviado exitosamente")
                                  : QStringLiteral("Mensaje procesado exitosamente"));
    check();
    selectRow = rowForIndex(index - 1);
    return true;
}

bool MailInbox::forward(int row, const QString& proposed) {
    if (row < 0 || static_cast<size_t>(row) >= m_rows.size()) return false;
    QString address = proposed;
    if (!m_prompter.input(QStringLiteral("Ingrese email del destinatario:"), QStringLiteral("Reenvío de mensaje"),
                          address))
        return false;
    QString error;
    const BusyScope busy(m_prompter);
    if (!m_mail.ReenviarMensaje(m_rows[static_cast<size_t>(row)].index, address.trimmed(), error)) {
        m_status = QStringLiteral("Error al reenviar: ") + error;
        return false;
    }
    m_status = QStringLiteral("Mensaje re-enviado");
    return true;
}

QString MailInbox::attachmentFolder() const {
    return QDir(m_folder).filePath(QStringLiteral("adjuntos"));
}

QString MailInbox::proposedPath(int n) const {
    if (n < 1 || static_cast<size_t>(n) > m_message.attachments.size()) return QString();
    const QString name = safeAttachmentName(m_message.attachments[static_cast<size_t>(n - 1)].fileName);
    return name.isEmpty() ? QString() : QDir(attachmentFolder()).filePath(name);
}

bool MailInbox::saveAttachment(int n, const QString& path) {
    if (!hasMessage() || path.trimmed().isEmpty()) return false;
    QDir().mkpath(QFileInfo(path).absolutePath());
    if (!m_mail.GuardarAdjunto(m_shownIndex, n, path)) {
        m_prompter.error(QStringLiteral("Error al guardar adjunto"));
        return false;
    }
    m_prompter.inform(QStringLiteral("Adjunto guardados en ") + path);
    return true;
}

bool MailInbox::openAttachment(int n) {
    if (!hasMessage() || n < 1 || static_cast<size_t>(n) > m_message.attachments.size()) return false;
    const QString path = proposedPath(n);
    const QString name = QFileInfo(path).fileName();
    if (const QString refusal = attachmentTypeRefusal(name); path.isEmpty() || !refusal.isEmpty()) {
        m_prompter.warn(attachmentTypeRefusal(QString()));
        return false;
    }
    QDir().mkpath(attachmentFolder());
    if (!m_mail.GuardarAdjunto(m_shownIndex, n, path)) {
        m_prompter.error(QStringLiteral("Error al recuperar y guardar el adjunto"));
        return false;
    }
    if (const QString refusal = attachmentOpenRefusal(name, QFileInfo(path).size()); !refusal.isEmpty()) {
        m_prompter.warn(refusal);
        return false;
    }
    if (!openFile || !openFile(path)) {
        m_prompter.error(QStringLiteral("No se pudo abrir el adjunto ") + path);
        return false;
    }
    return true;
}

} // namespace qev
