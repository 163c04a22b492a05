#pragma once
// Runs the office's local SQL statements over the dBase tables of one folder.
//
// Statements name table files ("ped.dbf", Ped.dbf, ped.DBF with an alias, or ped); file names ignore case.
// Double-quoted tokens that are not table names are text literals. Named parameters (:name) take dbf::Value
// parameters: text, numbers, logicals, dates and date-times. Date fields compare as dates: a date equals the
// date-time at its midnight and precedes later times of the day; ISO text ("2024-01-05") compares the same way.
// Logical fields compare with TRUE/FALSE, numeric fields numerically, and empty fields are NULL.
//
// SELECT, INSERT, UPDATE and DELETE run through SQLite virtual tables; ALTER TABLE ... ADD restructures the file.
// A statement's changes are written only when it completes, so a refused statement changes nothing. Tables are
// opened shared for the time of one statement only, so other processes (and exclusive opens for packing) are not
// held up between statements. Deleted rows are invisible.

#include "dbf/Result.h"
#include "dbf/Table.h"
#include "dbf/Value.h"

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

struct sqlite3;

namespace qev::dbf::sql {

// Parameter values by name, with or without the leading ':'; names ignore case.
using Params = std::map<std::string, Value>;

struct Column {
    std::string name;
    char fieldType = 0; // dBase type of the field the column shows ('C', 'N', 'D', 'L'...); 0 when computed
};

struct SqlResult {
    std::vector<Column> columns; // a SELECT's columns, in order
    std::vector<Record> rows;    // a SELECT's rows: dates as Date, logicals as bool, texts, numbers, blobs as Bytes
    int64_t rowsAffected = 0;    // rows an INSERT, UPDATE or DELETE changed

    int columnIndex(std::string_view name) const; // -1 when absent; case-insensitive
};

class SqlRunner {
public:
    explicit SqlRunner(std::string folder);
    ~SqlRunner();
    SqlRunner(const SqlRunner&) = delete;
    SqlRunner& operator=(const SqlRunner&) = delete;

    const std::string& folder() const { return m_folder; }

    // Runs one statement; a refused statement (syntax, unknown table or column, a value a field cannot take, a
    // missing parameter) answers the reason and changes nothing.
    Result<SqlResult> run(std::string_view statement, const Params& params = {});

private:
    Result<SqlResult> runStatement(std::string_view statement, const Params& params);
    Result<SqlResult> runAlterTable(std::string_view statement);
    Result<std::string> tablePath(const std::string& fileAsWritten) const;
    Result<std::string> attachTable(const std::string& fileAsWritten);
    void detachTables();
    static int authorize(void* self, int action, const char* a, const char* b, const char* c, const char* d);

    std::string m_folder;
    sqlite3* m_db = nullptr;
    std::string m_startError;
    std::vector<std::string> m_files;           // paths of the statement's tables, by module argument
    std::map<std::string, std::string> m_names; // path -> SQL name of its virtual table
    bool m_restricted = false;                  // while a caller's statement is compiled
};

} // namespace qev::dbf::sql
