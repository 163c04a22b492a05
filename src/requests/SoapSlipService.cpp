#include "requests/SoapSlipService.h"

#include "core/Settings.h"
#include "exchange/soap/SoapSettings.h"

#include <QUrl>

namespace qev {

SoapSlipService::SoapSlipService(QString root) : m_root(std::move(root)) {}

Result<SoapElement> SoapSlipService::call(const char* path, const QString& operation, const SoapFields& params) {
    return m_client.call(QUrl(m_root + QString::fromLatin1(path)), m_root, operation, params);
}

Result<int> SoapSlipService::pedidoByBoletaDoc(const QString& boleta, int nDoc) {
    const QString op = QStringLiteral("GetPedidoByBoletaDoc");
    auto response = call(
        kBoletaPath, op,
        {{QStringLiteral("c_boleta"), SoapValue::string(boleta)}, {QStringLiteral("n_doc"), SoapValue::int32(nDoc)}});
    if (!response) return fail(response.error());
    auto number = response->childInt(u"GetPedidoByBoletaDocResult");
    if (!number) return fail(op.toStdString() + ": " + number.error());
    return *number;
}

Result<QString> SoapSlipService::fechaByBoleta(const QString& boleta) {
    auto response = call(kBoletaPath, QStringLiteral("GetFechaByBoleta"),
                         {{QStringLiteral("c_boleta"), SoapValue::string(boleta)}});
    if (!response) return fail(response.error());
    return response->childText(u"GetFechaByBoletaResult").value_or(QString());
}

Result<TramAnswer> SoapSlipService::pedidoByTram(const QString& cTped, int cPedido, int nDoc,
                                                 const QString& inErrorDesc) {
    auto response = call(kTramPath, QStringLiteral("GetPedidoByTram"),
                         {{QStringLiteral("c_tped"), SoapValue::string(cTped)},
                          {QStringLiteral("c_pedido"), SoapValue::int32(cPedido)},
                          {QStringLiteral("n_doc"), SoapValue::int32(nDoc)},
                          // The error description goes in as a string, empty when the caller has none: never
                          // omitted, which the service would read as null.
                          {QStringLiteral("in_errorDesc"), SoapValue::string(inErrorDesc)}});
    if (!response) return fail(response.error());
    TramAnswer answer;
    answer.result = response->childText(u"GetPedidoByTramResult").value_or(QString());
    answer.errorDesc = response->childText(u"errorDesc").value_or(QString());
    return answer;
}

Result<std::unique_ptr<SoapSlipService>> makeSoapSlipService(const QString& folder, const Settings& settings) {
    auto root = agencyRoot(WorkstationIni(folder).serviceUrl());
    if (!root) return fail(root.error());
    auto proxy = proxyFromSettings(settings);
    if (!proxy) return fail(proxy.error());
    auto service = std::make_unique<SoapSlipService>(*root);
    service->client().setProxy(*proxy);
    return service;
}

} // namespace qev
