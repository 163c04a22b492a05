// A second process for the locking tests: appends, updates or holds a table while the test watches.
#include "dbf/Table.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

using namespace qev::dbf;

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: dbf_worker append|update|hold PATH ...\n");
        return 2;
    }
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
