#pragma once
// How dBase values travel through SQLite. Dates are ISO text ("2024-01-05"; a date-time adds " 10:30:00" and
// ".250" only when it has them), so date fields, date-time parameters and ISO text dates compare in calendar order:
// a date equals the date-time at its midnight and is earlier than any later time of that day. Logicals are 1/0,
// numbers integer or real, binary memos blobs.

#include "dbf/Result.h"
#include "dbf/Table.h"
#include "dbf/Value.h"

#include <sqlite3.h>

#include <optional>
#include <string>
#include <string_view>

namespace qev::dbf::sql {

std::string dateText(const Date& d);
std::string dateTimeText(const DateTime& t);
// Reads "YYYY-MM-DD" optionally followed by a blank or 'T' and "HH:MM[:SS[.fff]]"; nothing else.
std::optional<DateTime> parseDateTimeText(std::string_view text);

// The SQL type a field column is declared with; its affinity keeps comparisons natural for the field's family.
std::string declaredType(const FieldDef& field);
// The dBase field type behind a declared column type; 0 for anything else (computed columns).
char fieldTypeOfDeclared(const char* declared);

// Hands a decoded field value to SQLite.
void setResult(sqlite3_context* ctx, const Value& v);
// Binds a parameter value; SQLITE_OK or an SQLite error code.
int bindValue(sqlite3_stmt* stmt, int index, const Value& v);
// Reads a result column back as a value; `fieldType` (from the declared type) turns ISO text into dates and 1/0
// into logicals.
Value columnValue(sqlite3_stmt* stmt, int column, char fieldType);

// The value an SQL value gives for a field, checked against the field's type and size with the table's code page,
// so that a value the field cannot hold is refused before anything is written.
Result<Value> fieldValue(const FieldDef& field, sqlite3_value* v, std::string_view codepageName);

} // namespace qev::dbf::sql
