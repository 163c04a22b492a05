// Benchmark of the request search by surname against SQLite on a native table.
// Usage: consulta_bench [rows] [runs]   (100000 and 15 by default)
//
// An office folder gets `rows` official requests with varied surnames (each surname on a handful of rows). The
// search window's surname statement, built by the same function the window uses, runs through our SQL layer over
// the dBase file, and the very same statement text runs on SQLite over an in-memory table with the same columns
// and rows (no index on either side). Best and median of `runs` runs each, and their ratio.
#include "BenchRows.h"
#include "core/OfficeSchema.h"
#include "dbf/Table.h"
#include "dbf/sql/SqlRunner.h"
#include "dbf/sql/SqlValues.h"
#include "requests/QueryStatements.h"

#include <QCoreApplication>
#include <QTemporaryDir>

#include <sqlite3.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

using namespace qev;
using Stopwatch = std::chrono::steady_clock;

namespace {

double secondsSince(Stopwatch::time_point t0) {
    return std::chrono::duration<double>(Stopwatch::now() - t0).count();
}

const char* const kSurnames[] = {"PEREZ",    "GOMEZ",  "RODRIGUEZ", "FERNANDEZ", "LOPEZ",
                                 "MARTINEZ", "GARCIA", "SANCHEZ",   "ROMERO",    "SOSA"};
const char* const kNames[] = {"JUAN", "ANA", "LUIS", "MARIA", "JORGE", "LAURA", "CARLOS"};
constexpr int kSurnameVariants = 20000; // each surname text on rows/20000 rows

// A request as the office stores it (every field varying with the row), with the surnames and names searched.
dbf::Record requestRow(const dbf::Table& t, int i) {
    dbf::Record r = bench::syntheticRow(t, i);
    for (size_t f = 0; f < t.fields().size(); ++f) {
        const dbf::FieldDef& d = t.fields()[f];
        const std::string name = d.name;
        std::string s;
        if (name == "X_APE1")
            s = std::string(kSurnames[i % 10]) + std::to_string(i % kSurnameVariants);
        else if (name.rfind("X_NOM", 0) == 0)
            s = kNames[(static_cast<size_t>(i) + f) % 7];
        else
            continue;
        if (static_cast<int>(s.size()) > d.length) s.resize(static_cast<size_t>(d.length));
        r[f] = dbf::Value(s);
    }
    return r;
}

struct Times {
    double best = 0;
    double median = 0;
    size_t rows = 0;
};

template <typename F> bool timeRuns(int runs, Times& out, F&& once) {
    std::vector<double> t;
    for (int k = 0; k < runs; ++k) {
        const auto t0 = Stopwatch::now();
        size_t rows = 0;
        if (!once(rows)) return false;
        t.push_back(secondsSince(t0));
        out.rows = rows;
    }
    std::sort(t.begin(), t.end());
    out.best = t.front();
    out.median = t[t.size() / 2];
    return true;
}

bool check(sqlite3* db, int rc, const char* what) {
    if (rc == SQLITE_OK || rc == SQLITE_DONE || rc == SQLITE_ROW) return true;
    std::fprintf(stderr, "sqlite: %s: %s\n", what, sqlite3_errmsg(db));
    return false;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int rows = argc > 1 ? std::atoi(argv[1]) : 100000;
    const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 15;
    QTemporaryDir dir;
    QString error;
    if (!dir.isValid() || !createOfficeFolder(dir.path(), false, &error)) {
        std::fprintf(stderr, "office folder: %s\n", qPrintable(error));
        return 1;
    }
    const std::string path = (dir.path() + QStringLiteral("/PED.DBF")).toStdString();
    std::vector<dbf::Record> records;
    std::vector<dbf::FieldDef> fields;
    {
        auto t = dbf::Table::open(path, dbf::OpenMode::Exclusive);
        if (!t) {
            std::fprintf(stderr, "%s\n", t.error().c_str());
            return 1;
        }
        fields = (*t)->fields();
        const auto t0 = Stopwatch::now();
        for (int i = 0; i < rows; ++i) {
            records.push_back(requestRow(**t, i));
            if (auto a = (*t)->append(records.back()); !a) {
                std::fprintf(stderr, "%s\n", a.error().c_str());
                return 1;
            }
        }
        std::printf("office folder: %d official requests written in %.1f s\n", rows, secondsSince(t0));
    }

    // The surname of row 4321: on rows/20000 requests.
    ConsultaCriteria criteria;
    criteria.page = ConsultaPage::Name;
    criteria.ape1 = QString::fromLatin1(kSurnames[4321 % 10]) + QString::number(4321 % kSurnameVariants);
    const std::string statement = consultaStatement(ConsultaTable::Official, criteria).toStdString();
    std::printf("statement: %s\n", statement.c_str());

    dbf::sql::SqlRunner runner(dir.path().toStdString());
    Times ours;
    if (!timeRuns(runs, ours, [&](size_t& n) {
            auto r = runner.run(statement);
            if (!r) {
                std::fprintf(stderr, "ours: %s\n", r.error().c_str());
                return false;
            }
            n = r->rows.size();
            return true;
        }))
        return 1;

    // The peer: the same statement text on SQLite. "Ped.dbf" names table "dbf" of an attached database "Ped", and
    // double-quoted words that name no column are text, as in our dialect.
    sqlite3* db = nullptr;
    if (sqlite3_open(":memory:", &db) != SQLITE_OK) return 1;
    sqlite3_db_config(db, SQLITE_DBCONFIG_DQS_DML, 1, nullptr);
    std::string create = "CREATE TABLE Ped.dbf (";
    std::string insert = "INSERT INTO Ped.dbf VALUES (";
    for (size_t f = 0; f < fields.size(); ++f) {
        create += (f ? ", " : "") + fields[f].name + " " + dbf::sql::declaredType(fields[f]);
        insert += f ? ", ?" : "?";
    }
    create += ")";
    insert += ")";
    if (!check(db, sqlite3_exec(db, "ATTACH DATABASE ':memory:' AS Ped", nullptr, nullptr, nullptr), "attach") ||
        !check(db, sqlite3_exec(db, create.c_str(), nullptr, nullptr, nullptr), "create") ||
        !check(db, sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr), "begin"))
        return 1;
    sqlite3_stmt* ins = nullptr;
    if (!check(db, sqlite3_prepare_v2(db, insert.c_str(), -1, &ins, nullptr), "prepare insert")) return 1;
    for (const dbf::Record& r : records) {
        for (size_t f = 0; f < r.size(); ++f)
            dbf::sql::bindValue(ins, static_cast<int>(f) + 1, r[f]);
        if (!check(db, sqlite3_step(ins), "insert")) return 1;
        sqlite3_reset(ins);
    }
    sqlite3_finalize(ins);
    if (!check(db, sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr), "commit")) return 1;

    Times peer;
    if (!timeRuns(runs, peer, [&](size_t& n) {
            sqlite3_stmt* s = nullptr;
            if (!check(db, sqlite3_prepare_v2(db, statement.c_str(), -1, &s, nullptr), "prepare")) return false;
            n = 0;
            const int columns = sqlite3_column_count(s);
            int rc = 0;
            // Every column of every row is read, as our runner hands them all out.
            while ((rc = sqlite3_step(s)) == SQLITE_ROW) {
                for (int c = 0; c < columns; ++c)
                    (void)sqlite3_column_value(s, c);
                ++n;
            }
            sqlite3_finalize(s);
            return check(db, rc, "select");
        }))
        return 1;
    sqlite3_close(db);

    if (ours.rows != peer.rows) {
        std::fprintf(stderr, "the two answers differ: %zu rows and %zu rows\n", ours.rows, peer.rows);
        return 1;
    }
    std::printf("surname search over %d requests (%zu rows found), %d runs:\n", rows, ours.rows, runs);
    std::printf("  ours (dBase file)     best %8.2f ms   median %8.2f ms   (target <= 50 ms)\n", ours.best * 1e3,
                ours.median * 1e3);
    std::printf("  SQLite native table   best %8.2f ms   median %8.2f ms\n", peer.best * 1e3, peer.median * 1e3);
    std::printf("  ratio ours/SQLite     best %8.2f      median %8.2f\n", ours.best / peer.best,
                ours.median / peer.median);
    return 0;
}
