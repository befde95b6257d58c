#include "panels/GridEditing.h"

#include <QAbstractItemDelegate>
#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QGuiApplication>
#include <QMenu>
#include <QPlainTextEdit>
#include <QTableView>
#include <algorithm>
#include <functional>

#include "dataset/EditableRows.h"
#include "dataset/RowFrame.h"
#include "dataset/ValueText.h"
#include "files/OutputFile.h"
#include "files/RegularFile.h"
#include "panels/CellEditors.h"
#include "panels/ResultExport.h"
#include "ui/BusyCursor.h"
#include "ui/Counted.h"
#include "ui/Prompts.h"
#include "ui/ValueViewer.h"

namespace {

void shortcut(QWidget* on, const QKeySequence& keys, QObject* context,
              const std::function<void()>& run) {
    auto* action = new QAction(on);
    action->setShortcut(keys);
    action->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    QObject::connect(action, &QAction::triggered, context, run);
    on->addAction(action);
}

}  // namespace

GridEditing::GridEditing(EditableRows& rows, QTableView& grid, ui::Prompts& prompts)
    : QObject(&grid), rows_(rows), grid_(grid), prompts_(prompts) {
    editors_ = new CellEditors(rows_, this);
    grid_.setItemDelegate(editors_);
    grid_.setEditTriggers(QAbstractItemView::AnyKeyPressed | QAbstractItemView::EditKeyPressed |
                          QAbstractItemView::SelectedClicked);
    connect(editors_, &CellEditors::refused, this, &GridEditing::note);
    shortcut(&grid_, QKeySequence(Qt::Key_F2), this, [this] { editCurrent(); });
    shortcut(&grid_, QKeySequence(Qt::Key_Insert), this, [this] { addRow(); });
    shortcut(&grid_, QKeySequence(Qt::CTRL | Qt::Key_Delete), this, [this] { deleteSelectedRows(); });
    shortcut(&grid_, QKeySequence(Qt::CTRL | Qt::Key_Return), this, [this] { post(); });
    shortcut(&grid_, QKeySequence(Qt::CTRL | Qt::Key_Enter), this, [this] { post(); });
    shortcut(&grid_, QKeySequence(Qt::Key_Escape), this, [this] { cancelEdit(); });
}

QWidget* GridEditing::owner() const { return grid_.window(); }

void GridEditing::commitOpenEditor() {
    // An open editor is the focused child of the viewport.
    QWidget* editor = QApplication::focusWidget();
    if (!editor || !grid_.viewport()->isAncestorOf(editor)) return;
    // Both are the view's own slots: the delegate hands the value over as on Return.
    QMetaObject::invokeMethod(&grid_, "commitData", Qt::DirectConnection, Q_ARG(QWidget*, editor));
    QMetaObject::invokeMethod(&grid_, "closeEditor", Qt::DirectConnection, Q_ARG(QWidget*, editor),
                              Q_ARG(QAbstractItemDelegate::EndEditHint, QAbstractItemDelegate::NoHint));
}

RowFrame* GridEditing::frame() const { return qobject_cast<RowFrame*>(grid_.model()); }

QModelIndex GridEditing::rowsIndex(const QModelIndex& index) const {
    RowFrame* f = frame();
    return f && index.model() == f ? f->mapToSource(index) : index;
}

QModelIndex GridEditing::shown(int row, int column) const {
    const QModelIndex index = rows_.index(row, column);
    RowFrame* f = frame();
    if (!f) return index;
    f->reveal(row);
    return f->mapFromSource(index);
}

int GridEditing::currentRow() const { return rowsIndex(grid_.currentIndex()).row(); }

void GridEditing::selectRow(int row) {
    if (row < 0 || row >= rows_.rowCount()) return;
    const int column = std::max(0, grid_.currentIndex().column());
    const QModelIndex target = shown(row, column);
    grid_.setCurrentIndex(target);
    grid_.scrollTo(target);
}

bool GridEditing::editsMayGo() {
    if (!rows_.hasEdits()) return true;
    return prompts_.yesNo(owner(),
                          QStringLiteral("%1 not posted. Let them go?")
                              .arg(ui::counted(rows_.editCount(), "edit")),
                          QStringLiteral("Data"));
}

void GridEditing::addRow() {
    if (!rows_.editable()) return;
    rows_.addRow();
    selectRow(0);
}

void GridEditing::deleteSelectedRows() {
    if (!rows_.editable()) return;
    std::vector<int> selected;
    for (const QModelIndex& index : grid_.selectionModel()->selectedIndexes())
        selected.push_back(rowsIndex(index).row());
    if (selected.empty() && grid_.currentIndex().isValid()) selected.push_back(currentRow());
    if (selected.empty()) return;
    std::sort(selected.begin(), selected.end());
    selected.erase(std::unique(selected.begin(), selected.end()), selected.end());
    // Name the rows by their keys, so the question says which rows go.
    QStringList keys;
    const TableShape& shape = *rows_.editShape();
    for (int row : selected) {
        if (keys.size() == 10) {
            keys << QStringLiteral("…");
            break;
        }
        QStringList parts;
        for (int column : shape.key) parts << rows_.index(row, column).data().toString();
        keys << parts.join(QStringLiteral(", "));
    }
    QStringList names;
    for (int column : shape.key) names << shape.columns[std::size_t(column)].name;
    if (!prompts_.yesNo(owner(),
                        QStringLiteral("Delete %1 (%2: %3)? They go when the edits are posted.")
                            .arg(ui::counted(int(selected.size()), "row"), names.join(u','),
                                 keys.join(QStringLiteral("; "))),
                        QStringLiteral("Delete")))
        return;
    rows_.deleteRows(selected);
}

bool GridEditing::post() {
    if (!rows_.hasEdits()) return true;
    commitOpenEditor();
    ui::BusyCursor busy;
    const PostOutcome out = rows_.post(std::max(0, currentRow()));
    if (out.applied) return true;
    const int row = rows_.gridRowOf(out.failedEdit);
    const QString which =
        row >= 0 ? QStringLiteral("row %1").arg(rows_.headerData(row, Qt::Vertical).toString())
                 : QStringLiteral("an edit");
    QString text = QStringLiteral("Posting failed at %1: %2").arg(which, out.reason);
    text += out.partlyKept
                ? QStringLiteral("\nThe table's engine cannot roll back: the edits before it were applied.")
                : QStringLiteral("\nNothing was changed; the edits are kept so they can be corrected.");
    if (out.changedElsewhere && row >= 0) {
        if (prompts_.yesNo(owner(), text + QStringLiteral("\n\nDrop the edit of that row and read it again?"),
                           QStringLiteral("Post"))) {
            rows_.revertRow(row);
            rows_.rereadAround(row);
        }
    } else {
        prompts_.message(owner(), text, QStringLiteral("Post"));
    }
    if (row >= 0) selectRow(row);
    return false;
}

void GridEditing::cancelEdit() {
    if (grid_.currentIndex().isValid()) rows_.revertRow(currentRow());
}

void GridEditing::editCurrent() {
    const QModelIndex current = grid_.currentIndex();
    if (!current.isValid()) return;
    if (editors_->editsElsewhere(current))
        openValue(rowsIndex(current));
    else
        grid_.edit(current);
}

// Long text is read, and changed, in the value viewer; a value that is not editable is shown.
void GridEditing::openValue(const QModelIndex& cell) {
    const QModelIndex index = rowsIndex(cell);
    if (!index.isValid()) return;
    const bool editable = bool(rows_.flags(index) & Qt::ItemIsEditable);
    if (editable && !editors_->editsElsewhere(index)) return;  // edited in place
    const FieldDef& field = rows_.fields()[std::size_t(index.column())];
    const TableShape* shape = rows_.editShape();
    const bool binary = shape && shape->columns[std::size_t(index.column())].isBinary();
    QString text;
    if (rows_.tableRow(index.row()) >= 0 && !rows_.editAtRow(index.row())) {
        const db::Value value = rows_.cell(rows_.tableRow(index.row()), index.column());
        text = valuetext::forViewer(field.type, value.view(), value.isNull());
    } else {
        text = index.data(Qt::EditRole).toString();
    }
    const bool edit = editable && !binary;
    ui::ValueViewer viewer(field.name, text,
                           edit ? ui::ValueViewer::Mode::Edit : ui::ValueViewer::Mode::View, &grid_);
    if (prompts_.exec(&viewer) == QDialog::Accepted && edit &&
        viewer.Text()->toPlainText() != text)
        rows_.setData(index, viewer.Text()->toPlainText());
}

void GridEditing::loadValue(const QModelIndex& cell) {
    const QModelIndex index = rowsIndex(cell);
    if (!(rows_.flags(index) & Qt::ItemIsEditable)) return;
    const QString path = prompts_.openFileName(owner(), QStringLiteral("Load Value"), {}, {});
    if (path.isEmpty()) return;
    // The server takes no value longer than its packet limit; a gigabyte is past any.
    constexpr qint64 kLimit = qint64(1) << 30;
    const files::Read read = files::readRegularFile(path, kLimit);
    if (!read.ok()) {
        prompts_.message(owner(), read.outcome == files::Read::TooLarge
                                      ? QStringLiteral("%1 is larger than 1 GiB.").arg(path)
                                      : QStringLiteral("Cannot read %1: %2.").arg(path, read.reason()));
        return;
    }
    rows_.setData(index, read.bytes);
}

void GridEditing::saveValue(const QModelIndex& cell) {
    const QModelIndex index = rowsIndex(cell);
    if (!index.isValid()) return;
    const QString path = prompts_.saveFileName(owner(), QStringLiteral("Save Value"), {}, {});
    if (path.isEmpty()) return;
    const QByteArray bytes = rows_.bytesAt(index);
    try {
        files::OutputFile out(path);
        out.append(std::string_view(bytes.constData(), std::size_t(bytes.size())));
        out.commit();
    } catch (const files::WriteError& error) {
        prompts_.message(owner(), QString::fromUtf8(error.what()));
    }
}

void GridEditing::addCellActions(QMenu& menu, const QModelIndex& shownCell) {
    // Kept as the rows' own index: the frame may move while the menu is open.
    const QPersistentModelIndex cell = rowsIndex(shownCell);
    const bool editable = bool(rows_.flags(cell) & Qt::ItemIsEditable);
    menu.addAction(QStringLiteral("Set NULL"), this, [this, cell] { rows_.setNull(cell); })
        ->setEnabled(editable);
    menu.addAction(QStringLiteral("Load from file..."), this, [this, cell] { loadValue(cell); })
        ->setEnabled(editable);
    menu.addAction(QStringLiteral("Save to file..."), this, [this, cell] { saveValue(cell); });
    menu.addAction(QStringLiteral("Copy"), this, [this] {
        QModelIndexList cells;
        for (const QModelIndex& index : grid_.selectionModel()->selectedIndexes())
            cells << rowsIndex(index);
        QGuiApplication::clipboard()->setText(cellsAsTsv(rows_, cells));
    });
}

void GridEditing::previewEdits() {
    QStringList text;
    for (const std::string& statement : rows_.preview())
        text << QString::fromUtf8(statement.data(), qsizetype(statement.size())) + u';';
    if (text.isEmpty()) return;
    text.prepend(QStringLiteral("START TRANSACTION;"));
    text << QStringLiteral("COMMIT;");
    ui::ValueViewer viewer(QStringLiteral("edits not posted"), text.join(u'\n'), &grid_);
    prompts_.exec(&viewer);
}
