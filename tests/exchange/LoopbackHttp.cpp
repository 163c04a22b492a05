#include "LoopbackHttp.h"

#include <QList>
#include <QTcpServer>
#include <QTcpSocket>
#include <QUrl>

#include <future>

namespace qev::test {

namespace {

constexpr int kWaitMs = 5000;

struct HttpHead {
    QByteArray method;
    QByteArray target;
    QList<QPair<QByteArray, QByteArray>> headers;

    QByteArray header(const QByteArray& name) const {
        for (const auto& h : headers)
            if (h.first.compare(name, Qt::CaseInsensitive) == 0) return h.second;
        return {};
    }
};

// Reads a request head and its body (by Content-Length); false when the client sends no whole request.
bool readRequest(QTcpSocket& s, HttpHead& head, QByteArray& body) {
    QByteArray buf;
    qsizetype end = -1;
    while ((end = buf.indexOf("\r\n\r\n")) < 0) {
        if (buf.size() > 65536 || !s.waitForReadyRead(kWaitMs)) return false;
        buf += s.readAll();
    }
    const QList<QByteArray> lines = buf.left(end).split('\n');
    const QList<QByteArray> request = lines.front().trimmed().split(' ');
    if (request.size() != 3) return false;
    head.method = request[0];
    head.target = request[1];
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const qsizetype colon = lines[i].indexOf(':');
        if (colon > 0) head.headers.append({lines[i].left(colon).trimmed(), lines[i].mid(colon + 1).trimmed()});
    }
    body = buf.mid(end + 4);
    const qsizetype length = head.header("Content-Length").toLongLong();
    while (body.size() < length) {
        if (!s.waitForReadyRead(kWaitMs)) return false;
        body += s.readAll();
    }
    return true;
}

void answerAndClose(QTcpSocket& s, const QByteArray& bytes) {
    s.write(bytes);
    while (s.bytesToWrite() > 0 && s.waitForBytesWritten(kWaitMs)) {
    }
    s.disconnectFromHost();
    if (s.state() != QAbstractSocket::UnconnectedState) s.waitForDisconnected(kWaitMs);
}

} // namespace

LoopbackServer::LoopbackServer(std::function<void(QTcpSocket&)> serve) : m_serve(std::move(serve)) {
    std::promise<quint16> ready;
    std::future<quint16> port = ready.get_future();
    m_thread = std::thread([this, ready = std::move(ready)]() mutable {
        QTcpServer server;
        server.listen(QHostAddress::LocalHost, 0);
        ready.set_value(server.serverPort());
        while (!m_stop) {
            if (!server.waitForNewConnection(20)) continue;
            while (QTcpSocket* client = server.nextPendingConnection()) {
                m_serve(*client);
                delete client;
            }
        }
    });
    m_port = port.get();
}

LoopbackServer::~LoopbackServer() {
    m_stop = true;
    m_thread.join();
}

ForwardingProxy::ForwardingProxy(const QByteArray& user, const QByteArray& password)
    : m_expected("Basic " + (user + ':' + password).toBase64()), m_server([this](QTcpSocket& s) { serve(s); }) {}

void ForwardingProxy::serve(QTcpSocket& client) {
    HttpHead head;
    QByteArray body;
    if (!readRequest(client, head, body)) return;
    const QUrl target(QString::fromLatin1(head.target));
    if (target.scheme() != QLatin1String("http"))
        return answerAndClose(client, "HTTP/1.1 400 Bad Request\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
    if (head.header("Proxy-Authorization") != m_expected) {
        ++m_challenged;
        return answerAndClose(client, "HTTP/1.1 407 Proxy Authentication Required\r\n"
                                      "Proxy-Authenticate: Basic realm=\"x\"\r\n"
                                      "Content-Length: 0\r\nConnection: close\r\n\r\n");
    }
    QTcpSocket upstream;
    upstream.connectToHost(target.host(), static_cast<quint16>(target.port(80)));
    if (!upstream.waitForConnected(kWaitMs))
        return answerAndClose(client, "HTTP/1.1 502 Bad Gateway\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
    QByteArray request =
        head.method + ' ' + target.toEncoded(QUrl::RemoveScheme | QUrl::RemoveAuthority) + " HTTP/1.1\r\n";
    for (const auto& h : head.headers) {
        const QByteArray name = h.first.toLower();
        if (name.startsWith("proxy-") || name == "connection" || name == "keep-alive") continue;
        request += h.first + ": " + h.second + "\r\n";
    }
    request += "Connection: close\r\n\r\n" + body;
    upstream.write(request);
    ++m_forwarded;
    QByteArray answer;
    while (upstream.waitForReadyRead(kWaitMs))
        answer += upstream.readAll();
    answer += upstream.readAll();
    answerAndClose(client, answer);
}

CannedHttpServer::CannedHttpServer(QByteArray answer)
    : m_answer(std::move(answer)), m_server([this](QTcpSocket& s) {
          HttpHead head;
          QByteArray body;
          if (!readRequest(s, head, body)) return;
          ++m_requests;
          answerAndClose(s, m_answer);
      }) {}

} // namespace qev::test
