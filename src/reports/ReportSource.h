#pragma once
// Where the reports read their data: the office folder (for the rows a report reads again by number) and the
// data module's table cursors by component name, whose current rows are the request being printed.
#include "core/Dataset.h"

#include <QDate>
#include <QString>

#include <functional>

namespace qev::reports {

struct ReportSource {
    QString folder;
    std::function<Dataset*(const QString&)> table;
    QDate today; // the print date

    Dataset* get(const QString& component) const { return table ? table(component) : nullptr; }
    // `resultField` of the row of lookup table `component` whose `keyField` is `key`; empty for a null key or no
    // match.
    QString lookup(const QString& component, const QString& keyField, const dbf::Value& key,
                   const QString& resultField) const;
};

// Texts joined by single blanks, empty parts included ("ANA  PAZ" for a missing middle name).
QString joinBlank(std::initializer_list<QString> parts);
// A field of the current row as text: empty for null, dates dd/MM/yyyy, numbers without decimals.
QString fieldText(const Dataset& ds, const QString& field);
// "05 de marzo de 2026": the two-digit day, "de", the month's Spanish name, "de", the four-digit year; empty for an
// invalid date.
QString fechaEnPalabras(const QDate& date);

} // namespace qev::reports

#include <map>
#include <memory>

namespace qev::reports {

// The office tables of a folder opened on their own, for printing without the data module (the admin command and
// the benchmark).
class OfficeTables {
public:
    explicit OfficeTables(QString folder);
    ~OfficeTables();
    // False with the reason when a table of the office cannot be opened.
    [[nodiscard]] bool open(QString* error);
    Dataset* table(const QString& component) const;
    ReportSource source(const QDate& today) const;

private:
    QString m_folder;
    std::map<QString, std::unique_ptr<Dataset>> m_tables; // by lower-case component
};

} // namespace qev::reports
