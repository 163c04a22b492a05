#include "exchange/TSendQEVMessage.h"

#include "exchange/SendLog.h"
#include "util/TCrono.h"

#include <QMetaObject>

namespace qev {

void SendLog::append(const QString& line) {
    if (QThread::currentThread() == thread()) {
        appendHere(line);
        return;
    }
    QMetaObject::invokeMethod(
        this, [this, line] { appendHere(line); }, Qt::QueuedConnection);
}

void SendLog::appendHere(const QString& line) {
    m_lines << line;
    Q_EMIT lineAdded(line);
}

TSendQEVMessage::TSendQEVMessage(QEVMessage msg, MessageServiceEndpoint endpoint, SendLog* log, QObject* parent)
    : QThread(parent), m_msg(std::move(msg)), m_endpoint(std::move(endpoint)), m_log(log) {}

QString TSendQEVMessage::logLine(qint32 pedido, qint32 regional, quint32 ms, const QString& result) {
    return QStringLiteral("Envío pedido: %1 - regional: %2 - tiempo: %3 (ms) - Resultado: %4")
        .arg(pedido)
        .arg(regional)
        .arg(ms)
        .arg(result);
}

void TSendQEVMessage::run() {
    TCrono crono;
    crono.start();
    m_result.clear();
    {
        auto proxy = CreateMessageServiceProxy(m_endpoint);
        auto answer = proxy->SendMessage(m_msg);
        if (answer) {
            m_ok = true;
            m_result = *answer;
        } else {
            m_error = QString::fromStdString(answer.error());
        }
    }
    crono.stop();
    m_elapsed = crono.elapsed();
    if (m_log) m_log->append(logLine(m_msg.Pedido, m_msg.Regional, m_elapsed, m_result));
}

} // namespace qev
