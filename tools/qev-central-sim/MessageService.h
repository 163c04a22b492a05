#pragma once
// The central office's message service "QEVMessageService": SendMessage keeps every package it receives in a
// folder of its own under the store folder (the message's fields in "message.txt", each attachment decoded under
// its own name), VerifyMessage answers a fixed text naming the regional it was given. A package it cannot read (an
// attachment name with a folder in it, Base64 that does not decode) is answered with a soap:Server fault and nothing is
// kept.
#include "AsmxServer.h"
#include "Ledger.h"
#include "SimData.h"

#include <atomic>
#include <functional>

namespace qev::sim {

inline constexpr char kVerifyAnswer[] = "Servicio de mensajes de QEV Central disponible";

// `store` may be empty (nothing is kept); `data` and `ledger` must outlive the service. Each request received is
// recorded in `ledger` (when given) as in process, "T", with the security code its "ped.dat" carries.
// A state request ("GETESTADO", its "GetEstado.DAT" naming the official and personal regionals) is handed to
// `stateRequest` when given, after it was kept.
using StateRequest = std::function<void(int cReg, int cRegp)>;
AsmxService messageService(const SimData& data, const QString& store, Ledger* ledger = nullptr,
                           StateRequest stateRequest = {});

} // namespace qev::sim
