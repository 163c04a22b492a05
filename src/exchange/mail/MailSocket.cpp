#include "exchange/mail/MailSocket.h"

#include <vmime/exception.hpp>
#include <vmime/net/timeoutHandler.hpp>

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <string>

namespace qev::mail {

namespace {

// One wait lasts at most this long before the timeout handler is asked again (it also keeps windows painting).
constexpr int kSliceMs = 10;
// A read that finds nothing within this time reports "would block" and lets the session decide.
constexpr int kReadWaitMs = 50;

std::string errorText(int err) {
    std::array<char, 256> buf{};
    // The GNU strerror_r returns its text, which may or may not be the buffer.
    const char* text = strerror_r(err, buf.data(), buf.size());
    return text ? std::string(text) : std::string("error ") + std::to_string(err);
}

[[noreturn]] void fail(int err) {
    throw vmime::exceptions::socket_exception(errorText(err));
}

class MailSocket final : public vmime::net::socket {
public:
    explicit MailSocket(std::shared_ptr<vmime::net::timeoutHandler> th) : m_timeout(std::move(th)) {}
    ~MailSocket() override { closeNow(); }
    MailSocket(const MailSocket&) = delete;
    MailSocket& operator=(const MailSocket&) = delete;

    void connect(const vmime::string& address, const vmime::port_t port) override {
        closeNow();
        m_address = address;
        if (m_timeout) m_timeout->resetTimeOut();
        addrinfo hints{};
        hints.ai_family = AF_UNSPEC;
        hints.ai_socktype = SOCK_STREAM;
        hints.ai_flags = AI_NUMERICSERV;
        addrinfo* found = nullptr;
        const std::string service = std::to_string(port);
        const int rc = ::getaddrinfo(address.c_str(), service.c_str(), &hints, &found);
        if (rc != 0 || !found)
            throw vmime::exceptions::connection_error("no se encuentra el servidor " + address + " (" +
                                                      ::gai_strerror(rc) + ")");
        int lastError = ECONNREFUSED;
        for (const addrinfo* a = found; a && m_fd < 0; a = a->ai_next) {
            const int fd = ::socket(a->ai_family, a->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, a->ai_protocol);
            if (fd < 0) {
                lastError = errno;
                continue;
            }
            const int on = 1;
            ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
            if (::connect(fd, a->ai_addr, a->ai_addrlen) == 0 || (errno == EINPROGRESS && finishConnect(fd))) {
                m_fd = fd;
                quickAck();
                break;
            }
            lastError = errno;
            ::close(fd);
        }
        ::freeaddrinfo(found);
        if (m_fd < 0) {
            try {
                fail(lastError);
            } catch (const vmime::exceptions::socket_exception& e) {
                throw vmime::exceptions::connection_error("no se pudo conectar con " + address, e);
            }
        }
        if (m_timeout) m_timeout->resetTimeOut();
    }

    bool isConnected() const override {
        if (m_fd < 0) return false;
        char c = 0;
        const ssize_t n = ::recv(m_fd, &c, 1, MSG_PEEK | MSG_DONTWAIT);
        return n > 0 || (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR));
    }

    void disconnect() override {
        if (m_fd < 0) return;
        if (m_tracer) m_tracer->traceSend("Disconnecting");
        ::shutdown(m_fd, SHUT_RDWR);
        closeNow();
    }

    bool waitForRead(const int msecs) override { return waitFor(POLLIN, msecs); }
    bool waitForWrite(const int msecs) override { return waitFor(POLLOUT, msecs); }

    void receive(vmime::string& buffer) override {
        const size_t n = receiveRaw(m_buffer.data(), m_buffer.size());
        buffer.assign(reinterpret_cast<const char*>(m_buffer.data()), n);
    }

    size_t receiveRaw(vmime::byte_t* buffer, const size_t count) override {
        m_status &= ~STATUS_WOULDBLOCK;
        if (!waitFor(POLLIN, kReadWaitMs)) {
            m_status |= STATUS_WOULDBLOCK;
            return 0;
        }
        const ssize_t n = ::recv(m_fd, buffer, count, 0);
        quickAck();
        if (n > 0) {
            if (m_timeout) m_timeout->resetTimeOut();
            return static_cast<size_t>(n);
        }
        if (n == 0) fail(ENOTCONN); // the server closed the connection
        if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) fail(errno);
        checkTimeout();
        m_status |= STATUS_WOULDBLOCK;
        return 0;
    }

    void send(const vmime::string& buffer) override {
        sendRaw(reinterpret_cast<const vmime::byte_t*>(buffer.data()), buffer.size());
    }
    void send(const char* str) override { sendRaw(reinterpret_cast<const vmime::byte_t*>(str), std::strlen(str)); }

    void sendRaw(const vmime::byte_t* buffer, const size_t count) override {
        m_status &= ~STATUS_WOULDBLOCK;
        size_t left = count;
        while (left > 0) {
            const ssize_t n = ::send(m_fd, buffer, left, MSG_NOSIGNAL);
            if (n > 0) {
                buffer += n;
                left -= static_cast<size_t>(n);
                continue;
            }
            if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) fail(errno);
            waitFor(POLLOUT, kReadWaitMs);
        }
        if (m_timeout) m_timeout->resetTimeOut();
    }

    size_t sendRawNonBlocking(const vmime::byte_t* buffer, const size_t count) override {
        m_status &= ~STATUS_WOULDBLOCK;
        const ssize_t n = ::send(m_fd, buffer, count, MSG_NOSIGNAL);
        if (n > 0) {
            if (m_timeout) m_timeout->resetTimeOut();
            return static_cast<size_t>(n);
        }
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) fail(errno);
        checkTimeout();
        m_status |= STATUS_WOULDBLOCK;
        return 0;
    }

    size_t getBlockSize() const override { return 16384; }
    unsigned int getStatus() const override { return m_status; }

    // The name the connection was asked for: certificates are checked against what the office configured, and
    // no reverse lookup (which may wait for a name server the office does not have) stands in the way.
    const vmime::string getPeerName() const override { return m_address; }

    const vmime::string getPeerAddress() const override {
        sockaddr_storage peer{};
        socklen_t len = sizeof peer;
        if (m_fd < 0 || ::getpeername(m_fd, reinterpret_cast<sockaddr*>(&peer), &len) != 0) fail(ENOTCONN);
        std::array<char, NI_MAXHOST> host{};
        if (::getnameinfo(reinterpret_cast<sockaddr*>(&peer), len, host.data(), host.size(), nullptr, 0,
                          NI_NUMERICHOST) != 0)
            return m_address;
        return host.data();
    }

    std::shared_ptr<vmime::net::timeoutHandler> getTimeoutHandler() override { return m_timeout; }
    void setTracer(std::shared_ptr<vmime::net::tracer> tracer) override { m_tracer = std::move(tracer); }
    std::shared_ptr<vmime::net::tracer> getTracer() override { return m_tracer; }

private:
    // Acknowledge what arrives at once. A server that writes one answer in several pieces (TLS records, or the
    // answers to pipelined commands) holds every piece after the first until the first is acknowledged; a delayed
    // acknowledgement would make it wait 40 ms each time. The kernel forgets the setting, so it is renewed after
    // every read.
    void quickAck() {
        const int on = 1;
        ::setsockopt(m_fd, IPPROTO_TCP, TCP_QUICKACK, &on, sizeof on);
    }

    void closeNow() {
        if (m_fd >= 0) ::close(m_fd);
        m_fd = -1;
    }

    // A silent server ends the operation once the handler says the time is up.
    void checkTimeout() {
        if (!m_timeout || !m_timeout->isTimeOut()) return;
        if (!m_timeout->handleTimeOut()) throw vmime::exceptions::operation_timed_out();
        m_timeout->resetTimeOut();
    }

    bool waitFor(short events, int msecs) {
        if (m_fd < 0) fail(ENOTCONN);
        for (int waited = 0;; waited += kSliceMs) {
            pollfd p{m_fd, events, 0};
            const int rc = ::poll(&p, 1, kSliceMs);
            if (rc < 0 && errno != EINTR && errno != EAGAIN) fail(errno);
            // An error or a hang-up is "ready": the read or write that follows reports it.
            if (rc > 0) return true;
            checkTimeout();
            if (waited + kSliceMs >= msecs) return false;
        }
    }

    bool finishConnect(int fd) {
        for (;;) {
            pollfd p{fd, POLLOUT, 0};
            const int rc = ::poll(&p, 1, kSliceMs);
            if (rc < 0 && errno != EINTR) return false;
            if (rc > 0) {
                int err = 0;
                socklen_t len = sizeof err;
                if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) != 0) return false;
                errno = err;
                return err == 0;
            }
            if (m_timeout && m_timeout->isTimeOut() && !m_timeout->handleTimeOut()) {
                errno = ETIMEDOUT;
                return false;
            }
        }
    }

    std::shared_ptr<vmime::net::timeoutHandler> m_timeout;
    std::shared_ptr<vmime::net::tracer> m_tracer;
    std::array<vmime::byte_t, 65536> m_buffer{};
    vmime::string m_address;
    int m_fd = -1;
    unsigned int m_status = 0;
};

} // namespace

std::shared_ptr<vmime::net::socket> MailSocketFactory::create() {
    return std::make_shared<MailSocket>(nullptr);
}

std::shared_ptr<vmime::net::socket> MailSocketFactory::create(std::shared_ptr<vmime::net::timeoutHandler> th) {
    return std::make_shared<MailSocket>(std::move(th));
}

} // namespace qev::mail
