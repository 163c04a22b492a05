#include "dbf/sql/SqlRunner.h"

#include "dbf/sql/DbfModule.h"
#include "dbf/sql/Dialect.h"
#include "dbf/sql/SqlValues.h"

#include <sqlite3.h>

#include <memory>

namespace qev::dbf::sql {

namespace {

struct StatementCloser {
    void operator()(sqlite3_stmt* s) const { sqlite3_finalize(s); }
};
using StatementPtr = std::unique_ptr<sqlite3_stmt, StatementCloser>;

std::string quoteIdentifier(std::string_view name) {
    return quoted(name, '"');
}

bool sameName(std::string_view a, std::string_view b) {
    return a.size() == b.size() && sqlite3_strnicmp(a.data(), b.data(), static_cast<int>(a.size())) == 0;
}

const Value* findParam(const Params& params, std::string_view name) {
    for (const auto& [key, value] : params) {
        std::string_view k(key);
        if (!k.empty() && k.front() == ':') k.remove_prefix(1);
        if (sameName(k, name)) return &value;
    }
    return nullptr;
}

} // namespace

int SqlResult::columnIndex(std::string_view name) const {
    for (size_t i = 0; i < columns.size(); ++i) {
        if (sameName(columns[i].name, name)) return static_cast<int>(i);
    }
    return -1;
}

SqlRunner::SqlRunner(std::string folder) : m_folder(std::move(folder)) {
    if (sqlite3_open_v2(":memory:", &m_db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) != SQLITE_OK) {
        m_startError = m_db ? sqlite3_errmsg(m_db) : "out of memory";
        sqlite3_close(m_db);
        m_db = nullptr;
        return;
    }
    sqlite3_db_config(m_db, SQLITE_DBCONFIG_DEFENSIVE, 1, nullptr);
    sqlite3_exec(m_db, "PRAGMA temp_store = MEMORY", nullptr, nullptr, nullptr);
    if (registerDbfModule(m_db, &m_files) != SQLITE_OK) {
        m_startError = sqlite3_errmsg(m_db);
        sqlite3_close(m_db);
        m_db = nullptr;
        return;
    }
    sqlite3_set_authorizer(m_db, &SqlRunner::authorize, this);
}

SqlRunner::~SqlRunner() {
    detachTables();
    sqlite3_close(m_db);
}

// A caller's statement may read and change rows and call functions; nothing else (no ATTACH, PRAGMA, DDL).
int SqlRunner::authorize(void* self, int action, const char* a, const char* b, const char*, const char*) {
    if (!static_cast<SqlRunner*>(self)->m_restricted) return SQLITE_OK;
    switch (action) {
    case SQLITE_SELECT:
    case SQLITE_READ:
    case SQLITE_INSERT:
    case SQLITE_UPDATE:
    case SQLITE_DELETE:
    case SQLITE_RECURSIVE:
        return SQLITE_OK;
    case SQLITE_FUNCTION: {
        const char* name = b ? b : a;
        if (name && (sqlite3_stricmp(name, "load_extension") == 0 || sqlite3_stricmp(name, "fts3_tokenizer") == 0)) {
            return SQLITE_DENY;
        }
        return SQLITE_OK;
    }
    default:
        return SQLITE_DENY;
    }
}

Result<SqlResult> SqlRunner::run(std::string_view statement, const Params& params) {
    if (!m_db) return fail("the SQL engine could not start: " + m_startError);
    auto kind = statementKind(statement);
    if (!kind) return fail(kind.error());
    if (*kind == StatementKind::AlterTable) return runAlterTable(statement);
    auto result = runStatement(statement, params);
    detachTables();
    return result;
}

Result<std::string> SqlRunner::tablePath(const std::string& file) const {
    if (file.empty() || file.find_first_of("/\\") != std::string::npos || file == "." || file == "..") {
        return fail("'" + file + "' is not the name of a table file in the office folder");
    }
    std::string path = findFileNoCase(m_folder, file);
    if (path.empty() && file.find('.') == std::string::npos) path = findFileNoCase(m_folder, file + ".dbf");
    if (path.empty()) return fail("table does not exist: " + file);
    return path;
}

Result<std::string> SqlRunner::attachTable(const std::string& file) {
    auto path = tablePath(file);
    if (!path) return fail(path.error());
    if (auto known = m_names.find(*path); known != m_names.end()) return known->second;

    // The table is called by the file's stem, so that columns can be qualified with it (ped.c_ped).
    std::string stem = file.substr(0, file.rfind('.'));
    std::string name = stem;
    for (int n = 2;; ++n) {
        bool taken = false;
        for (const auto& [p, existing] : m_names)
            taken = taken || sameName(existing, quoteIdentifier(name));
        if (!taken) break;
        name = stem + "_" + std::to_string(n);
    }
    m_files.push_back(*path);
    const std::string sqlName = quoteIdentifier(name);
    const std::string create = "CREATE VIRTUAL TABLE temp." + sqlName + " USING " + kDbfModuleName + "(" +
                               std::to_string(m_files.size() - 1) + ")";
    char* error = nullptr;
    if (sqlite3_exec(m_db, create.c_str(), nullptr, nullptr, &error) != SQLITE_OK) {
        std::string message = error ? error : sqlite3_errmsg(m_db);
        sqlite3_free(error);
        m_files.pop_back();
        return fail(message);
    }
    m_names[*path] = sqlName;
    return sqlName;
}

void SqlRunner::detachTables() {
    if (!m_db) return;
    for (const auto& [path, name] : m_names) {
        const std::string drop = "DROP TABLE temp." + name;
        sqlite3_exec(m_db, drop.c_str(), nullptr, nullptr, nullptr);
    }
    m_names.clear();
    m_files.clear();
}

Result<SqlResult> SqlRunner::runStatement(std::string_view statement, const Params& params) {
    auto sql = translate(statement, [this](const std::string& file) { return attachTable(file); });
    if (!sql) return fail(sql.error());

    // From here on only the caller's statement runs (SQLite may compile it again while stepping).
    struct Restriction {
        bool& flag;
        explicit Restriction(bool& f) : flag(f) { flag = true; }
        ~Restriction() { flag = false; }
    } restriction(m_restricted);
    sqlite3_stmt* raw = nullptr;
    const int rc = sqlite3_prepare_v2(m_db, sql->c_str(), static_cast<int>(sql->size()), &raw, nullptr);
    StatementPtr stmt(raw);
    if (rc != SQLITE_OK) return fail(sqlite3_errmsg(m_db));
    if (!stmt) return fail("the statement is empty");

    for (int i = 1; i <= sqlite3_bind_parameter_count(stmt.get()); ++i) {
        const char* name = sqlite3_bind_parameter_name(stmt.get(), i);
        if (!name || name[0] == '?') return fail("parameters must be named, as :name");
        const Value* value = findParam(params, name + 1);
        if (!value) return fail(std::string("no value was given for parameter ") + name);
        if (bindValue(stmt.get(), i, *value) != SQLITE_OK) return fail(sqlite3_errmsg(m_db));
    }

    SqlResult result;
    const int columnCount = sqlite3_column_count(stmt.get());
    for (int i = 0; i < columnCount; ++i) {
        const char* name = sqlite3_column_name(stmt.get(), i);
        result.columns.push_back({name ? name : "", fieldTypeOfDeclared(sqlite3_column_decltype(stmt.get(), i))});
    }
    while (true) {
        const int step = sqlite3_step(stmt.get());
        if (step == SQLITE_DONE) break;
        if (step != SQLITE_ROW) return fail(sqlite3_errmsg(m_db));
        Record row;
        row.reserve(static_cast<size_t>(columnCount));
        for (int i = 0; i < columnCount; ++i)
            row.push_back(columnValue(stmt.get(), i, result.columns[i].fieldType));
        result.rows.push_back(std::move(row));
    }
    if (!sqlite3_stmt_readonly(stmt.get())) result.rowsAffected = sqlite3_changes64(m_db);
    return result;
}

Result<SqlResult> SqlRunner::runAlterTable(std::string_view statement) {
    auto alter = parseAlterTable(statement);
    if (!alter) return fail(alter.error());
    auto path = tablePath(alter->table);
    if (!path) return fail(path.error());
    // Every field is checked before the first is added.
    std::vector<FieldDef> fields;
    {
        auto table = Table::open(*path, OpenMode::ReadOnly);
        if (!table) return fail(table.error());
        for (const FieldDef& f : alter->fields) {
            auto normal = normaliseField(f, (*table)->level());
            if (!normal) return fail((*table)->fileName() + ": " + normal.error());
            bool repeated = (*table)->fieldIndex(normal->name) >= 0;
            for (const FieldDef& earlier : fields)
                repeated = repeated || sameName(earlier.name, normal->name);
            if (repeated) return fail((*table)->fileName() + ": field " + normal->name + " exists already");
            fields.push_back(*normal);
        }
    }
    for (size_t i = 0; i < fields.size(); ++i) {
        if (auto r = addField(*path, fields[i]); !r) {
            if (i == 0) return fail(r.error());
            return fail(r.error() + " (the fields before " + fields[i].name + " were added)");
        }
    }
    return SqlResult{};
}

} // namespace qev::dbf::sql
