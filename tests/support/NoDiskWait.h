#pragma once
// Test programs and the processes they start do not wait for the disk after each post and each filed file: what
// they write need not outlive a power cut, and a process killed on purpose loses nothing the page cache holds. On a
// disk that takes tens of milliseconds per flush, waiting would stretch a test that appends a hundred thousand rows
// to hours. The waiting itself is measured by the table benchmark.
#include "dbf/Table.h"
#include "util/DiskSync.h"

namespace qev::test {

inline void skipDiskWaits() {
    dbf::Table::setSyncDefault(false);
    setDiskSync(false);
}

} // namespace qev::test
