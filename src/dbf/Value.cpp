#include "dbf/Value.h"

#include <cmath>
#include <cstdio>

namespace qev::dbf {

namespace {

bool leapYear(int y) {
    return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}

int daysInMonth(int y, int m) {
    static const int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return m == 2 && leapYear(y) ? 29 : kDays[m - 1];
}

// Days from 0000-03-01 in the proleptic Gregorian calendar, computed by eras of 400 years.
int64_t daysFromMarchEpoch(int64_t y, int m, int d) {
    if (m <= 2) --y;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const int64_t yoe = y - era * 400;
    const int64_t mp = (m + 9) % 12; // March is 0
    const int64_t doy = (153 * mp + 2) / 5 + d - 1;
    const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe;
}

// 0001-01-01 counted from the March epoch.
const int64_t kOrdinalBase = daysFromMarchEpoch(1, 1, 1);

} // namespace

bool Date::valid() const {
    return year >= 1 && year <= 9999 && month >= 1 && month <= 12 && day >= 1 && day <= daysInMonth(year, month);
}

int64_t Date::ordinal() const {
    return daysFromMarchEpoch(year, month, day) - kOrdinalBase + 1;
}

Date Date::fromOrdinal(int64_t ordinal) {
    const int64_t z = ordinal - 1 + kOrdinalBase;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const int64_t doe = z - era * 146097;
    const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const int64_t mp = (5 * doy + 2) / 153;
    const int d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    const int m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    const int64_t y = yoe + era * 400 + (m <= 2 ? 1 : 0);
    return Date{static_cast<int>(y), m, d};
}

std::string Date::iso() const {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", year, month, day);
    return buf;
}

int64_t Value::integer() const {
    if (isInt()) return std::get<int64_t>(m_v);
    return static_cast<int64_t>(std::llround(std::get<double>(m_v)));
}

std::string Value::toString() const {
    struct Visitor {
        std::string operator()(std::monostate) const { return {}; }
        std::string operator()(const std::string& s) const { return s; }
        std::string operator()(double d) const {
            char buf[64];
            if (d == std::floor(d) && std::fabs(d) < 1e15) {
                std::snprintf(buf, sizeof buf, "%.0f", d);
            } else {
                std::snprintf(buf, sizeof buf, "%.10g", d);
            }
            return buf;
        }
        std::string operator()(int64_t i) const { return std::to_string(i); }
        std::string operator()(bool b) const { return b ? "T" : "F"; }
        std::string operator()(const Date& d) const { return d.iso(); }
        std::string operator()(const DateTime& t) const {
            char buf[32];
            const int64_t s = t.msOfDay / 1000;
            std::snprintf(buf, sizeof buf, " %02d:%02d:%02d", static_cast<int>(s / 3600), static_cast<int>(s / 60 % 60),
                          static_cast<int>(s % 60));
            return t.date.iso() + buf;
        }
        std::string operator()(const Bytes& b) const { return "<" + std::to_string(b.data.size()) + " bytes>"; }
    };
    return std::visit(Visitor{}, m_v);
}

namespace {

int family(const Value& v) {
    if (v.isNull()) return 0;
    if (v.isNumber()) return 1;
    if (v.isText()) return 2;
    if (v.isDate() || v.isDateTime()) return 3;
    if (v.isBool()) return 4;
    return 5;
}

template <typename T> int cmp(const T& a, const T& b) {
    return a < b ? -1 : (b < a ? 1 : 0);
}

} // namespace

int compareValues(const Value& a, const Value& b) {
    const int fa = family(a);
    const int fb = family(b);
    if (fa != fb) return fa < fb ? -1 : 1;
    switch (fa) {
    case 0:
        return 0;
    case 1:
        if (a.isInt() && b.isInt()) return cmp(a.integer(), b.integer());
        return cmp(a.number(), b.number());
    case 2:
        return cmp(a.text(), b.text());
    case 3: {
        const DateTime da = a.isDate() ? DateTime{a.date(), 0} : a.dateTime();
        const DateTime db = b.isDate() ? DateTime{b.date(), 0} : b.dateTime();
        return cmp(da, db);
    }
    case 4:
        return cmp(a.boolean(), b.boolean());
    default:
        return cmp(a.bytes(), b.bytes());
    }
}

} // namespace qev::dbf
