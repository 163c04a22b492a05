#pragma once
// Record helpers shared by every rule set: required fields, name characters, blank normalisation, request file
// names and request numbers drawn from the sequence table `sec`.
#include "dbf/Value.h"
#include <QString>
#include <chrono>

namespace qev {

class Prompter;

// True (and the warning shown) when the value is null or empty text.
bool requiredFieldMissing(Prompter& prompter, const dbf::Value& value, const QString& label);
// Null is valid; otherwise only blanks, apostrophes, "Ñ" and A..Z; an invalid value is shown and answered false.
bool validNameCharacters(Prompter& prompter, const dbf::Value& value);
// Trims and collapses runs of blanks; null stays null.
dbf::Value normaliseBlanks(const dbf::Value& value);
QString normaliseBlanks(const QString& text);

// Prefix + number + "." + office code, both as plain integers; empty when either is null.
QString requestFileName(const QString& prefix, const dbf::Value& cPed, const dbf::Value& cReg);

// The next number of `objectName` ("ped", "pedp", "org") from "sec.dbf" in `folder`, taken under the table's
// exclusive open so that no two workstations get the same number. Waits at most `patience` while another
// workstation holds the table. 0 (with the message shown) when the row is missing or the table cannot be used.
double nextSequenceNumber(const QString& folder, const QString& objectName, Prompter& prompter,
                          std::chrono::milliseconds patience = std::chrono::seconds(30));

} // namespace qev
