#pragma once
// The central office simulator as a child process on a free loopback port, with the test's own data file and a
// call log; killed when the object goes. Given an SMTP server and the office's address, it also sends the central
// office's reply mails there (its "/sim/reply" page, and `sendReply`, which runs the simulator's reply command).
#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>

namespace qev::test {

class CentralSim {
public:
    explicit CentralSim(const QByteArray& dataJson, const QString& smtp = QString(), const QString& to = QString());
    ~CentralSim();
    CentralSim(const CentralSim&) = delete;
    CentralSim& operator=(const CentralSim&) = delete;

    bool started() const { return m_port != 0; }
    const QString& error() const { return m_error; }
    quint16 port() const { return m_port; }
    // "http://127.0.0.1:PORT/": the agency root, also the services' namespace.
    QString root() const;
    QString logText() const;
    // Where the message service keeps each package it receives, one folder per call.
    QString storeDir() const;

    struct ReplyRun {
        int exitCode = -1;
        QString output; // standard output and error
    };
    // Runs "qev-central-sim reply KIND --smtp .. --to .. --store .." with `args`; the running simulator learns of
    // the reply through the store.
    ReplyRun sendReply(const QString& kind, const QStringList& args) const;

private:
    QTemporaryDir m_dir;
    QProcess m_process;
    quint16 m_port = 0;
    QString m_error;
    QString m_smtp;
    QString m_to;
};

// A loopback port nobody listens on: bound by a server that is then closed.
quint16 deadPort();

} // namespace qev::test
