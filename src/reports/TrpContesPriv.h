#pragma once
// The answer letter of a personal request: "Contestación de Pedido Personal".
#include "reports/Layout.h"
#include "reports/ReportSource.h"

namespace qev::reports {

class TrpContesPriv {
public:
    struct Data {
        QString printDate;
        QString c_ped, n_expe, x_ape, x_nom, n_cert, x_obs, x_res;
    };
    // From the current personal request; the result's description from table `res` (empty when not found).
    static Data read(const ReportSource& source);
    static Layout layout(const Data& data);
};

} // namespace qev::reports
