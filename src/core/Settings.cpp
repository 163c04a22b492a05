#include "core/Settings.h"

#include "core/Dataset.h"
#include "core/OfficeSchema.h"
#include "dbf/Codepage.h"
#include "util/AppDir.h"
#include "util/Prompter.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QSettings>
#include <QThread>

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace qev {

using dbf::Value;

namespace {
const QString kKey = QStringLiteral("C_AMB");
const QString kVal = QStringLiteral("X_AMB");

} // namespace

QByteArray ansiBytes(const QString& text) {
    std::string out;
    if (!dbf::Codepage::byName("cp1252").fromUtf8(text.toStdString(), out)) return text.toLatin1();
    return QByteArray::fromStdString(out);
}

QString fromAnsiBytes(const QByteArray& bytes) {
    return QString::fromStdString(dbf::Codepage::byName("cp1252").toUtf8(bytes.toStdString()));
}

bool parseWholeNumber(const QString& text, int& out) {
    bool ok = false;
    const int n = text.trimmed().toInt(&ok);
    if (ok) out = n;
    return ok;
}

QString Settings::read(const QString& key) const {
    const Value v = m_amb.lookupValue(kKey, Value(key.toStdString()), kVal);
    return v.isText() ? QString::fromStdString(v.text()) : valueText(v);
}

bool Settings::exists(const QString& key) const {
    return !m_amb.lookupValue(kKey, Value(key.toStdString()), kKey).isNull();
}

bool Settings::hasValue(const QString& key) const {
    return exists(key) && !m_amb.lookupValue(kKey, Value(key.toStdString()), kVal).isNull();
}

int Settings::number(const QString& key, int fallback) const {
    int n = fallback;
    return parseWholeNumber(read(key), n) ? n : fallback;
}

bool Settings::write(const QString& key, const QString& value) {
    if (!m_amb.active()) return false;
    if (m_amb.editing()) m_amb.cancel();
    m_amb.refresh();
    const bool found = m_amb.locate(kKey, Value(key.toStdString()));
    if (!(found ? m_amb.edit() : m_amb.insert())) return false;
    if (!m_amb.setValue(kKey, Value(key.toStdString())) ||
        !m_amb.setValue(kVal, value.isEmpty() ? Value() : Value(value.toStdString())) || !m_amb.post()) {
        m_amb.cancel();
        return false;
    }
    return true;
}

bool Settings::remove(const QString& key) {
    if (!m_amb.active()) return false;
    m_amb.refresh();
    if (!m_amb.locate(kKey, Value(key.toStdString()))) return false;
    return m_amb.remove();
}

QString WorkstationIni::path() const {
    return AppDir(m_folder).existingFile(QStringLiteral("QEVReg.INI"));
}

QString WorkstationIni::defaultServiceUrl() {
    return QString::fromLatin1(kDefaultCentralUrl) + QStringLiteral("QEVService/QEVMessageService.asmx");
}

QString WorkstationIni::serviceUrl() const {
    QSettings ini(path(), QSettings::IniFormat);
    return ini.value(QStringLiteral("QEVService/URL"), defaultServiceUrl()).toString();
}

void WorkstationIni::setServiceUrl(const QString& url) {
    QSettings ini(path(), QSettings::IniFormat);
    ini.setValue(QStringLiteral("QEVService/URL"), url);
}

bool WorkstationIni::usaOutlookSecMan() const {
    QSettings ini(path(), QSettings::IniFormat);
    const QString v = ini.value(QStringLiteral("Config/UsaOutlookSecMan"), QStringLiteral("true")).toString();
    return v.compare(QStringLiteral("false"), Qt::CaseInsensitive) != 0 && v != QStringLiteral("0");
}

QByteArray rc4(const QByteArray& key, const QByteArray& data) {
    if (key.isEmpty()) return {};
    unsigned char s[256];
    for (int i = 0; i < 256; ++i)
        s[i] = static_cast<unsigned char>(i);
    for (int i = 0, j = 0; i < 256; ++i) {
        j = (j + s[i] + static_cast<unsigned char>(key[i % key.size()])) & 0xFF;
        std::swap(s[i], s[j]);
    }
    QByteArray out(data.size(), Qt::Uninitialized);
    for (int n = 0, i = 0, j = 0; n < data.size(); ++n) {
        i = (i + 1) & 0xFF;
        j = (j + s[i]) & 0xFF;
        std::swap(s[i], s[j]);
        out[n] = static_cast<char>(data[n] ^ s[(s[i] + s[j]) & 0xFF]);
    }
    return out;
}

QString encipherProxyPassword(const QString& plain, const QString& key) {
    if (plain.isEmpty()) return {};
    const QByteArray digest = QCryptographicHash::hash(ansiBytes(key), QCryptographicHash::Sha1);
    return QString::fromLatin1(rc4(digest, ansiBytes(plain)).toBase64());
}

QString decipherProxyPassword(const QString& cipherText, const QString& key) {
    const QString t = cipherText.trimmed();
    if (t.isEmpty()) return {};
    auto decoded = QByteArray::fromBase64Encoding(t.toLatin1(), QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded) return {};
    const QByteArray digest = QCryptographicHash::hash(ansiBytes(key), QCryptographicHash::Sha1);
    return fromAnsiBytes(rc4(digest, *decoded));
}

QString complementText(const QString& text) {
    QByteArray bytes = ansiBytes(text);
    for (char& c : bytes)
        c = static_cast<char>(~static_cast<unsigned char>(c));
    return fromAnsiBytes(bytes);
}

bool loadMailSettings(Settings& s, MailSettings& out, Prompter& prompter) {
    if (!s.table().active()) {
        prompter.error(QStringLiteral("ERROR: Al leer configuración de la cuenta de correo"), QStringLiteral("Error"));
        return false;
    }
    out.pop3Name = s.read(QStringLiteral("pop3Name"));
    out.pop3Port = s.number(QStringLiteral("pop3Port"), 0);
    out.pop3User = s.read(QStringLiteral("pop3User"));
    out.pop3Password = complementText(s.read(QStringLiteral("pop3PwdE")));
    out.smtpName = s.read(QStringLiteral("smtpName"));
    out.smtpPort = s.number(QStringLiteral("smtpPort"), 0);
    out.userEmail = s.read(QStringLiteral("userEmail"));
    out.emailFwd = s.read(QStringLiteral("emailFwd"));
    out.logOpeMail = s.onlyIfS(QStringLiteral("LogOpeMail"));
    out.waitFin = s.unlessN(QStringLiteral("waitFin"));
    return true;
}

bool saveMailSettings(Settings& s, const MailSettings& m, Prompter& prompter) {
    const bool ok = s.write(QStringLiteral("pop3Name"), m.pop3Name) &&
                    s.write(QStringLiteral("pop3Port"), QString::number(m.pop3Port)) &&
                    s.write(QStringLiteral("pop3User"), m.pop3User) &&
                    s.write(QStringLiteral("pop3PwdE"), complementText(m.pop3Password)) &&
                    s.write(QStringLiteral("smtpName"), m.smtpName) &&
                    s.write(QStringLiteral("smtpPort"), QString::number(m.smtpPort)) &&
                    s.write(QStringLiteral("userEmail"), m.userEmail) &&
                    s.write(QStringLiteral("emailFwd"), m.emailFwd) &&
                    s.write(QStringLiteral("waitFin"), m.waitFin ? QStringLiteral("S") : QStringLiteral("N"));
    if (!ok)
        prompter.error(QStringLiteral("ERROR: Al guardar configuración de la cuenta de correo"),
                       QStringLiteral("Error"));
    return ok;
}

bool checkMailSettings(const MailSettings& m, Prompter& prompter) {
    QString missing;
    auto need = [&missing](bool absent, const char* item) {
        if (absent) missing += QLatin1Char('\r') + QString::fromUtf8(item);
    };
    need(m.pop3Name.trimmed().isEmpty(), "Servidor Pop3");
    need(m.pop3Port <= 0, "Puerto Pop3");
    need(m.pop3User.trimmed().isEmpty(), "Usuario Pop3");
    need(m.pop3Password.trimmed().isEmpty(), "Password Usuario");
    need(m.userEmail.trimmed().isEmpty(), "Correo electrónico");
    need(m.smtpName.trimmed().isEmpty(), "Servidor Smtp");
    need(m.smtpPort <= 0, "Puerto Smtp");
    need(m.emailFwd.trimmed().isEmpty(), "Cuenta de reenvío");
    if (missing.isEmpty()) return true;
    prompter.warn(QStringLiteral("Falta configurar datos del correo: ") + missing, QStringLiteral("Advertencia"));
    return false;
}

bool writeLogLine(const QString& folder, const QString& text) {
    const QByteArray path = QFile::encodeName(AppDir(folder).existingFile(QStringLiteral("QevRegLog.log")));
    const QByteArray line = ansiBytes(text) + "\r\n";
    // Another workstation may be writing: wait for its lock, but never for ever.
    for (int attempt = 0; attempt < 500; ++attempt) {
        const int fd = ::open(path.constData(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
        if (fd < 0) return false;
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
            const char* p = line.constData();
            qsizetype left = line.size();
            bool ok = true;
            while (left > 0) {
                const ssize_t n = ::write(fd, p, static_cast<size_t>(left));
                if (n < 0 && errno == EINTR) continue;
                if (n <= 0) {
                    ok = false;
                    break;
                }
                p += n;
                left -= n;
            }
            ::flock(fd, LOCK_UN);
            ::close(fd);
            return ok;
        }
        ::close(fd);
        QThread::msleep(10);
    }
    return false;
}

} // namespace qev
