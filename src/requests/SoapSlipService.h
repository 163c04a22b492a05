#pragma once
// The slip services over SOAP: "Service" (GetPedidoByBoletaDoc, GetFechaByBoleta) at boletasvc/service.asmx and
// "TramPer" (GetPedidoByTram) at trampersvc/tramper.asmx, both under the agency's web root, which is also their
// namespace.
#include "exchange/soap/SoapClient.h"
#include "requests/SlipService.h"

#include <QString>

#include <memory>

namespace qev {

class Settings;

class SoapSlipService : public SlipService {
public:
    static constexpr char kBoletaPath[] = "boletasvc/service.asmx";
    static constexpr char kTramPath[] = "trampersvc/tramper.asmx";

    // `root`: the agency's web root "scheme://host[:port]/".
    explicit SoapSlipService(QString root);

    // Proxy and timeout are set here.
    SoapClient& client() { return m_client; }
    const QString& root() const { return m_root; }

    Result<int> pedidoByBoletaDoc(const QString& boleta, int nDoc) override;
    Result<QString> fechaByBoleta(const QString& boleta) override;
    // A null `inErrorDesc` is sent as no element, any other text as given.
    Result<TramAnswer> pedidoByTram(const QString& cTped, int cPedido, int nDoc, const QString& inErrorDesc) override;

private:
    Result<SoapElement> call(const char* path, const QString& operation, const SoapFields& params);

    QString m_root;
    SoapClient m_client;
};

// The slip services of a workstation: the agency root of the service address in the workstation file of `folder`,
// the proxy of the office settings.
Result<std::unique_ptr<SoapSlipService>> makeSoapSlipService(const QString& folder, const Settings& settings);

} // namespace qev
