#pragma once
// What the mail benchmarks share: running a program and waiting for it, the messages of a mailbox, and writing a
// setting of an office folder straight into its table.
#include "dbf/Table.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QString>
#include <QStringList>

#include <cstdio>

namespace qev::bench {

inline bool run(const QString& program, const QStringList& args, QByteArray* out = nullptr) {
    QProcess p;
    p.start(program, args);
    if (!p.waitForFinished(120000)) return false;
    if (out) *out = p.readAllStandardOutput();
    if (p.exitCode() != 0)
        std::fprintf(stderr, "%s failed: %s\n", qPrintable(program), p.readAllStandardError().constData());
    return p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

inline QStringList mailFiles(const QString& maildir) {
    QStringList out;
    for (const char* sub : {"new", "cur"}) {
        QDir d(maildir + QLatin1Char('/') + QLatin1String(sub));
        for (const QString& f : d.entryList(QDir::Files))
            out << d.filePath(f);
    }
    return out;
}

inline bool setSetting(const QString& folder, const QString& key, const QString& value) {
    auto t = qev::dbf::Table::open((folder + QStringLiteral("/amb.dbf")).toStdString(), qev::dbf::OpenMode::Shared);
    if (!t) return false;
    qev::dbf::Table& amb = **t;
    const int k = amb.fieldIndex("C_AMB");
    for (uint32_t rn = 1; rn <= amb.recordCount(); ++rn) {
        auto row = amb.read(rn);
        if (!row || row->deleted) continue;
        if (QString::fromStdString(row->values[static_cast<size_t>(k)].toString()).trimmed() == key) {
            row->values[static_cast<size_t>(amb.fieldIndex("X_AMB"))] = qev::dbf::Value(value.toStdString());
            return static_cast<bool>(amb.update(rn, row->values));
        }
    }
    return static_cast<bool>(amb.append({qev::dbf::Value(key.toStdString()), qev::dbf::Value(value.toStdString())}));
}

// The loopback mail servers (scripts/mail-servers.sh) in `work`/servers for the life of the object; `work` is made
// reachable by the mail user.
class MailServers {
public:
    MailServers(const QString& source, const QString& work)
        : m_script(source + QStringLiteral("/scripts/mail-servers.sh")), m_dir(work + QStringLiteral("/servers")) {
        QDir().mkpath(work);
        QFile::setPermissions(work, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadGroup |
                                        QFile::ExeGroup | QFile::ReadOther | QFile::ExeOther);
        m_started = run(QStringLiteral("bash"), {m_script, QStringLiteral("start"), m_dir});
    }
    ~MailServers() {
        if (m_started) run(QStringLiteral("bash"), {m_script, QStringLiteral("stop"), m_dir});
    }
    MailServers(const MailServers&) = delete;
    MailServers& operator=(const MailServers&) = delete;
    bool started() const { return m_started; }
    const QString& dir() const { return m_dir; }
    QString maildir(const QString& user) const {
        return m_dir + QStringLiteral("/mail/example.test/") + user + QStringLiteral("/Maildir");
    }
    QString ca() const { return m_dir + QStringLiteral("/tls/ca.pem"); }

private:
    QString m_script;
    QString m_dir;
    bool m_started = false;
};

// The mail benchmarks' options: --count N messages, --work DIR for the servers' and offices' files.
struct MailBenchOptions {
    int count;
    QString work;
};

inline MailBenchOptions mailBenchOptions(const QStringList& args, int count, const QString& work) {
    MailBenchOptions o{count, work};
    for (qsizetype i = 1; i + 1 < args.size(); ++i) {
        if (args[i] == QLatin1String("--count")) o.count = args[i + 1].toInt();
        if (args[i] == QLatin1String("--work")) o.work = args[i + 1];
    }
    return o;
}

} // namespace qev::bench
