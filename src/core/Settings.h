#pragma once
// The office's settings: rows of the shared table `amb` (key `C_AMB`, value `X_AMB`), the workstation file
// "QEVReg.INI", the proxy password cipher, the mail account settings and the log file "QevRegLog.log".
#include <QByteArray>
#include <QString>

namespace qev {

class Dataset;
class Prompter;

class Settings {
public:
    explicit Settings(Dataset& amb) : m_amb(amb) {}

    // The value of a key as text; a missing row or a null value reads as empty.
    QString read(const QString& key) const;
    // Edits the key's row or appends one; false on any database error (nothing shown).
    bool write(const QString& key, const QString& value);
    bool exists(const QString& key) const;
    // True when the row exists and its value is not null.
    bool hasValue(const QString& key) const;
    bool remove(const QString& key);

    // The two ways flags are read: on only when "S", or on unless "N".
    bool onlyIfS(const QString& key) const { return read(key) == QStringLiteral("S"); }
    bool unlessN(const QString& key) const { return read(key) != QStringLiteral("N"); }
    // A whole number; `fallback` when the text is not one.
    int number(const QString& key, int fallback) const;

    Dataset& table() { return m_amb; }

private:
    Dataset& m_amb;
};

// Text as the workstation's 8-bit code page (Windows-1252) and back; unmapped bytes pass through.
QByteArray ansiBytes(const QString& text);
QString fromAnsiBytes(const QByteArray& bytes);

// Whole number of a setting text, or nothing (blank and non-numbers).
bool parseWholeNumber(const QString& text, int& out);

// "QEVReg.INI" of the workstation, in the office folder.
class WorkstationIni {
public:
    explicit WorkstationIni(QString folder) : m_folder(std::move(folder)) {}
    QString serviceUrl() const;
    void setServiceUrl(const QString& url);
    bool usaOutlookSecMan() const;
    static QString defaultServiceUrl();

private:
    QString path() const;
    QString m_folder;
};

// RC4 keyed with the SHA-1 digest of `key`, as Base64; empty on any failure (and for an empty text).
QString encipherProxyPassword(const QString& plain, const QString& key);
QString decipherProxyPassword(const QString& cipherText, const QString& key);
// The stream cipher itself, for the tests of known vectors.
QByteArray rc4(const QByteArray& key, const QByteArray& data);

// The POP3 password is stored with every byte complemented; applying it twice gives the text back.
QString complementText(const QString& text);

struct MailSettings {
    QString pop3Name;
    int pop3Port = 0;
    QString pop3User;
    QString pop3Password;
    QString smtpName;
    int smtpPort = 0;
    QString userEmail;
    QString emailFwd;
    bool logOpeMail = false;
    bool waitFin = true;
};

// Loads and saves the mail account; errors are shown with the fixed messages and answered false.
bool loadMailSettings(Settings& s, MailSettings& out, Prompter& prompter);
bool saveMailSettings(Settings& s, const MailSettings& m, Prompter& prompter);
// Lists what is missing before SMTP/POP3 work; shows it and answers false when anything is.
bool checkMailSettings(const MailSettings& m, Prompter& prompter);

// Appends one line to "QevRegLog.log" in `folder`, waiting (a bounded time) while another process holds it.
bool writeLogLine(const QString& folder, const QString& text);

} // namespace qev
