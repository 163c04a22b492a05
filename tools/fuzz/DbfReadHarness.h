#pragma once
// Feeds arbitrary bytes to the table and memo readers: the first two bytes give the length of the table part,
// the rest is the memo file. Every reader path runs: header, rows, fields, memos, key index, an update and a
// pack on the damaged copy. Used by the fuzzer and by the regression test over saved crash inputs.

#include "dbf/Table.h"

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <string>

namespace qev::fuzz {

inline void writeFile(const std::string& path, const uint8_t* data, size_t size) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
}

inline void exerciseTableBytes(const std::string& folder, const uint8_t* data, size_t size) {
    if (size < 2) return;
    size_t tableSize = static_cast<size_t>(data[0] | data[1] << 8);
    data += 2;
    size -= 2;
    if (tableSize > size) tableSize = size;
    const std::string table = folder + "/F.DBF";
    const std::string memo = folder + "/F.DBT";
    writeFile(table, data, tableSize);
    writeFile(memo, data + tableSize, size - tableSize);
    for (int pass = 0; pass < 2; ++pass) {
        auto t = dbf::Table::open(table, pass == 0 ? dbf::OpenMode::ReadOnly : dbf::OpenMode::Exclusive);
        if (!t) break;
        dbf::Table& tb = **t;
        const uint32_t count = std::min<uint32_t>(tb.recordCount(), 256);
        for (uint32_t r = 1; r <= count; ++r) {
            auto row = tb.read(r);
            // A row that does not read whole is tried once field by field; the fields of the rows past the end
            // of a short file would only fail alike.
            for (int f = 0; f < static_cast<int>(tb.fields().size()); ++f)
                if (!tb.readField(r, f) && !row) break;
            if (!row && r > 1) break;
            if (pass == 1 && r == 1 && row) (void)tb.update(1, row->values);
        }
        if (!tb.fields().empty()) {
            (void)tb.setIndex(tb.fields().front().name);
            (void)tb.find(dbf::Value(1));
        }
        if (pass == 1) {
            (void)tb.append({dbf::Value("x")});
            (void)tb.pack();
        }
    }
    ::unlink(table.c_str());
    ::unlink(memo.c_str());
}

} // namespace qev::fuzz
