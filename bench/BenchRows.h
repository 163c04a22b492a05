#pragma once
// Rows for the benchmarks' office folders.
#include "dbf/Table.h"

#include <algorithm>
#include <string>

namespace qev::bench {

// A plausible value for every stored field, varying with the row: texts fill part of their width, numbers fit
// their width, dates stay valid. Memo fields stay empty.
inline dbf::Record syntheticRow(const dbf::Table& t, int i) {
    static const char* const kWords[] = {"PEREZ",    "GOMEZ",  "RODRIGUEZ", "FERNANDEZ", "LOPEZ",
                                         "MARTINEZ", "GARCIA", "SANCHEZ",   "ROMERO",    "SOSA"};
    dbf::Record r(t.fields().size());
    for (size_t f = 0; f < t.fields().size(); ++f) {
        const dbf::FieldDef& d = t.fields()[f];
        switch (d.type) {
        case 'C': {
            std::string s = std::string(kWords[(static_cast<size_t>(i) + f) % 10]) + std::to_string(i % 997);
            if (static_cast<int>(s.size()) > d.length) s.resize(static_cast<size_t>(d.length));
            r[f] = dbf::Value(s);
            break;
        }
        case 'N':
        case 'F': {
            const int digits = d.length - (d.decimals > 0 ? d.decimals + 1 : 0);
            long limit = 1;
            for (int k = 0; k < std::min(digits, 9); ++k)
                limit *= 10;
            r[f] = dbf::Value(static_cast<double>((i + static_cast<long>(f)) % std::max(limit - 1, 1L)));
            break;
        }
        case 'D':
            r[f] = dbf::Value(dbf::Date{1970 + i % 50, 1 + i % 12, 1 + i % 28});
            break;
        case 'L':
            r[f] = dbf::Value(i % 3 == 0);
            break;
        default:
            break;
        }
    }
    const int key = t.fieldIndex("C_PED");
    if (key >= 0) r[static_cast<size_t>(key)] = dbf::Value(static_cast<double>(i + 1));
    return r;
}

} // namespace qev::bench
