#pragma once
// The central office's biometric service "BioQEV" at /BioQEV/BioQEV.asmx, answered from the simulator's data:
// VerificarHuella (the score as xs:long) and VerificarHuellaPuntaje (xs:int), both taking AppId and WSQBase64.
#include "AsmxServer.h"
#include "SimData.h"

namespace qev::sim {

// `data` must outlive the service.
AsmxService bioQevService(const SimData& data);

} // namespace qev::sim
