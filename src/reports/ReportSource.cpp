#include "reports/ReportSource.h"

namespace qev::reports {

QString ReportSource::lookup(const QString& component, const QString& keyField, const dbf::Value& key,
                             const QString& resultField) const {
    if (key.isNull()) return QString();
    Dataset* ds = get(component);
    if (!ds || !ds->active()) return QString();
    return toQString(ds->lookupValue(keyField, key, resultField));
}

QString joinBlank(std::initializer_list<QString> parts) {
    QString s;
    bool first = true;
    for (const QString& p : parts) {
        if (!first) s += QLatin1Char(' ');
        s += p;
        first = false;
    }
    return s;
}

QString fieldText(const Dataset& ds, const QString& field) {
    if (!ds.hasField(field) && !ds.isLookupField(field)) return QString();
    return ds.text(field);
}

QString fechaEnPalabras(const QDate& date) {
    static const char* const kMonths[] = {"enero", "febrero", "marzo",      "abril",   "mayo",      "junio",
                                          "julio", "agosto",  "septiembre", "octubre", "noviembre", "diciembre"};
    if (!date.isValid()) return QString();
    return QStringLiteral("%1 de %2 de %3")
        .arg(date.day(), 2, 10, QLatin1Char('0'))
        .arg(QString::fromLatin1(kMonths[date.month() - 1]))
        .arg(date.year(), 4, 10, QLatin1Char('0'));
}

} // namespace qev::reports

namespace qev::reports {

OfficeTables::OfficeTables(QString folder) : m_folder(std::move(folder)) {}

OfficeTables::~OfficeTables() = default;

bool OfficeTables::open(QString* error) {
    for (const TableSpec& layout : officeTables()) {
        auto ds = std::make_unique<Dataset>(m_folder, layout);
        if (!ds->open()) {
            if (error)
                *error = QStringLiteral("No se pudo abrir la tabla %1 de la carpeta %2: %3")
                             .arg(layout.fileName, m_folder, ds->lastError());
            m_tables.clear();
            return false;
        }
        m_tables.emplace(layout.component.toLower(), std::move(ds));
    }
    return true;
}

Dataset* OfficeTables::table(const QString& component) const {
    auto it = m_tables.find(component.toLower());
    return it == m_tables.end() ? nullptr : it->second.get();
}

ReportSource OfficeTables::source(const QDate& today) const {
    return ReportSource{m_folder, [this](const QString& c) { return table(c); }, today};
}

} // namespace qev::reports
