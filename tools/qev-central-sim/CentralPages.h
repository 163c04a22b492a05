#pragma once
// The central office's plain-text pages and its two small services, answered from the data file and from what
// happened in this run (the requests received, the replies sent):
//   GetEstReg.asp?reg=R, GetEstRegp.asp?reg=R  state lists, "1234;T|5678" a line
//   GetEstResP.asp?reg=R                       result list of personal requests, "1234;C|5678,R" a line
//   EstadoVorlund.asp?tram=U5678&pedqev=1234&regqev=7   "ESTADO=..." and "OFICINA=..." lines
//   /QEVSVC/QEVService.asmx        ObtenerMotivoRechazoOficial, ObtenerMotivoRechazoPrivado (c_ped, c_reg)
//   /ActualizaSegurSVC/ActualizaSegur.asmx   ActualizarCodSegur (c_pedqev, c_regqev, c_segur_actual, c_segur_nuevo)
// Pages answer CRLF lines in Windows-1252, the last one ended too; a list without requests is "NO_HAY_PEDIDOS".
#include "AsmxServer.h"
#include "Ledger.h"
#include "SimData.h"

namespace httplib {
class Server;
}

namespace qev::sim {

struct PageAnswer {
    int status = 200;
    QStringList lines; // the body, unless `raw` is set
    std::optional<QString> raw;
};

PageAnswer stateListPage(const SimData& data, const Ledger& ledger, bool personal, int regional);
PageAnswer resultListPage(const SimData& data, const Ledger& ledger, int regional);
PageAnswer vorlundPage(const SimData& data, const Ledger& ledger, const QString& tram, int pedido, int regional);

// Routes the pages of `http` here; `data`, `ledger` and `log` must outlive the server.
void mountPages(httplib::Server& http, const SimData& data, const Ledger& ledger, CallLog& log);

AsmxService qevService(const SimData& data, const Ledger& ledger);
AsmxService actualizaSegurService(const SimData& data, Ledger& ledger);

} // namespace qev::sim
