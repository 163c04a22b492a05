#include "core/Dataset.h"

#include "util/Prompter.h"

#include <QDate>
#include <QRegularExpression>
#include <cmath>

namespace qev {

using dbf::Value;

QString formatDate(const dbf::Date& d) {
    return QStringLiteral("%1/%2/%3")
        .arg(d.day, 2, 10, QLatin1Char('0'))
        .arg(d.month, 2, 10, QLatin1Char('0'))
        .arg(d.year, 4, 10, QLatin1Char('0'));
}

std::optional<dbf::Date> parseDate(const QString& text) {
    static const QRegularExpression re(QStringLiteral("^\\s*(\\d{1,2})/(\\d{1,2})/(\\d{2}|\\d{4})\\s*$"));
    const auto m = re.match(text);
    if (!m.hasMatch()) return std::nullopt;
    int year = m.captured(3).toInt();
    if (m.captured(3).size() == 2) year += year < 50 ? 2000 : 1900;
    dbf::Date d{year, m.captured(2).toInt(), m.captured(1).toInt()};
    if (!d.valid()) return std::nullopt;
    return d;
}

dbf::Value fromQDate(const QDate& d) {
    if (!d.isValid()) return Value();
    return Value(dbf::Date{d.year(), d.month(), d.day()});
}

QDate toQDate(const dbf::Value& v) {
    if (v.isDate()) return QDate(v.date().year, v.date().month, v.date().day);
    if (v.isDateTime()) return QDate(v.dateTime().date.year, v.dateTime().date.month, v.dateTime().date.day);
    return QDate();
}

QString valueText(const dbf::Value& v, const dbf::FieldDef* def) {
    if (v.isNull()) return QString();
    if (v.isText()) return QString::fromStdString(v.text());
    if (v.isBool()) return v.boolean() ? QStringLiteral("True") : QStringLiteral("False");
    if (v.isDate()) return formatDate(v.date());
    if (v.isDateTime()) {
        const auto& dt = v.dateTime();
        const qint64 s = dt.msOfDay / 1000;
        return formatDate(dt.date) + QStringLiteral(" %1:%2:%3")
                                         .arg(s / 3600, 2, 10, QLatin1Char('0'))
                                         .arg((s / 60) % 60, 2, 10, QLatin1Char('0'))
                                         .arg(s % 60, 2, 10, QLatin1Char('0'));
    }
    if (v.isInt()) return QString::number(v.integer());
    if (v.isDouble()) {
        const int decimals = def ? def->decimals : -1;
        if (decimals > 0) return QString::number(v.number(), 'f', decimals);
        const double n = v.number();
        if (std::abs(n) < 1e15 && n == std::floor(n)) return QString::number(static_cast<qint64>(n));
        return QString::number(n, 'g', 15);
    }
    if (v.isBytes()) return QString();
    return QString::fromStdString(v.toString());
}

QString toQString(const dbf::Value& v) {
    return valueText(v);
}

Dataset::Dataset(QString folder, TableSpec table, QObject* parent)
    : QObject(parent), m_folder(std::move(folder)), m_spec(std::move(table)) {}

Dataset::~Dataset() = default;

void Dataset::fail(const QString& message) {
    m_lastError = message;
    if (m_prompter) m_prompter->error(message, QStringLiteral("Error"));
}

bool Dataset::open() {
    if (m_table) return true;
    auto t = openOfficeTable(m_folder, m_spec, m_exclusive ? dbf::OpenMode::Exclusive : dbf::OpenMode::Shared);
    if (!t) {
        fail(QString::fromStdString(t.error()));
        return false;
    }
    return open(std::move(t).value());
}

bool Dataset::open(std::unique_ptr<dbf::Table> table) {
    if (m_table) return true;
    m_table = std::move(table);
    m_state = State::Browse;
    m_lastError.clear();
    loadRows();
    setPos(m_recnos.empty() ? -1 : 0);
    Q_EMIT stateChanged();
    Q_EMIT rowsReset();
    Q_EMIT dataChanged();
    return true;
}

void Dataset::close() {
    if (!m_table) return;
    m_table.reset();
    m_recnos.clear();
    m_pos = -1;
    m_row.clear();
    m_buffer.clear();
    m_calc.clear();
    m_cachedRecno = 0;
    setState(State::Inactive);
    Q_EMIT rowsReset();
    Q_EMIT dataChanged();
}

const std::vector<dbf::FieldDef>& Dataset::fields() const {
    if (m_table) return m_table->fields();
    return m_spec.fields;
}

int Dataset::fieldIndex(const QString& name) const {
    if (m_table) return m_table->fieldIndex(name.toStdString());
    return m_spec.fieldIndex(name);
}

bool Dataset::hasField(const QString& name) const {
    return fieldIndex(name) >= 0;
}

const dbf::FieldDef* Dataset::fieldDef(const QString& name) const {
    const int i = fieldIndex(name);
    return i < 0 ? nullptr : &fields()[static_cast<size_t>(i)];
}

uint32_t Dataset::recno() const {
    return m_pos < 0 ? 0 : m_recnos[static_cast<size_t>(m_pos)];
}

bool Dataset::rowVisible(uint32_t rn) const {
    if (!m_master && !(m_filtered && filterRecord)) return true;
    auto row = m_table->read(rn);
    if (!row) return false;
    if (m_master) {
        const Value mv = m_master->value(m_masterField);
        if (mv.isNull() || dbf::compareValues(storedValue(row->values, m_detailField), mv) != 0) return false;
    }
    if (m_filtered && filterRecord) {
        m_probe = &row->values;
        const bool ok = filterRecord(*this);
        m_probe = nullptr;
        return ok;
    }
    return true;
}

bool Dataset::loadRows() {
    m_recnos.clear();
    m_cachedRecno = 0;
    if (!m_table) return false;
    if (m_master && (!m_master->active() || m_master->isEmpty() || m_master->state() == State::Insert)) return true;
    std::vector<uint32_t> candidates;
    if (!m_table->indexField().empty()) {
        auto ordered = m_table->orderedRecords();
        if (!ordered) {
            m_lastError = QString::fromStdString(ordered.error());
            return false;
        }
        candidates = std::move(ordered).value();
    } else {
        const uint32_t n = m_table->recordCount();
        candidates.reserve(n);
        for (uint32_t rn = 1; rn <= n; ++rn) {
            auto del = m_table->isDeleted(rn);
            if (del && !*del) candidates.push_back(rn);
        }
    }
    for (uint32_t rn : candidates)
        if (rowVisible(rn)) m_recnos.push_back(rn);
    return true;
}

void Dataset::readCurrent() {
    m_row.clear();
    if (m_pos >= 0 && m_table) {
        auto r = m_table->read(recno());
        if (r)
            m_row = std::move(r->values);
        else
            m_lastError = QString::fromStdString(r.error());
    }
    calcFields();
}

void Dataset::calcFields() {
    if (m_inCalc) return;
    m_calc.clear();
    if (onCalcFields && (m_pos >= 0 || editing())) {
        m_inCalc = true;
        onCalcFields(*this);
        m_inCalc = false;
    }
}

void Dataset::setPos(int row) {
    const int count = rowCount();
    if (count == 0) {
        m_pos = -1;
        m_bof = m_eof = true;
    } else {
        // Like the old cursors: BOF only after First or a Prior at the top, EOF only after Last or a Next at the end.
        m_pos = std::clamp(row, 0, count - 1);
        m_bof = row < 0;
        m_eof = row >= count;
    }
    readCurrent();
}

void Dataset::setState(State s) {
    if (m_state == s) return;
    m_state = s;
    Q_EMIT stateChanged();
}

void Dataset::moveTo(int row) {
    if (!m_table) return;
    if (editing() && !post()) return;
    setPos(row);
    if (afterScroll) afterScroll(*this);
    Q_EMIT dataChanged();
}

void Dataset::first() {
    moveTo(0);
    m_bof = true;
}

void Dataset::last() {
    moveTo(rowCount() - 1);
    m_eof = true;
}

void Dataset::next() {
    if (m_pos >= rowCount() - 1) {
        m_eof = true;
        return;
    }
    moveTo(m_pos + 1);
}

void Dataset::prior() {
    if (m_pos <= 0) {
        m_bof = true;
        return;
    }
    moveTo(m_pos - 1);
}

bool Dataset::locate(const QString& field, const Value& key) {
    if (!m_table) return false;
    for (int i = 0; i < rowCount(); ++i) {
        if (dbf::compareValues(valueAt(i, field), key) == 0) {
            // Leaving a row being edited posts it first; when that post is refused the cursor stays where it was,
            // and a caller must not take the edited row for the one it looked for.
            moveTo(i);
            return m_pos == i;
        }
    }
    return false;
}

void Dataset::refresh() {
    if (!m_table || editing()) return;
    const uint32_t keep = recno();
    m_table->flush();
    // Other workstations may have deleted or re-keyed rows: read the keys again.
    if (!m_table->indexField().empty()) (void)m_table->rebuildIndex();
    loadRows();
    int row = 0;
    for (size_t i = 0; i < m_recnos.size(); ++i)
        if (m_recnos[i] == keep) row = static_cast<int>(i);
    setPos(m_recnos.empty() ? -1 : row);
    Q_EMIT rowsReset();
    Q_EMIT dataChanged();
}

Value Dataset::storedValue(const dbf::Record& row, const QString& field) const {
    const int i = fieldIndex(field);
    if (i < 0 || static_cast<size_t>(i) >= row.size()) return Value();
    return row[static_cast<size_t>(i)];
}

Value Dataset::computedValue(const QString& field, const dbf::Record& row, const QHash<QString, Value>& calc) const {
    const QString upper = field.toUpper();
    auto lk = m_lookups.constFind(upper);
    if (lk != m_lookups.cend()) {
        const Value key = storedValue(row, lk->keyField);
        if (key.isNull() || !lk->lookup) return Value();
        return lk->lookup->lookupValue(lk->lookupKey, key, lk->resultField);
    }
    auto c = calc.constFind(upper);
    if (c != calc.cend()) return *c;
    return storedValue(row, field);
}

Value Dataset::value(const QString& field) const {
    if (m_probe) return computedValue(field, *m_probe, {});
    if (editing()) return computedValue(field, m_buffer, m_calc);
    if (m_pos < 0) return Value();
    return computedValue(field, m_row, m_calc);
}

QString Dataset::text(const QString& field) const {
    return valueText(value(field), fieldDef(field));
}

Value Dataset::valueAt(int row, const QString& field) const {
    if (row == m_pos) return value(field);
    if (!m_table || row < 0 || row >= rowCount()) return Value();
    const uint32_t rn = m_recnos[static_cast<size_t>(row)];
    if (rn != m_cachedRecno) {
        auto r = const_cast<dbf::Table*>(m_table.get())->read(rn);
        if (!r) return Value();
        m_cachedRow = std::move(r->values);
        m_cachedRecno = rn;
    }
    // Calculated fields are only known for the current row.
    return computedValue(field, m_cachedRow, {});
}

QString Dataset::textAt(int row, const QString& field) const {
    return valueText(valueAt(row, field), fieldDef(field));
}

bool Dataset::isLookupField(const QString& name) const {
    return m_lookups.contains(name.toUpper());
}

bool Dataset::setValue(const QString& field, const Value& v) {
    const QString upper = field.toUpper();
    if (m_calcFields.contains(upper)) {
        setCalcValue(upper, v);
        return true;
    }
    if (!editing()) {
        m_lastError = QStringLiteral("El conjunto de datos no está en modo de edición o inserción");
        return false;
    }
    const int i = fieldIndex(field);
    if (i < 0) {
        m_lastError = QStringLiteral("Campo '%1' no encontrado").arg(field);
        return false;
    }
    if (m_buffer.size() < fields().size()) m_buffer.resize(fields().size());
    m_buffer[static_cast<size_t>(i)] = v;
    m_modified = true;
    auto h = m_fieldChange.constFind(upper);
    if (h != m_fieldChange.cend() && *h) (*h)(*this);
    calcFields();
    Q_EMIT dataChanged();
    return true;
}

bool Dataset::setText(const QString& field, const QString& text, QString* error) {
    const dbf::FieldDef* def = fieldDef(field);
    if (!def) return setValue(field, text.isEmpty() ? Value() : Value(text.toStdString()));
    const QString t = text.trimmed();
    auto refuse = [&](const QString& msg) {
        m_lastError = msg;
        if (error) *error = msg;
        return false;
    };
    switch (def->type) {
    case 'N':
    case 'F':
    case 'O':
    case 'I':
    case '+': {
        if (t.isEmpty()) return setValue(field, Value());
        bool ok = false;
        QString norm = t;
        norm.replace(QLatin1Char(','), QLatin1Char('.'));
        const double d = norm.toDouble(&ok);
        if (!ok || !std::isfinite(d)) return refuse(QStringLiteral("'%1' no es un valor numérico válido").arg(text));
        if (def->type == 'I' || def->type == '+') return setValue(field, Value(static_cast<int64_t>(d)));
        return setValue(field, Value(d));
    }
    case 'D': {
        if (QString(t).remove(QLatin1Char(' ')).remove(QLatin1Char('/')).isEmpty()) return setValue(field, Value());
        auto d = parseDate(text);
        if (!d) return refuse(QStringLiteral("'%1' no es una fecha válida").arg(text));
        return setValue(field, Value(*d));
    }
    case 'L':
        if (t.isEmpty()) return setValue(field, Value());
        return setValue(field, Value(t.compare(QStringLiteral("True"), Qt::CaseInsensitive) == 0 ||
                                     t == QStringLiteral("T") || t == QStringLiteral("S")));
    default:
        if (text.isEmpty()) return setValue(field, Value());
        return setValue(field, Value(text.toStdString()));
    }
}

bool Dataset::edit() {
    if (!m_table) return false;
    if (editing()) return true;
    if (m_pos < 0) return insert();
    if (beforeEdit && !beforeEdit(*this)) return false;
    // Edit the row as it is on disk now, not as it was read.
    readCurrent();
    m_buffer = m_row;
    m_buffer.resize(fields().size());
    m_modified = false;
    setState(State::Edit);
    calcFields();
    if (afterEdit) afterEdit(*this);
    Q_EMIT dataChanged();
    return true;
}

bool Dataset::insert() {
    if (!m_table) return false;
    if (editing() && !post()) return false;
    if (beforeInsert && !beforeInsert(*this)) return false;
    m_buffer.assign(fields().size(), Value());
    m_modified = false;
    setState(State::Insert);
    if (m_master) {
        const int i = fieldIndex(m_detailField);
        if (i >= 0) m_buffer[static_cast<size_t>(i)] = m_master->value(m_masterField);
    }
    if (onNewRecord) onNewRecord(*this);
    m_modified = false;
    calcFields();
    if (afterInsert) afterInsert(*this);
    Q_EMIT dataChanged();
    return true;
}

void Dataset::afterWrite(const std::optional<uint32_t>& stayOn, int fallbackRow) {
    m_table->flush();
    loadRows();
    int row = fallbackRow;
    if (stayOn) {
        for (size_t i = 0; i < m_recnos.size(); ++i)
            if (m_recnos[i] == *stayOn) row = static_cast<int>(i);
    }
    setPos(m_recnos.empty() ? -1 : std::clamp(row, 0, rowCount() - 1));
    Q_EMIT rowsReset();
    Q_EMIT dataChanged();
}

void Dataset::addEditorCheck(QObject* owner, std::function<bool()> check) {
    m_editorChecks.emplace_back(owner, std::move(check));
}

bool Dataset::post() {
    if (!editing()) return true;
    std::erase_if(m_editorChecks, [](const auto& c) { return c.first.isNull(); });
    for (const auto& [owner, check] : m_editorChecks)
        if (!check()) return false;
    if (beforePost && !beforePost(*this)) return false; // the row stays in its state with the operator's input
    const bool inserting = m_state == State::Insert;
    dbf::Result<uint32_t> written = inserting ? m_table->append(m_buffer) : dbf::Result<uint32_t>(recno());
    if (written && !inserting) {
        auto u = m_table->update(recno(), m_buffer);
        if (!u) written = dbf::fail(u.error());
    }
    if (!written) {
        fail(QString::fromStdString(written.error()));
        return false;
    }
    const uint32_t rn = *written;
    m_buffer.clear();
    m_modified = false;
    m_state = State::Browse;
    afterWrite(rn, m_pos);
    Q_EMIT stateChanged();
    if (afterPost) afterPost(*this);
    return true;
}

void Dataset::cancel() {
    if (!editing()) return;
    m_buffer.clear();
    m_modified = false;
    setState(State::Browse);
    readCurrent();
    if (afterCancel) afterCancel(*this);
    Q_EMIT dataChanged();
}

bool Dataset::remove() {
    if (!m_table) return false;
    if (m_state == State::Insert) {
        cancel();
        return true;
    }
    if (m_pos < 0) return false;
    if (beforeDelete && !beforeDelete(*this)) return false;
    auto r = m_table->setDeleted(recno(), true);
    if (!r) {
        fail(QString::fromStdString(r.error()));
        return false;
    }
    m_buffer.clear();
    setState(State::Browse);
    afterWrite(std::nullopt, m_pos);
    if (afterDelete) afterDelete(*this);
    return true;
}

void Dataset::setFiltered(bool on) {
    m_filtered = on;
    if (m_table && !editing()) {
        loadRows();
        setPos(0);
        Q_EMIT rowsReset();
        Q_EMIT dataChanged();
    }
}

void Dataset::setMaster(Dataset* master, const QString& masterField, const QString& detailField) {
    m_master = master;
    m_masterField = masterField;
    m_detailField = detailField;
    if (!master) return;
    auto follow = [this] {
        if (!m_table || editing()) return;
        const Value key = m_master->value(m_masterField);
        if (m_pos >= 0 && dbf::compareValues(storedValue(m_row, m_detailField), key) == 0 && !m_master->editing())
            return;
        loadRows();
        setPos(0);
        Q_EMIT rowsReset();
        Q_EMIT dataChanged();
    };
    connect(master, &Dataset::dataChanged, this, follow);
    connect(master, &Dataset::rowsReset, this, follow);
}

void Dataset::addLookupField(const QString& name, const QString& keyField, Dataset* lookup, const QString& lookupKey,
                             const QString& resultField) {
    m_lookups.insert(name.toUpper(), Lookup{keyField, lookup, lookupKey, resultField});
}

void Dataset::addCalcField(const QString& name) {
    m_calcFields << name.toUpper();
}

void Dataset::setCalcValue(const QString& name, const Value& v) {
    m_calc.insert(name.toUpper(), v);
}

Value Dataset::lookupValue(const QString& keyField, const Value& key, const QString& resultField) const {
    if (!m_table) return Value();
    auto* t = const_cast<dbf::Table*>(m_table.get());
    const int keyIdx = t->fieldIndex(keyField.toStdString());
    const int resIdx = t->fieldIndex(resultField.toStdString());
    if (keyIdx < 0 || resIdx < 0) return Value();
    if (QString::fromStdString(t->indexField()).compare(keyField, Qt::CaseInsensitive) == 0) {
        auto hit = t->find(key);
        if (hit && hit->has_value()) {
            auto v = t->readField(**hit, resIdx);
            return v ? *v : Value();
        }
        return Value();
    }
    const uint32_t n = t->cachedRecordCount();
    for (uint32_t rn = 1; rn <= n; ++rn) {
        auto del = t->isDeleted(rn);
        if (!del || *del) continue;
        auto k = t->readField(rn, keyIdx);
        if (k && dbf::compareValues(*k, key) == 0) {
            auto v = t->readField(rn, resIdx);
            return v ? *v : Value();
        }
    }
    return Value();
}

} // namespace qev
