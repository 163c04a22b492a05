// A second process for the locking tests: appends, updates or holds a table while the test watches.
#include "dbf/Table.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <thread>

using namespace qev::dbf;

namespace {

// Opens the table, waiting while another process holds it exclusively (or, for an exclusive open, at all).
std::unique_ptr<Table> openWaiting(const std::string& path, OpenMode mode) {
    for (int attempt = 0; attempt < 20000; ++attempt) {
        auto t = Table::open(path, mode);
        if (t) return std::move(t).value();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return nullptr;
}

// mix PATH SEED OPS: random appends, key changes, deletes and recalls on a table with fields (C_PED N, X_APE1 C),
// in batches of up to 40 with the table closed between them, and a pack after a third and after two thirds.
int mix(const std::string& path, int seed, int ops) {
    std::mt19937 rng(static_cast<unsigned>(seed));
    int done = 0;
    int packs = 0;
    while (done < ops) {
        if (packs < 2 && done >= ops * (packs + 1) / 3) {
            auto t = openWaiting(path, OpenMode::Exclusive);
            if (!t) return std::fprintf(stderr, "no exclusive open for the pack\n"), 1;
            if (auto r = t->pack(); !r) return std::fprintf(stderr, "pack: %s\n", r.error().c_str()), 1;
            ++packs;
            continue;
        }
        auto t = openWaiting(path, OpenMode::Shared);
        if (!t) return std::fprintf(stderr, "no shared open\n"), 1;
        const int batch = std::min<int>(ops - done, 1 + static_cast<int>(rng() % 40));
        for (int i = 0; i < batch; ++i, ++done) {
            const uint32_t n = t->recordCount();
            const unsigned what = n < 20 ? 0 : rng() % 10;
            const uint32_t recno = n == 0 ? 0 : 1 + static_cast<uint32_t>(rng() % n);
            const double key = static_cast<double>(rng() % 5000) - 100;
            const std::string name = "N" + std::to_string(rng() % 300);
            Result<void> r;
            if (what < 5) {
                auto a = t->append({Value(key), Value(name)});
                if (!a) r = fail(a.error());
            } else if (what < 8) {
                r = t->update(recno, {Value(key), what == 7 ? Value(name) : Value()});
            } else {
                r = t->setDeleted(recno, what == 8);
            }
            if (!r) return std::fprintf(stderr, "op %d: %s\n", done, r.error().c_str()), 1;
        }
        t.reset();
        // A moment with the table closed, so that the other process's pack gets its exclusive open.
        std::this_thread::sleep_for(std::chrono::microseconds(700));
    }
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    // Posts do not wait for the disk: a test process loses nothing the page cache holds.
    qev::dbf::Table::setSyncDefault(false);
    if (argc < 3) {
        std::fprintf(stderr, "usage: dbf_worker append|update|hold|mix PATH ...\n");
        return 2;
    }
    if (std::string(argv[1]) == "mix" && argc >= 5) return mix(argv[2], std::atoi(argv[3]), std::atoi(argv[4]));
    const std::string cmd = argv[1];
    const std::string path = argv[2];
    if (cmd == "hold") {
        // hold PATH shared|exclusive SECONDS: prints "ready" once the table is open.
        const bool exclusive = argc > 3 && std::strcmp(argv[3], "exclusive") == 0;
        const int seconds = argc > 4 ? std::atoi(argv[4]) : 5;
        auto t = Table::open(path, exclusive ? OpenMode::Exclusive : OpenMode::Shared);
        if (!t) {
            std::printf("refused: %s\n", t.error().c_str());
            return 1;
        }
        std::printf("ready\n");
        std::fflush(stdout);
        std::this_thread::sleep_for(std::chrono::seconds(seconds));
        return 0;
    }
    auto t = Table::open(path, OpenMode::Shared);
    if (!t) {
        std::fprintf(stderr, "%s\n", t.error().c_str());
        return 1;
    }
    if (cmd == "append" && argc >= 5) {
        // append PATH COUNT TAG: rows (TAG, i, "memo TAG i" repeated) in order.
        const int count = std::atoi(argv[3]);
        const std::string tag = argv[4];
        for (int i = 0; i < count; ++i) {
            std::string memo;
            for (int k = 0; k < 1 + i % 7; ++k)
                memo += "memo " + tag + " " + std::to_string(i) + ";";
            auto r = (*t)->append({Value(tag), Value(static_cast<double>(i)), Value(memo)});
            if (!r) {
                std::fprintf(stderr, "append: %s\n", r.error().c_str());
                return 1;
            }
        }
        return 0;
    }
    if (cmd == "update" && argc >= 4) {
        // update PATH ROUNDS: rewrites the memo of the first rows over and over with growing texts.
        const int rounds = std::atoi(argv[3]);
        for (int i = 0; i < rounds; ++i) {
            const uint32_t n = (*t)->recordCount();
            if (n == 0) continue;
            const uint32_t recno = 1 + static_cast<uint32_t>(i) % std::min<uint32_t>(n, 50);
            auto row = (*t)->read(recno);
            if (!row) {
                std::fprintf(stderr, "read: %s\n", row.error().c_str());
                return 1;
            }
            Record vals = row->values;
            const std::string base = vals[0].isNull() ? std::string() : vals[0].text();
            vals[2] = Value("updated " + base + " " + std::string(static_cast<size_t>(i % 900), 'x'));
            if (auto r = (*t)->update(recno, vals); !r) {
                std::fprintf(stderr, "update: %s\n", r.error().c_str());
                return 1;
            }
        }
        return 0;
    }
    std::fprintf(stderr, "unknown command\n");
    return 2;
}
