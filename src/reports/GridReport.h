#pragma once
// Grid printing: the visible columns of a data grid as a table under a centred header line, with a title row and
// one printed line per row, a border around the table and lines between the columns, across as many pages as
// needed (at most 1000).
#include "reports/Layout.h"

#include <QAbstractItemModel>
#include <QStringList>

namespace qev::reports {

struct GridColumn {
    QString title;
    int modelColumn = 0;
};

// Columns of `model` in order (all of them when `columns` is empty); widths follow the longest text of each column,
// shared out over the page width.
Layout gridLayout(const QString& header, const QAbstractItemModel& model, std::vector<GridColumn> columns = {});
// A text list (one printed line per line of text) with its title as header.
Layout textListLayout(const QString& title, const QString& text);

inline constexpr int kGridMaxPages = 1000;

} // namespace qev::reports
