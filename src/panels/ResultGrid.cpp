#include "panels/ResultGrid.h"

#include <QHeaderView>

#include "dataset/TMySQLDataSet.h"
#include "dataset/ValueText.h"
#include "ui/Prompts.h"
#include "ui/ValueViewer.h"

ResultGrid::ResultGrid(TMySQLDataSet& dataSet, ui::Prompts& prompts, QWidget* parent)
    : QTableView(parent), dataSet_(dataSet), prompts_(prompts) {
    setModel(&dataSet_);
    horizontalHeader()->setResizeContentsPrecision(kSampledRows);
    // No column is sorted until the user clicks one: the rows come in the server's order.
    horizontalHeader()->setSortIndicator(-1, Qt::AscendingOrder);
    setSortingEnabled(true);
    connect(&dataSet_, &TMySQLDataSet::AfterOpen, this, &ResultGrid::afterOpen);
    connect(this, &QAbstractItemView::doubleClicked, this, &ResultGrid::ShowValue);
}

void ResultGrid::afterOpen() {
    horizontalHeader()->setSortIndicator(-1, Qt::AscendingOrder);
    resizeColumnsToContents();
    for (int c = 0; c < dataSet_.columnCount(); ++c) {
        if (columnWidth(c) > kMaxColumnWidth) setColumnWidth(c, kMaxColumnWidth);
    }
    // The first record is the current one, and shown so.
    if (dataSet_.rowCount() > 0) setCurrentIndex(dataSet_.index(0, 0));
}

void ResultGrid::ShowValue(const QModelIndex& index) {
    if (!index.isValid()) return;
    const FieldDef& field = dataSet_.FieldDefs()[std::size_t(index.column())];
    const db::Value value = dataSet_.cell(index.row(), index.column());
    ui::ValueViewer viewer(field.name, valuetext::forViewer(field.type, value.view(), value.isNull()),
                           this);
    prompts_.exec(&viewer);
}
