#include "core/DatasetModel.h"

namespace qev {

DatasetModel::DatasetModel(Dataset& ds, QList<Column> columns, QObject* parent)
    : QAbstractTableModel(parent), m_ds(&ds), m_columns(std::move(columns)) {
    m_rows = ds.rowCount();
    connect(&ds, &Dataset::rowsReset, this, &DatasetModel::reset);
    connect(&ds, &Dataset::stateChanged, this, &DatasetModel::reset);
    connect(&ds, &Dataset::dataChanged, this, [this] {
        if (!m_ds) return;
        if (m_ds->rowCount() != m_rows) {
            reset();
            return;
        }
        const int row = m_ds->position();
        if (row >= 0 && row < m_rows && !m_columns.isEmpty())
            Q_EMIT dataChanged(index(row, 0), index(row, static_cast<int>(m_columns.size()) - 1));
    });
}

void DatasetModel::reset() {
    beginResetModel();
    m_rows = m_ds ? m_ds->rowCount() : 0;
    // A row being inserted shows as an extra last line.
    if (m_ds && m_ds->state() == Dataset::State::Insert) ++m_rows;
    endResetModel();
}

int DatasetModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : m_rows;
}

int DatasetModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(m_columns.size());
}

QVariant DatasetModel::data(const QModelIndex& index, int role) const {
    if (!m_ds || !index.isValid() || index.row() >= m_rows || index.column() >= m_columns.size()) return {};
    if (role != Qt::DisplayRole && role != Qt::EditRole) return {};
    const QString& field = m_columns[index.column()].field;
    if (m_ds->state() == Dataset::State::Insert && index.row() == m_rows - 1) return m_ds->text(field);
    return m_ds->textAt(index.row(), field);
}

QVariant DatasetModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (role != Qt::DisplayRole) return {};
    if (orientation == Qt::Horizontal)
        return section >= 0 && section < m_columns.size() ? QVariant(m_columns[section].title) : QVariant();
    return section + 1;
}

Qt::ItemFlags DatasetModel::flags(const QModelIndex& index) const {
    if (!index.isValid()) return Qt::NoItemFlags;
    Qt::ItemFlags f = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
    const bool currentEditing =
        m_ds && m_ds->editing() &&
        (index.row() == m_ds->position() || (m_ds->state() == Dataset::State::Insert && index.row() == m_rows - 1));
    if (currentEditing && !m_ds->isLookupField(m_columns[index.column()].field)) f |= Qt::ItemIsEditable;
    return f;
}

bool DatasetModel::setData(const QModelIndex& index, const QVariant& value, int role) {
    if (!m_ds || role != Qt::EditRole || !(flags(index) & Qt::ItemIsEditable)) return false;
    if (!m_ds->setText(m_columns[index.column()].field, value.toString())) return false;
    Q_EMIT dataChanged(index, index);
    return true;
}

} // namespace qev
