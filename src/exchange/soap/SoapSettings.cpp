#include "exchange/soap/SoapSettings.h"

#include "core/Settings.h"

#include <QUrl>

namespace qev {

Result<QString> agencyRoot(const QString& serviceUrl) {
    const QUrl url(serviceUrl.trimmed(), QUrl::StrictMode);
    const QString scheme = url.scheme().toLower();
    if (!url.isValid() || url.host().isEmpty() || (scheme != QLatin1String("http") && scheme != QLatin1String("https")))
        return fail("the central office address '" + serviceUrl.toStdString() + "' is not an http or https address");
    QUrl root;
    root.setScheme(scheme);
    root.setHost(url.host());
    root.setPort(url.port());
    root.setPath(QStringLiteral("/"));
    return root.toString();
}

Result<SoapProxy> proxyFromSettings(const Settings& settings) {
    SoapProxy proxy;
    QString host = settings.read(QStringLiteral("http_proxy")).trimmed();
    if (host.isEmpty()) return proxy;
    // Operators sometimes write the proxy as an address: "http://proxy:3128/".
    if (host.startsWith(QLatin1String("http://"), Qt::CaseInsensitive)) host = host.mid(7);
    while (host.endsWith(QLatin1Char('/')))
        host.chop(1);
    QString portText = settings.read(QStringLiteral("http_port")).trimmed();
    if (host.count(QLatin1Char(':')) == 1) {
        const qsizetype colon = host.indexOf(QLatin1Char(':'));
        if (portText.isEmpty()) portText = host.mid(colon + 1);
        host = host.left(colon);
    }
    if (host.isEmpty()) return fail("the proxy host is blank");
    int port = 0;
    if (!parseWholeNumber(portText, port) || port < 1 || port > 65535)
        return fail("the proxy port '" + portText.toStdString() + "' is not a number from 1 to 65535");
    proxy.host = host;
    proxy.port = static_cast<quint16>(port);
    // The password is enciphered with the user exactly as the configuration window holds it.
    proxy.user = settings.read(QStringLiteral("proxy_user"));
    const QString stored = settings.read(QStringLiteral("proxy_pass"));
    if (!stored.trimmed().isEmpty()) {
        proxy.password = decipherProxyPassword(stored, proxy.user);
        if (proxy.password.isEmpty())
            return fail("the stored proxy password cannot be read; enter the proxy user and password again");
    }
    return proxy;
}

} // namespace qev
