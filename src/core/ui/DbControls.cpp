#include "core/ui/DbControls.h"

#include "util/Prompter.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QStyle>

namespace qev {

using dbf::Value;

// ---- DbEdit ------------------------------------------------------------------------------------------------------

DbEdit::DbEdit(Dataset& ds, QString field, QWidget* parent) : QLineEdit(parent), m_ds(&ds), m_field(std::move(field)) {
    setObjectName(m_field);
    if (const dbf::FieldDef* def = ds.fieldDef(m_field); def && (def->type == 'C' || def->type == 'N'))
        setMaxLength(def->length);
    connect(&ds, &Dataset::dataChanged, this, &DbEdit::load);
    connect(&ds, &Dataset::stateChanged, this, &DbEdit::load);
    connect(this, &QLineEdit::textEdited, this, [this](const QString& t) {
        if (m_upper && t != t.toUpper()) {
            const int pos = cursorPosition();
            setText(t.toUpper());
            setCursorPosition(pos);
        }
        store();
    });
    // Leaving the edit, or posting the row, with text the field cannot take is refused with the reason.
    connect(this, &QLineEdit::editingFinished, this, [this] { (void)textAccepted(); });
    ds.addEditorCheck(this, [this] { return textAccepted(); });
    load();
}

void DbEdit::setAlwaysReadOnly(bool on) {
    m_alwaysReadOnly = on;
    setFocusPolicy(on ? Qt::NoFocus : Qt::StrongFocus);
    load();
}

void DbEdit::load() {
    if (!m_ds || m_loading) return;
    m_loading = true;
    setReadOnly(m_alwaysReadOnly || !m_ds->editing());
    const QString t = m_ds->text(m_field);
    if (t != text()) setText(t);
    m_pending = false;
    m_loading = false;
}

void DbEdit::store() {
    if (!m_ds || !m_ds->editing() || m_alwaysReadOnly) {
        load(); // typing outside Edit/Insert changes nothing
        return;
    }
    m_loading = true;
    // Dates and numbers are converted when complete; a partial entry stays in the edit until then.
    m_pending = !m_ds->setText(m_field, text());
    m_loading = false;
}

bool DbEdit::textAccepted() {
    if (!m_pending || !m_ds || !m_ds->editing()) return true;
    QString why;
    m_loading = true;
    const bool ok = m_ds->setText(m_field, text(), &why);
    m_loading = false;
    if (ok) {
        m_pending = false;
        return true;
    }
    if (Prompter* p = m_ds->prompter()) p->error(why, QStringLiteral("Error"));
    setFocus();
    selectAll();
    return false;
}

// ---- DbMemo ------------------------------------------------------------------------------------------------------

DbMemo::DbMemo(Dataset& ds, QString field, QWidget* parent)
    : QPlainTextEdit(parent), m_ds(&ds), m_field(std::move(field)) {
    setObjectName(m_field);
    connect(&ds, &Dataset::dataChanged, this, &DbMemo::load);
    connect(&ds, &Dataset::stateChanged, this, &DbMemo::load);
    connect(this, &QPlainTextEdit::textChanged, this, [this] {
        if (m_loading || !m_ds) return;
        if (!m_ds->editing()) {
            load();
            return;
        }
        m_loading = true;
        m_ds->setText(m_field, toPlainText());
        m_loading = false;
    });
    load();
}

void DbMemo::load() {
    if (!m_ds || m_loading) return;
    m_loading = true;
    setReadOnly(!m_ds->editing());
    const QString t = m_ds->text(m_field);
    if (t != toPlainText()) setPlainText(t);
    m_loading = false;
}

// ---- DbCheckBox --------------------------------------------------------------------------------------------------

DbCheckBox::DbCheckBox(Dataset& ds, QString field, const QString& caption, QWidget* parent)
    : QCheckBox(caption, parent), m_ds(&ds), m_field(std::move(field)) {
    setObjectName(m_field);
    connect(&ds, &Dataset::dataChanged, this, &DbCheckBox::load);
    connect(&ds, &Dataset::stateChanged, this, &DbCheckBox::load);
    connect(this, &QCheckBox::toggled, this, [this](bool on) {
        if (m_loading || !m_ds) return;
        if (!m_ds->editing()) {
            load();
            return;
        }
        m_loading = true;
        m_ds->setText(m_field, on ? QStringLiteral("True") : QStringLiteral("False"));
        m_loading = false;
    });
    load();
}

void DbCheckBox::setReadOnlyBox(bool on) {
    m_readOnly = on;
    setFocusPolicy(on ? Qt::NoFocus : Qt::StrongFocus);
}

void DbCheckBox::mousePressEvent(QMouseEvent* e) {
    if (m_readOnly) return;
    QCheckBox::mousePressEvent(e);
}

void DbCheckBox::keyPressEvent(QKeyEvent* e) {
    if (m_readOnly) return;
    QCheckBox::keyPressEvent(e);
}

void DbCheckBox::load() {
    if (!m_ds || m_loading) return;
    m_loading = true;
    const Value v = m_ds->value(m_field);
    setChecked(v.isBool() && v.boolean());
    m_loading = false;
}

// ---- DbLookupCombo -----------------------------------------------------------------------------------------------

DbLookupCombo::DbLookupCombo(Dataset& ds, QString field, Dataset& lookup, QString lookupKey, QString lookupText,
                             QWidget* parent)
    : QComboBox(parent), m_ds(&ds), m_field(std::move(field)), m_lookup(&lookup), m_lookupKey(std::move(lookupKey)),
      m_lookupText(std::move(lookupText)) {
    setObjectName(m_field);
    reloadItems();
    connect(&ds, &Dataset::dataChanged, this, &DbLookupCombo::load);
    connect(&ds, &Dataset::stateChanged, this, &DbLookupCombo::load);
    connect(&lookup, &Dataset::rowsReset, this, &DbLookupCombo::reloadItems);
    connect(this, &QComboBox::activated, this, [this](int i) {
        if (!m_ds || m_loading) return;
        if (!m_ds->editing() || i < 0 || static_cast<size_t>(i) >= m_keys.size()) {
            load();
            return;
        }
        m_loading = true;
        m_ds->setValue(m_field, m_keys[static_cast<size_t>(i)]);
        m_loading = false;
    });
}

void DbLookupCombo::reloadItems() {
    if (!m_lookup) return;
    m_loading = true;
    clear();
    m_keys.clear();
    for (int i = 0; i < m_lookup->rowCount(); ++i) {
        m_keys.push_back(m_lookup->valueAt(i, m_lookupKey));
        addItem(m_lookup->textAt(i, m_lookupText).trimmed());
    }
    m_loading = false;
    load();
}

QToolButton* DbLookupCombo::makeClearButton(const QString& objectName, QWidget* parent) {
    auto* b = new QToolButton(parent);
    b->setObjectName(objectName);
    b->setText(QStringLiteral("✖"));
    b->setToolTip(QStringLiteral("Borrar"));
    b->setFocusPolicy(Qt::NoFocus);
    connect(b, &QToolButton::clicked, this, [this] {
        if (!m_ds) return;
        if (!m_ds->setValue(m_field, Value())) {
            if (Prompter* p = m_ds->prompter()) p->error(m_ds->lastError(), QStringLiteral("Error"));
        }
        load();
    });
    return b;
}

void DbLookupCombo::load() {
    if (!m_ds || m_loading) return;
    m_loading = true;
    const Value v = m_ds->value(m_field);
    int found = -1;
    for (size_t i = 0; i < m_keys.size(); ++i)
        if (!v.isNull() && dbf::compareValues(m_keys[i], v) == 0) found = static_cast<int>(i);
    setCurrentIndex(found);
    m_loading = false;
}

// ---- DbNavigator -------------------------------------------------------------------------------------------------

QString DbNavigator::hint(Button b) {
    static const char* const kHints[kButtons] = {"Primer registro",
                                                 "Registro anterior",
                                                 "Registro siguiente",
                                                 "Último registro",
                                                 "Agregar un registro",
                                                 "Eliminar el registro",
                                                 "Modificar el registro",
                                                 "Aceptar",
                                                 "Cancelar",
                                                 "Refrescar"};
    return QString::fromUtf8(kHints[static_cast<int>(b)]);
}

DbNavigator::DbNavigator(Dataset& ds, Prompter& prompter, QWidget* parent)
    : QWidget(parent), m_ds(&ds), m_prompter(prompter) {
    setObjectName(QStringLiteral("navigator"));
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(1);
    static const char* const kNames[kButtons] = {"nbFirst",  "nbPrior", "nbNext", "nbLast",   "nbInsert",
                                                 "nbDelete", "nbEdit",  "nbPost", "nbCancel", "nbRefresh"};
    static const char* const kGlyphs[kButtons] = {"|◀", "◀", "▶", "▶|", "+", "−", "▲", "✔", "✖", "↻"};
    for (int i = 0; i < kButtons; ++i) {
        auto* b = new QToolButton(this);
        b->setObjectName(QString::fromLatin1(kNames[i]));
        b->setText(QString::fromUtf8(kGlyphs[i]));
        b->setToolTip(hint(static_cast<Button>(i)));
        b->setMinimumSize(28, 25);
        row->addWidget(b);
        m_buttons[static_cast<size_t>(i)] = b;
        connect(b, &QToolButton::clicked, this, [this, i] { click(static_cast<Button>(i)); });
    }
    row->addStretch();
    connect(&ds, &Dataset::stateChanged, this, &DbNavigator::updateButtons);
    connect(&ds, &Dataset::dataChanged, this, &DbNavigator::updateButtons);
    connect(&ds, &Dataset::rowsReset, this, &DbNavigator::updateButtons);
    updateButtons();
}

void DbNavigator::setVisibleButtons(std::initializer_list<Button> buttons) {
    for (QToolButton* b : m_buttons)
        b->setVisible(false);
    for (Button b : buttons)
        button(b)->setVisible(true);
}

void DbNavigator::click(Button b) {
    if (!m_ds || !m_ds->active() || !button(b)->isEnabled()) return;
    if (beforeAction && !beforeAction(b)) return;
    switch (b) {
    case Button::First:
        m_ds->first();
        break;
    case Button::Prior:
        m_ds->prior();
        break;
    case Button::Next:
        m_ds->next();
        break;
    case Button::Last:
        m_ds->last();
        break;
    case Button::Insert:
        m_ds->insert();
        break;
    case Button::Delete:
        if (!m_confirmDelete || m_prompter.confirm(QStringLiteral("¿Borra el registro?"), QStringLiteral("Confirmar")))
            m_ds->remove();
        break;
    case Button::Edit:
        m_ds->edit();
        break;
    case Button::Post:
        m_ds->post();
        break;
    case Button::Cancel:
        m_ds->cancel();
        break;
    case Button::Refresh:
        m_ds->refresh();
        break;
    }
    updateButtons();
}

void DbNavigator::updateButtons() {
    if (!m_ds) return;
    const bool active = m_ds->active();
    const bool editing = m_ds->editing();
    const bool browse = active && !editing;
    const int pos = m_ds->position();
    const int count = m_ds->rowCount();
    button(Button::First)->setEnabled(browse && pos > 0);
    button(Button::Prior)->setEnabled(browse && pos > 0);
    button(Button::Next)->setEnabled(browse && pos < count - 1);
    button(Button::Last)->setEnabled(browse && pos < count - 1);
    button(Button::Insert)->setEnabled(browse);
    button(Button::Delete)->setEnabled(browse && count > 0);
    button(Button::Edit)->setEnabled(browse && count > 0);
    button(Button::Post)->setEnabled(editing);
    button(Button::Cancel)->setEnabled(editing);
    button(Button::Refresh)->setEnabled(browse);
}

// ---- DbGrid ------------------------------------------------------------------------------------------------------

DbGrid::DbGrid(Dataset& ds, QList<DatasetModel::Column> columns, QWidget* parent)
    : QTableView(parent), m_ds(&ds), m_model(new DatasetModel(ds, std::move(columns), this)) {
    setModel(m_model);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed |
                    QAbstractItemView::AnyKeyPressed);
    verticalHeader()->setDefaultSectionSize(20);
    verticalHeader()->hide();
    horizontalHeader()->setStretchLastSection(true);
    connect(selectionModel(), &QItemSelectionModel::currentRowChanged, this, [this](const QModelIndex& current) {
        if (m_syncing || !m_ds || !current.isValid() || current.row() == m_ds->position() || m_ds->editing()) return;
        m_syncing = true;
        m_ds->moveTo(current.row());
        m_syncing = false;
    });
    connect(&ds, &Dataset::dataChanged, this, &DbGrid::follow);
    connect(m_model, &QAbstractItemModel::modelReset, this, &DbGrid::follow);
    follow();
}

void DbGrid::setReadOnlyGrid() {
    setEditTriggers(QAbstractItemView::NoEditTriggers);
}

void DbGrid::follow() {
    if (!m_ds || m_syncing) return;
    m_syncing = true;
    int row = m_ds->position();
    if (m_ds->state() == Dataset::State::Insert) row = m_model->rowCount() - 1;
    if (row >= 0 && row < m_model->rowCount()) {
        const QModelIndex idx = m_model->index(row, std::max(0, currentIndex().column()));
        selectionModel()->setCurrentIndex(idx, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
        scrollTo(idx);
    }
    m_syncing = false;
}

} // namespace qev
