#pragma once
// The loopback mail servers the test fixture starts: their folder and ports (a run against another instance of
// them names its folder and ports in QEV_TEST_MAIL_DIR, QEV_TEST_SMTP_PORT and QEV_TEST_POP3_PORT), the messages
// of their mailboxes, and an office account on them.
#include "TempAppDir.h"
#include "core/OfficeSchema.h"
#include "core/Settings.h"
#include "dm/Tdm.h"
#include "exchange/HostIdentity.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QStringList>
#include <QThread>
#include <gtest/gtest.h>

#include <memory>
#include <utility>
#include <vector>

namespace qev::test {

inline QString mailDir() {
    return qEnvironmentVariableIsSet("QEV_TEST_MAIL_DIR") ? qEnvironmentVariable("QEV_TEST_MAIL_DIR")
                                                          : QStringLiteral(QEV_MAIL_DIR);
}
inline QString smtpPort() {
    return qEnvironmentVariable("QEV_TEST_SMTP_PORT", QStringLiteral("2525"));
}
inline QString pop3Port() {
    return qEnvironmentVariable("QEV_TEST_POP3_PORT", QStringLiteral("2110"));
}

inline QString maildir(const QString& user) {
    return mailDir() + QStringLiteral("/mail/example.test/") + user + QStringLiteral("/Maildir");
}

// The messages of a mailbox, oldest first.
inline QStringList mailFiles(const QString& user) {
    QStringList out;
    for (const char* sub : {"new", "cur"}) {
        QDir d(maildir(user) + QLatin1Char('/') + QLatin1String(sub));
        for (const QString& f : d.entryList(QDir::Files, QDir::Time | QDir::Reversed))
            out << d.filePath(f);
    }
    return out;
}

inline void clearMailbox(const QString& user) {
    for (const QString& f : mailFiles(user))
        QFile::remove(f);
}

// Delivery is asynchronous: waits until the mailbox holds `n` messages.
inline QStringList waitForMail(const QString& user, int n, int timeoutMs = 10000) {
    QElapsedTimer t;
    t.start();
    while (mailFiles(user).size() < n && t.elapsed() < timeoutMs)
        QThread::msleep(20);
    return mailFiles(user);
}

// The office's account on the loopback servers: SMTP and POP3 there, the POP3 user and password, the office's
// address, the servers' authority; sending by mail, not by web service. False when a setting cannot be written.
inline bool useLoopbackAccount(Settings& s, const QString& user, const QString& password, const QString& address) {
    const std::pair<const char*, QString> values[] = {{"envWebService", QStringLiteral("N")},
                                                      {"smtpName", QStringLiteral("127.0.0.1")},
                                                      {"smtpPort", smtpPort()},
                                                      {"pop3Name", QStringLiteral("127.0.0.1")},
                                                      {"pop3Port", pop3Port()},
                                                      {"pop3User", user},
                                                      {"pop3PwdE", complementText(password)},
                                                      {"userEmail", address},
                                                      {"tlsCA", mailDir() + QStringLiteral("/tls/ca.pem")}};
    for (const auto& [k, v] : values)
        if (!s.write(QString::fromLatin1(k), v)) return false;
    return true;
}

// A new office folder (the demo one when `demo`) with its data module started on a fixed host, its mail account
// `user` on the loopback servers at `address`, and the given settings written. A failure is fatal to the calling
// test: its SetUp ends after the call when HasFatalFailure() says so.
inline void startLoopbackOffice(const TempAppDir& dir, bool demo, Prompter& prompter, const Clock& clock,
                                std::unique_ptr<Tdm>& dm, const QString& user, const QString& password,
                                const QString& address, const std::vector<std::pair<const char*, QString>>& settings) {
    QString error;
    ASSERT_TRUE(createOfficeFolder(dir.path(), demo, clock, &error)) << error.toStdString();
    dm = std::make_unique<Tdm>(dir.appDir(), prompter, clock);
    dm->setHostIdentity(std::make_unique<FixedHostIdentity>(NetworkIdentity{}));
    ASSERT_TRUE(dm->create());
    ASSERT_TRUE(useLoopbackAccount(dm->settings(), user, password, address));
    for (const auto& [key, value] : settings)
        ASSERT_TRUE(dm->settings().write(QString::fromLatin1(key), value)) << key;
}

} // namespace qev::test
