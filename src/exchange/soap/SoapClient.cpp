#include "exchange/soap/SoapClient.h"

#include <QAuthenticator>
#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTimer>

namespace qev {

namespace {

// Errors Qt derives from an HTTP status; the others mean there was no usable HTTP answer.
bool isStatusError(QNetworkReply::NetworkError e) {
    return (e >= QNetworkReply::ContentAccessDenied && e <= QNetworkReply::UnknownContentError) ||
           e == QNetworkReply::ProtocolInvalidOperationError ||
           (e >= QNetworkReply::InternalServerError && e <= QNetworkReply::UnknownServerError);
}

std::string seconds(std::chrono::milliseconds t) {
    return QString::number(static_cast<double>(t.count()) / 1000.0).toStdString() + " s";
}

} // namespace

SoapClient::SoapClient() : m_manager(std::make_unique<QNetworkAccessManager>()) {
    m_manager->setProxy(QNetworkProxy(QNetworkProxy::NoProxy));
    m_manager->setRedirectPolicy(QNetworkRequest::ManualRedirectPolicy);
    // The stored credentials answer one challenge per call; a second one means they are wrong, and leaving the
    // authenticator empty ends the request with an error instead of asking again.
    QObject::connect(m_manager.get(), &QNetworkAccessManager::proxyAuthenticationRequired, m_manager.get(),
                     [this](const QNetworkProxy&, QAuthenticator* auth) {
                         if (m_proxyAnswered || m_proxy.user.isEmpty()) return;
                         m_proxyAnswered = true;
                         auth->setUser(m_proxy.user);
                         auth->setPassword(m_proxy.password);
                     });
}

SoapClient::~SoapClient() = default;

void SoapClient::setProxy(const SoapProxy& proxy) {
    m_proxy = proxy;
    if (proxy.enabled())
        m_manager->setProxy(
            QNetworkProxy(QNetworkProxy::HttpProxy, proxy.host.trimmed(), proxy.port, proxy.user, proxy.password));
    else
        m_manager->setProxy(QNetworkProxy(QNetworkProxy::NoProxy));
    m_manager->clearAccessCache();
    m_manager->clearConnectionCache();
}

Error SoapClient::failed(SoapFailure kind, std::string text) {
    m_lastFailure = kind;
    return fail(std::move(text));
}

Result<SoapElement> SoapClient::call(const QUrl& url, const QString& ns, const QString& operation,
                                     const SoapFields& params) {
    m_lastFailure = SoapFailure::None;
    m_lastFault.reset();
    m_lastStatus = 0;
    m_proxyAnswered = false;
    const std::string where = url.toString(QUrl::RemoveUserInfo).toStdString();
    const std::string via = m_proxy.enabled() ? " through the proxy " + m_proxy.host.trimmed().toStdString() + ":" +
                                                    std::to_string(m_proxy.port)
                                              : std::string();
    const QString scheme = url.scheme();
    if (!url.isValid() || url.host().isEmpty() || (scheme != QLatin1String("http") && scheme != QLatin1String("https")))
        return failed(SoapFailure::BadRequest, "the address '" + where + "' is not an http or https address");
    auto envelope = buildSoapRequest(ns, operation, params);
    if (!envelope) return failed(SoapFailure::BadRequest, envelope.error());

    QNetworkRequest request(url);
    request.setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("text/xml; charset=utf-8"));
    request.setRawHeader("SOAPAction", '"' + soapAction(ns, operation).toUtf8() + '"');
    request.setAttribute(QNetworkRequest::Http2AllowedAttribute, false);

    std::unique_ptr<QNetworkReply> reply(m_manager->post(request, *envelope));
    QNetworkReply* r = reply.get();
    bool timedOut = false;
    bool tooLarge = false;
    QEventLoop loop;
    QTimer timer;
    timer.setSingleShot(true);
    timer.setTimerType(Qt::PreciseTimer); // a coarse timer may fire 5 % early
    QObject::connect(r, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    QObject::connect(&timer, &QTimer::timeout, r, [r, &timedOut] {
        timedOut = true;
        r->abort();
    });
    const qint64 maxBytes = m_limits.maxBytes;
    QObject::connect(r, &QNetworkReply::downloadProgress, r, [r, &tooLarge, maxBytes](qint64 received, qint64 total) {
        if (received > maxBytes || total > maxBytes) {
            tooLarge = true;
            r->abort();
        }
    });
    timer.start(m_timeout);
    if (!r->isFinished()) loop.exec(QEventLoop::ExcludeUserInputEvents);
    timer.stop();

    if (timedOut)
        return failed(SoapFailure::Timeout, "no answer from " + where + via + " within " + seconds(m_timeout));
    if (tooLarge)
        return failed(SoapFailure::BadAnswer,
                      "the answer from " + where + " is larger than " + std::to_string(maxBytes) + " bytes");
    const QNetworkReply::NetworkError error = r->error();
    if (error == QNetworkReply::ProxyAuthenticationRequiredError)
        return failed(SoapFailure::Network,
                      "the proxy " + m_proxy.host.trimmed().toStdString() + ":" + std::to_string(m_proxy.port) +
                          " did not accept the user and password (" + r->errorString().toStdString() + ")");
    if (error != QNetworkReply::NoError && !isStatusError(error))
        return failed(SoapFailure::Network, r->errorString().toStdString() + " (" + where + via + ")");

    m_lastStatus = r->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    const QByteArray body = r->readAll();
    auto answer = parseSoapAnswer(body, m_limits);
    if (answer && answer->fault) {
        m_lastFault = answer->fault;
        const SoapFault& f = *answer->fault;
        if (f.string.isEmpty())
            return failed(SoapFailure::Fault, "SOAP fault " + f.code.toStdString() + " without text from " + where);
        return failed(SoapFailure::Fault, f.string.toStdString());
    }
    if (m_lastStatus < 200 || m_lastStatus > 299) {
        const QString reason = r->attribute(QNetworkRequest::HttpReasonPhraseAttribute).toString();
        return failed(SoapFailure::Http, "HTTP " + std::to_string(m_lastStatus) +
                                             (reason.isEmpty() ? std::string() : " " + reason.toStdString()) + " (" +
                                             where + ")");
    }
    if (!answer) return failed(SoapFailure::BadAnswer, "the answer from " + where + " is unusable: " + answer.error());
    const QString expected = operation + QStringLiteral("Response");
    if (answer->response.name != expected)
        return failed(SoapFailure::BadAnswer, "the answer from " + where + " holds " +
                                                  answer->response.name.toStdString() + " instead of " +
                                                  expected.toStdString());
    return std::move(answer->response);
}

} // namespace qev
