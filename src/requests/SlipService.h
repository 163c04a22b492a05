#pragma once
// The central office's two web services that know about payment slips and internet-filed requests, as the
// request rules see them. The program talks to them over SOAP; every failure comes back as an error text.
#include "util/Result.h"

#include <QString>

namespace qev {

// Answer of GetPedidoByTram: the request data text and the service's own error description.
struct TramAnswer {
    QString result; // empty when the service sent none (or a null)
    QString errorDesc;
};

class SlipService {
public:
    virtual ~SlipService() = default;
    // GetPedidoByBoletaDoc: the internet request number behind a slip code and document; 0 or less when none.
    virtual Result<int> pedidoByBoletaDoc(const QString& boleta, int nDoc) = 0;
    // GetFechaByBoleta: the payment date of a slip as the service writes it (date first); empty for none.
    virtual Result<QString> fechaByBoleta(const QString& boleta) = 0;
    // GetPedidoByTram: the data of an internet request as "name=value|" items.
    virtual Result<TramAnswer> pedidoByTram(const QString& cTped, int cPedido, int nDoc,
                                            const QString& inErrorDesc) = 0;
};

} // namespace qev
