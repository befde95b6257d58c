#include "panels/TableDataView.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMenu>
#include <QPlainTextEdit>
#include <QStyle>
#include <QTableView>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>
#include <functional>

#include "dataset/TMySQLConnection.h"
#include "files/OutputFile.h"
#include "files/RegularFile.h"
#include "panels/CellEditors.h"
#include "dataset/TableRows.h"
#include "dataset/ValueText.h"
#include "db/Connection.h"
#include "panels/ResultExport.h"
#include "tree/ServerSession.h"
#include "tree/TreeNode.h"
#include "ui/BusyCursor.h"
#include "ui/Counted.h"
#include "ui/Prompts.h"
#include "ui/ValueViewer.h"

namespace {

// The grid, able to hand an editor still open to the model before a post.
class EditingGrid : public QTableView {
public:
    using QTableView::QTableView;
    void commitOpenEditor() {
        if (state() != EditingState) return;
        QWidget* editor = QApplication::focusWidget();
        if (!editor || !viewport()->isAncestorOf(editor)) return;
        commitData(editor);
        closeEditor(editor, QAbstractItemDelegate::NoHint);
    }
};

QAction* shortcut(QWidget* on, const QKeySequence& keys, const std::function<void()>& run) {
    auto* action = new QAction(on);
    action->setShortcut(keys);
    action->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    QObject::connect(action, &QAction::triggered, on, run);
    on->addAction(action);
    return action;
}

}  // namespace

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

    DBGrid1_ = new EditingGrid(this);
    DBGrid1_->setObjectName(QStringLiteral("DBGrid1"));
    DBGrid1_->setModel(rows_);
    DBGrid1_->setSelectionBehavior(QAbstractItemView::SelectItems);
    DBGrid1_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    DBGrid1_->setTabKeyNavigation(true);
    DBGrid1_->setShowGrid(true);
    DBGrid1_->setEditTriggers(QAbstractItemView::AnyKeyPressed | QAbstractItemView::EditKeyPressed |
                              QAbstractItemView::SelectedClicked);
    DBGrid1_->horizontalHeader()->setSectionsMovable(false);
    DBGrid1_->horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    DBGrid1_->horizontalHeader()->setSortIndicatorShown(true);
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
        if (!editsMayGo()) return;
        ui::BusyCursor busy;
        try {
            rows_->sort(column, order);
            header->setSortIndicator(column, order);
        } catch (const std::exception& error) {
            reportFailure(error);
        }
        updateState();
    });
    editors_ = new CellEditors(*rows_, this);
    DBGrid1_->setItemDelegate(editors_);
    connect(editors_, &CellEditors::refused, this, [this](const QString& why) { status_->setText(why); });
    connect(DBGrid1_, &QAbstractItemView::doubleClicked, this, &TableDataView::openValue);

    DBGrid1_->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(DBGrid1_, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
        const QModelIndex cell = DBGrid1_->indexAt(at);
        if (!cell.isValid()) return;
        QMenu menu(this);
        for (const char* how : {"=", "<>", "LIKE", "IS NULL"})
            menu.addAction(QStringLiteral("Filter: %1").arg(QLatin1String(how)), this,
                           [this, how] { filterByCell(QLatin1String(how)); });
        menu.addSeparator();
        QAction* setNull = menu.addAction(QStringLiteral("Set NULL"), this,
                                          [this, cell] { rows_->setNull(cell); });
        setNull->setEnabled(rows_->flags(cell) & Qt::ItemIsEditable);
        const bool editable = bool(rows_->flags(cell) & Qt::ItemIsEditable);
        menu.addAction(QStringLiteral("Load from file..."), this, [this, cell] { loadValue(cell); })
            ->setEnabled(editable);
        menu.addAction(QStringLiteral("Save to file..."), this, [this, cell] { saveValue(cell); });
        menu.addAction(QStringLiteral("Copy"), this, [this] {
            QGuiApplication::clipboard()->setText(
                cellsAsTsv(*rows_, DBGrid1_->selectionModel()->selectedIndexes()));
        });
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
    connect(preview_, &QToolButton::clicked, this, &TableDataView::previewEdits);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(filter_);
    layout->addWidget(filterError_);
    layout->addWidget(DBGrid1_, 1);
    layout->addWidget(navigator);

    connect(navigator_[0], &QToolButton::clicked, this, [this] { selectRow(0); });
    connect(navigator_[1], &QToolButton::clicked, this,
            [this] { selectRow(std::max(0, DBGrid1_->currentIndex().row() - 1)); });
    connect(navigator_[2], &QToolButton::clicked, this, [this] {
        selectRow(std::min(rows_->rowCount() - 1, DBGrid1_->currentIndex().row() + 1));
    });
    connect(navigator_[3], &QToolButton::clicked, this, [this] {
        ui::BusyCursor busy;
        if (!rows_->loadEnd() && !rows_->lastError().isEmpty())
            prompts_.message(window(), rows_->lastError());
        selectRow(rows_->rowCount() - 1);
    });
    connect(navigator_[4], &QToolButton::clicked, this, &TableDataView::addRow);
    connect(navigator_[5], &QToolButton::clicked, this, &TableDataView::deleteSelectedRows);
    connect(navigator_[6], &QToolButton::clicked, this, [this] {
        const QModelIndex current = DBGrid1_->currentIndex();
        if (!current.isValid()) return;
        if (editors_->editsElsewhere(current))
            openValue(current);
        else
            DBGrid1_->edit(current);
    });
    shortcut(DBGrid1_, QKeySequence(Qt::Key_F2), [this] { navigator_[6]->click(); });
    connect(navigator_[7], &QToolButton::clicked, this, &TableDataView::post);
    connect(navigator_[8], &QToolButton::clicked, this, &TableDataView::cancelEdit);
    connect(navigator_[9], &QToolButton::clicked, this, &TableDataView::refresh);

    shortcut(DBGrid1_, QKeySequence(Qt::Key_Insert), [this] { addRow(); });
    shortcut(DBGrid1_, QKeySequence(Qt::CTRL | Qt::Key_Delete), [this] { deleteSelectedRows(); });
    shortcut(DBGrid1_, QKeySequence(Qt::CTRL | Qt::Key_Return), [this] { post(); });
    shortcut(DBGrid1_, QKeySequence(Qt::CTRL | Qt::Key_Enter), [this] { post(); });
    shortcut(DBGrid1_, QKeySequence(Qt::Key_Escape), [this] { cancelEdit(); });

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

void TableDataView::selectRow(int row) {
    if (row < 0 || row >= rows_->rowCount()) return;
    const int column = std::max(0, DBGrid1_->currentIndex().column());
    const QModelIndex target = rows_->index(row, column);
    DBGrid1_->setCurrentIndex(target);
    DBGrid1_->scrollTo(target);
}

bool TableDataView::editsMayGo() {
    if (!rows_->hasEdits()) return true;
    return prompts_.yesNo(window(),
                          QStringLiteral("%1 not posted. Let them go?")
                              .arg(ui::counted(rows_->editCount(), "edit")),
                          QStringLiteral("Data"));
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
    if (!editsMayGo()) return false;
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
    DBGrid1_->resizeColumnsToContents();
    for (int c = 0; c < rows_->columnCount(); ++c)
        DBGrid1_->setColumnWidth(c, std::min(DBGrid1_->columnWidth(c), 320));
    if (rows_->rowCount() > 0) DBGrid1_->setCurrentIndex(rows_->index(0, 0));
    updateState();
    return true;
}

void TableDataView::addRow() {
    if (!rows_->editable()) return;
    rows_->addRow();
    const QModelIndex first = rows_->index(0, 0);
    DBGrid1_->setCurrentIndex(first);
    DBGrid1_->scrollTo(first);
}

void TableDataView::deleteSelectedRows() {
    if (!rows_->editable()) return;
    std::vector<int> selected;
    for (const QModelIndex& index : DBGrid1_->selectionModel()->selectedIndexes())
        selected.push_back(index.row());
    if (selected.empty() && DBGrid1_->currentIndex().isValid())
        selected.push_back(DBGrid1_->currentIndex().row());
    if (selected.empty()) return;
    std::sort(selected.begin(), selected.end());
    selected.erase(std::unique(selected.begin(), selected.end()), selected.end());
    // Name the rows by their keys, so the question says which rows go.
    QStringList keys;
    const TableShape& shape = rows_->pager()->shape();
    for (int row : selected) {
        if (keys.size() == 10) {
            keys << QStringLiteral("…");
            break;
        }
        QStringList parts;
        for (int column : shape.key)
            parts << rows_->index(row, column).data().toString();
        keys << parts.join(QStringLiteral(", "));
    }
    QStringList names;
    for (int column : shape.key) names << shape.columns[std::size_t(column)].name;
    if (!prompts_.yesNo(window(),
                        QStringLiteral("Delete %1 (%2: %3)? They go when the edits are posted.")
                            .arg(ui::counted(int(selected.size()), "row"), names.join(u','),
                                 keys.join(QStringLiteral("; "))),
                        QStringLiteral("Delete")))
        return;
    rows_->deleteRows(selected);
}

bool TableDataView::post() {
    if (!rows_->hasEdits()) return true;
    static_cast<EditingGrid*>(DBGrid1_)->commitOpenEditor();
    ui::BusyCursor busy;
    const PostOutcome out = rows_->post(std::max(0, DBGrid1_->currentIndex().row()));
    if (out.applied) {
        updateState();
        return true;
    }
    const int row = rows_->gridRowOf(out.failedEdit);
    const QString which =
        row >= 0 ? QStringLiteral("row %1").arg(rows_->headerData(row, Qt::Vertical).toString())
                 : QStringLiteral("an edit");
    QString text = QStringLiteral("Posting failed at %1: %2").arg(which, out.reason);
    text += out.partlyKept
                ? QStringLiteral("\nThe table's engine cannot roll back: the edits before it were applied.")
                : QStringLiteral("\nNothing was changed; the edits are kept so they can be corrected.");
    if (out.changedElsewhere && row >= 0) {
        if (prompts_.yesNo(window(), text + QStringLiteral("\n\nDrop the edit of that row and read it again?"),
                           QStringLiteral("Post"))) {
            rows_->revertRow(row);
            rows_->rereadAround(row);
        }
    } else {
        prompts_.message(window(), text, QStringLiteral("Post"));
    }
    if (row >= 0) selectRow(row);
    updateState();
    return false;
}

void TableDataView::cancelEdit() {
    const QModelIndex current = DBGrid1_->currentIndex();
    if (current.isValid()) rows_->revertRow(current.row());
}

void TableDataView::refresh() {
    if (!editsMayGo()) return;
    // A table that could not be opened is tried again.
    if (!rows_->isOpen()) {
        if (!table_.isEmpty()) openTable();
        return;
    }
    ui::BusyCursor busy;
    try {
        rows_->reload();
    } catch (const std::exception& error) {
        reportFailure(error);
    }
    updateState();
}

void TableDataView::applyFilter() {
    if (!rows_->isOpen() || !editsMayGo()) return;
    ui::BusyCursor busy;
    try {
        rows_->setFilter(filter_->text());
        filterError_->hide();
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
    const QModelIndex cell = DBGrid1_->currentIndex();
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

// Long text is read, and changed, in the value viewer; a value that is not editable is shown.
void TableDataView::openValue(const QModelIndex& index) {
    if (!index.isValid()) return;
    const bool editable = bool(rows_->flags(index) & Qt::ItemIsEditable);
    if (editable && !editors_->editsElsewhere(index)) return;  // edited in place
    const FieldDef& field = rows_->fields()[std::size_t(index.column())];
    const bool binary = rows_->pager() &&
                        rows_->pager()->shape().columns[std::size_t(index.column())].isBinary();
    QString text;
    if (rows_->tableRow(index.row()) >= 0 && !rows_->editAtRow(index.row())) {
        const db::Value value = rows_->cell(rows_->tableRow(index.row()), index.column());
        text = valuetext::forViewer(field.type, value.view(), value.isNull());
    } else {
        text = index.data(Qt::EditRole).toString();
    }
    const bool edit = editable && !binary;
    ui::ValueViewer viewer(field.name, text,
                           edit ? ui::ValueViewer::Mode::Edit : ui::ValueViewer::Mode::View, this);
    if (prompts_.exec(&viewer) == QDialog::Accepted && edit &&
        viewer.Text()->toPlainText() != text)
        rows_->setData(index, viewer.Text()->toPlainText());
}

void TableDataView::loadValue(const QModelIndex& index) {
    if (!(rows_->flags(index) & Qt::ItemIsEditable)) return;
    const QString path = prompts_.openFileName(window(), QStringLiteral("Load Value"), {}, {});
    if (path.isEmpty()) return;
    // The server takes no value longer than its packet limit; a gigabyte is past any.
    constexpr qint64 kLimit = qint64(1) << 30;
    const files::Read read = files::readRegularFile(path, kLimit);
    if (!read.ok()) {
        prompts_.message(window(), read.outcome == files::Read::TooLarge
                                       ? QStringLiteral("%1 is larger than 1 GiB.").arg(path)
                                       : QStringLiteral("Cannot read %1: %2.").arg(path, read.reason()));
        return;
    }
    rows_->setData(index, read.bytes);
}

void TableDataView::saveValue(const QModelIndex& index) {
    if (!index.isValid()) return;
    const QString path = prompts_.saveFileName(window(), QStringLiteral("Save Value"), {}, {});
    if (path.isEmpty()) return;
    const QByteArray bytes = rows_->bytesAt(index);
    try {
        files::OutputFile out(path);
        out.append(std::string_view(bytes.constData(), std::size_t(bytes.size())));
        out.commit();
    } catch (const files::WriteError& error) {
        prompts_.message(window(), QString::fromUtf8(error.what()));
    }
}

void TableDataView::previewEdits() {
    QStringList text;
    for (const std::string& statement : rows_->preview())
        text << QString::fromUtf8(statement.data(), qsizetype(statement.size())) + u';';
    if (text.isEmpty()) return;
    text.prepend(QStringLiteral("START TRANSACTION;"));
    text << QStringLiteral("COMMIT;");
    ui::ValueViewer viewer(QStringLiteral("edits not posted"), text.join(u'\n'), this);
    prompts_.exec(&viewer);
}
