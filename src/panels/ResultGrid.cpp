#include "panels/ResultGrid.h"

#include <QAction>
#include <QClipboard>
#include <QFileInfo>
#include <QGuiApplication>
#include <QHeaderView>
#include <QMenu>

#include "dataset/TMySQLConnection.h"
#include "dataset/EditableRows.h"
#include "dataset/TMySQLDataSet.h"
#include "panels/GridEditing.h"
#include "panels/ResultExport.h"
#include "ui/BusyCursor.h"
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

    auto* copy = new QAction(QStringLiteral("Copy"), this);
    copy->setShortcut(QKeySequence::Copy);
    copy->setShortcutContext(Qt::WidgetShortcut);
    connect(copy, &QAction::triggered, this, &ResultGrid::CopySelection);
    auto* exportRows = new QAction(QStringLiteral("Export..."), this);
    connect(exportRows, &QAction::triggered, this, &ResultGrid::ExportRows);
    addAction(copy);
    addAction(exportRows);
    setContextMenuPolicy(Qt::ActionsContextMenu);
}

const QString ResultGrid::kExportFilter = QStringLiteral(
    "CSV (*.csv);;Tab-separated (*.tsv *.txt);;JSON (*.json);;SQL INSERT statements (*.sql)");

void ResultGrid::CopySelection() {
    const QModelIndexList cells = selectionModel()->selectedIndexes();
    if (!cells.isEmpty()) QGuiApplication::clipboard()->setText(cellsAsTsv(*model(), cells));
}

void ResultGrid::ExportRows() {
    if (!dataSet_.result()) return;
    QString path = prompts_.saveFileName(this, QStringLiteral("Export"), {}, kExportFilter);
    if (path.isEmpty()) return;
    ExportOptions options;
    const QString suffix = QFileInfo(path).suffix().toLower();
    if (suffix == QLatin1String("tsv") || suffix == QLatin1String("txt"))
        options.format = ExportFormat::Tsv;
    else if (suffix == QLatin1String("json"))
        options.format = ExportFormat::Json;
    else if (suffix == QLatin1String("sql"))
        options.format = ExportFormat::Sql;
    else if (suffix.isEmpty())
        path += QStringLiteral(".csv");
    // Rows of one table refill that table; rows of a join or of expressions name a table
    // the user creates first.
    const auto [database, table] = sourceTable(dataSet_.result());
    options.database = database;
    options.tableName = table.isEmpty() ? QStringLiteral("exported") : table;
    try {
        ui::BusyCursor busy;
        auto work = [&] { exportRows(dataSet_.result(), path, options); };
        // A million rows take a while: the window goes on painting meanwhile.
        if (TMySQLConnection* c = dataSet_.Connection())
            c->connection().runAside("Exporting the rows", work);
        else
            work();
    } catch (const ExportError& e) {
        prompts_.message(this, e.text());
    }
}

void ResultGrid::afterOpen() {
    horizontalHeader()->setSortIndicator(-1, Qt::AscendingOrder);
    resizeColumnsToContents();
    for (int c = 0; c < model()->columnCount(); ++c) {
        if (columnWidth(c) > kMaxColumnWidth) setColumnWidth(c, kMaxColumnWidth);
    }
    // The first record is the current one, and shown so.
    if (model()->rowCount() > 0) setCurrentIndex(model()->index(0, 0));
}

void ResultGrid::editThrough(EditableRows& rows, GridEditing& editing) {
    setModel(&rows);
    disconnect(this, &QAbstractItemView::doubleClicked, this, &ResultGrid::ShowValue);
    connect(this, &QAbstractItemView::doubleClicked, &editing, &GridEditing::openValue);
    setContextMenuPolicy(Qt::CustomContextMenu);
    connect(this, &QWidget::customContextMenuRequested, this, [this, &editing](const QPoint& at) {
        const QModelIndex cell = indexAt(at);
        QMenu menu(this);
        if (cell.isValid()) editing.addCellActions(menu, cell);
        menu.addSeparator();
        menu.addAction(QStringLiteral("Export..."), this, &ResultGrid::ExportRows);
        menu.exec(viewport()->mapToGlobal(at));
    });
}

void ResultGrid::ShowValue(const QModelIndex& index) {
    if (!index.isValid()) return;
    const FieldDef& field = dataSet_.FieldDefs()[std::size_t(index.column())];
    const db::Value value = dataSet_.cell(index.row(), index.column());
    ui::ValueViewer viewer(field.name, valuetext::forViewer(field.type, value.view(), value.isNull()),
                           this);
    prompts_.exec(&viewer);
}
