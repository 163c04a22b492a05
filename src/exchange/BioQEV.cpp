#include "exchange/BioQEV.h"

#include "core/Settings.h"
#include "exchange/soap/SoapSettings.h"

#include <QByteArray>

namespace qev {

namespace {
// The low 32 bits of a 64-bit answer as a signed number: 4294967303 gives 7, -1 stays -1.
int low32(qint64 answer) {
    return static_cast<qint32>(static_cast<quint32>(static_cast<quint64>(answer) & 0xFFFFFFFFu));
}
} // namespace

QString wsqBase64Text(std::span<const uint8_t> wsq) {
    if (wsq.empty()) return {};
    const QByteArray bytes(reinterpret_cast<const char*>(wsq.data()), static_cast<qsizetype>(wsq.size()));
    return QString::fromLatin1(bytes.toBase64(QByteArray::Base64Encoding)) + QStringLiteral("\r\n");
}

BioQEVService::BioQEVService(QString root) : m_root(std::move(root)) {}

QUrl BioQEVService::endpoint() const {
    return QUrl(m_root + QString::fromLatin1(kPath));
}

Result<int> BioQEVService::verificarHuella(const QString& appId, const QString& wsqBase64) {
    const QString op = QStringLiteral("VerificarHuella");
    auto response = m_client.call(endpoint(), m_root, op,
                                  {{QStringLiteral("AppId"), SoapValue::string(appId)},
                                   {QStringLiteral("WSQBase64"), SoapValue::string(wsqBase64)}});
    if (!response) return fail(response.error());
    auto answer = response->childLong(u"VerificarHuellaResult");
    if (!answer) return fail(op.toStdString() + ": " + answer.error());
    return low32(*answer);
}

Result<std::unique_ptr<BioQEVService>> makeBioQEVService(const QString& folder, const Settings& settings) {
    auto root = agencyRoot(WorkstationIni(folder).serviceUrl());
    if (!root) return fail(root.error());
    auto proxy = proxyFromSettings(settings);
    if (!proxy) return fail(proxy.error());
    auto service = std::make_unique<BioQEVService>(*root);
    service->client().setProxy(*proxy);
    return service;
}

} // namespace qev
