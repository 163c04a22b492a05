#pragma once
// A read-only SQL data set over the dBase tables of the office folder: a statement with named parameters, run on
// open, and a current row over the rows it answered. A refused statement is reported through the prompter's error
// message and leaves the data set closed. The rows are a snapshot taken by open(); reopen to see later changes.
#include "dbf/Value.h"
#include "dbf/sql/SqlRunner.h"

#include <QObject>
#include <QString>
#include <QStringList>

#include <memory>

namespace qev {

class Prompter;

class SqlQuery : public QObject {
    Q_OBJECT
public:
    SqlQuery(QString folder, Prompter& prompter, QObject* parent = nullptr);
    ~SqlQuery() override;

    // Changing the statement closes the data set; the parameters stay.
    void setStatement(const QString& statement);
    const QString& statement() const { return m_statement; }
    void setParam(const QString& name, const dbf::Value& value);
    void clearParams() { m_params.clear(); }

    // Runs the statement; false (the reason shown and kept in lastError) when it is refused.
    [[nodiscard]] bool open();
    void close();
    bool active() const { return m_active; }
    const QString& lastError() const { return m_lastError; }

    int rowCount() const { return static_cast<int>(m_result.rows.size()); }
    bool isEmpty() const { return m_result.rows.empty(); }
    int position() const { return m_pos; } // -1 when closed or empty
    void first();
    void next();
    void prior();
    void last();
    void moveTo(int row);

    // Column names of the result, in order.
    QStringList columns() const;
    // Values of the current row or of any row; null (empty text) for a column the result does not have.
    dbf::Value value(const QString& field) const { return valueAt(m_pos, field); }
    QString text(const QString& field) const { return textAt(m_pos, field); }
    dbf::Value valueAt(int row, const QString& field) const;
    QString textAt(int row, const QString& field) const;

Q_SIGNALS:
    // The rows changed: opened, closed.
    void rowsReset();
    void currentChanged();

private:
    void setPos(int row);

    QString m_folder;
    Prompter& m_prompter;
    std::unique_ptr<dbf::sql::SqlRunner> m_runner;
    QString m_statement;
    dbf::sql::Params m_params;
    dbf::sql::SqlResult m_result;
    bool m_active = false;
    int m_pos = -1;
    QString m_lastError;
};

} // namespace qev
