#pragma once
// One SendMessage call of the central office's message service on a thread of its own, so that the operator goes
// on working. The thread touches no table and no window: its one line for the sending log reaches the log through
// a queued call, so a user-interface thread that waits for it in an event loop still receives the line.
#include "exchange/QevMessage.h"

#include <QThread>

#include <atomic>

namespace qev {

class SendLog;

class TSendQEVMessage : public QThread {
    Q_OBJECT
public:
    TSendQEVMessage(QEVMessage msg, MessageServiceEndpoint endpoint, SendLog* log, QObject* parent = nullptr);

    const QEVMessage& message() const { return m_msg; }
    // After the thread finished: the service's answer (empty when the call failed), the failure's reason and the
    // elapsed time of the call.
    const QString& result() const { return m_result; }
    const QString& error() const { return m_error; }
    bool succeeded() const { return m_ok; }
    quint32 elapsedMs() const { return m_elapsed; }

    // "Envío pedido: %d - regional: %d - tiempo: %d (ms) - Resultado: %s"
    static QString logLine(qint32 pedido, qint32 regional, quint32 ms, const QString& result);

protected:
    void run() override;

private:
    QEVMessage m_msg;
    MessageServiceEndpoint m_endpoint;
    SendLog* m_log;
    QString m_result;
    QString m_error;
    bool m_ok = false;
    quint32 m_elapsed = 0;
};

} // namespace qev
