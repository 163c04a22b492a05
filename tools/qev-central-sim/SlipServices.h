#pragma once
// The two slip services of the central office, answered from the simulator's data: "Service"
// (GetPedidoByBoletaDoc, GetFechaByBoleta) and "TramPer" (GetPedidoByTram).
#include "AsmxServer.h"
#include "SimData.h"

namespace qev::sim {

// An internet request the data does not hold answers no data and this error description.
inline constexpr char kUnknownRequest[] = "Pedido inexistente";

// `data` must outlive the services.
AsmxService boletaService(const SimData& data);
AsmxService tramService(const SimData& data);

} // namespace qev::sim
