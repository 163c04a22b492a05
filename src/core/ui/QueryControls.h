#pragma once
// Read-only controls over an SqlQuery: a grid whose selected line is the query's current row, and a navigator
// with first, prior, next, last and refresh (refresh runs the statement again). Both can be moved to another query.
#include "core/SqlQuery.h"

#include <QAbstractTableModel>
#include <QPointer>
#include <QTableView>
#include <QToolButton>
#include <QWidget>

#include <array>

namespace qev {

class QueryModel : public QAbstractTableModel {
    Q_OBJECT
public:
    struct Column {
        QString field;
        QString title;
    };
    QueryModel(SqlQuery& query, QList<Column> columns, QObject* parent = nullptr);
    void setQuery(SqlQuery& query);
    SqlQuery& query() const { return *m_query; }
    const QList<Column>& columns() const { return m_columns; }

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

private:
    void reset();
    QPointer<SqlQuery> m_query;
    QList<Column> m_columns;
    int m_rows = 0;
};

class QueryGrid : public QTableView {
    Q_OBJECT
public:
    QueryGrid(SqlQuery& query, QList<QueryModel::Column> columns, QWidget* parent = nullptr);
    void setQuery(SqlQuery& query);
    QueryModel* queryModel() const { return m_model; }

private:
    void follow();
    QueryModel* m_model;
    QMetaObject::Connection m_moves;
    bool m_syncing = false;
};

class QueryNavigator : public QWidget {
    Q_OBJECT
public:
    enum class Button { First, Prior, Next, Last, Refresh };
    static constexpr int kButtons = 5;

    QueryNavigator(SqlQuery& query, QWidget* parent = nullptr);
    void setQuery(SqlQuery& query);
    QToolButton* button(Button b) const { return m_buttons[static_cast<size_t>(b)]; }
    void setHint(Button b, const QString& hint) { button(b)->setToolTip(hint); }
    void setVisibleButtons(std::initializer_list<Button> buttons);
    void click(Button b);

private:
    void updateButtons();
    QPointer<SqlQuery> m_query;
    QMetaObject::Connection m_rows;
    QMetaObject::Connection m_moves;
    std::array<QToolButton*, kButtons> m_buttons{};
};

} // namespace qev
