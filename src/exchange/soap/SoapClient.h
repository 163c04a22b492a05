#pragma once
// Synchronous SOAP 1.1 calls over HTTP: the caller waits in a local event loop (the windows keep painting, user
// input waits) until the answer, an error or the timeout, which aborts the request. Every failure is an error text
// a person can read: the fault string, the HTTP status and reason, Qt's network error with the address, the
// timeout, an answer that is not a SOAP envelope.
#include "exchange/soap/SoapAnswer.h"
#include "exchange/soap/SoapRequest.h"

#include <QString>
#include <QUrl>

#include <chrono>
#include <memory>
#include <optional>

class QNetworkAccessManager;

namespace qev {

// An HTTP proxy; none when the host is blank.
struct SoapProxy {
    QString host;
    quint16 port = 0;
    QString user;
    QString password;

    bool enabled() const { return !host.trimmed().isEmpty(); }
};

enum class SoapFailure {
    None,
    BadRequest, // the address or the arguments cannot be sent
    Network,    // no HTTP answer: refused, unreachable, proxy refused, ...
    Timeout,
    Http,      // an HTTP error status without a SOAP fault
    Fault,     // a SOAP fault (whatever the status)
    BadAnswer, // an answer that is not the expected SOAP envelope, or too large
};

class SoapClient {
public:
    static constexpr std::chrono::milliseconds kDefaultTimeout{60000};

    SoapClient();
    ~SoapClient();
    SoapClient(const SoapClient&) = delete;
    SoapClient& operator=(const SoapClient&) = delete;

    // Later calls go through this proxy (its credentials answer one challenge per call); forgets cached
    // connections and credentials.
    void setProxy(const SoapProxy& proxy);
    const SoapProxy& proxy() const { return m_proxy; }
    void setTimeout(std::chrono::milliseconds timeout) { m_timeout = timeout; }
    std::chrono::milliseconds timeout() const { return m_timeout; }
    void setLimits(const SoapParseLimits& limits) { m_limits = limits; }

    // Posts `operation` of the service at `url` (namespace `ns`, SOAPAction ns + operation) and answers its
    // response element "<operation>Response". One call at a time per client, from the thread that made it.
    Result<SoapElement> call(const QUrl& url, const QString& ns, const QString& operation, const SoapFields& params);

    // What the last call ended with.
    SoapFailure lastFailure() const { return m_lastFailure; }
    const std::optional<SoapFault>& lastFault() const { return m_lastFault; }
    int lastHttpStatus() const { return m_lastStatus; }

private:
    Error failed(SoapFailure kind, std::string text);

    std::unique_ptr<QNetworkAccessManager> m_manager;
    SoapProxy m_proxy;
    std::chrono::milliseconds m_timeout = kDefaultTimeout;
    SoapParseLimits m_limits;
    bool m_proxyAnswered = false;
    SoapFailure m_lastFailure = SoapFailure::None;
    std::optional<SoapFault> m_lastFault;
    int m_lastStatus = 0;
};

} // namespace qev
