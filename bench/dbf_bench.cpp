// Benchmark of the dBase engine against python3-dbf, the independent dBase library on this platform.
// Usage: dbf_bench [rows] [peer-rows]   (100000 and 20000 by default)
//
// Our engine: append `rows` rows of the official-request layout (each written through to the file at once, as the
// office's shared folder needs), a full scan decoding every field, key searches, a pack with 10 % of the rows
// deleted, and the SQL name search the query window issues. The peer appends and scans a dBase III table of the
// same shape; per-row times are compared, so the peer may run fewer rows.
#include "core/OfficeSchema.h"
#include "dbf/Table.h"
#include "dbf/sql/SqlRunner.h"

#include <QCoreApplication>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <fcntl.h>
#include <optional>

#include <chrono>
#include <cstdio>
#include <map>
#include <optional>
#include <random>

#include <unistd.h>

using namespace qev;
using Stopwatch = std::chrono::steady_clock;

namespace {

double secondsSince(Stopwatch::time_point t0) {
    return std::chrono::duration<double>(Stopwatch::now() - t0).count();
}

const char* kSurnames[] = {"PEREZ",    "GOMEZ",  "RODRIGUEZ", "FERNANDEZ", "LOPEZ",
                           "MARTINEZ", "GARCIA", "SANCHEZ",   "ROMERO",    "SOSA"};

dbf::Record pedRow(const dbf::Table& t, int i) {
    // Field positions are looked up once; the row is built the way a window's dataset would fill it.
    static std::map<std::string, int> positions;
    dbf::Record r(t.fields().size());
    auto set = [&](const char* name, dbf::Value v) {
        auto it = positions.find(name);
        if (it == positions.end()) it = positions.emplace(name, t.fieldIndex(name)).first;
        if (it->second >= 0) r[static_cast<size_t>(it->second)] = std::move(v);
    };
    set("C_PED", dbf::Value(i + 1));
    set("C_SEXO", dbf::Value("M"));
    set("C_TDOC", dbf::Value("DU"));
    set("C_NAC", dbf::Value(1));
    set("C_ORG", dbf::Value(10 + i % 50));
    set("F_PED", dbf::Value(dbf::Date{2024, 1 + i % 12, 1 + i % 28}));
    set("X_SEC", dbf::Value("SECRETARIA 1"));
    set("X_DOM", dbf::Value("AV. SIEMPRE VIVA 742"));
    set("X_LOC", dbf::Value("CORDOBA"));
    set("X_DELITO", dbf::Value("ROBO"));
    set("X_APE1", dbf::Value(std::string(kSurnames[i % 10]) + std::to_string(i % 997)));
    set("X_APE2", dbf::Value("DIAZ"));
    set("X_NOM1", dbf::Value("JUAN"));
    set("X_NOM2", dbf::Value("CARLOS"));
    set("F_NAC", dbf::Value(dbf::Date{1970 + i % 40, 1 + i % 12, 1 + i % 28}));
    set("N_DOC", dbf::Value(20000000 + i));
    set("M_ENVIADO", dbf::Value(i % 2 == 0));
    set("M_CONTESTA", dbf::Value(i % 3 == 0));
    set("X_OBS", dbf::Value("SIN OBSERVACIONES"));
    set("C_REG", dbf::Value(7));
    set("C_EST", dbf::Value("E"));
    return r;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    // The engine's own speed is measured without waiting for the disk after every post; the cost of that wait,
    // which the office pays by default, is measured on its own at the end.
    dbf::Table::setSyncDefault(false);
    const int rows = argc > 1 ? std::atoi(argv[1]) : 100000;
    const int peerRows = argc > 2 ? std::atoi(argv[2]) : 20000;
    QTemporaryDir dir;
    const std::string folder = dir.path().toStdString();
    const TableSpec* ped = findOfficeTable(QStringLiteral("ped"));
    if (!ped) return 1;
    const std::string path = folder + "/PED.DBF";
    auto created = dbf::Table::create(path, ped->fields);
    if (!created) {
        std::fprintf(stderr, "%s\n", created.error().c_str());
        return 1;
    }
    dbf::Table& t = **created;

    // The same appends on a table with its production index (.MDX, tag C_PED) kept current, as the office's tables
    // are; then key updates (a new C_PED on a random row, the index moving the key) on both tables.
    dbf::CreateOptions indexedOptions;
    indexedOptions.indexTags = {"C_PED"};
    auto indexedTable = dbf::Table::create(folder + "/PEDI.DBF", ped->fields, indexedOptions);
    if (!indexedTable) {
        std::fprintf(stderr, "%s\n", indexedTable.error().c_str());
        return 1;
    }
    dbf::Table& ti = **indexedTable;
    // The two tables grow in alternate rounds of a tenth of the rows each, every round starting with nothing dirty
    // in the page cache: a drift of the machine's speed, or one round's write-back, then weighs on both alike.
    double append = 0.0, appendIndexed = 0.0;
    const int round = std::max(1, rows / 10);
    for (int first = 0; first < rows; first += round) {
        const int end = std::min(rows, first + round);
        for (dbf::Table* table : {&t, &ti}) {
            ::sync();
            const auto t0 = Stopwatch::now();
            for (int i = first; i < end; ++i) {
                auto r = table->append(pedRow(*table, i));
                if (!r) {
                    std::fprintf(stderr, "%s\n", r.error().c_str());
                    return 1;
                }
                table->flush();
            }
            (table == &t ? append : appendIndexed) += secondsSince(t0);
        }
    }
    const int updates = std::min(rows, 10000);
    auto keyUpdates = [&](dbf::Table& table) -> double {
        std::mt19937 pick(7);
        const int key = table.fieldIndex("C_PED");
        const auto start = Stopwatch::now();
        for (int i = 0; i < updates; ++i) {
            const auto recno = 1 + static_cast<uint32_t>(pick() % static_cast<unsigned>(rows));
            auto row = table.read(recno);
            if (!row) return -1;
            row->values[static_cast<size_t>(key)] = dbf::Value(rows + 1 + i);
            if (!table.update(recno, row->values)) return -1;
            table.flush();
        }
        return secondsSince(start) / updates;
    };
    ::sync();
    const double updatePlain = keyUpdates(t);
    ::sync();
    const double updateIndexed = keyUpdates(ti);
    if (updatePlain < 0 || updateIndexed < 0) return 1;
    const std::vector<std::string> indexProblems = ti.checkIndexFile(false);
    if (!indexProblems.empty()) {
        std::fprintf(stderr, "index: %s\n", indexProblems.front().c_str());
        return 1;
    }
    indexedTable.value().reset();

    // The peer's scan reads one field of every row; ours does the same from blocks of raw rows, the way the
    // SQL layer scans. A scan that decodes every field of every row is timed as well.
    const int surname = t.fieldIndex("X_APE1");
    const uint32_t count = t.recordCount();
    auto t0 = Stopwatch::now();
    size_t seen = 0;
    std::string block;
    for (uint32_t first = 1; first <= count; first += 256) {
        const uint32_t n = std::min<uint32_t>(256, count - first + 1);
        if (!t.readRaw(first, n, block)) return 1;
        for (uint32_t k = 0; k < n; ++k) {
            auto v = t.decodeField(block.data() + static_cast<size_t>(k) * static_cast<size_t>(t.recordLength()),
                                   surname, first + k);
            if (v && !v->isNull()) ++seen;
        }
    }
    const double scan = secondsSince(t0);
    t0 = Stopwatch::now();
    size_t decoded = 0;
    for (uint32_t r = 1; r <= count; ++r) {
        auto row = t.read(r);
        if (row) decoded += row->values.size();
    }
    const double fullScan = secondsSince(t0);
    const int recordLength = t.recordLength();

    t0 = Stopwatch::now();
    if (!t.setIndex("C_PED")) return 1;
    const double indexBuild = secondsSince(t0);
    std::mt19937 rng(42);
    const int searches = 10000;
    t0 = Stopwatch::now();
    int found = 0;
    for (int i = 0; i < searches; ++i) {
        auto f = t.find(dbf::Value(1 + static_cast<int>(rng() % static_cast<unsigned>(rows))));
        if (f && f->has_value()) ++found;
    }
    const double search = secondsSince(t0) / searches;

    dbf::sql::SqlRunner runner(dir.path().toStdString());
    const std::string nameSearch = "SELECT * FROM \"ped.dbf\" WHERE  x_ape1 = \"GARCIA6\"\n AND x_nom1 = \"JUAN\"";
    double sqlBest = 1e9;
    size_t sqlRows = 0;
    for (int k = 0; k < 5; ++k) {
        t0 = Stopwatch::now();
        auto res = runner.run(nameSearch, {});
        const double s = secondsSince(t0);
        if (!res) {
            std::fprintf(stderr, "sql: %s\n", res.error().c_str());
            return 1;
        }
        sqlRows = res->rows.size();
        sqlBest = std::min(sqlBest, s);
    }

    for (int i = 0; i < rows; i += 10) {
        if (!t.setDeleted(static_cast<uint32_t>(i + 1), true)) return 1;
    }
    created.value().reset();
    auto ex = dbf::Table::open(path, dbf::OpenMode::Exclusive);
    if (!ex) return 1;
    t0 = Stopwatch::now();
    if (auto r = (*ex)->pack(); !r) {
        std::fprintf(stderr, "%s\n", r.error().c_str());
        return 1;
    }
    const double pack = secondsSince(t0);
    // Bulk loading (set-up, restructuring) runs on an exclusive open, which needs no byte-range locks.
    const int bulkRows = std::min(rows, 20000);
    t0 = Stopwatch::now();
    for (int i = 0; i < bulkRows; ++i) {
        if (!(*ex)->append(pedRow(**ex, i))) return 1;
    }
    const double bulkAppend = secondsSince(t0) / bulkRows;

    // Posts that reach the disk before they are acknowledged, as the office makes them: appends and key updates
    // on a table with a memo field and its production index, against the same posts without the wait and against
    // the disk's own floor (one small write and one fdatasync).
    const int durablePosts = 300;
    struct Durable {
        double append = 0, update = 0;
    };
    auto durableRun = [&](bool syncEach, const std::string& name) -> std::optional<Durable> {
        dbf::CreateOptions o;
        o.indexTags = {"C_PED", "X_APE1"};
        auto d = dbf::Table::create(folder + "/" + name,
                                    {{"C_PED", 'N', 10, 0}, {"X_APE1", 'C', 20, 0}, {"X_OBS", 'M', 10, 0}}, o);
        if (!d) return std::nullopt;
        (*d)->setSyncPosts(syncEach);
        Durable out;
        auto start = Stopwatch::now();
        for (int i = 0; i < durablePosts; ++i)
            if (!(*d)->append(
                    {dbf::Value(i), dbf::Value("N" + std::to_string(i)), dbf::Value(std::string(200 + i % 700, 'm'))}))
                return std::nullopt;
        out.append = secondsSince(start) / durablePosts;
        start = Stopwatch::now();
        for (int i = 0; i < durablePosts; ++i)
            if (!(*d)->update(static_cast<uint32_t>(1 + i), {dbf::Value(i), dbf::Value("U" + std::to_string(i)),
                                                             dbf::Value(std::string(100 + i % 900, 'u'))}))
                return std::nullopt;
        out.update = secondsSince(start) / durablePosts;
        return out;
    };
    ::sync();
    const auto durable = durableRun(true, "DURABLE.DBF");
    ::sync();
    const auto cached = durableRun(false, "CACHED.DBF");
    if (!durable || !cached) return 1;
    double diskFloor = 0;
    {
        const std::string probe = folder + "/probe.bin";
        const int fd = ::open(probe.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (fd < 0) return 1;
        const char byte[64] = {};
        const auto start = Stopwatch::now();
        for (int i = 0; i < durablePosts; ++i)
            if (::pwrite(fd, byte, sizeof byte, static_cast<off_t>(i) * 64) != 64 || ::fdatasync(fd) != 0) return 1;
        diskFloor = secondsSince(start) / durablePosts;
        ::close(fd);
    }

    // The peer, in the same run.
    QProcess peer;
    peer.start(QStringLiteral("/usr/bin/python3"),
               {QStringLiteral(QEV_SOURCE_DIR "/bench/py_dbf_peer.py"), dir.filePath(QStringLiteral("peer.dbf")),
                QString::number(peerRows)});
    const bool peerOk = peer.waitForFinished(1800000) && peer.exitCode() == 0;
    const QJsonObject p = QJsonDocument::fromJson(peer.readAllStandardOutput()).object();

    const double appendPerRow = append / rows;
    const double scanPerRow = scan / rows;
    std::printf("dbf_bench: %d rows of the PED layout (%d bytes a row)\n", rows, recordLength);
    std::printf("  append + flush   %8.3f s   %7.2f us/row\n", append, appendPerRow * 1e6);
    std::printf("  append + flush, production index kept %8.3f s   %7.2f us/row   ratio %.2fx to the append above\n",
                appendIndexed, appendIndexed / rows * 1e6, appendIndexed / append);
    std::printf("  key update + flush %6.2f us/row plain, %.2f us/row with the index   ratio %.2fx   (%d updates)\n",
                updatePlain * 1e6, updateIndexed * 1e6, updateIndexed / updatePlain, updates);
    std::printf("  scan, one field  %8.3f s   %7.2f us/row   (%zu rows with a surname)\n", scan, scanPerRow * 1e6,
                seen);
    std::printf("  scan, all fields %8.3f s   %7.2f us/row   (%zu values)\n", fullScan, fullScan / rows * 1e6, decoded);
    std::printf("  key index build  %8.3f s\n", indexBuild);
    std::printf("  key search       %8.2f us/search   (%d of %d found)\n", search * 1e6, found, searches);
    std::printf("  SQL name search  %8.2f ms   (best of 5, %zu rows)\n", sqlBest * 1e3, sqlRows);
    std::printf("  pack, 10%% deleted %7.3f s\n", pack);
    std::printf("  append, exclusive %7.2f us/row   (%d rows)\n", bulkAppend * 1e6, bulkRows);
    std::printf("posts on disk before they are acknowledged (memo and two index tags, %d posts each)\n", durablePosts);
    std::printf("  append           %7.2f ms/post   ratio %.0fx to the same without the wait, %.1fx the disk's floor\n",
                durable->append * 1e3, durable->append / cached->append, durable->append / diskFloor);
    std::printf("  update           %7.2f ms/post   ratio %.0fx to the same without the wait, %.1fx the disk's floor\n",
                durable->update * 1e3, durable->update / cached->update, durable->update / diskFloor);
    std::printf("  disk floor       %7.2f ms (one small write and fdatasync)\n", diskFloor * 1e3);
    if (peerOk) {
        const double pAppend = p.value("append").toDouble() / p.value("rows").toDouble();
        const double pScan = p.value("scan").toDouble() / p.value("rows").toDouble();
        std::printf("python3-dbf (dBase III, %d rows)\n", p.value("rows").toInt());
        std::printf("  append           %7.2f us/row   ratio %.1fx shared, %.1fx exclusive\n", pAppend * 1e6,
                    pAppend / appendPerRow, pAppend / bulkAppend);
        std::printf("  scan, one field  %7.2f us/row   ratio %.1fx\n", pScan * 1e6, pScan / scanPerRow);
    } else {
        std::printf("python3-dbf peer did not run: %s\n", peer.readAllStandardError().constData());
    }
    return 0;
}
