#pragma once
// The request data text of the central office: items "name=value", each ended by "|". Text after the last "|"
// is not an item.
#include <QString>
#include <QStringList>

#include <optional>

namespace qev {

class RequestDataText {
public:
    explicit RequestDataText(const QString& text);

    const QStringList& items() const { return m_items; }
    int size() const { return static_cast<int>(m_items.size()); }
    // Fewer than two items is no data.
    bool hasData() const { return m_items.size() >= 2; }
    // The value of the first item whose text before its first "=" is `name`; nothing when there is none.
    std::optional<QString> value(const QString& name) const;
    // The value, or empty text.
    QString text(const QString& name) const { return value(name).value_or(QString()); }

private:
    QStringList m_items;
};

} // namespace qev
