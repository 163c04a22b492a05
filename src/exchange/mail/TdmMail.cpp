#include "exchange/mail/TdmMail.h"

#include "exchange/mail/MimeRead.h"
#include "exchange/mail/ValidEmail.h"
#include "exchange/mail/VmimeSupport.h"
#include "util/Clock.h"
#include "util/Prompter.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QThread>

#include <vmime/net/smtp/SMTPExceptions.hpp>
#include <vmime/security/cert/certificateException.hpp>

#include <mutex>

namespace qev {

using namespace qev::mail;

namespace {

using vmime::security::cert::certificateVerifier;
using vmime::security::cert::X509Certificate;

constexpr qint64 kMaxRetrieveBytes = qint64(128) << 20;

MailSecurity securityFrom(const QString& text) {
    const QString t = text.trimmed().toUpper();
    if (t == QLatin1String("STARTTLS") || t == QLatin1String("STLS")) return MailSecurity::StartTls;
    if (t == QLatin1String("SSL") || t == QLatin1String("TLS")) return MailSecurity::Tls;
    if (t == QLatin1String("NO") || t == QLatin1String("N")) return MailSecurity::None;
    return MailSecurity::Auto;
}

// Every certificate in a PEM file.
std::vector<std::shared_ptr<X509Certificate>> pemCertificates(const QString& path) {
    std::vector<std::shared_ptr<X509Certificate>> out;
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return out;
    const QByteArray all = f.readAll();
    static const QByteArray begin = "-----BEGIN CERTIFICATE-----";
    static const QByteArray end = "-----END CERTIFICATE-----";
    qsizetype from = 0;
    while ((from = all.indexOf(begin, from)) >= 0) {
        const qsizetype stop = all.indexOf(end, from);
        if (stop < 0) break;
        const QByteArray one = all.mid(from, stop + end.size() - from) + '\n';
        from = stop + end.size();
        try {
            auto cert = X509Certificate::import(reinterpret_cast<const vmime::byte_t*>(one.constData()),
                                                static_cast<size_t>(one.size()));
            if (cert) out.push_back(cert);
        } catch (const std::exception&) {
        }
    }
    return out;
}

// The system's authorities, read once.
const std::vector<std::shared_ptr<X509Certificate>>& systemAuthorities() {
    static std::once_flag once;
    static std::vector<std::shared_ptr<X509Certificate>> certs;
    std::call_once(once, [] {
        for (const char* p : {"/etc/ssl/certs/ca-certificates.crt", "/etc/pki/tls/certs/ca-bundle.crt"}) {
            certs = pemCertificates(QString::fromLatin1(p));
            if (!certs.empty()) break;
        }
    });
    return certs;
}

// Accepts whatever the server shows: only for a server the office knows has a private certificate.
class AcceptAnyCertificate final : public certificateVerifier {
public:
    void verify(std::shared_ptr<vmime::security::cert::certificateChain>, const vmime::string&) override {}
};

std::shared_ptr<certificateVerifier> makeVerifier(const MailConnection& c) {
    if (!c.verifyCertificates) return std::make_shared<AcceptAnyCertificate>();
    auto v = std::make_shared<vmime::security::cert::defaultCertificateVerifier>();
    std::vector<std::shared_ptr<X509Certificate>> roots = systemAuthorities();
    if (!c.caFile.trimmed().isEmpty()) {
        const auto extra = pemCertificates(c.caFile.trimmed());
        roots.insert(roots.end(), extra.begin(), extra.end());
    }
    v->setX509RootCAs(roots);
    return v;
}

// A silent server ends the operation after the timeout; while waiting, windows of the program keep painting.
class Timeout final : public vmime::net::timeoutHandler {
public:
    explicit Timeout(int ms) : m_ms(ms) { m_timer.start(); }
    bool isTimeOut() override {
        keepPainting();
        return m_timer.elapsed() >= m_ms;
    }
    void resetTimeOut() override { m_timer.restart(); }
    bool handleTimeOut() override { return false; }

private:
    void keepPainting() {
        auto* app = QCoreApplication::instance();
        if (!app || QThread::currentThread() != app->thread()) return;
        if (m_paint.isValid() && m_paint.elapsed() < 50) return;
        m_paint.start();
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    }
    int m_ms;
    QElapsedTimer m_timer;
    QElapsedTimer m_paint;
};

class TimeoutFactory final : public vmime::net::timeoutHandlerFactory {
public:
    explicit TimeoutFactory(int ms) : m_ms(ms) {}
    std::shared_ptr<vmime::net::timeoutHandler> create() override { return std::make_shared<Timeout>(m_ms); }

private:
    int m_ms;
};

class Progress final : public vmime::utility::progressListener {
public:
    Progress(TransferProgress* p, TransferProgress::Direction d, qint64 size) : m_p(p), m_d(d), m_size(size) {}
    ~Progress() override { finish(); }
    void start(const size_t) override {
        if (m_p) m_p->transferBegins(m_d, m_size);
    }
    void progress(const size_t current, const size_t) override {
        if (m_p && m_size > 0) m_p->transferProgress(m_d, static_cast<qint64>(current), m_size);
    }
    void stop(const size_t) override { finish(); }

private:
    void finish() {
        if (m_p && !m_done) m_p->transferEnds();
        m_done = true;
    }
    TransferProgress* m_p;
    TransferProgress::Direction m_d;
    qint64 m_size;
    bool m_done = false;
};

// Base64 in lines of 76 characters ended by CR LF, as a message body carries it.
QByteArray base64Lines(const QByteArray& data) {
    const QByteArray flat = data.toBase64();
    constexpr qsizetype kLine = 76;
    QByteArray out;
    out.reserve(flat.size() + (flat.size() / kLine + 1) * 2);
    for (qsizetype at = 0; at < flat.size(); at += kLine) {
        out.append(flat.constData() + at, std::min(kLine, flat.size() - at));
        out.append("\r\n", 2);
    }
    return out;
}

// A readable cause: the exception's text, the server's answer when there is one, and what caused it.
QString causeOf(const std::exception& e) {
    if (dynamic_cast<const vmime::security::cert::certificateException*>(&e))
        return QStringLiteral("no se pudo verificar el certificado del servidor (%1)").arg(QString::fromUtf8(e.what()));
    if (dynamic_cast<const vmime::exceptions::operation_timed_out*>(&e))
        return QStringLiteral("el servidor no respondió a tiempo");
    QString text = QString::fromUtf8(e.what());
    if (const auto* ce = dynamic_cast<const vmime::exceptions::command_error*>(&e)) {
        if (!ce->response().empty()) text += QStringLiteral(": ") + bytesAsText(ce->response()).trimmed();
    } else if (const auto* ae = dynamic_cast<const vmime::exceptions::authentication_error*>(&e)) {
        text = QStringLiteral("el servidor rechazó el usuario o la contraseña");
        if (!ae->response().empty()) text += QStringLiteral(": ") + bytesAsText(ae->response()).trimmed();
    } else if (const auto* ge = dynamic_cast<const vmime::exceptions::connection_greeting_error*>(&e)) {
        if (!ge->response().empty()) text += QStringLiteral(": ") + bytesAsText(ge->response()).trimmed();
    }
    if (const auto* ve = dynamic_cast<const vmime::exception*>(&e)) {
        for (const vmime::exception* o = ve->other(); o; o = o->other()) {
            if (dynamic_cast<const vmime::security::cert::certificateException*>(o))
                return QStringLiteral("no se pudo verificar el certificado del servidor (%1)")
                    .arg(QString::fromUtf8(o->what()));
            text += QStringLiteral(" (") + QString::fromUtf8(o->what()) + QLatin1Char(')');
        }
    }
    return text;
}

void secure(vmime::net::service& svc, MailSecurity sec, bool implicit) {
    if (implicit) return;
    svc.setProperty("connection.tls", sec != MailSecurity::None);
    svc.setProperty("connection.tls.required", sec == MailSecurity::StartTls);
}

bool implicitTls(MailSecurity sec, int port, int tlsPort) {
    return sec == MailSecurity::Tls || (sec == MailSecurity::Auto && port == tlsPort);
}

vmime::string utf8(const QString& s) {
    return toUtf8(s);
}

// Comma (or semicolon) separated addresses, blanks dropped.
QStringList addressList(const QString& text) {
    QStringList out;
    for (QString a : QString(text).replace(QLatin1Char(';'), QLatin1Char(',')).split(QLatin1Char(','))) {
        a = a.trimmed();
        // "Name <address>" gives its address.
        const qsizetype lt = a.lastIndexOf(QLatin1Char('<'));
        if (lt >= 0 && a.endsWith(QLatin1Char('>'))) a = a.mid(lt + 1, a.size() - lt - 2).trimmed();
        if (!a.isEmpty()) out << a;
    }
    return out;
}

std::shared_ptr<vmime::addressList> vmimeAddresses(const QStringList& list) {
    auto out = std::make_shared<vmime::addressList>();
    for (const QString& a : list)
        out->appendAddress(std::make_shared<vmime::mailbox>(vmime::emailAddress(utf8(a))));
    return out;
}

QString headerLine(const char* name, const vmime::text& value) {
    auto f = vmime::headerFieldFactory::getInstance()->create(name);
    f->setValue(value);
    return QString::fromUtf8(f->generate());
}

// Writes through a temporary file and renames, so a failed write leaves the old file as it was.
bool saveBytes(const QString& path, const QByteArray& bytes, QString& why) {
    QSaveFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size() || !f.commit()) {
        why = f.errorString();
        return false;
    }
    return true;
}

// A received text as a log line can hold it: control characters shown as "?".
QString printable(QString text) {
    for (QChar& c : text)
        if (c.unicode() < 0x20 || c.unicode() == 0x7f) c = QLatin1Char('?');
    return text;
}

// The file name of a message that is itself one attachment, from its Content-Disposition text.
QString dispositionFileName(const QString& disposition) {
    QString t = disposition;
    const qsizetype a = t.indexOf(QLatin1String("attachment;"), 0, Qt::CaseInsensitive);
    if (a >= 0) t.remove(a, 11);
    t.remove(QLatin1Char('"'));
    QString compact;
    for (const QChar c : t)
        if (!c.isSpace()) compact += c;
    for (const QString& item : compact.split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
        if (item.startsWith(QLatin1String("filename="), Qt::CaseInsensitive)) return item.mid(9);
        if (item.startsWith(QLatin1String("filename*="), Qt::CaseInsensitive)) {
            QString v = item.mid(10);
            const qsizetype q = v.indexOf(QLatin1String("''"));
            if (q >= 0) v = v.mid(q + 2);
            return QString::fromUtf8(QByteArray::fromPercentEncoding(v.toUtf8()));
        }
    }
    return QString();
}

} // namespace

MailConnection mailConnectionFromSettings(const Settings& s) {
    MailConnection c;
    c.smtpSecurity = securityFrom(s.read(QStringLiteral("smtpSeguridad")));
    c.pop3Security = securityFrom(s.read(QStringLiteral("pop3Seguridad")));
    c.verifyCertificates = s.unlessN(QStringLiteral("tlsVerificar"));
    c.caFile = s.read(QStringLiteral("tlsCA"));
    return c;
}

struct TdmMail::Pop3 {
    std::shared_ptr<vmime::net::session> session;
    std::shared_ptr<vmime::net::store> store;
    std::shared_ptr<vmime::net::folder> folder;
};

TdmMail::TdmMail(Settings& settings, Prompter& prompter, const Clock& clock, QString folder)
    : m_settings(settings), m_prompter(prompter), m_clock(clock), m_folder(std::move(folder)) {}

TdmMail::~TdmMail() {
    desconectarPop3();
}

bool TdmMail::leerConfiguracion() {
    m_connection = mailConnectionFromSettings(m_settings);
    return loadMailSettings(m_settings, m_account, m_prompter);
}

bool TdmMail::GuardarConfiguracion() {
    return saveMailSettings(m_settings, m_account, m_prompter);
}

void TdmMail::log(const QString& text) {
    if (!m_account.logOpeMail) return;
    (void)writeLogLine(m_folder,
                       m_clock.now().toString(QStringLiteral("dd/MM/yyyy HH:mm:ss")) + QStringLiteral(" - ") + text);
}

bool TdmMail::pop3Connected() const {
    try {
        return m_pop3 && m_pop3->store && m_pop3->store->isConnected() && m_pop3->folder && m_pop3->folder->isOpen();
    } catch (const std::exception&) {
        return false;
    }
}

void TdmMail::desconectarPop3() {
    if (!m_pop3) return;
    // Closing without expunge keeps every message: a deletion is only ever committed by BorrarMensaje.
    try {
        if (m_pop3->folder && m_pop3->folder->isOpen()) m_pop3->folder->close(false);
    } catch (const std::exception&) {
    }
    try {
        if (m_pop3->store && m_pop3->store->isConnected()) m_pop3->store->disconnect();
    } catch (const std::exception&) {
    }
    m_pop3.reset();
}

bool TdmMail::ConectarPop3(QString& error) {
    desconectarPop3();
    try {
        ensureVmime();
        auto p = std::make_unique<Pop3>();
        p->session = vmime::net::session::create();
        const bool implicit = implicitTls(m_connection.pop3Security, m_account.pop3Port, 995);
        vmime::utility::url url(implicit ? "pop3s" : "pop3", utf8(m_account.pop3Name),
                                static_cast<vmime::port_t>(m_account.pop3Port));
        p->store = p->session->getStore(url);
        secure(*p->store, m_connection.pop3Security, implicit);
        p->store->setProperty("options.apop", false);
        p->store->setProperty("auth.username", utf8(m_account.pop3User));
        p->store->setProperty("auth.password", utf8(m_account.pop3Password));
        p->store->setCertificateVerifier(makeVerifier(m_connection));
        p->store->setTimeoutHandlerFactory(std::make_shared<TimeoutFactory>(m_connection.timeoutMs));
        p->store->connect();
        p->folder = p->store->getDefaultFolder();
        p->folder->open(vmime::net::folder::MODE_READ_WRITE);
        m_pop3 = std::move(p);
        return true;
    } catch (const std::exception& e) {
        error = QStringLiteral("Error ConnectPOP3: ") + causeOf(e);
        m_pop3.reset();
        return false;
    }
}

bool TdmMail::ensurePop3(QString& error) {
    if (pop3Connected()) return true;
    return ConectarPop3(error);
}

bool TdmMail::ContarMensajes(int& total, QString& error) {
    total = -1;
    QString why;
    if (!ConectarPop3(why)) {
        error = QStringLiteral("Error GetTotMsgInbox: ") + why;
        return false;
    }
    try {
        total = static_cast<int>(m_pop3->folder->getMessageCount());
        return true;
    } catch (const std::exception& e) {
        error = QStringLiteral("Error GetTotMsgInbox: ") + causeOf(e);
        total = -1;
        return false;
    }
}

bool TdmMail::LeerEncabezado(int index, THeaderMsg& header, QString& error) {
    header = THeaderMsg();
    QString why;
    if (!ensurePop3(why)) {
        error = QStringLiteral("Error GetHeadMail: ") + why;
        return false;
    }
    try {
        auto msg = m_pop3->folder->getMessage(static_cast<size_t>(index));
        m_pop3->folder->fetchMessage(msg, vmime::net::fetchAttributes(vmime::net::fetchAttributes::FULL_HEADER));
        const vmime::string raw = msg->getHeader()->generate();
        const MimeHeader h = readMimeHeader(QByteArray(raw.data(), static_cast<qsizetype>(raw.size())) + "\r\n");
        header.msgId = h.msgId;
        header.from = h.fromText;
        header.recipients = h.recipients;
        header.subject = h.subject;
        header.priority = h.priority;
        header.cc = h.cc;
        header.bcc = h.bcc;
        header.receipt = h.receipt;
        return true;
    } catch (const std::exception& e) {
        error = QStringLiteral("Error GetHeadMail: ") + causeOf(e);
        return false;
    }
}

bool TdmMail::LeerEncabezados(QString& error, std::vector<MsgHeaderRow>& data) {
    data.clear();
    QString why;
    if (!ConectarPop3(why)) {
        error = QStringLiteral("Error al conectarse al POP3: ") + why;
        return false;
    }
    size_t count = 0;
    try {
        count = m_pop3->folder->getMessageCount();
    } catch (const std::exception& e) {
        error = QStringLiteral("Error al conectarse al POP3: ") + causeOf(e);
        return false;
    }
    for (size_t i = 1; i <= count; ++i) {
        if (QCoreApplication::instance()) QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
        MsgHeaderRow row;
        row.index = static_cast<int>(i);
        try {
            auto msg = m_pop3->folder->getMessage(i);
            m_pop3->folder->fetchMessage(msg, vmime::net::fetchAttributes(vmime::net::fetchAttributes::FULL_HEADER |
                                                                          vmime::net::fetchAttributes::SIZE));
            const vmime::string raw = msg->getHeader()->generate();
            const MimeHeader h = readMimeHeader(QByteArray(raw.data(), static_cast<qsizetype>(raw.size())) + "\r\n");
            row.subject = h.subject;
            row.from = h.fromText;
            row.date = h.date;
            row.bytes = static_cast<qint64>(msg->getSize());
            row.recipients = h.recipients;
            row.cc = h.cc;
            row.receipt = h.receipt;
            row.organization = h.organization;
            row.priority = h.priority;
            row.msgId = h.msgId;
            row.contentType = h.contentType;
        } catch (const std::exception&) {
            row = MsgHeaderRow();
            row.index = static_cast<int>(i);
            row.subject = QStringLiteral("ERROR");
            row.uidl.clear();
        }
        data.push_back(std::move(row));
    }
    return true;
}

bool TdmMail::retrieve(int index, QByteArray& raw, QString& why) {
    if (!ensurePop3(why)) return false;
    try {
        auto msg = m_pop3->folder->getMessage(static_cast<size_t>(index));
        m_pop3->folder->fetchMessage(msg, vmime::net::fetchAttributes(vmime::net::fetchAttributes::SIZE));
        const auto size = static_cast<qint64>(msg->getSize());
        if (size > kMaxRetrieveBytes) {
            why = QStringLiteral("el mensaje %1 tiene %2 bytes, más de los %3 que se aceptan")
                      .arg(index)
                      .arg(size)
                      .arg(kMaxRetrieveBytes);
            return false;
        }
        vmime::string out;
        vmime::utility::outputStreamStringAdapter os(out);
        {
            Progress progress(m_progress, TransferProgress::Direction::Receiving, size);
            msg->extract(os, &progress);
        }
        raw = QByteArray(out.data(), static_cast<qsizetype>(out.size()));
        return true;
    } catch (const std::exception& e) {
        why = causeOf(e);
        return false;
    }
}

bool TdmMail::LeerMensaje(int index, QStringList& lines, std::vector<AttachmentRow>& data, QString* error) {
    lines.clear();
    data.clear();
    QByteArray raw;
    QString why;
    const bool ok = retrieve(index, raw, why);
    MimeMessage m;
    if (ok) {
        m = readMimeMessage(raw);
        lines = m.textLines;
        for (const MimeAttachment& a : m.attachments)
            data.push_back({a.index, a.fileName, a.contentType});
    } else if (error) {
        *error = QStringLiteral("Error GetMail: ") + why;
    }
    log(QStringLiteral("From: %1 - Tema: %2 - MailIndex: %3 - GetMail Result: %4 ")
            .arg(m.header.fromText, m.header.subject)
            .arg(index)
            .arg(ok ? QStringLiteral("True") : QStringLiteral("False")));
    return ok;
}

bool TdmMail::LeerMensajeCompleto(int index, MimeMessage& message, QString& error) {
    message = MimeMessage();
    QByteArray raw;
    QString why;
    const bool ok = retrieve(index, raw, why);
    if (ok)
        message = readMimeMessage(raw);
    else
        error = QStringLiteral("Error GetMail: ") + why;
    log(QStringLiteral("From: %1 - Tema: %2 - MailIndex: %3 - GetMail Result: %4 ")
            .arg(message.header.fromText, message.header.subject)
            .arg(index)
            .arg(ok ? QStringLiteral("True") : QStringLiteral("False")));
    return ok;
}

bool TdmMail::GuardarAdjunto(int index, int part, const QString& path) {
    if (path.trimmed().isEmpty()) {
        m_prompter.error(QStringLiteral("Error: El nombre del archivo destino no puede ser vacio"));
        return false;
    }
    if (!pop3Connected()) {
        m_prompter.error(
            QStringLiteral("Error: Se ha perdido la conexión con el servidor. Vuelva a consultar los mensajes."));
        return false;
    }
    QByteArray raw;
    QString why;
    if (!retrieve(index, raw, why)) {
        m_prompter.error(QStringLiteral("Error RetrieveMail:%1 - %2").arg(index).arg(why));
        return false;
    }
    auto bytes = mimeAttachmentBytes(raw, part);
    if (!bytes) {
        m_prompter.error(QStringLiteral("Error SaveToFile:") + path + QStringLiteral(" - ") +
                         QString::fromStdString(bytes.error()));
        return false;
    }
    if (!saveBytes(path, *bytes, why)) {
        m_prompter.error(QStringLiteral("Error SaveToFile:") + path + QStringLiteral(" - ") + why);
        return false;
    }
    return true;
}

bool TdmMail::GuardarAdjuntos(int index, const QString& folder, QString& error) {
    const QString tag = QStringLiteral("ERROR SaveAllAttachToPath: ");
    QByteArray raw;
    QString why;
    if (!retrieve(index, raw, why)) {
        error = tag + QStringLiteral("Error RetrieveMail:%1 (%2)").arg(index).arg(why);
        return false;
    }
    std::vector<DecodedAttachment> files;
    const MimeHeader header = readMimeHeader(raw);
    if (header.contentType.contains(QLatin1String("multipart/"), Qt::CaseInsensitive)) {
        auto all = mimeAttachments(raw);
        if (!all) {
            error = tag + QString::fromStdString(all.error());
            return false;
        }
        files = std::move(*all);
    } else if (header.contentType.contains(QLatin1String("application/octet-stream"), Qt::CaseInsensitive)) {
        auto bytes = mimeSingleBody(raw);
        if (!bytes) {
            error = tag + QString::fromStdString(bytes.error());
            return false;
        }
        files.push_back({dispositionFileName(header.contentDisposition), std::move(*bytes)});
    }
    const QDir dir(folder);
    for (const DecodedAttachment& a : files) {
        // Only the base name is kept; a name with nothing usable left is refused (and logged), never used.
        const QString safe = safeAttachmentName(a.fileName);
        if (safe.isEmpty()) {
            (void)writeLogLine(m_folder, m_clock.now().toString(QStringLiteral("dd/MM/yyyy HH:mm:ss")) +
                                             QStringLiteral(" - MailIndex: %1 - adjunto rechazado: el nombre \"%2\" "
                                                            "no es un nombre de archivo utilizable")
                                                 .arg(index)
                                                 .arg(printable(a.fileName.left(300))));
            continue;
        }
        const QString path = dir.filePath(safe);
        if (QFileInfo::exists(path) && !QFile::remove(path)) {
            error = tag + QStringLiteral("Error DeleteFile:") + path;
            return false;
        }
        QString reason;
        if (!saveBytes(path, a.bytes, reason)) {
            error = tag + QStringLiteral("Error SaveToFile:") + path + QStringLiteral(" (") + reason + QLatin1Char(')');
            return false;
        }
    }
    return true;
}

bool TdmMail::BorrarMensaje(int index, QString& error) {
    QString why;
    if (!ensurePop3(why)) {
        error = QStringLiteral("Error DeleteMail: ") + why;
        return false;
    }
    try {
        m_pop3->folder->deleteMessages(vmime::net::messageSet::byNumber(static_cast<size_t>(index)));
    } catch (const std::exception& e) {
        error = QStringLiteral("Error DeleteMail: Error Delete MsgIdx:%1 (%2)").arg(index).arg(causeOf(e));
        desconectarPop3();
        return false;
    }
    try {
        // The server removes the message only when the session ends with QUIT.
        m_pop3->folder->close(true);
        m_pop3->store->disconnect();
        m_pop3.reset();
        return true;
    } catch (const std::exception& e) {
        error = QStringLiteral("Error DeleteMail: ") + causeOf(e);
        m_pop3.reset();
        return false;
    }
}

bool TdmMail::smtpSend(const QString& from, const QStringList& envelopeTo, const QByteArray& data, QString& why) {
    try {
        ensureVmime();
        auto session = vmime::net::session::create();
        const bool implicit = implicitTls(m_connection.smtpSecurity, m_account.smtpPort, 465);
        const int port = m_account.smtpPort > 0 ? m_account.smtpPort : 25;
        vmime::utility::url url(implicit ? "smtps" : "smtp", utf8(m_account.smtpName),
                                static_cast<vmime::port_t>(port));
        auto tr = session->getTransport(url);
        secure(*tr, m_connection.smtpSecurity, implicit);
        const bool auth = smtpAuthentication || !smtpUser.isEmpty();
        tr->setProperty("options.need-authentication", auth);
        if (auth) {
            tr->setProperty("auth.username", utf8(smtpUser));
            tr->setProperty("auth.password", utf8(smtpPassword));
        }
        tr->setCertificateVerifier(makeVerifier(m_connection));
        tr->setTimeoutHandlerFactory(std::make_shared<TimeoutFactory>(m_connection.timeoutMs));
        tr->connect();
        struct Disconnect {
            std::shared_ptr<vmime::net::transport> t;
            ~Disconnect() {
                try {
                    if (t->isConnected()) t->disconnect();
                } catch (const std::exception&) {
                }
            }
        } disconnect{tr};
        vmime::mailboxList rcpts;
        for (const QString& a : envelopeTo)
            rcpts.appendMailbox(std::make_shared<vmime::mailbox>(vmime::emailAddress(utf8(a))));
        const vmime::string bytes(data.constData(), static_cast<size_t>(data.size()));
        vmime::utility::inputStreamStringAdapter is(bytes);
        Progress progress(m_progress, TransferProgress::Direction::Sending, data.size());
        // The message goes as prepared, byte for byte: headers already carry encoded words, so a server that
        // offers SMTPUTF8 never gets raw 8-bit headers.
        tr->send(vmime::mailbox(vmime::emailAddress(utf8(from))), rcpts, is, bytes.size(), &progress);
        return true;
    } catch (const std::exception& e) {
        why = causeOf(e);
        return false;
    }
}

bool TdmMail::EnviarCorreo(const THeaderMsg& header, const QStringList& lines, QString& error,
                           const QStringList& files) {
    QElapsedTimer timer;
    timer.start();
    QString body = lines.join(QStringLiteral("\r\n"));
    const qsizetype dot = body.indexOf(QLatin1Char('.'));
    if (dot >= 0) body[dot] = QLatin1Char(' ');
    bool ok = false;
    QString why;
    const QString from = header.from.trimmed().isEmpty() ? m_account.userEmail.trimmed() : header.from.trimmed();
    const QStringList to = addressList(header.recipients);
    const QStringList cc = addressList(header.cc);
    const QStringList bcc = addressList(header.bcc);
    QStringList envelope = to + cc + bcc;
    do {
        if (addressList(from).size() != 1 || !EsEmailValido(addressList(from).value(0))) {
            why = QStringLiteral("la dirección del remitente \"%1\" no es válida").arg(from);
            break;
        }
        if (envelope.isEmpty()) {
            why = QStringLiteral("el mensaje no tiene destinatarios");
            break;
        }
        QString bad;
        for (const QString& a : envelope)
            if (!EsEmailValido(a)) bad = a;
        if (!bad.isEmpty()) {
            why = QStringLiteral("la dirección de destinatario \"%1\" no es válida").arg(bad);
            break;
        }
        for (const QString& f : files) {
            if (!QFileInfo(f).isFile()) {
                why = QStringLiteral("no se encuentra el archivo adjunto %1").arg(f);
                break;
            }
        }
        if (!why.isEmpty()) break;
        QByteArray data;
        try {
            ensureVmime();
            vmime::messageBuilder mb;
            mb.setExpeditor(vmime::mailbox(vmime::emailAddress(utf8(addressList(from).value(0)))));
            mb.setRecipients(*vmimeAddresses(to));
            if (!cc.isEmpty()) mb.setCopyRecipients(*vmimeAddresses(cc));
            mb.setSubject(utf8Text(header.subject));
            mb.getTextPart()->setCharset(vmime::charset(vmime::charsets::UTF_8));
            mb.getTextPart()->setText(std::make_shared<vmime::stringContentHandler>(utf8(body)));
            for (const QString& f : files) {
                QFile in(f);
                if (!in.open(QIODevice::ReadOnly)) {
                    why = QStringLiteral("no se puede leer el archivo adjunto %1").arg(f);
                    break;
                }
                // Encoded here in one pass and handed over already encoded, so the message is written without
                // reading the file again.
                const QByteArray raw = in.readAll();
                const QByteArray encoded = base64Lines(raw);
                auto att = std::make_shared<vmime::fileAttachment>(
                    std::make_shared<vmime::stringContentHandler>(
                        vmime::string(encoded.constData(), static_cast<size_t>(encoded.size())),
                        vmime::encoding(vmime::encodingTypes::BASE64)),
                    vmime::word(utf8(QFileInfo(f).fileName()), vmime::charset(vmime::charsets::UTF_8)),
                    vmime::mediaType("application/octet-stream"), vmime::text(),
                    vmime::encoding(vmime::encodingTypes::BASE64));
                att->getFileInfo().setSize(static_cast<size_t>(raw.size()));
                mb.appendAttachment(att);
            }
            if (!why.isEmpty()) break;
            auto msg = mb.construct();
            auto hdr = msg->getHeader();
            auto factory = vmime::headerFieldFactory::getInstance();
            hdr->MessageId()->setValue(vmime::messageId::generateId());
            hdr->Date()->setValue(vmime::datetime::now());
            const int priority = std::clamp(header.priority, 0, 4);
            static const char* const names[] = {"Highest", "High", "Normal", "Low", "Lowest"};
            hdr->appendField(
                factory->create("X-Priority", std::to_string(priority + 1) + " (" + names[priority] + ")"));
            if (!header.receipt.trimmed().isEmpty())
                hdr->appendField(factory->create("Disposition-Notification-To", utf8(header.receipt.trimmed())));
            vmime::string out;
            vmime::utility::outputStreamStringAdapter os(out);
            vmime::generationContext ctx;
            msg->generate(ctx, os);
            data = QByteArray(out.data(), static_cast<qsizetype>(out.size()));
        } catch (const std::exception& e) {
            why = causeOf(e);
            break;
        }
        ok = smtpSend(addressList(from).value(0), envelope, data, why);
    } while (false);
    if (!ok) error = QStringLiteral("Error SendMail: ") + why;
    QString flat = lines.join(QStringLiteral("\r\n"));
    flat.remove(QStringLiteral("\r\n"));
    log(QStringLiteral("To: %1 - Tema: %2 - SendMail Result: %3 - Tiempo: %4 seg - Texto: %5")
            .arg(header.recipients, header.subject, ok ? QStringLiteral("True") : QStringLiteral("False"))
            .arg(static_cast<double>(timer.elapsed()) / 1000.0, 0, 'f', 2)
            .arg(flat));
    return ok;
}

bool TdmMail::ReenviarMensaje(int index, const QString& address, QString& error) {
    const QString tag = QStringLiteral("Error ForwardMail: ");
    if (!EsEmailValido(address.trimmed())) {
        error = tag + QStringLiteral("la dirección \"%1\" no es válida").arg(address);
        return false;
    }
    QByteArray raw;
    QString why;
    if (!retrieve(index, raw, why)) {
        error = tag + QStringLiteral("Error ForwardMail:%1 (%2)").arg(index).arg(why);
        return false;
    }
    // Only the header is rewritten; the body goes on byte for byte as it was received.
    qsizetype split = raw.indexOf("\r\n\r\n");
    qsizetype bodyAt = split + 4;
    if (split < 0) {
        split = raw.indexOf("\n\n");
        bodyAt = split < 0 ? raw.size() : split + 2;
    }
    const QByteArray head = split < 0 ? raw : raw.left(split);
    const QByteArray body = raw.mid(bodyAt);
    const MimeHeader h = readMimeHeader(head + "\r\n\r\n");
    static const QList<QByteArray> dropped = {"subject",  "to",          "cc",           "bcc",
                                              "received", "return-path", "delivered-to", "x-original-to"};
    QByteArray kept;
    bool skipping = false;
    for (QByteArray line : head.split('\n')) {
        if (line.endsWith('\r')) line.chop(1);
        const bool continuation = !line.isEmpty() && (line.at(0) == ' ' || line.at(0) == '\t');
        if (!continuation) {
            const qsizetype colon = line.indexOf(':');
            skipping = colon > 0 && dropped.contains(line.left(colon).trimmed().toLower());
        }
        if (!skipping) kept += line + "\r\n";
    }
    QString subjectLine;
    try {
        ensureVmime();
        subjectLine = headerLine("Subject", utf8Text(h.subject + QStringLiteral(" (REENVIO QEV REGIONAL)")));
    } catch (const std::exception& e) {
        error = tag + causeOf(e);
        return false;
    }
    const QByteArray data =
        "To: " + address.trimmed().toUtf8() + "\r\n" + subjectLine.toUtf8() + "\r\n" + kept + "\r\n" + body;
    QString from = addressList(h.from).value(0);
    if (!EsEmailValido(from)) from = m_account.userEmail.trimmed();
    if (!smtpSend(from, {address.trimmed()}, data, why)) {
        error = tag + why;
        return false;
    }
    return true;
}

} // namespace qev
