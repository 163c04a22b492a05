#include "CentralSim.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QTcpServer>
#include <QUrl>

namespace qev::test {

CentralSim::CentralSim(const QByteArray& dataJson, const QString& smtp, const QString& to) : m_smtp(smtp), m_to(to) {
    QFile data(m_dir.filePath(QStringLiteral("data.json")));
    if (!data.open(QIODevice::WriteOnly) || data.write(dataJson) != dataJson.size()) {
        m_error = QStringLiteral("cannot write the data file");
        return;
    }
    data.close();
    QStringList args{QStringLiteral("--port"),  QStringLiteral("0"),
                     QStringLiteral("--data"),  data.fileName(),
                     QStringLiteral("--log"),   m_dir.filePath(QStringLiteral("calls.log")),
                     QStringLiteral("--store"), storeDir()};
    if (!smtp.isEmpty()) args << QStringLiteral("--smtp") << smtp << QStringLiteral("--to") << to;
    m_process.start(QStringLiteral(QEV_CENTRAL_SIM), args);
    const QDeadlineTimer deadline(10000);
    QByteArray out;
    while (!out.contains('\n') && !deadline.hasExpired()) {
        if (!m_process.waitForReadyRead(static_cast<int>(deadline.remainingTime()))) break;
        out += m_process.readAllStandardOutput();
    }
    const QByteArray line = out.left(out.indexOf('\n')).trimmed();
    const QByteArray prefix = "listening on ";
    const QUrl url(QString::fromUtf8(line.mid(prefix.size())));
    if (!line.startsWith(prefix) || url.port() <= 0) {
        m_error = QStringLiteral("the simulator did not start: ") + QString::fromUtf8(out) +
                  QString::fromUtf8(m_process.readAllStandardError());
        return;
    }
    m_port = static_cast<quint16>(url.port());
}

CentralSim::~CentralSim() {
    if (m_process.state() != QProcess::NotRunning) {
        m_process.kill();
        m_process.waitForFinished(5000);
    }
}

QString CentralSim::root() const {
    return QStringLiteral("http://127.0.0.1:%1/").arg(m_port);
}

QString CentralSim::storeDir() const {
    return m_dir.filePath(QStringLiteral("store"));
}

QString CentralSim::logText() const {
    QFile f(m_dir.filePath(QStringLiteral("calls.log")));
    return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
}

CentralSim::ReplyRun CentralSim::sendReply(const QString& kind, const QStringList& args) const {
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(QStringLiteral(QEV_CENTRAL_SIM),
            QStringList{QStringLiteral("reply"), kind, QStringLiteral("--smtp"), m_smtp, QStringLiteral("--to"), m_to,
                        QStringLiteral("--store"), storeDir()} +
                args);
    ReplyRun run;
    if (!p.waitForFinished(30000)) {
        p.kill();
        p.waitForFinished();
        run.output = QStringLiteral("the reply command did not end");
        return run;
    }
    run.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    run.output = QString::fromUtf8(p.readAll());
    return run;
}

quint16 deadPort() {
    QTcpServer server;
    if (!server.listen(QHostAddress::LocalHost, 0)) return 0;
    const quint16 port = server.serverPort();
    server.close();
    return port;
}

} // namespace qev::test
