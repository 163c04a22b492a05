#pragma once
// The printed documents of a request by name, built the same way for the windows and the admin command.
#include "reports/Layout.h"
#include "reports/ReportSource.h"

#include <QStringList>

namespace qev::reports {

enum class RequestKind { Oficial, Personal };

// "TrpOficio", "TrpFicha", "TrpCompr", "TrpContesPriv", "TrpRechPriv".
const QStringList& reportNames();
// False with a Spanish message for an unknown report or one of the other kind of request.
bool reportFits(const QString& name, RequestKind kind, QString* error);
// The card image of a request: the livescan window's composed card C_PED + "_" + C_REG + ".bmp" when present, else
// the request's stored card ("h"/"hp" + C_PED + "." + C_REG), else the composed card's name.
QString cardImageFile(const QString& folder, RequestKind kind, const QString& cPed, const QString& cReg);
// Builds report `name` for the current row of "ped" (Oficial) or "pedp" (Personal) of `source`. False with the
// message when it cannot be printed; `warnings` gets what prints incomplete (a barcode Code 39 cannot hold).
bool buildReport(const QString& name, RequestKind kind, const ReportSource& source, Layout& out, QStringList* warnings,
                 QString* error);

} // namespace qev::reports
