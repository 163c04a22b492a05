#pragma once
// Feeds arbitrary bytes to the production index reader as the .MDX of a sound table with two tags (a
// number and a text): the table opens, the index is checked tag by tag against the rows, a row is appended and a
// key changed through the damaged index, and the index is regenerated. Answers whether the regenerated index
// checks clean with every row still there. Used by the fuzzer and by the engine tests.

#include "dbf/Table.h"

#include <unistd.h>

#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>

namespace qev::fuzz {

// The harness table's rows: enough for a root above several leaves in both tags.
constexpr int kIndexHarnessRows = 120;
inline dbf::Record indexHarnessRow(int i) {
    return {dbf::Value(1000 - i), dbf::Value(std::string(1 + i % 3, static_cast<char>('A' + i % 26)))};
}

// The harness table as bytes, made once per folder: rewriting them is much cheaper than appending the rows anew
// for every input.
inline const std::string* soundHarnessTable(const std::string& folder) {
    static std::string madeIn;
    static std::string bytes;
    if (madeIn == folder) return &bytes;
    const std::string table = folder + "/I.DBF";
    ::unlink(table.c_str());
    ::unlink((folder + "/I.MDX").c_str());
    dbf::CreateOptions o;
    o.indexTags = {"C_PED", "X_APE1"};
    {
        auto t = dbf::Table::create(table, {{"C_PED", 'N', 8, 0}, {"X_APE1", 'C', 15, 0}}, o);
        if (!t) return nullptr;
        for (int i = 0; i < kIndexHarnessRows; ++i)
            if (!(*t)->append(indexHarnessRow(i))) return nullptr;
    }
    std::ifstream in(table, std::ios::binary);
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    madeIn = folder;
    return &bytes;
}

inline bool exerciseIndexBytes(const std::string& folder, const uint8_t* data, size_t size) {
    const std::string table = folder + "/I.DBF";
    const std::string index = folder + "/I.MDX";
    const std::string* sound = soundHarnessTable(folder);
    if (!sound) return false;
    {
        std::ofstream out(table, std::ios::binary | std::ios::trunc);
        out.write(sound->data(), static_cast<std::streamsize>(sound->size()));
    }
    {
        std::ofstream out(index, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }
    {
        auto t = dbf::Table::open(table, dbf::OpenMode::Shared);
        if (!t) return false;
        (void)(*t)->checkIndexFile(true);
        (void)(*t)->append({dbf::Value(3), dbf::Value("NUEVO")});
        (void)(*t)->update(1, {dbf::Value(77), dbf::Value("OTRO")});
        (void)(*t)->checkIndexFile(false);
    }
    auto t = dbf::Table::open(table, dbf::OpenMode::Exclusive);
    if (!t || !(*t)->regenerateIndexFile(false)) return false;
    return (*t)->recordCount() == kIndexHarnessRows + 1 && (*t)->checkIndexFile(true).empty();
}

} // namespace qev::fuzz
