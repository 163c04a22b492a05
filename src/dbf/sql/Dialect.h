#pragma once
// The office's SQL dialect, rewritten for SQLite. Tables are dBase files named in the statement, quoted ("ped.dbf")
// or bare (ped.DBF, Ped.dbf, ped); double-quoted tokens anywhere else are text literals, as the office's statements
// write them. ALTER TABLE ... ADD is parsed here and carried out on the file, since SQLite cannot alter a virtual
// table.

#include "dbf/Result.h"
#include "dbf/Table.h"

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace qev::dbf::sql {

enum class StatementKind { Select, Insert, Update, Delete, AlterTable };

// The kind of a statement from its first word; fails for anything else (PRAGMA, ATTACH, CREATE, several statements).
Result<StatementKind> statementKind(std::string_view statement);

// Answers the SQLite identifier that stands for a table file named in a statement, or why it cannot.
using TableResolver = std::function<Result<std::string>(const std::string& fileAsWritten)>;

// Rewrites one SELECT, INSERT, UPDATE or DELETE statement: table files become the resolver's identifiers and
// double-quoted literals become single-quoted SQL text with their quotes escaped. Named parameters (:name) stay.
Result<std::string> translate(std::string_view statement, const TableResolver& resolve);

struct AlterTable {
    std::string table; // the file as written
    std::vector<FieldDef> fields;
};

// ALTER TABLE <file> ADD [COLUMN] <name> <type> [, ADD <name> <type>]...
Result<AlterTable> parseAlterTable(std::string_view statement);

// The field an SQL column type makes: CHAR(n)/VARCHAR(n) -> C n, NUMERIC(n[,d])/DECIMAL -> N, FLOAT(n[,d]) -> F,
// SMALLINT -> N 6, INTEGER -> I, BOOLEAN -> L, DATE -> D, TIMESTAMP -> @, MEMO -> M.
Result<FieldDef> fieldForType(const std::string& name, std::string_view type, const std::vector<int>& sizes);

// Encloses a text in `mark` (' for SQL text, " for identifiers and the dialect's literals), doubling every `mark`
// inside it.
std::string quoted(std::string_view text, char mark);

// Writes a text as a double-quoted literal of the dialect, doubling embedded quotation marks, for statements built
// from what an operator typed.
inline std::string quoteLiteral(std::string_view text) {
    return quoted(text, '"');
}

} // namespace qev::dbf::sql
