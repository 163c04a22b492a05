#pragma once
// The SQLite virtual table module over dBase files. A virtual table opens its file shared when it is created and
// closes it when dropped; it shows the live rows (record number = rowid) that the file holds at that moment.
// Scans read records in chunks and decode only the fields SQLite asks for; equality constraints filter rows before
// SQLite sees them and, when a statement looks the same column up repeatedly (the inner side of a join), are answered
// from a hash of that column built once. Deletes, updates and inserts are checked when SQLite hands them over and
// written only when the statement commits, so a refused statement leaves the file as it was.

#include <sqlite3.h>

#include <string>
#include <vector>

namespace qev::dbf::sql {

inline constexpr const char* kDbfModuleName = "qevdbf";

// Registers the module on a connection. A table is created with the position of its file in `files` as the only
// argument: CREATE VIRTUAL TABLE temp."ped" USING qevdbf(0). `files` must outlive the connection.
int registerDbfModule(sqlite3* db, const std::vector<std::string>* files);

} // namespace qev::dbf::sql
