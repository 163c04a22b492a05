// The process the kill tests kill: it posts to a table of the shape (C_PED N, X_APE1 C, X_OBS M) with a production
// index on C_PED and X_APE1, without end, and writes one line to stdout after every post the engine acknowledged.
//   append PATH FIRST     rows FIRST, FIRST+1, ...              "A <id>"
//   update PATH FIRST     the name and memo of random rows     "U <recno> <version>"
//   delete PATH SEED      random rows deleted or recalled      "D <recno> <0|1>"
//   pack PATH FIRST       appends, deletes, packs              "A <id>", "D <id>", "P"
//   restructure PATH 0    adds a field, widens it, drops it    "F <length>" (0: dropped)
// Row contents follow from their numbers (killWorkerName, killWorkerMemo), so the test can tell a whole row from a
// torn one.
#include "KillWorker.h"

#include "dbf/Table.h"

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <thread>
#include <vector>

using namespace qev::dbf;
namespace test = qev::test;

namespace {

void ack(const std::string& line) {
    const std::string l = line + "\n";
    if (::write(1, l.data(), l.size()) != static_cast<ssize_t>(l.size())) std::_Exit(3);
}

[[noreturn]] void die(const std::string& what) {
    std::fprintf(stderr, "%s\n", what.c_str());
    std::_Exit(1);
}

std::unique_ptr<Table> openWaiting(const std::string& path, OpenMode mode) {
    for (int attempt = 0; attempt < 20000; ++attempt) {
        auto t = Table::open(path, mode);
        if (t) return std::move(t).value();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    die("cannot open " + path);
}

// The row of id `id` (C_PED is the id).
std::optional<uint32_t> rowOf(Table& t, long id) {
    auto f = t.find(Value(static_cast<double>(id)));
    if (!f) die(f.error());
    return *f;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 4) die("usage: dbf_kill_worker append|update|delete|pack|restructure PATH N");
    // A kill loses nothing the page cache holds, so posts need not wait for the disk; on a slow disk waiting would
    // only make the rounds long.
    Table::setSyncDefault(false);
    const std::string kind = argv[1];
    const std::string path = argv[2];
    const long first = std::atol(argv[3]);
    std::mt19937 rng(static_cast<unsigned>(first));
    if (kind == "restructure") {
        // Over and over: a field F1 is added, widened, and dropped again.
        std::vector<FieldDef> base = openWaiting(path, OpenMode::ReadOnly)->fields();
        std::erase_if(base, [](const FieldDef& f) { return f.name == "F1"; });
        // A killed worker's last step may be done: the next one goes on from what the table holds.
        int width = 0;
        {
            auto t = openWaiting(path, OpenMode::ReadOnly);
            if (const int f = t->fieldIndex("F1"); f >= 0) width = t->fields()[static_cast<size_t>(f)].length;
        }
        for (;;) {
            if (width == 0) {
                if (auto r = addField(path, {"F1", 'C', 4, 0}); !r) die(r.error());
                ack("F 4");
            }
            if (width <= 4) {
                if (auto r = widenField(path, "F1", 9); !r) die(r.error());
                ack("F 9");
            }
            width = 0;
            auto x = openWaiting(path, OpenMode::Exclusive);
            if (auto r = x->restructure(base); !r) die(r.error());
            x.reset();
            ack("F 0");
        }
    }
    auto t = openWaiting(path, OpenMode::Shared);
    if (auto r = t->setIndex("C_PED"); !r) die(r.error());
    if (kind == "append") {
        for (long id = first;; ++id) {
            auto r = t->append({Value(static_cast<double>(id)), Value(test::killWorkerName(id, 0)),
                                Value(test::killWorkerMemo(id, 0))});
            if (!r) die(r.error());
            ack("A " + std::to_string(id));
        }
    }
    if (kind == "update") {
        for (long version = first;; ++version) {
            const uint32_t n = t->recordCount();
            const auto recno = 1 + static_cast<uint32_t>(rng() % n);
            // The id stays; the tagged name and the memo change together, to a memo of 1 to 9000 bytes.
            auto id = t->readField(recno, 0);
            if (!id) die(id.error());
            if (auto r = t->update(recno, {*id, Value(test::killWorkerName(static_cast<long>(id->number()), version)),
                                           Value(test::killWorkerMemo(static_cast<long>(id->number()), version))});
                !r)
                die(r.error());
            ack("U " + std::to_string(recno) + " " + std::to_string(version));
        }
    }
    if (kind == "delete") {
        for (;;) {
            const auto recno = 1 + static_cast<uint32_t>(rng() % t->recordCount());
            const bool deleted = rng() % 2 == 0;
            if (auto r = t->setDeleted(recno, deleted); !r) die(r.error());
            ack("D " + std::to_string(recno) + (deleted ? " 1" : " 0"));
        }
    }
    if (kind == "pack") {
        for (long id = first;;) {
            for (int i = 0; i < 3; ++i, ++id) {
                if (auto r = t->append({Value(static_cast<double>(id)), Value(test::killWorkerName(id, 0)),
                                        Value(test::killWorkerMemo(id, 0))});
                    !r)
                    die(r.error());
                ack("A " + std::to_string(id));
            }
            for (int i = 0; i < 2; ++i) {
                const long victim = first + static_cast<long>(rng() % static_cast<unsigned>(id - first));
                const auto recno = rowOf(*t, victim);
                if (!recno) continue; // packed away already
                if (auto r = t->setDeleted(*recno, true); !r) die(r.error());
                ack("D " + std::to_string(victim));
            }
            t.reset();
            auto x = openWaiting(path, OpenMode::Exclusive);
            if (auto r = x->pack(); !r) die(r.error());
            ack("P");
            x.reset();
            t = openWaiting(path, OpenMode::Shared);
            if (auto r = t->setIndex("C_PED"); !r) die(r.error());
        }
    }
    die("unknown kind " + kind);
}
