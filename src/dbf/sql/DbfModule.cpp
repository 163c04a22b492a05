#include "dbf/sql/DbfModule.h"

#include "dbf/Table.h"
#include "dbf/sql/SqlValues.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <map>
#include <memory>
#include <new>
#include <optional>
#include <unordered_map>
#include <utility>

namespace qev::dbf::sql {

namespace {

constexpr uint32_t kChunkRecords = 256;

// One row change of a statement, kept until the statement commits.
struct Change {
    enum class Kind { Delete, Update, Insert };
    Kind kind = Kind::Delete;
    uint32_t recno = 0;                          // delete, update; the new row's number once an insert is written
    std::vector<std::pair<int, Value>> set;      // update: the fields set
    std::vector<std::pair<int, Value>> previous; // update: those fields before, to undo a failed commit
    Record values;                               // insert: the whole row
    bool written = false;
};

using ColumnHash = std::unordered_map<std::string, std::vector<uint32_t>>;

struct DbfTable : sqlite3_vtab {
    DbfTable() : sqlite3_vtab{} {}
    std::unique_ptr<Table> table;
    uint32_t rowCount = 0; // records a statement sees: those the file held when the table was created
    std::vector<Change> changes;
    uint32_t inserted = 0;
    std::map<int, int> lookups;       // equality lookups started per column
    std::map<int, ColumnHash> hashes; // column -> key -> live record numbers, ascending
};

struct KeyTest {
    int column;
    std::string key;
};

struct DbfCursor : sqlite3_vtab_cursor {
    DbfCursor() : sqlite3_vtab_cursor{} {}
    std::string chunk;
    uint32_t chunkFirst = 0;
    uint32_t chunkCount = 0;
    uint32_t recno = 0;
    const char* raw = nullptr;
    bool eof = true;
    std::vector<KeyTest> tests;
    const std::vector<uint32_t>* candidates = nullptr; // set when a column hash answers the lookup
    size_t nextCandidate = 0;
};

DbfTable* tableOf(sqlite3_vtab* vt) {
    return static_cast<DbfTable*>(vt);
}
DbfTable* tableOf(sqlite3_vtab_cursor* c) {
    return static_cast<DbfTable*>(c->pVtab);
}
DbfCursor* cursorOf(sqlite3_vtab_cursor* c) {
    return static_cast<DbfCursor*>(c);
}

int setError(sqlite3_vtab* vt, const std::string& message) {
    sqlite3_free(vt->zErrMsg);
    vt->zErrMsg = sqlite3_mprintf("%s", message.c_str());
    return SQLITE_ERROR;
}

// Keeps C++ exceptions on this side of SQLite.
template <typename F> int guarded(sqlite3_vtab* vt, F&& body) {
    try {
        return body();
    } catch (const std::bad_alloc&) {
        return SQLITE_NOMEM;
    } catch (const std::exception& e) {
        return vt ? setError(vt, e.what()) : SQLITE_ERROR;
    } catch (...) {
        return vt ? setError(vt, "unexpected failure in the dBase table module") : SQLITE_ERROR;
    }
}

// Equality keys: two values get the same key exactly when SQLite's = finds them equal (binary collation).
// Numbers start with 'i' (whole) or 'r' (fractional), texts (and dates, which are ISO text) with 't'.
std::string numberKey(int64_t i) {
    return "i" + std::to_string(i);
}

std::string numberKey(double d) {
    if (d == std::floor(d) && std::fabs(d) < 9.0e18) return numberKey(static_cast<int64_t>(d));
    std::string k(1 + sizeof d, 'r');
    std::memcpy(k.data() + 1, &d, sizeof d);
    return k;
}

std::optional<std::string> keyOfValue(const Value& v) {
    const auto& s = v.storage();
    if (const auto* text = std::get_if<std::string>(&s)) return "t" + *text;
    if (const auto* d = std::get_if<double>(&s)) return numberKey(*d);
    if (const auto* i = std::get_if<int64_t>(&s)) return numberKey(*i);
    if (const auto* b = std::get_if<bool>(&s)) return numberKey(int64_t{*b ? 1 : 0});
    if (const auto* date = std::get_if<Date>(&s)) return "t" + dateText(*date);
    if (const auto* dt = std::get_if<DateTime>(&s)) return "t" + dateTimeText(*dt);
    return std::nullopt; // null never equals anything; binary data is not looked up
}

std::optional<std::string> keyOfSql(sqlite3_value* v) {
    switch (sqlite3_value_type(v)) {
    case SQLITE_INTEGER:
        return numberKey(static_cast<int64_t>(sqlite3_value_int64(v)));
    case SQLITE_FLOAT:
        return numberKey(sqlite3_value_double(v));
    case SQLITE_TEXT: {
        const auto* p = reinterpret_cast<const char*>(sqlite3_value_text(v));
        return "t" + std::string(p, static_cast<size_t>(sqlite3_value_bytes(v)));
    }
    default:
        return std::nullopt;
    }
}

// The family of a field's values in SQLite: 't' text, 'n' number, 0 when equality lookups are not offered.
char keyFamily(char fieldType) {
    switch (fieldType) {
    case 'C':
    case 'D':
    case '@':
        return 't';
    case 'N':
    case 'F':
    case 'I':
    case '+':
    case 'O':
    case 'L':
        return 'n';
    default:
        return 0;
    }
}

char keyFamilyOf(const std::string& key) {
    return key[0] == 't' ? 't' : 'n';
}

// keyOfValue(v) == key, without building the key of a text (the common case of a name search).
bool matchesKey(const Value& v, const std::string& key) {
    if (v.isText()) return key[0] == 't' && key.compare(1, std::string::npos, v.text()) == 0;
    const auto own = keyOfValue(v);
    return own && *own == key;
}

Result<void> buildHash(DbfTable* t, int column, ColumnHash& hash) {
    std::string buf;
    const auto recordLength = static_cast<size_t>(t->table->recordLength());
    for (uint32_t first = 1; first <= t->rowCount; first += kChunkRecords) {
        const uint32_t count = std::min(kChunkRecords, t->rowCount - first + 1);
        if (auto r = t->table->readRaw(first, count, buf); !r) return r;
        for (uint32_t k = 0; k < count; ++k) {
            const char* raw = buf.data() + k * recordLength;
            if (raw[0] == '*') continue;
            auto v = t->table->decodeField(raw, column, first + k);
            if (!v) return fail(v.error());
            if (auto key = keyOfValue(*v)) hash[*key].push_back(first + k);
        }
    }
    return {};
}

// Moves the cursor to the next live row passing its key tests.
int advance(DbfCursor* c) {
    DbfTable* t = tableOf(c);
    const auto recordLength = static_cast<size_t>(t->table->recordLength());
    while (true) {
        if (c->candidates) {
            if (c->nextCandidate >= c->candidates->size()) {
                c->eof = true;
                return SQLITE_OK;
            }
            c->recno = (*c->candidates)[c->nextCandidate++];
        } else {
            if (c->recno >= t->rowCount) {
                c->eof = true;
                return SQLITE_OK;
            }
            ++c->recno;
        }
        if (c->recno < c->chunkFirst || c->recno >= c->chunkFirst + c->chunkCount) {
            const uint32_t count = c->candidates ? 1 : std::min(kChunkRecords, t->rowCount - c->recno + 1);
            if (auto r = t->table->readRaw(c->recno, count, c->chunk); !r) return setError(t, r.error());
            c->chunkFirst = c->recno;
            c->chunkCount = count;
        }
        c->raw = c->chunk.data() + (c->recno - c->chunkFirst) * recordLength;
        if (c->raw[0] == '*') continue;
        bool pass = true;
        for (const KeyTest& test : c->tests) {
            auto v = t->table->decodeField(c->raw, test.column, c->recno);
            if (!v) return setError(t, v.error());
            if (!matchesKey(*v, test.key)) {
                pass = false;
                break;
            }
        }
        if (pass) return SQLITE_OK;
    }
}

int xConnect(sqlite3* db, void* aux, int argc, const char* const* argv, sqlite3_vtab** out, char** err) {
    return guarded(nullptr, [&] {
        const auto* files = static_cast<const std::vector<std::string>*>(aux);
        char* end = nullptr;
        const unsigned long key = argc == 4 ? std::strtoul(argv[3], &end, 10) : 0;
        if (argc != 4 || !end || *end != '\0' || key >= files->size()) {
            *err = sqlite3_mprintf("%s: the table needs the number of its file", kDbfModuleName);
            return SQLITE_ERROR;
        }
        const std::string& path = (*files)[key];
        auto opened = Table::open(path, OpenMode::Shared);
        if (!opened) {
            // A file this user may only read is still good for queries.
            auto readOnly = Table::open(path, OpenMode::ReadOnly);
            if (!readOnly) {
                *err = sqlite3_mprintf("%s", opened.error().c_str());
                return SQLITE_ERROR;
            }
            opened = std::move(readOnly);
        }
        auto vt = std::make_unique<DbfTable>();
        vt->table = std::move(*opened);
        std::string schema = "CREATE TABLE x(";
        const auto& fields = vt->table->fields();
        for (size_t i = 0; i < fields.size(); ++i) {
            if (i) schema += ", ";
            schema += '"';
            for (char ch : fields[i].name) {
                schema += ch;
                if (ch == '"') schema += '"';
            }
            schema += "\" " + declaredType(fields[i]);
        }
        schema += ")";
        if (sqlite3_declare_vtab(db, schema.c_str()) != SQLITE_OK) {
            *err = sqlite3_mprintf("%s: %s", vt->table->fileName().c_str(), sqlite3_errmsg(db));
            return SQLITE_ERROR;
        }
        vt->rowCount = vt->table->recordCount();
        *out = vt.release();
        return SQLITE_OK;
    });
}

int xDisconnect(sqlite3_vtab* vt) {
    sqlite3_free(vt->zErrMsg);
    delete tableOf(vt);
    return SQLITE_OK;
}

// Plans: 0 scans every row; 1 tests equality constraints, whose columns idxStr lists in argument order.
int xBestIndex(sqlite3_vtab* vt, sqlite3_index_info* info) {
    return guarded(vt, [&] {
        DbfTable* t = tableOf(vt);
        const double rows = std::max<double>(1, t->rowCount);
        const auto& fields = t->table->fields();
        std::string columns;
        int arg = 0;
        for (int i = 0; i < info->nConstraint; ++i) {
            const auto& c = info->aConstraint[i];
            if (!c.usable || c.op != SQLITE_INDEX_CONSTRAINT_EQ || c.iColumn < 0) continue;
            const char family = keyFamily(fields[static_cast<size_t>(c.iColumn)].type);
            if (family == 0) continue;
            if (family == 't') {
                const char* collation = sqlite3_vtab_collation(info, i);
                if (collation && sqlite3_stricmp(collation, "BINARY") != 0) continue;
            }
            info->aConstraintUsage[i].argvIndex = ++arg;
            info->aConstraintUsage[i].omit = 0; // SQLite checks again; the test only spares it rows
            if (!columns.empty()) columns += ',';
            columns += std::to_string(c.iColumn);
        }
        if (arg == 0) {
            info->idxNum = 0;
            info->estimatedCost = rows;
            info->estimatedRows = static_cast<sqlite3_int64>(rows);
            return SQLITE_OK;
        }
        info->idxNum = 1;
        info->idxStr = sqlite3_mprintf("%s", columns.c_str());
        if (!info->idxStr) return SQLITE_NOMEM;
        info->needToFreeIdxStr = 1;
        info->estimatedCost = 10 + std::log2(rows);
        info->estimatedRows = 10;
        return SQLITE_OK;
    });
}

int xOpen(sqlite3_vtab* vt, sqlite3_vtab_cursor** out) {
    return guarded(vt, [&] {
        *out = new DbfCursor();
        return SQLITE_OK;
    });
}

int xClose(sqlite3_vtab_cursor* c) {
    delete cursorOf(c);
    return SQLITE_OK;
}

int xFilter(sqlite3_vtab_cursor* cur, int idxNum, const char* idxStr, int argc, sqlite3_value** argv) {
    return guarded(cur->pVtab, [&] {
        DbfCursor* c = cursorOf(cur);
        DbfTable* t = tableOf(cur);
        c->recno = 0;
        c->eof = false;
        c->tests.clear();
        c->candidates = nullptr;
        c->nextCandidate = 0;
        if (idxNum == 1 && idxStr) {
            const auto& fields = t->table->fields();
            const char* p = idxStr;
            for (int k = 0; k < argc && *p; ++k) {
                char* end = nullptr;
                const int column = static_cast<int>(std::strtol(p, &end, 10));
                p = *end == ',' ? end + 1 : end;
                if (column < 0 || column >= static_cast<int>(fields.size())) continue;
                if (sqlite3_value_type(argv[k]) == SQLITE_NULL) {
                    c->eof = true; // "= NULL" holds for no row
                    return SQLITE_OK;
                }
                auto key = keyOfSql(argv[k]);
                // Across families SQLite converts before comparing; leave such tests to it.
                if (!key || keyFamilyOf(*key) != keyFamily(fields[static_cast<size_t>(column)].type)) continue;
                c->tests.push_back({column, std::move(*key)});
            }
            if (!c->tests.empty()) {
                const int column = c->tests.front().column;
                // The first lookup on a column scans; a second one means a join, worth hashing the column for.
                if (++t->lookups[column] >= 2) {
                    auto it = t->hashes.find(column);
                    if (it == t->hashes.end()) {
                        ColumnHash hash;
                        if (auto r = buildHash(t, column, hash); !r) return setError(t, r.error());
                        it = t->hashes.emplace(column, std::move(hash)).first;
                    }
                    static const std::vector<uint32_t> kNone;
                    const auto hit = it->second.find(c->tests.front().key);
                    c->candidates = hit == it->second.end() ? &kNone : &hit->second;
                    c->tests.erase(c->tests.begin());
                }
            }
        }
        return advance(c);
    });
}

int xNext(sqlite3_vtab_cursor* cur) {
    return guarded(cur->pVtab, [&] { return advance(cursorOf(cur)); });
}

int xEof(sqlite3_vtab_cursor* cur) {
    return cursorOf(cur)->eof ? 1 : 0;
}

int xColumn(sqlite3_vtab_cursor* cur, sqlite3_context* ctx, int column) {
    return guarded(cur->pVtab, [&] {
        // An UPDATE that leaves the column alone does not need its value.
        if (sqlite3_vtab_nochange(ctx)) return SQLITE_OK;
        DbfCursor* c = cursorOf(cur);
        auto v = tableOf(cur)->table->decodeField(c->raw, column, c->recno);
        if (!v) {
            sqlite3_result_error(ctx, v.error().c_str(), -1);
            return SQLITE_ERROR;
        }
        setResult(ctx, *v);
        return SQLITE_OK;
    });
}

int xRowid(sqlite3_vtab_cursor* cur, sqlite3_int64* rowid) {
    *rowid = cursorOf(cur)->recno;
    return SQLITE_OK;
}

int xUpdate(sqlite3_vtab* vt, int argc, sqlite3_value** argv, sqlite3_int64* rowid) {
    return guarded(vt, [&] {
        DbfTable* t = tableOf(vt);
        Table& table = *t->table;
        if (table.readOnly()) return setError(vt, table.fileName() + " can only be read");
        Change change;
        if (argc == 1) {
            change.kind = Change::Kind::Delete;
            change.recno = static_cast<uint32_t>(sqlite3_value_int64(argv[0]));
            t->changes.push_back(std::move(change));
            return SQLITE_OK;
        }
        const auto& fields = table.fields();
        if (argc != static_cast<int>(fields.size()) + 2)
            return setError(vt, table.fileName() + ": wrong number of values");
        const bool insert = sqlite3_value_type(argv[0]) == SQLITE_NULL;
        if (insert) {
            if (sqlite3_value_type(argv[1]) != SQLITE_NULL) {
                return setError(vt, table.fileName() + ": the table numbers new rows itself");
            }
            change.kind = Change::Kind::Insert;
            change.values.resize(fields.size());
        } else {
            change.kind = Change::Kind::Update;
            change.recno = static_cast<uint32_t>(sqlite3_value_int64(argv[0]));
            if (sqlite3_value_int64(argv[1]) != sqlite3_value_int64(argv[0])) {
                return setError(vt, table.fileName() + ": record numbers cannot be changed");
            }
        }
        const std::string codepage = table.codepageName();
        for (size_t i = 0; i < fields.size(); ++i) {
            sqlite3_value* v = argv[i + 2];
            if (!insert && sqlite3_value_nochange(v)) continue;
            auto value = fieldValue(fields[i], v, codepage);
            if (!value) return setError(vt, table.fileName() + ": " + value.error());
            if (insert) {
                change.values[i] = std::move(*value);
                continue;
            }
            auto before = table.readField(change.recno, static_cast<int>(i));
            if (!before) return setError(vt, before.error());
            change.previous.emplace_back(static_cast<int>(i), std::move(*before));
            change.set.emplace_back(static_cast<int>(i), std::move(*value));
        }
        if (insert) *rowid = static_cast<sqlite3_int64>(t->rowCount) + ++t->inserted;
        t->changes.push_back(std::move(change));
        return SQLITE_OK;
    });
}

Result<void> setFields(Table& table, uint32_t recno, const std::vector<std::pair<int, Value>>& values) {
    auto row = table.read(recno);
    if (!row) return fail(row.error());
    for (const auto& [field, value] : values)
        row->values[static_cast<size_t>(field)] = value;
    return table.update(recno, row->values);
}

Result<void> apply(Table& table, Change& change) {
    switch (change.kind) {
    case Change::Kind::Delete:
        return table.setDeleted(change.recno, true);
    case Change::Kind::Update:
        if (change.set.empty()) return {};
        return setFields(table, change.recno, change.set);
    case Change::Kind::Insert: {
        auto recno = table.append(change.values);
        if (!recno) return fail(recno.error());
        change.recno = *recno;
        return {};
    }
    }
    return {};
}

Result<void> undo(Table& table, const Change& change) {
    switch (change.kind) {
    case Change::Kind::Delete:
        return table.setDeleted(change.recno, false);
    case Change::Kind::Update:
        if (change.previous.empty()) return {};
        return setFields(table, change.recno, change.previous);
    case Change::Kind::Insert:
        return table.setDeleted(change.recno, true);
    }
    return {};
}

// Writes a statement's changes; when one fails, those already written are taken back before reporting it.
int xSync(sqlite3_vtab* vt) {
    return guarded(vt, [&] {
        DbfTable* t = tableOf(vt);
        Table& table = *t->table;
        std::string error;
        // The statement's rows reach the disk together, once, before it is reported done.
        const bool syncEach = table.syncPosts();
        table.setSyncPosts(false);
        for (Change& change : t->changes) {
            if (auto r = apply(table, change); !r) {
                error = r.error();
                break;
            }
            change.written = true;
        }
        if (!error.empty()) {
            std::string undoError;
            for (auto it = t->changes.rbegin(); it != t->changes.rend(); ++it) {
                if (!it->written) continue;
                if (auto r = undo(table, *it); !r && undoError.empty()) undoError = r.error();
            }
            if (!undoError.empty()) error += "; some rows already written could not be restored: " + undoError;
        }
        table.setSyncPosts(syncEach);
        if (syncEach && error.empty())
            if (auto r = table.sync(); !r) error = r.error();
        table.flush();
        t->changes.clear();
        t->inserted = 0;
        if (!error.empty()) return setError(vt, error);
        return SQLITE_OK;
    });
}

int xBegin(sqlite3_vtab* vt) {
    DbfTable* t = tableOf(vt);
    t->changes.clear();
    t->inserted = 0;
    return SQLITE_OK;
}

int xCommit(sqlite3_vtab* vt) {
    return xBegin(vt);
}
int xRollback(sqlite3_vtab* vt) {
    return xBegin(vt);
}

const sqlite3_module kModule = {
    .iVersion = 1,
    .xCreate = xConnect,
    .xConnect = xConnect,
    .xBestIndex = xBestIndex,
    .xDisconnect = xDisconnect,
    .xDestroy = xDisconnect,
    .xOpen = xOpen,
    .xClose = xClose,
    .xFilter = xFilter,
    .xNext = xNext,
    .xEof = xEof,
    .xColumn = xColumn,
    .xRowid = xRowid,
    .xUpdate = xUpdate,
    .xBegin = xBegin,
    .xSync = xSync,
    .xCommit = xCommit,
    .xRollback = xRollback,
    .xFindFunction = nullptr,
    .xRename = nullptr,
    .xSavepoint = nullptr,
    .xRelease = nullptr,
    .xRollbackTo = nullptr,
    .xShadowName = nullptr,
};

} // namespace

int registerDbfModule(sqlite3* db, const std::vector<std::string>* files) {
    return sqlite3_create_module_v2(db, kDbfModuleName, &kModule, const_cast<std::vector<std::string>*>(files),
                                    nullptr);
}

} // namespace qev::dbf::sql
