#pragma once
// A table model over a Dataset for grids: one column per chosen field with its title, one row per visible row;
// selecting a row moves the dataset. Cells are read on demand, so large tables cost nothing until shown.
#include "core/Dataset.h"
#include <QAbstractTableModel>
#include <QPointer>

namespace qev {

class DatasetModel : public QAbstractTableModel {
    Q_OBJECT
public:
    struct Column {
        QString field;
        QString title;
    };
    DatasetModel(Dataset& ds, QList<Column> columns, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;

    Dataset& dataset() const { return *m_ds; }
    const QList<Column>& columns() const { return m_columns; }

private:
    void reset();
    QPointer<Dataset> m_ds;
    QList<Column> m_columns;
    int m_rows = 0;
};

} // namespace qev
