#pragma once
// The tables of an office folder: file names, key fields and stored fields in their declared order, and the
// set-up of a new folder with its lookup data, default settings and the "admin" user.

#include "dbf/Table.h"

#include <QDate>
#include <QString>
#include <QStringList>

#include <memory>
#include <vector>

namespace qev {

class Clock;

// Widths of the numeric fields. The stored types are dBase N fields with no decimals:
// - a 16-bit "small" integer takes 6 characters, the whole range -32768..32767 with its sign;
// - an office code `C_REG` takes 4 digits everywhere (the width the alias table `sup` has been widened to, so a
//   request's office code always fits its aliases), and an offence code `C_TDEL`/`C_TDEL_P` 4 digits (the width
//   older folders receive when the column is added to `ped`);
// - request, organisation and sequence numbers take 8 digits (the width `sup.C_PED` has been widened to);
// - document, record and file numbers take 10 digits (any 32-bit number the central office hands out);
// - receipt numbers and the biometric verification number take 8 digits (they are edited as up to 8 digits).
inline constexpr int kSmallWidth = 6;
inline constexpr int kOfficeCodeWidth = 4;
inline constexpr int kOffenceCodeWidth = 4;
inline constexpr int kRequestNumberWidth = 8;
inline constexpr int kLongNumberWidth = 10;
inline constexpr int kReceiptWidth = 8;

// Base address of the central office's web site in a new folder: the local central-office simulator.
inline constexpr char kDefaultCentralUrl[] = "http://127.0.0.1:8095/";
// Office code and name of a new folder (the configuration window changes them).
inline constexpr int kDefaultOfficeCode = 7;
inline constexpr char kDefaultOfficeName[] = "Regional Córdoba";

struct TableSpec {
    QString component;                 // the data module's name for the table: "ped", "Est"
    QString fileName;                  // as the program names the file: "PED.DBF"
    QString keyField;                  // the active index field; empty when the table has none
    std::vector<dbf::FieldDef> fields; // stored fields in declared order (lookups and calculated fields excluded)
    bool productionIndex = false;      // the table has a .MDX with a tag on `keyField`

    int fieldIndex(const QString& name) const; // -1 when absent; case-insensitive
};

// Every table of the office folder: requests first, then the other data tables and the lookups.
const std::vector<TableSpec>& officeTables();
// A table by its component name ("pedp") or file name ("Pedp.DBF"), whatever the case; null when unknown.
const TableSpec* findOfficeTable(const QString& name);

// The files of the office tables (and their .DBT and .MDX companions) already in `dir`, whatever their case.
QStringList existingOfficeFiles(const QString& dir);

// Opens an office table of `dir` (its file found whatever the case of its name) with its key index built, so that
// rows browse in key order and keys are found at once; with `buildIndex` false the index is only named, to be built
// by its first use (a pack or an index regeneration builds it while it reads the rows). A table with a production
// index is told its tag, so that a regeneration makes the .MDX of a table that has none yet.
dbf::Result<std::unique_ptr<dbf::Table>> openOfficeTable(const QString& dir, const TableSpec& table,
                                                         dbf::OpenMode mode = dbf::OpenMode::Shared,
                                                         bool buildIndex = true);

// Creates every office table in `dir` (level 7, language driver DBWINUS0) and fills the lookup tables, the
// sequences, the default settings, the base address of the central office and the user "admin". With `demo` it
// adds organisations and official and personal requests in every state, dated from `clock`'s today.
// Refuses a folder that already holds any office table (naming the files) and changes nothing then; when a
// table cannot be written, the tables made by this call are removed again so the folder is left as it was.
[[nodiscard]] bool createOfficeFolder(const QString& dir, bool demo, const Clock& clock, QString* error);
[[nodiscard]] bool createOfficeFolder(const QString& dir, bool demo, QString* error);

} // namespace qev
