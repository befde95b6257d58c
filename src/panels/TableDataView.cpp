#include "panels/TableDataView.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMenu>
#include <QStyle>
#include <QTableView>
#include <QScrollBar>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>

#include "dataset/RowFrame.h"
#include "dataset/TMySQLConnection.h"
#include "dataset/TableRows.h"
#include "panels/GridEditing.h"
#include "panels/RowScroll.h"
#include "db/Connection.h"
#include "tree/ServerSession.h"
#include "tree/TreeNode.h"
#include "ui/BusyCursor.h"
#include "ui/Counted.h"
#include "ui/Prompts.h"


TableDataView::TableDataView(TMySQLConnection& datasetConnection, ui::Prompts& prompts,
                             QWidget* parent)
    : QWidget(parent), prompts_(prompts), connection_(datasetConnection) {
    rows_ = new TableRows(this);
    rows_->setObjectName(QStringLiteral("TableRows"));
    rows_->setConnection(&datasetConnection.connection());

    filter_ = new QLineEdit(this);
    filter_->setObjectName(QStringLiteral("Filter"));
    filter_->setPlaceholderText(QStringLiteral("Filter: a condition as after WHERE, then Enter"));
    filter_->setClearButtonEnabled(true);
    filterError_ = new QLabel(this);
    filterError_->setObjectName(QStringLiteral("FilterError"));
    filterError_->setStyleSheet(QStringLiteral("color: #b00020"));
    filterError_->setWordWrap(true);
    filterError_->hide();
    connect(filter_, &QLineEdit::returnPressed, this, &TableDataView::applyFilter);

    DBGrid1_ = new QTableView(this);
    DBGrid1_->setObjectName(QStringLiteral("DBGrid1"));
    frame_ = new RowFrame(this);
    frame_->setSourceModel(rows_);
    DBGrid1_->setModel(frame_);
    DBGrid1_->setSelectionBehavior(QAbstractItemView::SelectItems);
    DBGrid1_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    DBGrid1_->setTabKeyNavigation(true);
    DBGrid1_->setShowGrid(true);
    DBGrid1_->horizontalHeader()->setSectionsMovable(false);
    DBGrid1_->horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    DBGrid1_->horizontalHeader()->setSortIndicatorShown(true);
    // Columns fit a sample of the rows: measuring a thousand rows (Qt's default) would cost
    // more than reading the first window.
    DBGrid1_->horizontalHeader()->setResizeContentsPrecision(kSampledRows);
    DBGrid1_->horizontalHeader()->setSortIndicator(-1, Qt::AscendingOrder);
    // Row heights stay fixed so that a table of millions of rows lays out without measuring.
    DBGrid1_->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    DBGrid1_->verticalHeader()->setDefaultSectionSize(DBGrid1_->fontMetrics().height() + 6);
    connect(DBGrid1_->horizontalHeader(), &QHeaderView::sectionClicked, this, [this](int column) {
        QHeaderView* header = DBGrid1_->horizontalHeader();
        const Qt::SortOrder order = header->sortIndicatorSection() == column &&
                                            header->sortIndicatorOrder() == Qt::AscendingOrder
                                        ? Qt::DescendingOrder
                                        : Qt::AscendingOrder;
        if (!editing_->editsMayGo()) return;
        ui::BusyCursor busy;
        try {
            rows_->sort(column, order);
            header->setSortIndicator(column, order);
            showTop();
        } catch (const std::exception& error) {
            reportFailure(error);
        }
        updateState();
    });
    editing_ = new GridEditing(*rows_, *DBGrid1_, prompts_);
    scroll_ = new RowScroll(*DBGrid1_, *frame_, this);
    // Columns were fitted to the first rows: values further down may be wider.
    connect(frame_, &QAbstractItemModel::dataChanged, this, &TableDataView::widenLater);
    connect(frame_, &RowFrame::moved, this, &TableDataView::widenLater);
    connect(DBGrid1_->verticalScrollBar(), &QScrollBar::valueChanged, this, &TableDataView::widenLater);
    connect(DBGrid1_->horizontalHeader(), &QHeaderView::sectionResized, this, [this](int column) {
        if (!sizing_) userSized_.insert(column);
    });
    connect(editing_, &GridEditing::note, this, [this](const QString& why) { status_->setText(why); });
    connect(DBGrid1_, &QAbstractItemView::doubleClicked, editing_, &GridEditing::openValue);

    DBGrid1_->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(DBGrid1_, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
        const QModelIndex cell = DBGrid1_->indexAt(at);
        if (!cell.isValid()) return;
        QMenu menu(this);
        for (const char* how : {"=", "<>", "LIKE", "IS NULL"})
            menu.addAction(QStringLiteral("Filter: %1").arg(QLatin1String(how)), this,
                           [this, how] { filterByCell(QLatin1String(how)); });
        menu.addSeparator();
        editing_->addCellActions(menu, cell);
        menu.exec(DBGrid1_->viewport()->mapToGlobal(at));
    });

    auto* navigator = new QWidget(this);
    navigator->setObjectName(QStringLiteral("DBNavigator1"));
    auto* navLayout = new QHBoxLayout(navigator);
    navLayout->setContentsMargins(0, 2, 0, 2);
    navLayout->setSpacing(1);
    struct NavigatorButton {
        const char* name;
        QStyle::StandardPixmap icon;
        const char* hint;
    };
    static const NavigatorButton buttons[] = {
        {"nbFirst", QStyle::SP_MediaSkipBackward, "First record"},
        {"nbPrior", QStyle::SP_MediaSeekBackward, "Prior record"},
        {"nbNext", QStyle::SP_MediaSeekForward, "Next record"},
        {"nbLast", QStyle::SP_MediaSkipForward, "Last record"},
        {"nbInsert", QStyle::SP_FileDialogNewFolder, "Insert record (Insert)"},
        {"nbDelete", QStyle::SP_TrashIcon, "Delete the selected records (Ctrl+Delete)"},
        {"nbEdit", QStyle::SP_FileDialogContentsView, "Edit the cell (F2)"},
        {"nbPost", QStyle::SP_DialogApplyButton, "Post every edit (Ctrl+Enter)"},
        {"nbCancel", QStyle::SP_DialogCancelButton, "Cancel the record's edit (Escape)"},
        {"nbRefresh", QStyle::SP_BrowserReload, "Refresh data"},
    };
    for (const NavigatorButton& kind : buttons) {
        auto* button = new QToolButton(navigator);
        button->setObjectName(QString::fromLatin1(kind.name));
        button->setIcon(style()->standardIcon(kind.icon));
        button->setToolTip(QString::fromLatin1(kind.hint));
        button->setAutoRaise(true);
        navLayout->addWidget(button);
        navigator_.append(button);
    }
    status_ = new QLabel(navigator);
    status_->setObjectName(QStringLiteral("RowStatus"));
    navLayout->addSpacing(8);
    navLayout->addWidget(status_, 1);
    auto* count = new QToolButton(navigator);
    count->setObjectName(QStringLiteral("CountRows"));
    count->setText(QStringLiteral("Count"));
    count->setToolTip(QStringLiteral("Count the rows exactly (SELECT COUNT(*))"));
    navLayout->addWidget(count);
    connect(count, &QToolButton::clicked, this, &TableDataView::countRows);
    preview_ = new QToolButton(navigator);
    preview_->setObjectName(QStringLiteral("PreviewEdits"));
    preview_->setText(QStringLiteral("Preview"));
    preview_->setToolTip(QStringLiteral("The statements Post would send"));
    navLayout->addWidget(preview_);
    connect(preview_, &QToolButton::clicked, editing_, &GridEditing::previewEdits);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(filter_);
    layout->addWidget(filterError_);
    auto* gridRow = new QHBoxLayout;
    gridRow->setSpacing(0);
    gridRow->addWidget(DBGrid1_, 1);
    gridRow->addWidget(&scroll_->bar());
    layout->addLayout(gridRow, 1);
    layout->addWidget(navigator);

    connect(navigator_[0], &QToolButton::clicked, this, [this] { editing_->selectRow(0); });
    connect(navigator_[1], &QToolButton::clicked, this,
            [this] { editing_->selectRow(std::max(0, editing_->currentRow() - 1)); });
    connect(navigator_[2], &QToolButton::clicked, this, [this] {
        editing_->selectRow(std::min(rows_->rowCount() - 1, editing_->currentRow() + 1));
    });
    connect(navigator_[3], &QToolButton::clicked, this, [this] {
        ui::BusyCursor busy;
        if (!rows_->loadEnd() && !rows_->lastError().isEmpty())
            prompts_.message(window(), rows_->lastError());
        editing_->selectRow(rows_->rowCount() - 1);
    });
    connect(navigator_[4], &QToolButton::clicked, editing_, &GridEditing::addRow);
    connect(navigator_[5], &QToolButton::clicked, editing_, &GridEditing::deleteSelectedRows);
    connect(navigator_[6], &QToolButton::clicked, editing_, &GridEditing::editCurrent);
    connect(navigator_[7], &QToolButton::clicked, editing_, [this] {
        editing_->post();
        updateState();
    });
    connect(navigator_[8], &QToolButton::clicked, editing_, &GridEditing::cancelEdit);
    connect(navigator_[9], &QToolButton::clicked, this, &TableDataView::refresh);

    connect(rows_, &TableRows::editsChanged, this, &TableDataView::updateState);
    connect(rows_, &TableRows::countChanged, this, &TableDataView::updateState);
    connect(rows_, &QAbstractItemModel::rowsInserted, this, &TableDataView::updateState);
    connect(rows_, &QAbstractItemModel::rowsRemoved, this, &TableDataView::updateState);
    connect(rows_, &TableRows::readFailed, this, [this](const QString& text) {
        status_->setText(QStringLiteral("Reading rows failed: %1").arg(text));
    });
    updateState();
}

void TableDataView::updateState() {
    const bool open = rows_->isOpen();
    const bool editable = rows_->editable();
    for (int i = 0; i < 4; ++i) navigator_[i]->setEnabled(open);
    navigator_[4]->setEnabled(editable);
    navigator_[5]->setEnabled(editable);
    navigator_[6]->setEnabled(editable);
    navigator_[7]->setEnabled(rows_->hasEdits());
    navigator_[8]->setEnabled(rows_->hasEdits());
    preview_->setEnabled(rows_->hasEdits());
    navigator_[9]->setEnabled(open || !table_.isEmpty());  // tries a table that failed again
    if (!open) {
        status_->clear();
        return;
    }
    const int n = rows_->rowCount() - rows_->added();
    QString text = QLocale().toString(n) + (n == 1 ? QStringLiteral(" row") : QStringLiteral(" rows"));
    if (!rows_->countIsExact()) text = QStringLiteral("about ") + text;
    if (!rows_->pager()->filter().trimmed().isEmpty()) text += QStringLiteral(" (filtered)");
    if (rows_->hasEdits())
        text += QStringLiteral("; %1 not posted").arg(ui::counted(rows_->editCount(), "edit"));
    if (!editable) text += QStringLiteral(". ") + rows_->readOnlyReason();
    if (rows_->pager() && !rows_->pager()->seeks())
        text += QStringLiteral(" Rows are read by position: deep pages are slow.");
    status_->setText(text);
}

void TableDataView::reportFailure(const std::exception& error) {
    if (!reportLostConnection()) prompts_.message(window(), QString::fromUtf8(error.what()));
}

bool TableDataView::reportLostConnection() {
    if (!connection_.connection().connectionLost()) return false;
    prompts_.message(window(), lostConnectionMessage(connection_.connection().errorText()));
    return true;
}

bool TableDataView::LoadTableData(TreeNode* table) {
    TreeNode* database = table ? table->databaseNode() : nullptr;
    return LoadTable(database ? database->text() : QString(), table ? table->text() : QString());
}

bool TableDataView::LoadTable(const QString& database, const QString& table) {
    if (!editing_->editsMayGo()) return false;
    rows_->close();
    filter_->clear();
    filterError_->hide();
    DBGrid1_->horizontalHeader()->setSortIndicator(-1, Qt::AscendingOrder);
    database_.clear();
    table_.clear();
    updateState();
    if (database.isEmpty() || table.isEmpty()) {
        prompts_.message(window(), QStringLiteral("Data View Error"));
        return false;
    }
    database_ = database;
    table_ = table;
    return openTable();
}

bool TableDataView::openTable() {
    ui::BusyCursor busy;
    try {
        // Named with its database, so that a failed database selection never shows another
        // database's table of the same name.
        rows_->open(database_, table_);
    } catch (const std::exception& error) {
        prompts_.message(window(), QString::fromUtf8(error.what()));
        if (!reportLostConnection()) prompts_.message(window(), QStringLiteral("Data View Error"));
        updateState();
        return false;
    }
    userSized_.clear();
    sizing_ = true;
    DBGrid1_->resizeColumnsToContents();
    for (int c = 0; c < rows_->columnCount(); ++c)
        DBGrid1_->setColumnWidth(c, std::min(DBGrid1_->columnWidth(c), kMaxColumnWidth));
    sizing_ = false;
    showTop();
    updateState();
    return true;
}

// Rows read again from the start are shown from their first, wherever the grid was.
void TableDataView::showTop() {
    if (rows_->rowCount() > 0) editing_->selectRow(0);  // the frame moves to it
}

void TableDataView::refresh() {
    if (!editing_->editsMayGo()) return;
    // A table that could not be opened is tried again.
    if (!rows_->isOpen()) {
        if (!table_.isEmpty()) openTable();
        return;
    }
    ui::BusyCursor busy;
    try {
        rows_->reload();
        showTop();
    } catch (const std::exception& error) {
        reportFailure(error);
    }
    updateState();
}

void TableDataView::applyFilter() {
    if (!rows_->isOpen() || !editing_->editsMayGo()) return;
    ui::BusyCursor busy;
    try {
        rows_->setFilter(filter_->text());
        filterError_->hide();
        showTop();
    } catch (const db::DbError& error) {
        if (error.connectionLost()) {
            reportLostConnection();
        } else {
            // The server's reason stays under the box while the old rows stay shown.
            filterError_->setText(QString::fromUtf8(error.what()));
            filterError_->show();
        }
    }
    updateState();
}

void TableDataView::filterByCell(const QString& how) {
    const QModelIndex cell = editing_->rowsIndex(DBGrid1_->currentIndex());
    if (!cell.isValid() || !rows_->pager()) return;
    const TableShape& shape = rows_->pager()->shape();
    const std::string name = db::quoteIdentifier(shape.columns[std::size_t(cell.column())].name);
    db::Connection& c = connection_.connection();
    const auto quote = [&c](std::string_view bytes) { return c.quoteValue(bytes); };
    if (rows_->tableRow(cell.row()) < 0) return;  // a row added and not posted
    const db::Value value = rows_->cell(rows_->tableRow(cell.row()), cell.column());
    std::string condition;
    if (how == QLatin1String("IS NULL") || value.isNull()) {
        condition = name + (how == QLatin1String("<>") ? " IS NOT NULL" : " IS NULL");
    } else if (how == QLatin1String("LIKE")) {
        condition = name + " LIKE " + quote("%" + std::string(value.view()) + "%");
    } else {
        condition = name + " " + how.toStdString() + " " +
                    shape.literal(cell.column(), std::string(value.view()), quote);
    }
    filter_->setText(QString::fromStdString(condition));
    applyFilter();
}

void TableDataView::countRows() {
    if (!rows_->isOpen()) return;
    ui::BusyCursor busy;
    try {
        rows_->countRows();
    } catch (const std::exception& error) {
        reportFailure(error);
    }
    updateState();
}

QScrollBar& TableDataView::rowScrollBar() { return scroll_->bar(); }

void TableDataView::widenLater() {
    if (widenQueued_) return;
    widenQueued_ = true;
    // Once for a burst of scrolling: measuring the rows shown costs about a millisecond.
    QTimer::singleShot(kWidenAfterMs, this, &TableDataView::widenColumns);
}

// A column widens to what the rows on screen need, so that a number further down is never
// cut; it never narrows, and one the user sized stays as the user left it.
void TableDataView::widenColumns() {
    widenQueued_ = false;
    // A grid not shown would measure every row of its frame.
    if (!rows_->isOpen() || !DBGrid1_->isVisible()) return;
    QHeaderView* header = DBGrid1_->horizontalHeader();
    const int precision = header->resizeContentsPrecision();
    header->setResizeContentsPrecision(0);  // the rows shown only: no read for rows unseen
    sizing_ = true;
    for (int c = 0; c < frame_->columnCount(); ++c) {
        if (userSized_.contains(c)) continue;
        const int wanted = std::min(
            static_cast<const QAbstractItemView*>(DBGrid1_)->sizeHintForColumn(c), kMaxColumnWidth);
        if (wanted > header->sectionSize(c)) header->resizeSection(c, wanted);
    }
    sizing_ = false;
    header->setResizeContentsPrecision(precision);
}
