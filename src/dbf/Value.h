#pragma once
// A field value as the engine hands it out: null, or one typed value per field family.

#include <cstdint>
#include <string>
#include <variant>

namespace qev::dbf {

// A calendar date (proleptic Gregorian).
struct Date {
    int year = 0;
    int month = 0;
    int day = 0;
    bool valid() const;
    // Days since 0001-01-01 counted from 1 (0001-01-01 is day 1).
    int64_t ordinal() const;
    static Date fromOrdinal(int64_t ordinal);
    // Julian day number at noon of the date (2024-02-29 -> 2460370).
    int64_t julianDay() const { return ordinal() + 1721425; }
    static Date fromJulianDay(int64_t jd) { return fromOrdinal(jd - 1721425); }
    std::string iso() const; // YYYY-MM-DD
    auto operator<=>(const Date&) const = default;
};

// A date with milliseconds since midnight.
struct DateTime {
    Date date;
    int64_t msOfDay = 0;
    auto operator<=>(const DateTime&) const = default;
};

// Raw bytes of a binary or OLE memo field.
struct Bytes {
    std::string data;
    auto operator<=>(const Bytes&) const = default;
};

class Value {
public:
    using Storage = std::variant<std::monostate, std::string, double, int64_t, bool, Date, DateTime, Bytes>;

    Value() = default;
    Value(std::string s) : m_v(std::move(s)) {}
    Value(const char* s) : m_v(std::string(s)) {}
    Value(double d) : m_v(d) {}
    Value(int i) : m_v(static_cast<int64_t>(i)) {}
    Value(int64_t i) : m_v(i) {}
    Value(bool b) : m_v(b) {}
    Value(Date d) : m_v(d) {}
    Value(DateTime t) : m_v(t) {}
    Value(Bytes b) : m_v(std::move(b)) {}

    bool isNull() const { return m_v.index() == 0; }
    bool isText() const { return std::holds_alternative<std::string>(m_v); }
    bool isDouble() const { return std::holds_alternative<double>(m_v); }
    bool isInt() const { return std::holds_alternative<int64_t>(m_v); }
    bool isNumber() const { return isDouble() || isInt(); }
    bool isBool() const { return std::holds_alternative<bool>(m_v); }
    bool isDate() const { return std::holds_alternative<Date>(m_v); }
    bool isDateTime() const { return std::holds_alternative<DateTime>(m_v); }
    bool isBytes() const { return std::holds_alternative<Bytes>(m_v); }

    const std::string& text() const { return std::get<std::string>(m_v); }
    double number() const { return isInt() ? static_cast<double>(std::get<int64_t>(m_v)) : std::get<double>(m_v); }
    int64_t integer() const;
    bool boolean() const { return std::get<bool>(m_v); }
    const Date& date() const { return std::get<Date>(m_v); }
    const DateTime& dateTime() const { return std::get<DateTime>(m_v); }
    const Bytes& bytes() const { return std::get<Bytes>(m_v); }
    const Storage& storage() const { return m_v; }

    // Text for display and dumps: dates as YYYY-MM-DD, logicals as T/F, null as empty.
    std::string toString() const;

    bool operator==(const Value& o) const { return m_v == o.m_v; }

private:
    Storage m_v;
};

// Total order used by key indexes: null first, then numbers, texts, dates, logicals (same-family values compare
// naturally).
int compareValues(const Value& a, const Value& b);

} // namespace qev::dbf
