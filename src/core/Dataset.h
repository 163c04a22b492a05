#pragma once
// A cursor over one dBase table of the office folder, shared by every window that shows the table: the current
// row, the Browse/Edit/Insert states with an edit buffer, key order, filters, a master-detail link, lookup and
// calculated fields, and the record events the data module hangs its rules on. Every post and delete is written
// through to the file and the row list is re-read at once, so other workstations and this one agree.
#include "core/OfficeSchema.h"
#include "dbf/Table.h"
#include <QHash>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace qev {

class Prompter;

class Dataset : public QObject {
    Q_OBJECT
public:
    enum class State { Inactive, Browse, Edit, Insert };

    // A refusing Before* handler aborts the operation; the handler shows its own message.
    using Guard = std::function<bool(Dataset&)>;
    using Handler = std::function<void(Dataset&)>;

    Dataset(QString folder, TableSpec table, QObject* parent = nullptr);
    ~Dataset() override;

    const TableSpec& tableSpec() const { return m_spec; }
    const QString& name() const { return m_spec.component; }
    const QString& folder() const { return m_folder; }
    void setPrompter(Prompter* prompter) { m_prompter = prompter; }
    void setExclusive(bool exclusive) { m_exclusive = exclusive; }
    bool exclusive() const { return m_exclusive; }

    // Opening: database errors are shown through the prompter (when set) and answered as false.
    [[nodiscard]] bool open();
    // Opens on a table the caller has just opened (shared) on the same file, with what it has read kept.
    [[nodiscard]] bool open(std::unique_ptr<dbf::Table> table);
    void close();
    bool active() const { return m_table != nullptr; }
    State state() const { return m_state; }
    bool editing() const { return m_state == State::Edit || m_state == State::Insert; }
    const QString& lastError() const { return m_lastError; }
    dbf::Table* table() { return m_table.get(); }

    // Field layout of the open file (which may lack fields of the current layout in an old folder).
    const std::vector<dbf::FieldDef>& fields() const;
    bool hasField(const QString& name) const;
    const dbf::FieldDef* fieldDef(const QString& name) const;

    // Navigation over the visible rows (filtered, master-limited), in key order when the table has a key.
    int rowCount() const { return static_cast<int>(m_recnos.size()); }
    int position() const { return m_pos; } // -1 when empty
    bool isEmpty() const { return m_recnos.empty(); }
    bool bof() const { return m_bof; }
    bool eof() const { return m_eof; }
    uint32_t recno() const;
    void first();
    void last();
    void next();
    void prior();
    void moveTo(int row);
    // Moves to the first visible row whose field equals `key`; false (and no move) when there is none.
    bool locate(const QString& field, const dbf::Value& key);
    // Re-reads the rows (other workstations' changes) and stays on the same row when it still exists.
    void refresh();

    // Field values: the edit buffer while editing, else the current row; lookup and calculated fields too.
    dbf::Value value(const QString& field) const;
    QString text(const QString& field) const;
    bool isNull(const QString& field) const { return value(field).isNull(); }
    // Values of any visible row, for grids.
    dbf::Value valueAt(int row, const QString& field) const;
    QString textAt(int row, const QString& field) const;
    // Sets a field of the edit buffer; refused outside Edit/Insert. Runs the field's change handler.
    bool setValue(const QString& field, const dbf::Value& v);
    // Converts operator text for the field's type (dd/MM/yyyy dates, numbers, "True"/"False") and sets it.
    bool setText(const QString& field, const QString& text, QString* error = nullptr);
    void setNull(const QString& field) { setValue(field, dbf::Value()); }

    // Editing.
    bool edit();
    bool insert();
    bool post();
    void cancel();
    bool remove();

    // Record events.
    Guard beforeEdit, beforeInsert, beforePost, beforeDelete;
    Handler afterEdit, afterInsert, onNewRecord, afterPost, afterDelete, afterCancel, afterScroll, onCalcFields;
    // Field change handlers by field name (upper case).
    void onFieldChange(const QString& field, Handler h) { m_fieldChange[field.toUpper()] = std::move(h); }

    // Row filter (active while `setFiltered(true)`); it sees the candidate row through value().
    std::function<bool(const Dataset&)> filterRecord;
    void setFiltered(bool on);
    bool filtered() const { return m_filtered; }

    // Master-detail: only rows whose `detailField` equals the master's current `masterField` are visible, and the
    // rows follow the master's moves. A new detail row takes the master's value.
    void setMaster(Dataset* master, const QString& masterField, const QString& detailField);

    // Lookup field: shows `resultField` of the row of `lookup` whose `lookupKey` equals this row's `keyField`.
    void addLookupField(const QString& name, const QString& keyField, Dataset* lookup, const QString& lookupKey,
                        const QString& resultField);
    // Calculated field: filled by onCalcFields through setCalcValue.
    void addCalcField(const QString& name);
    void setCalcValue(const QString& name, const dbf::Value& v);
    bool isLookupField(const QString& name) const;
    bool isCalcField(const QString& name) const { return m_calcFields.contains(name.toUpper()); }

    // First value of `resultField` in the row whose `keyField` equals `key` (a full scan unless the key is indexed).
    dbf::Value lookupValue(const QString& keyField, const dbf::Value& key, const QString& resultField) const;

    // Checks a control registers for the text it holds: run first by every post, a failing one (which says why)
    // refuses the post, so a half-typed date is never dropped in favour of the value before it.
    void addEditorCheck(QObject* owner, std::function<bool()> check);
    Prompter* prompter() const { return m_prompter; }

    // Number of times the edit buffer was changed since edit/insert (for windows that ask "save changes?").
    bool modified() const { return m_modified; }

Q_SIGNALS:
    void stateChanged();
    // The current row or its values changed (move, refresh, post, field change).
    void dataChanged();
    // The set of visible rows changed (refresh, post, delete, filter).
    void rowsReset();

private:
    struct Lookup {
        QString keyField;
        Dataset* lookup = nullptr;
        QString lookupKey;
        QString resultField;
    };
    void fail(const QString& message);
    bool loadRows();
    void readCurrent();
    void setPos(int row);
    void calcFields();
    void setState(State s);
    void afterWrite(const std::optional<uint32_t>& stayOn, int fallbackRow);
    bool rowVisible(uint32_t recno) const;
    int fieldIndex(const QString& name) const;
    dbf::Value storedValue(const dbf::Record& row, const QString& field) const;
    dbf::Value computedValue(const QString& field, const dbf::Record& row,
                             const QHash<QString, dbf::Value>& calc) const;

    QString m_folder;
    TableSpec m_spec;
    Prompter* m_prompter = nullptr;
    bool m_exclusive = false;
    std::unique_ptr<dbf::Table> m_table;
    State m_state = State::Inactive;
    QString m_lastError;

    std::vector<uint32_t> m_recnos;
    int m_pos = -1;
    bool m_bof = true;
    bool m_eof = true;
    dbf::Record m_row;    // current row as stored
    dbf::Record m_buffer; // edit buffer
    bool m_modified = false;
    QHash<QString, dbf::Value> m_calc;
    QHash<QString, Handler> m_fieldChange;
    QHash<QString, Lookup> m_lookups;
    QStringList m_calcFields;
    bool m_filtered = false;
    bool m_inCalc = false;

    std::vector<std::pair<QPointer<QObject>, std::function<bool()>>> m_editorChecks;

    Dataset* m_master = nullptr;
    QString m_masterField;
    QString m_detailField;

    // While a candidate row is checked by the filter, value() reads it.
    mutable const dbf::Record* m_probe = nullptr;
    // Grid reads: the last row read by valueAt.
    mutable uint32_t m_cachedRecno = 0;
    mutable dbf::Record m_cachedRow;
};

// Dates, numbers and logicals as operators see and type them.
QString formatDate(const dbf::Date& d); // dd/MM/yyyy
std::optional<dbf::Date> parseDate(const QString& text);
QString valueText(const dbf::Value& v, const dbf::FieldDef* def = nullptr);
dbf::Value fromQDate(const QDate& d);
QDate toQDate(const dbf::Value& v);
QString toQString(const dbf::Value& v); // text value or displayed form

} // namespace qev
