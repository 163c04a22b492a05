#pragma once
// The central office's biometric service "BioQEV" at BioQEV/BioQEV.asmx under the agency's web root, which is also
// its namespace. VerificarHuella tells whether a finger, WSQ in Base64, belongs to a user; VerificarHuellaPuntaje,
// the service's other operation, is never called.
#include "exchange/soap/SoapClient.h"
#include "util/Result.h"

#include <QString>
#include <QUrl>

#include <cstdint>
#include <memory>
#include <span>

namespace qev {

class Settings;

// The WSQ bytes as the service takes them: standard Base64 with "=" padding and no line breaks inside, followed by
// "\r\n". Empty for no bytes, so a finger that could not be compressed is never sent.
QString wsqBase64Text(std::span<const uint8_t> wsq);

class BioQEVService {
public:
    static constexpr char kPath[] = "BioQEV/BioQEV.asmx";

    // `root`: the agency's web root "scheme://host[:port]/".
    explicit BioQEVService(QString root);

    // Proxy and timeout are set here.
    SoapClient& client() { return m_client; }
    const QString& root() const { return m_root; }
    QUrl endpoint() const;

    // VerificarHuella(AppId, WSQBase64): the low 32 bits of the service's 64-bit answer, as a signed number; above 0
    // the finger is the user's. Network errors, faults and unreadable answers come back as their error text.
    Result<int> verificarHuella(const QString& appId, const QString& wsqBase64);

private:
    QString m_root;
    SoapClient m_client;
};

// The biometric service of a workstation: the agency root of the service address in the workstation file of
// `folder`, the proxy of the office settings.
Result<std::unique_ptr<BioQEVService>> makeBioQEVService(const QString& folder, const Settings& settings);

} // namespace qev
