#include "requests/RequestDataText.h"

namespace qev {

RequestDataText::RequestDataText(const QString& text) {
    QString current;
    for (const QChar c : text) {
        if (c == QLatin1Char('|')) {
            m_items.append(current);
            current.clear();
        } else {
            current.append(c);
        }
    }
}

std::optional<QString> RequestDataText::value(const QString& name) const {
    for (const QString& item : m_items) {
        const qsizetype eq = item.indexOf(QLatin1Char('='));
        if (eq < 0) continue;
        if (QStringView(item).left(eq) == name) return item.mid(eq + 1);
    }
    return std::nullopt;
}

} // namespace qev
