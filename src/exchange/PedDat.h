#pragma once
// The request data file "ped.dat" of an outgoing package: a "[DATA]" section of name=value lines, one per field of
// the request in the order the fields are declared (lookup and calculated fields at their places), then the
// article-51 line, for official requests the KRB line, the organisation's name and one numbered section per alias,
// for personal requests the workstation's identity. Lines end in CR LF; the text is in Windows-1252.
#include "exchange/HostIdentity.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace qev {

class Dataset;

namespace dbf {
class Value;
}

// The declared order of the official and personal request fields, lookup and calculated fields included.
const QStringList& officialDeclaredFields();
const QStringList& personalDeclaredFields();

// A field's text in the file: empty for null, numbers in their shortest decimal form (whole numbers without
// decimals), "True"/"False", dates dd/MM/yyyy.
QString pedDatValue(const dbf::Value& v);

// The lines of the current official request of `ped`, its aliases (the visible rows of `sup`, a detail of `ped`)
// and the name of its organisation in `org`.
QStringList pedDatOficialLines(const Dataset& ped, const Dataset& sup, const Dataset& org);
// The lines of the current personal request of `pedp` and the workstation's identity.
QStringList pedDatPersonalLines(const Dataset& pedp, const NetworkIdentity& id);

// The file's bytes: every line followed by CR LF, in Windows-1252.
QByteArray pedDatBytes(const QStringList& lines);

} // namespace qev
