#include "core/ui/QueryControls.h"

#include <QHBoxLayout>
#include <QHeaderView>

namespace qev {

// ---- QueryModel --------------------------------------------------------------------------------------------------

QueryModel::QueryModel(SqlQuery& query, QList<Column> columns, QObject* parent)
    : QAbstractTableModel(parent), m_columns(std::move(columns)) {
    setQuery(query);
}

void QueryModel::setQuery(SqlQuery& query) {
    if (m_query == &query) return;
    if (m_query) disconnect(m_query, nullptr, this, nullptr);
    m_query = &query;
    connect(&query, &SqlQuery::rowsReset, this, &QueryModel::reset);
    reset();
}

void QueryModel::reset() {
    beginResetModel();
    m_rows = m_query ? m_query->rowCount() : 0;
    endResetModel();
}

int QueryModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : m_rows;
}

int QueryModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(m_columns.size());
}

QVariant QueryModel::data(const QModelIndex& index, int role) const {
    if (!m_query || !index.isValid() || index.row() >= m_rows || index.column() >= m_columns.size()) return {};
    if (role != Qt::DisplayRole) return {};
    return m_query->textAt(index.row(), m_columns[index.column()].field);
}

QVariant QueryModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (role != Qt::DisplayRole) return {};
    if (orientation == Qt::Horizontal)
        return section >= 0 && section < m_columns.size() ? QVariant(m_columns[section].title) : QVariant();
    return section + 1;
}

Qt::ItemFlags QueryModel::flags(const QModelIndex& index) const {
    return index.isValid() ? Qt::ItemIsEnabled | Qt::ItemIsSelectable : Qt::NoItemFlags;
}

// ---- QueryGrid ---------------------------------------------------------------------------------------------------

QueryGrid::QueryGrid(SqlQuery& query, QList<QueryModel::Column> columns, QWidget* parent)
    : QTableView(parent), m_model(new QueryModel(query, std::move(columns), this)) {
    setModel(m_model);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    verticalHeader()->setDefaultSectionSize(20);
    verticalHeader()->hide();
    horizontalHeader()->setStretchLastSection(true);
    connect(selectionModel(), &QItemSelectionModel::currentRowChanged, this, [this](const QModelIndex& current) {
        if (m_syncing || !current.isValid()) return;
        m_syncing = true;
        m_model->query().moveTo(current.row());
        m_syncing = false;
    });
    connect(m_model, &QAbstractItemModel::modelReset, this, &QueryGrid::follow);
    m_moves = connect(&query, &SqlQuery::currentChanged, this, &QueryGrid::follow);
    follow();
}

void QueryGrid::setQuery(SqlQuery& query) {
    disconnect(m_moves);
    m_model->setQuery(query);
    m_moves = connect(&query, &SqlQuery::currentChanged, this, &QueryGrid::follow);
    follow();
}

void QueryGrid::follow() {
    if (m_syncing) return;
    m_syncing = true;
    const int row = m_model->query().position();
    if (row >= 0 && row < m_model->rowCount()) {
        const QModelIndex idx = m_model->index(row, std::max(0, currentIndex().column()));
        selectionModel()->setCurrentIndex(idx, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
        scrollTo(idx);
    }
    m_syncing = false;
}

// ---- QueryNavigator ----------------------------------------------------------------------------------------------

QueryNavigator::QueryNavigator(SqlQuery& query, QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("navigator"));
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(1);
    static const char* const kNames[kButtons] = {"nbFirst", "nbPrior", "nbNext", "nbLast", "nbRefresh"};
    static const char* const kGlyphs[kButtons] = {"|◀", "◀", "▶", "▶|", "↻"};
    static const char* const kHints[kButtons] = {"Primero", "Anterior", "Siguiente", "Último", "Refrescar"};
    for (int i = 0; i < kButtons; ++i) {
        auto* b = new QToolButton(this);
        b->setObjectName(QString::fromLatin1(kNames[i]));
        b->setText(QString::fromUtf8(kGlyphs[i]));
        b->setToolTip(QString::fromUtf8(kHints[i]));
        b->setMinimumSize(28, 25);
        row->addWidget(b);
        m_buttons[static_cast<size_t>(i)] = b;
        connect(b, &QToolButton::clicked, this, [this, i] { click(static_cast<Button>(i)); });
    }
    row->addStretch();
    setQuery(query);
}

void QueryNavigator::setQuery(SqlQuery& query) {
    disconnect(m_rows);
    disconnect(m_moves);
    m_query = &query;
    m_rows = connect(&query, &SqlQuery::rowsReset, this, &QueryNavigator::updateButtons);
    m_moves = connect(&query, &SqlQuery::currentChanged, this, &QueryNavigator::updateButtons);
    updateButtons();
}

void QueryNavigator::setVisibleButtons(std::initializer_list<Button> buttons) {
    for (QToolButton* b : m_buttons)
        b->setVisible(false);
    for (Button b : buttons)
        button(b)->setVisible(true);
}

void QueryNavigator::click(Button b) {
    if (!m_query || !button(b)->isEnabled()) return;
    switch (b) {
    case Button::First:
        m_query->first();
        break;
    case Button::Prior:
        m_query->prior();
        break;
    case Button::Next:
        m_query->next();
        break;
    case Button::Last:
        m_query->last();
        break;
    case Button::Refresh: {
        const int keep = m_query->position();
        if (m_query->open()) m_query->moveTo(keep);
        break;
    }
    }
    updateButtons();
}

void QueryNavigator::updateButtons() {
    if (!m_query) return;
    const bool active = m_query->active();
    const int pos = m_query->position();
    const int count = m_query->rowCount();
    button(Button::First)->setEnabled(active && pos > 0);
    button(Button::Prior)->setEnabled(active && pos > 0);
    button(Button::Next)->setEnabled(active && pos < count - 1);
    button(Button::Last)->setEnabled(active && pos < count - 1);
    button(Button::Refresh)->setEnabled(active);
}

} // namespace qev
