#pragma once
// The consistency check of one table file: its header, its size against the record count, every memo pointer
// against the .DBT, every field of every record and every tag of its production index. Reads only; never changes
// the files.

#include <QString>
#include <QStringList>

#include <cstdint>

namespace qev::tools {

struct CheckReport {
    enum class Status { Ok, Problems, Unreadable };
    Status status = Status::Ok;
    // One line per problem, naming the file and, when the problem lies there, the record and the field.
    QStringList problems;
    // Problems found beyond those listed (a badly damaged file would otherwise print one line per field).
    int unlisted = 0;
    uint32_t declaredRecords = 0;
    uint32_t checkedRecords = 0;
};

CheckReport checkTable(const QString& path, int maxListed = 1000);

} // namespace qev::tools
