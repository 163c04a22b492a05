#pragma once
// The slip data: the one request the central office holds behind a payment slip, as the slip lookup fetched it.
// It lives in memory only and is emptied before every fetch.
#include "dbf/Value.h"

#include <QString>

#include <optional>
#include <vector>

namespace qev {

class PedBol {
public:
    enum class Kind { Integer, SmallInteger, Text, DateTime, Decimal, Boolean };
    struct Field {
        const char* name;
        Kind kind;
        int size; // characters of a text field
    };
    // Every field, in the table's order; the names are those of the central office's data text.
    static const std::vector<Field>& fields();
    static const Field* field(const QString& name);

    void clear() { m_row.reset(); }
    bool isEmpty() const { return !m_row.has_value(); }
    // Starts a new row with every field null; it replaces the old row only when posted.
    void insert();
    // Sets a field of the new row from the central office's text; false (row untouched) when the text does not
    // convert to the field's type.
    bool setText(const QString& name, const QString& text);
    void post();
    void cancel() { m_pending.reset(); }

    // A field of the posted row; null when there is no row or the field is unknown.
    dbf::Value value(const QString& name) const;
    QString text(const QString& name) const;

private:
    std::optional<std::vector<dbf::Value>> m_row;
    std::optional<std::vector<dbf::Value>> m_pending;
};

// A date, or a date and time of day, as the central office writes them: "dd/mm/yyyy[ hh:mm[:ss]]" (one-digit day,
// month and hour accepted) or ISO "yyyy-mm-dd[Thh:mm:ss]".
std::optional<dbf::DateTime> parseCentralDateTime(const QString& text);

} // namespace qev
