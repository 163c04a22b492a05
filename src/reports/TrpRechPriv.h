#pragma once
// The rejection letter of a personal request: "Rechazo de huellas digitales", the reasons marked from C_RECHAZO.
#include "reports/Layout.h"
#include "reports/ReportSource.h"

#include <array>

namespace qev::reports {

class TrpRechPriv {
public:
    struct Reason {
        const char* group;
        const char* text;
        int position; // in C_RECHAZO, 1-based; 0 for a reason no code marks
    };
    static const std::array<Reason, 16>& reasons();
    // "(X)" when the character of `code` at `position` is "1", "( )" otherwise (also for position 0).
    static QString box(const QString& code, int position);

    struct Data {
        QString printDate;
        QString c_ped, x_ape, x_nom;
        QString cRechazo;
    };
    static Data read(const ReportSource& source);
    static Layout layout(const Data& data);
};

} // namespace qev::reports
