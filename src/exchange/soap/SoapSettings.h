#pragma once
// Where the central office's services are and how to reach them, from the office's own settings.
#include "exchange/soap/SoapClient.h"

#include <QString>

namespace qev {

class Settings;

// The agency's web root of a service address, "scheme://host[:port]/": the namespace of the central office's
// services and the base of their addresses. Fails on anything but an http or https address with a host.
Result<QString> agencyRoot(const QString& serviceUrl);

// The proxy of the office settings `http_proxy` (host), `http_port`, `proxy_user` and `proxy_pass` (enciphered with
// the user). No proxy when the host is blank; fails on a port that is not 1..65535 and on a stored password that
// cannot be deciphered.
Result<SoapProxy> proxyFromSettings(const Settings& settings);

} // namespace qev
