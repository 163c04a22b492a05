#include "dbf/sql/SqlValues.h"

#include "dbf/Codepage.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace qev::dbf::sql {

namespace {

bool readDigits(std::string_view s, size_t pos, size_t count, int& out) {
    if (pos + count > s.size()) return false;
    int v = 0;
    for (size_t i = pos; i < pos + count; ++i) {
        if (s[i] < '0' || s[i] > '9') return false;
        v = v * 10 + (s[i] - '0');
    }
    out = v;
    return true;
}

std::string trimBlanks(std::string_view s) {
    size_t b = 0;
    size_t e = s.size();
    while (b < e && (s[b] == ' ' || s[b] == '\t'))
        ++b;
    while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t'))
        --e;
    return std::string(s.substr(b, e - b));
}

std::string sqlText(sqlite3_value* v) {
    const auto* p = sqlite3_value_text(v);
    const int n = sqlite3_value_bytes(v);
    return p ? std::string(reinterpret_cast<const char*>(p), static_cast<size_t>(n)) : std::string();
}

// A number from an SQL value: integers and reals as they are, text only when it is wholly a number.
std::optional<double> sqlNumber(sqlite3_value* v) {
    switch (sqlite3_value_type(v)) {
    case SQLITE_INTEGER:
        return static_cast<double>(sqlite3_value_int64(v));
    case SQLITE_FLOAT:
        return sqlite3_value_double(v);
    case SQLITE_TEXT: {
        const std::string t = trimBlanks(sqlText(v));
        if (t.empty()) return std::nullopt;
        char* end = nullptr;
        const double d = std::strtod(t.c_str(), &end);
        if (end != t.c_str() + t.size() || !std::isfinite(d)) return std::nullopt;
        return d;
    }
    default:
        return std::nullopt;
    }
}

std::string describe(sqlite3_value* v) {
    switch (sqlite3_value_type(v)) {
    case SQLITE_BLOB:
        return "binary data";
    case SQLITE_TEXT:
        return "'" + sqlText(v) + "'";
    default:
        return sqlText(v);
    }
}

std::string typeName(const FieldDef& f) {
    switch (f.type) {
    case 'C':
        return "text " + std::to_string(f.length);
    case 'N':
    case 'F':
        return "number " + std::to_string(f.length) + "," + std::to_string(f.decimals);
    case 'L':
        return "logical";
    case 'D':
        return "date";
    case '@':
        return "date and time";
    case 'I':
    case '+':
        return "whole number";
    case 'O':
        return "number";
    case 'M':
        return "memo";
    default:
        return "binary";
    }
}

} // namespace

std::string dateText(const Date& d) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", d.year, d.month, d.day);
    return buf;
}

std::string dateTimeText(const DateTime& t) {
    std::string s = dateText(t.date);
    if (t.msOfDay == 0) return s;
    const int64_t secs = t.msOfDay / 1000;
    const int64_t ms = t.msOfDay % 1000;
    char buf[32];
    std::snprintf(buf, sizeof buf, " %02d:%02d:%02d", static_cast<int>(secs / 3600), static_cast<int>(secs / 60 % 60),
                  static_cast<int>(secs % 60));
    s += buf;
    if (ms != 0) {
        std::snprintf(buf, sizeof buf, ".%03d", static_cast<int>(ms));
        s += buf;
    }
    return s;
}

std::optional<DateTime> parseDateTimeText(std::string_view s) {
    DateTime t;
    if (s.size() < 10 || s[4] != '-' || s[7] != '-') return std::nullopt;
    if (!readDigits(s, 0, 4, t.date.year) || !readDigits(s, 5, 2, t.date.month) || !readDigits(s, 8, 2, t.date.day)) {
        return std::nullopt;
    }
    if (!t.date.valid()) return std::nullopt;
    if (s.size() == 10) return t;
    if (s[10] != ' ' && s[10] != 'T') return std::nullopt;
    int h = 0;
    int m = 0;
    int sec = 0;
    int ms = 0;
    if (s.size() < 16 || !readDigits(s, 11, 2, h) || s[13] != ':' || !readDigits(s, 14, 2, m)) return std::nullopt;
    size_t pos = 16;
    if (pos < s.size()) {
        if (s[pos] != ':' || !readDigits(s, pos + 1, 2, sec)) return std::nullopt;
        pos += 3;
        if (pos < s.size()) {
            if (s[pos] != '.' || pos + 1 == s.size()) return std::nullopt;
            int scale = 100;
            for (size_t i = pos + 1; i < s.size(); ++i) {
                if (s[i] < '0' || s[i] > '9') return std::nullopt;
                ms += (s[i] - '0') * scale; // digits past milliseconds are dropped
                scale /= 10;
            }
        }
    }
    if (h > 23 || m > 59 || sec > 59) return std::nullopt;
    t.msOfDay = ((h * 60 + m) * 60 + sec) * int64_t{1000} + ms;
    return t;
}

std::string declaredType(const FieldDef& f) {
    const std::string size = "(" + std::to_string(f.length) + "," + std::to_string(f.decimals) + ")";
    switch (f.type) {
    case 'C':
        return "CHAR(" + std::to_string(f.length) + ")";
    case 'M':
        return "TEXT";
    case 'N':
        return "NUMERIC" + size;
    case 'F':
        return "FLOAT" + size;
    case 'I':
        return "INTEGER";
    case '+':
        return "AUTOINC INTEGER";
    case 'O':
        return "DOUBLE";
    case 'L':
        return "BOOLEAN";
    case 'D':
        return "DATE";
    case '@':
        return "TIMESTAMP";
    case 'B':
        return "BLOB";
    case 'G':
        return "OLE BLOB";
    default:
        return "";
    }
}

char fieldTypeOfDeclared(const char* declared) {
    if (!declared) return 0;
    static const struct {
        const char* prefix;
        char type;
    } kTypes[] = {{"CHAR", 'C'},    {"TEXT", 'M'},      {"NUMERIC", 'N'}, {"FLOAT", 'F'},
                  {"INTEGER", 'I'}, {"AUTOINC", '+'},   {"DOUBLE", 'O'},  {"BOOLEAN", 'L'},
                  {"DATE", 'D'},    {"TIMESTAMP", '@'}, {"BLOB", 'B'},    {"OLE", 'G'}};
    for (const auto& t : kTypes) {
        if (sqlite3_strnicmp(declared, t.prefix, static_cast<int>(std::strlen(t.prefix))) == 0) return t.type;
    }
    return 0;
}

void setResult(sqlite3_context* ctx, const Value& v) {
    const auto& s = v.storage();
    if (v.isNull()) {
        sqlite3_result_null(ctx);
    } else if (const auto* text = std::get_if<std::string>(&s)) {
        sqlite3_result_text64(ctx, text->data(), text->size(), SQLITE_TRANSIENT, SQLITE_UTF8);
    } else if (const auto* d = std::get_if<double>(&s)) {
        sqlite3_result_double(ctx, *d);
    } else if (const auto* i = std::get_if<int64_t>(&s)) {
        sqlite3_result_int64(ctx, *i);
    } else if (const auto* b = std::get_if<bool>(&s)) {
        sqlite3_result_int(ctx, *b ? 1 : 0);
    } else if (const auto* date = std::get_if<Date>(&s)) {
        const std::string t = dateText(*date);
        sqlite3_result_text(ctx, t.c_str(), static_cast<int>(t.size()), SQLITE_TRANSIENT);
    } else if (const auto* dt = std::get_if<DateTime>(&s)) {
        const std::string t = dateTimeText(*dt);
        sqlite3_result_text(ctx, t.c_str(), static_cast<int>(t.size()), SQLITE_TRANSIENT);
    } else if (const auto* bytes = std::get_if<Bytes>(&s)) {
        sqlite3_result_blob64(ctx, bytes->data.data(), bytes->data.size(), SQLITE_TRANSIENT);
    }
}

int bindValue(sqlite3_stmt* stmt, int index, const Value& v) {
    const auto& s = v.storage();
    if (v.isNull()) return sqlite3_bind_null(stmt, index);
    if (const auto* text = std::get_if<std::string>(&s)) {
        return sqlite3_bind_text64(stmt, index, text->data(), text->size(), SQLITE_TRANSIENT, SQLITE_UTF8);
    }
    if (const auto* d = std::get_if<double>(&s)) return sqlite3_bind_double(stmt, index, *d);
    if (const auto* i = std::get_if<int64_t>(&s)) return sqlite3_bind_int64(stmt, index, *i);
    if (const auto* b = std::get_if<bool>(&s)) return sqlite3_bind_int(stmt, index, *b ? 1 : 0);
    std::string t;
    if (const auto* date = std::get_if<Date>(&s)) t = dateText(*date);
    if (const auto* dt = std::get_if<DateTime>(&s)) t = dateTimeText(*dt);
    if (const auto* bytes = std::get_if<Bytes>(&s)) {
        return sqlite3_bind_blob64(stmt, index, bytes->data.data(), bytes->data.size(), SQLITE_TRANSIENT);
    }
    return sqlite3_bind_text64(stmt, index, t.data(), t.size(), SQLITE_TRANSIENT, SQLITE_UTF8);
}

Value columnValue(sqlite3_stmt* stmt, int column, char fieldType) {
    switch (sqlite3_column_type(stmt, column)) {
    case SQLITE_INTEGER: {
        const int64_t i = sqlite3_column_int64(stmt, column);
        if (fieldType == 'L') return Value(i != 0);
        return Value(i);
    }
    case SQLITE_FLOAT:
        return Value(sqlite3_column_double(stmt, column));
    case SQLITE_TEXT: {
        const auto* p = reinterpret_cast<const char*>(sqlite3_column_text(stmt, column));
        std::string text(p, static_cast<size_t>(sqlite3_column_bytes(stmt, column)));
        if (fieldType == 'D' || fieldType == '@') {
            if (auto t = parseDateTimeText(text)) {
                if (fieldType == 'D') return Value(t->date);
                return Value(*t);
            }
        }
        return Value(std::move(text));
    }
    case SQLITE_BLOB: {
        const auto* p = static_cast<const char*>(sqlite3_column_blob(stmt, column));
        const auto n = static_cast<size_t>(sqlite3_column_bytes(stmt, column));
        return Value(Bytes{p ? std::string(p, n) : std::string()});
    }
    default:
        return Value();
    }
}

Result<Value> fieldValue(const FieldDef& field, sqlite3_value* v, std::string_view codepageName) {
    const int kind = sqlite3_value_type(v);
    if (kind == SQLITE_NULL) return Value();
    auto refuse = [&](const std::string& why) {
        return fail("field " + field.name + " (" + typeName(field) + ") cannot take " + describe(v) + ": " + why);
    };
    switch (field.type) {
    case 'C':
    case 'M': {
        if (kind == SQLITE_BLOB) return refuse("a text is expected");
        std::string text = sqlText(v);
        if (field.type == 'C') {
            // Trailing blanks are the field's padding anyway.
            while (!text.empty() && text.back() == ' ')
                text.pop_back();
            if (text.empty()) return Value();
        }
        std::string bytes;
        const Codepage& cp = Codepage::byName(codepageName);
        if (!cp.fromUtf8(text, bytes)) return refuse("it has characters that code page " + cp.name() + " cannot hold");
        if (field.type == 'C' && bytes.size() > static_cast<size_t>(field.length)) {
            return refuse("it is longer than " + std::to_string(field.length) + " characters");
        }
        return Value(std::move(text));
    }
    case 'N':
    case 'F': {
        const auto d = sqlNumber(v);
        if (!d) return refuse("a number is expected");
        char buf[512];
        std::snprintf(buf, sizeof buf, "%.*f", field.decimals, *d);
        std::string_view t(buf);
        if (!t.empty() && t[0] == '-' && t.find_first_not_of("-0.") == std::string_view::npos) t.remove_prefix(1);
        if (t.size() > static_cast<size_t>(field.length)) {
            return refuse("it does not fit in " + std::to_string(field.length) + " characters");
        }
        return Value(*d);
    }
    case 'I':
    case '+': {
        const auto d = sqlNumber(v);
        if (!d || *d != std::floor(*d) || *d < -2147483647.0 || *d > 2147483647.0) {
            return refuse("a 32-bit whole number is expected");
        }
        return Value(static_cast<int64_t>(*d));
    }
    case 'O': {
        const auto d = sqlNumber(v);
        if (!d) return refuse("a number is expected");
        return Value(*d);
    }
    case 'L': {
        if (kind == SQLITE_INTEGER || kind == SQLITE_FLOAT) return Value(sqlite3_value_double(v) != 0);
        if (kind == SQLITE_TEXT) {
            const std::string t = trimBlanks(sqlText(v));
            for (const char* yes : {"T", "Y", "TRUE"}) {
                if (sqlite3_stricmp(t.c_str(), yes) == 0) return Value(true);
            }
            for (const char* no : {"F", "N", "FALSE"}) {
                if (sqlite3_stricmp(t.c_str(), no) == 0) return Value(false);
            }
        }
        return refuse("a logical value is expected");
    }
    case 'D':
    case '@': {
        if (kind != SQLITE_TEXT) return refuse("a date is expected as YYYY-MM-DD");
        const std::string text = trimBlanks(sqlText(v));
        if (text.empty()) return Value();
        const auto t = parseDateTimeText(text);
        if (!t) return refuse("a date is expected as YYYY-MM-DD");
        // A date field keeps the day of a date-time.
        if (field.type == 'D') return Value(t->date);
        return Value(*t);
    }
    case 'B':
    case 'G': {
        if (kind == SQLITE_BLOB) {
            const auto* p = static_cast<const char*>(sqlite3_value_blob(v));
            const auto n = static_cast<size_t>(sqlite3_value_bytes(v));
            return Value(Bytes{p ? std::string(p, n) : std::string()});
        }
        return Value(Bytes{sqlText(v)});
    }
    default:
        return refuse("fields of this type cannot be written");
    }
}

} // namespace qev::dbf::sql
