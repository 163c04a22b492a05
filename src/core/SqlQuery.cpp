#include "core/SqlQuery.h"

#include "core/Dataset.h"
#include "util/Prompter.h"

#include <algorithm>

namespace qev {

SqlQuery::SqlQuery(QString folder, Prompter& prompter, QObject* parent)
    : QObject(parent), m_folder(std::move(folder)), m_prompter(prompter) {}

SqlQuery::~SqlQuery() = default;

void SqlQuery::setStatement(const QString& statement) {
    close();
    m_statement = statement;
}

void SqlQuery::setParam(const QString& name, const dbf::Value& value) {
    QString key = name;
    if (key.startsWith(QLatin1Char(':'))) key.remove(0, 1);
    m_params[key.toLower().toStdString()] = value;
}

bool SqlQuery::open() {
    close();
    if (!m_runner) m_runner = std::make_unique<dbf::sql::SqlRunner>(m_folder.toStdString());
    auto result = m_runner->run(m_statement.toStdString(), m_params);
    if (!result) {
        m_lastError = QString::fromStdString(result.error());
        m_prompter.error(m_lastError, QStringLiteral("Error"));
        return false;
    }
    m_lastError.clear();
    m_result = std::move(result).value();
    m_active = true;
    m_pos = m_result.rows.empty() ? -1 : 0;
    Q_EMIT rowsReset();
    Q_EMIT currentChanged();
    return true;
}

void SqlQuery::close() {
    if (!m_active) return;
    m_active = false;
    m_result = {};
    m_pos = -1;
    Q_EMIT rowsReset();
    Q_EMIT currentChanged();
}

void SqlQuery::setPos(int row) {
    if (m_result.rows.empty()) return;
    row = std::clamp(row, 0, rowCount() - 1);
    if (row == m_pos) return;
    m_pos = row;
    Q_EMIT currentChanged();
}

void SqlQuery::first() {
    setPos(0);
}

void SqlQuery::next() {
    setPos(m_pos + 1);
}

void SqlQuery::prior() {
    setPos(m_pos - 1);
}

void SqlQuery::last() {
    setPos(rowCount() - 1);
}

void SqlQuery::moveTo(int row) {
    setPos(row);
}

QStringList SqlQuery::columns() const {
    QStringList names;
    for (const dbf::sql::Column& c : m_result.columns)
        names << QString::fromStdString(c.name);
    return names;
}

dbf::Value SqlQuery::valueAt(int row, const QString& field) const {
    if (row < 0 || row >= rowCount()) return {};
    const int column = m_result.columnIndex(field.toStdString());
    if (column < 0) return {};
    return m_result.rows[static_cast<size_t>(row)][static_cast<size_t>(column)];
}

QString SqlQuery::textAt(int row, const QString& field) const {
    return valueText(valueAt(row, field));
}

} // namespace qev
