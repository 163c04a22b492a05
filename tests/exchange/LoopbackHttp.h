#pragma once
// Small HTTP peers on loopback, each in its own thread with blocking sockets, one request per connection:
// - ForwardingProxy: requests in absolute form with the right Basic credentials go on to their target, others get
//   407 with a Basic challenge; both are counted, so a test can prove a call went through it;
// - CannedHttpServer: answers every request with the same bytes.
#include <QByteArray>

#include <atomic>
#include <functional>
#include <thread>

class QTcpSocket;

namespace qev::test {

class LoopbackServer {
public:
    explicit LoopbackServer(std::function<void(QTcpSocket&)> serve);
    ~LoopbackServer();
    LoopbackServer(const LoopbackServer&) = delete;
    LoopbackServer& operator=(const LoopbackServer&) = delete;
    quint16 port() const { return m_port; }

private:
    std::function<void(QTcpSocket&)> m_serve;
    std::atomic<bool> m_stop{false};
    quint16 m_port = 0;
    std::thread m_thread;
};

class ForwardingProxy {
public:
    ForwardingProxy(const QByteArray& user, const QByteArray& password);
    quint16 port() const { return m_server.port(); }
    int forwarded() const { return m_forwarded; }
    int challenged() const { return m_challenged; }

private:
    void serve(QTcpSocket& client);

    QByteArray m_expected;
    std::atomic<int> m_forwarded{0};
    std::atomic<int> m_challenged{0};
    LoopbackServer m_server; // last: its thread uses the members above
};

class CannedHttpServer {
public:
    explicit CannedHttpServer(QByteArray answer);
    quint16 port() const { return m_server.port(); }
    int requests() const { return m_requests; }

private:
    QByteArray m_answer;
    std::atomic<int> m_requests{0};
    LoopbackServer m_server;
};

} // namespace qev::test
