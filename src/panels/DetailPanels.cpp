#include "panels/DetailPanels.h"

#include <QCheckBox>
#include <QFontMetrics>
#include <QHeaderView>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <algorithm>
#include <stdexcept>
#include <utility>
#include <vector>

#include "db/Connection.h"
#include "db/GrantColumns.h"
#include "db/Result.h"
#include "panels/ProcessRefresh.h"
#include "panels/StatusPanel.h"
#include "tree/ServerSession.h"
#include "tree/TreeNode.h"
#include "ui/BusyCursor.h"
#include "ui/GridLineDelegate.h"
#include "ui/Named.h"
#include "ui/Prompts.h"
#include "ui/TextAdvance.h"

using panels::ShownColumn;

namespace {

const char* const kUserBoxNames[] = {"USelect", "UInsert",     "UUpdate",   "UDelete",  "UCreate",
                                     "UDrop",   "UReload",     "UShutdown", "UProcess", "UFile",
                                     "UGrant",  "UReferences", "UIndex",    "UAlter"};
const char* const kHostBoxNames[] = {"HSelect", "HInsert", "HUpdate",     "HDelete", "HCreate",
                                     "HDrop",   "HGrant",  "HReferences", "HIndex",  "HAlter"};

// A node the level's fill needs (an ancestor of the clicked node); a tree that lacks it
// is not one this program built.
TreeNode* required(TreeNode* node) {
    if (!node) throw std::runtime_error("the node lacks the ancestors of its level");
    return node;
}

// Report-style list: no root decoration, whole rows selected, cell borders for a grid.
QTreeWidget* makeList(QWidget* parent, const char* name) {
    auto* list = new QTreeWidget(parent);
    list->setObjectName(QLatin1String(name));
    list->setRootIsDecorated(false);
    list->setItemsExpandable(false);
    list->setAllColumnsShowFocus(true);
    list->setUniformRowHeights(true);
    list->setSelectionBehavior(QAbstractItemView::SelectRows);
    list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    list->setItemDelegate(new ui::GridLineDelegate(list));
    return list;
}

// Columns as wide as their captions and the values shown, within reason: a long comment or
// query text is not allowed to push the other columns out of sight.
// Laying out every value through the style, as resizeColumnToContents does, took most of the
// time a list of thousands of tables needs; the values are ranked by the advances of their
// characters instead, and only the widest few are measured as the list draws them.
void fitColumns(QTreeWidget* list) {
    constexpr int kMaxWidth = 400;
    constexpr int kPadding = 8;
    constexpr std::size_t kMeasured = 8;
    ui::TextAdvance estimate(list->font());
    QAbstractItemModel* model = list->model();
    const int rows = list->topLevelItemCount();
    std::vector<std::pair<int, int>> ranked;  // estimated width, row
    for (int c = 0; c < list->columnCount(); ++c) {
        ranked.clear();
        for (int row = 0; row < rows; ++row)
            ranked.emplace_back(estimate(list->topLevelItem(row)->text(c)), row);
        const std::size_t measured = std::min(kMeasured, ranked.size());
        std::partial_sort(ranked.begin(), ranked.begin() + std::ptrdiff_t(measured), ranked.end(),
                          [](const auto& a, const auto& b) { return a.first > b.first; });
        int width = list->isHeaderHidden() ? 0 : list->header()->sectionSizeHint(c);
        for (std::size_t i = 0; i < measured; ++i)
            width = std::max(width, list->sizeHintForIndex(model->index(ranked[i].second, c)).width());
        list->setColumnWidth(c, std::min(kMaxWidth, width + kPadding));
    }
}

QTreeWidget* makeColumnList(QWidget* parent, const char* name,
                            std::span<const ShownColumn> columns) {
    QTreeWidget* list = makeList(parent, name);
    QStringList headers;
    for (const ShownColumn& c : columns) headers << QLatin1String(c.caption);
    list->setColumnCount(int(headers.size()));
    list->setHeaderLabels(headers);
    return list;
}

// Name/value list of one object's properties.
QTreeWidget* makePropertyList(QWidget* parent, const char* name) {
    QTreeWidget* list = makeList(parent, name);
    list->setColumnCount(2);
    list->setHeaderHidden(true);
    return list;
}

QStringList rowTexts(const db::Result& row, const std::vector<int>& positions) {
    QStringList texts;
    texts.reserve(qsizetype(positions.size()));
    for (int p : positions) texts << (p < 0 ? QString() : row.text(unsigned(p)));
    return texts;
}

// A row of SHOW TABLE STATUS: a view has no engine and the comment "VIEW", so its Type
// reads "VIEW" instead of staying empty. `typeIndex` is the Type caption's place in the
// texts; other lists pass -1 and are left alone.
struct ViewMark {
    int typeIndex = -1;
    int commentPosition = -1;

    ViewMark() = default;
    ViewMark(const db::Result& result, std::span<const ShownColumn> columns) {
        for (std::size_t i = 0; i < columns.size(); ++i)
            if (QLatin1String(columns[i].caption) == QLatin1String("Type")) typeIndex = int(i);
        static constexpr ShownColumn kComment[] = {{"Comment", "Comment"}};
        commentPosition = panels::columnPositions(result, kComment).front();
    }
    void apply(const db::Result& row, QStringList& texts) const {
        if (typeIndex < 0 || commentPosition < 0 || !texts[typeIndex].isEmpty()) return;
        if (row.text(unsigned(commentPosition)) == QLatin1String("VIEW"))
            texts[typeIndex] = QStringLiteral("VIEW");
    }
};

// Replaces the list's items by one item per row.
void fillRows(QTreeWidget* list, db::Result& result, std::span<const ShownColumn> columns,
              const ViewMark& mark = {}) {
    list->clear();
    const std::vector<int> positions = panels::columnPositions(result, columns);
    QList<QTreeWidgetItem*> items;
    while (result.next()) {
        QStringList texts = rowTexts(result, positions);
        mark.apply(result, texts);
        items << new QTreeWidgetItem(texts);
    }
    list->addTopLevelItems(items);
    fitColumns(list);
}

// Replaces the list's items by the properties of the row whose first column is exactly
// `name` (the server's LIKE and collations ignore letter case; the node's name does not).
void fillProperties(QTreeWidget* list, db::Result& result, std::span<const ShownColumn> columns,
                    const QString& name, const ViewMark& mark = {}) {
    list->clear();
    const std::vector<int> positions = panels::columnPositions(result, columns);
    QList<QTreeWidgetItem*> items;
    while (result.next()) {
        if (positions.front() < 0 || result.text(unsigned(positions.front())) != name) continue;
        QStringList values = rowTexts(result, positions);
        mark.apply(result, values);
        for (std::size_t i = 0; i < columns.size(); ++i)
            items << new QTreeWidgetItem(
                QStringList{QLatin1String(columns[i].caption), values[qsizetype(i)]});
    }
    list->addTopLevelItems(items);
    fitColumns(list);
}

// The first row whose first two columns are exactly the key; false when there is none.
bool seekExactRow(db::Result& result, const QString& first, const QString& second) {
    while (result.next()) {
        if (result.text(0) == first && result.text(1) == second) return true;
    }
    return false;
}

QLineEdit* addLabelledEdit(QGridLayout* grid, int row, const QString& caption, const char* name) {
    QWidget* parent = grid->parentWidget();
    auto* edit = new QLineEdit(parent);
    edit->setObjectName(QLatin1String(name));
    auto* label = new QLabel(caption, parent);
    label->setBuddy(edit);
    grid->addWidget(label, row, 0);
    grid->addWidget(edit, row, 1);
    return edit;
}

template <std::size_t N>
void addPrivilegeBoxes(QWidget* parent, QGridLayout* grid, std::array<QCheckBox*, N>& boxes,
                       const std::array<const char*, N>& columns, const char* const* names) {
    const int rows = int((N + 1) / 2);
    for (std::size_t i = 0; i < N; ++i) {
        auto* box = new QCheckBox(QLatin1String(columns[i]), parent);
        box->setObjectName(QLatin1String(names[i]));
        grid->addWidget(box, int(i) % rows, int(i) / rows);
        boxes[i] = box;
    }
}

template <std::size_t N>
void setPrivileges(std::array<QCheckBox*, N>& boxes, const db::Result& row, unsigned first) {
    for (std::size_t i = 0; i < N; ++i)
        boxes[i]->setChecked(row.text(first + unsigned(i)) == QLatin1String("Y"));
}

}  // namespace

DetailPanels::DetailPanels(ServerSession& session, ui::Prompts& prompts, QWidget* parent)
    : QWidget(parent), session_(session), prompts_(prompts) {
    setObjectName(QStringLiteral("PanelShow"));
    area_ = new QVBoxLayout(this);
    area_->setContentsMargins(0, 0, 0, 0);

    PanelSQL_ = new QWidget(this);
    PanelSQL_->setObjectName(QStringLiteral("PanelSQL"));
    auto* sqlLayout = new QVBoxLayout(PanelSQL_);
    sqlLayout->setContentsMargins(0, 0, 0, 0);
    PanelSQL_->hide();

    buildUserPanel();
    buildHostPanel();

    TableListView_ = makeColumnList(this, "TableListView", panels::kTableListColumns);
    FieldListView_ = makeColumnList(this, "FieldListView", panels::kFieldListColumns);
    ColumnListView_ = makePropertyList(this, "ColumnListView");
    IndexListView_ = makeColumnList(this, "IndexListView", panels::kIndexListColumns);
    DetailListView_ = makePropertyList(this, "DetailListView");
    ProcessListView_ = makeColumnList(this, "ProcessListView", panels::kProcessListColumns);
    DataTab_ = new QWidget(this);
    DataTab_->setObjectName(QStringLiteral("DataTab"));

    PTable_ = addPageControl(pnTable, "PTable", TableListView_, "TableSql");
    PField_ = addPageControl(pnField, "PField", FieldListView_, "FieldSql");
    PColumn_ = addPageControl(pnColumn, "PColumn", ColumnListView_, "ColumnSql");
    PIndex_ = addPageControl(pnIndex, "PIndex", IndexListView_, "IndexSql");
    PTableDetail_ =
        addPageControl(pnTableDetail, "PTableDetail", DetailListView_, "DetailSql", DataTab_);
    PProcess_ = addPageControl(pnProcess, "PProcess", ProcessListView_, "ProcesSql");
    processRefresh_ = new ProcessRefresh(*PProcess_, *ProcessListView_, session_);
    PStatus_ = new StatusPanel(session_, prompts_, this);
    area_->addWidget(PStatus_);
    panels_[pnStatus] = PStatus_;

    for (QWidget* p : panels_) {
        if (p) p->hide();
    }
}

void DetailPanels::buildUserPanel() {
    PUser_ = new QWidget(this);
    PUser_->setObjectName(QStringLiteral("PUser"));
    auto* layout = new QVBoxLayout(PUser_);
    auto* edits = new QGridLayout;
    layout->addLayout(edits);
    EditUUser_ = addLabelledEdit(edits, 0, QStringLiteral("User :"), "EditUUser");
    EditUHost_ = addLabelledEdit(edits, 1, QStringLiteral("Host :"), "EditUHost");
    EditUPass_ = addLabelledEdit(edits, 2, QStringLiteral("Password :"), "EditUPass");
    EditUPass_->setEchoMode(QLineEdit::Password);
    EditUPass_->setStyleSheet(QStringLiteral("QLineEdit { lineedit-password-character: 42; }"));

    auto* boxes = new QGridLayout;
    layout->addLayout(boxes);
    addPrivilegeBoxes(PUser_, boxes, userBoxes_, db::kUserPrivilegeColumns, kUserBoxNames);

    auto* buttons = new QHBoxLayout;
    layout->addLayout(buttons);
    SpeedButton1_ = ui::named(new QPushButton(QStringLiteral("+"), PUser_), "SpeedButton1");
    SpeedButton2_ = ui::named(new QPushButton(QStringLiteral("Save"), PUser_), "SpeedButton2");
    SpeedButton3_ = ui::named(new QPushButton(QStringLiteral("-"), PUser_), "SpeedButton3");
    buttons->addWidget(SpeedButton1_);
    buttons->addWidget(SpeedButton2_);
    buttons->addWidget(SpeedButton3_);
    buttons->addStretch();
    layout->addStretch();

    area_->addWidget(PUser_);
    panels_[pnUser] = PUser_;
}

void DetailPanels::buildHostPanel() {
    PHost_ = new QWidget(this);
    PHost_->setObjectName(QStringLiteral("PHost"));
    auto* layout = new QVBoxLayout(PHost_);
    auto* edits = new QGridLayout;
    layout->addLayout(edits);
    EditHHost_ = addLabelledEdit(edits, 0, QStringLiteral("Host :"), "EditHHost");
    EditHDb_ = addLabelledEdit(edits, 1, QStringLiteral("Db :"), "EditHDb");

    auto* boxes = new QGridLayout;
    layout->addLayout(boxes);
    addPrivilegeBoxes(PHost_, boxes, hostBoxes_, db::kHostPrivilegeColumns, kHostBoxNames);

    auto* buttons = new QHBoxLayout;
    layout->addLayout(buttons);
    SpeedButton4_ = ui::named(new QPushButton(QStringLiteral("+"), PHost_), "SpeedButton4");
    SpeedButton5_ = ui::named(new QPushButton(QStringLiteral("Save"), PHost_), "SpeedButton5");
    SpeedButton6_ = ui::named(new QPushButton(QStringLiteral("-"), PHost_), "SpeedButton6");
    buttons->addWidget(SpeedButton4_);
    buttons->addWidget(SpeedButton5_);
    buttons->addWidget(SpeedButton6_);
    buttons->addStretch();
    layout->addStretch();

    area_->addWidget(PHost_);
    panels_[pnHost] = PHost_;
}

QTabWidget* DetailPanels::addPageControl(int number, const char* name, QTreeWidget* list,
                                         const char* sqlTabName, QWidget* dataTab) {
    auto* pages = new QTabWidget(this);
    pages->setObjectName(QLatin1String(name));
    pages->addTab(list, QStringLiteral("Descript"));
    if (dataTab) pages->addTab(dataTab, QStringLiteral("Data"));
    auto* sqlTab = new QWidget(pages);
    sqlTab->setObjectName(QLatin1String(sqlTabName));
    auto* sqlLayout = new QVBoxLayout(sqlTab);
    sqlLayout->setContentsMargins(0, 0, 0, 0);
    pages->addTab(sqlTab, QStringLiteral("SQL"));

    area_->addWidget(pages);
    panels_[std::size_t(number)] = pages;
    sqlTabs_[std::size_t(number)] = sqlTab;
    return pages;
}

QWidget* DetailPanels::panel(int number) const {
    return number >= pnUser && number < int(panels_.size()) ? panels_[std::size_t(number)]
                                                            : nullptr;
}

void DetailPanels::addPanel(int number, QWidget* panel) {
    if (number < pnUser || number >= int(panels_.size()) || panels_[std::size_t(number)]) return;
    panel->setParent(this);
    panel->hide();
    area_->addWidget(panel);
    panels_[std::size_t(number)] = panel;
}

void DetailPanels::movePanelSql(int number) {
    QWidget* tab = sqlTabs_[std::size_t(number)];
    if (PanelSQL_->parentWidget() != tab) {
        // Leave the old tab's layout first, so the move is not a layout conflict.
        if (QWidget* old = PanelSQL_->parentWidget(); old && old->layout())
            old->layout()->removeWidget(PanelSQL_);
        tab->layout()->addWidget(PanelSQL_);
    }
    PanelSQL_->show();
}

void DetailPanels::SwitchPanel(int number) {
    for (QWidget* p : panels_)
        if (p) p->hide();
    shownPanel_ = number;
    if (number == pnNone) {
        if (tree_) tree_->setFocus();
        return;
    }
    QWidget* shown = panel(number);
    if (!shown) return;
    shown->show();
    // Only the page controls have an "SQL" tab to take the shared panel.
    if (number >= pnTable && sqlTabs_[std::size_t(number)]) movePanelSql(number);
}

void DetailPanels::SetPanel(int level, TreeNode* selected) {
    ui::BusyCursor busy;
    try {
        switch (level) {
            case nlServer:
                SwitchPanel(pnNone);
                break;
            case nlTablesFolder:
                fillTables(required(selected));
                break;
            case nlProceduresFolder:
                fillProcesses(required(selected));
                break;
            case nlTable:
                fillTableDetail(required(selected));
                break;
            case nlFieldsFolder:
                fillFields(required(selected));
                break;
            case nlField:
                fillColumn(required(selected));
                break;
            case nlIndexKeyFolder:
                fillIndexes(required(selected));
                break;
            case nlUser:
                fillAccount(required(selected));
                break;
            case nlHostEntry:
                fillHostEntry(required(selected));
                break;
            case nlServerStatus:
                SwitchPanel(pnStatus);
                PStatus_->Load();
                break;
            case nlView:
            case nlProcedure:
            case nlFunction:
            case nlTrigger:
            case nlEvent:
                if (!panel(pnObject)) break;
                SwitchPanel(pnObject);
                Q_EMIT ShowObject(required(selected));
                break;
            default:
                break;  // folders without a panel leave the shown one as it is
        }
    } catch (const db::DbError& error) {
        prompts_.message(window(), error.connectionLost()
                                       ? lostConnectionMessage(QString::fromUtf8(error.what()))
                                       : QStringLiteral("SetPanel Error"));
    } catch (const std::exception&) {
        prompts_.message(window(), QStringLiteral("SetPanel Error"));
    }
}

// A refused listing leaves the panel empty; a lost connection is said, with how to reconnect.
db::Result DetailPanels::list(const std::string& statement) {
    db::Connection& connection = session_.MainConnection();
    db::Result rows = connection.queryResult(statement);
    if (!rows && connection.connectionLost()) throw connection.lastError();
    return rows;
}

bool DetailPanels::use(const QString& database) {
    db::Connection& connection = session_.MainConnection();
    if (connection.selectDb(database)) return true;
    if (connection.connectionLost()) throw connection.lastError();
    return false;
}

void DetailPanels::fillTables(TreeNode* folder) {
    SwitchPanel(pnTable);
    const QString database = required(folder->parentNode())->text();
    if (!use(database)) return;
    if (db::Result rows = list(panels::tableStatusStatement(database)))
        fillRows(TableListView_, rows, panels::kTableListColumns,
                 ViewMark(rows, panels::kTableListColumns));
}

void DetailPanels::fillProcesses(TreeNode* folder) {
    SwitchPanel(pnProcess);
    if (!use(required(folder->parentNode())->text())) return;
    ListProcesses();
}

void DetailPanels::ListProcesses() {
    if (db::Result rows = session_.MainConnection().listProcesses()) {
        fillRows(ProcessListView_, rows, panels::kProcessListColumns);
        processRefresh_->applyHiding();
    }
}

void DetailPanels::ServerChanged() {
    PStatus_->ServerChanged();
    processRefresh_->ServerChanged();
}

void DetailPanels::fillTableDetail(TreeNode* table) {
    SwitchPanel(pnTableDetail);
    Q_EMIT LoadTableData(table);
    db::Connection& connection = session_.MainConnection();
    const QString database = required(table->databaseNode())->text();
    if (!use(database)) return;
    if (db::Result rows = list(panels::tableStatusStatement(connection, database, table->text())))
        fillProperties(DetailListView_, rows, panels::kTableProperties, table->text(),
                       ViewMark(rows, panels::kTableProperties));
}

void DetailPanels::fillFields(TreeNode* folder) {
    SwitchPanel(pnField);
    TreeNode* table = required(folder->parentNode());
    const QString database = required(folder->databaseNode())->text();
    if (!use(database)) return;
    if (db::Result rows = list(panels::showColumnsStatement(database, table->text())))
        fillRows(FieldListView_, rows, panels::kFieldListColumns);
}

void DetailPanels::fillColumn(TreeNode* field) {
    SwitchPanel(pnColumn);
    TreeNode* table = required(field->ancestor(2));
    const QString database = required(field->databaseNode())->text();
    if (!use(database)) return;
    if (db::Result rows = list(panels::showColumnsStatement(database, table->text())))
        fillProperties(ColumnListView_, rows, panels::kFieldListColumns, field->text());
}

void DetailPanels::fillIndexes(TreeNode* folder) {
    SwitchPanel(pnIndex);
    TreeNode* table = required(folder->parentNode());
    const QString database = required(folder->databaseNode())->text();
    if (!use(database)) return;
    if (db::Result rows = list(panels::showIndexStatement(database, table->text())))
        fillRows(IndexListView_, rows, panels::kIndexListColumns);
}

// The account and host-entry fills change nothing until their row is in hand: a missing
// row or a refused statement leaves the edits, the boxes and the remembered key as they
// were, so a following Save or Delete still addresses the row the panel shows.
void DetailPanels::fillAccount(TreeNode* account) {
    SwitchPanel(pnUser);
    const TUserKey* key = account->userKey();
    if (!key) throw std::runtime_error("an account node without its key");
    LoadAccount(*key);
}

void DetailPanels::LoadAccount(const TUserKey& key) {
    db::Connection& connection = session_.MainConnection();
    if (!connection.selectDb(grantsDb_)) throw connection.lastError();
    const std::string statement = panels::accountFillStatement(
        connection, grantsDb_, session_.traits().userHasPasswordColumn, key.User, key.Host);
    db::Result row = connection.select(statement);
    if (!seekExactRow(row, key.User, key.Host))
        throw std::runtime_error("the account is no longer on the server");

    account_.AddMode = 0;
    account_.OldUser = row.text(0);
    account_.OldUHost = row.text(1);
    account_.OldUPass = row.text(2);
    account_.OldURole = key.Role;
    EditUUser_->setText(account_.OldUser);
    EditUHost_->setText(account_.OldUHost);
    EditUPass_->setText(account_.OldUPass);
    setPrivileges(userBoxes_, row, 3);
    for (std::size_t i = 0; i < userBoxes_.size(); ++i)
        account_.OldUPrivileges[i] = userBoxes_[i]->isChecked();
}

void DetailPanels::fillHostEntry(TreeNode* entry) {
    SwitchPanel(pnHost);
    const THostKey* key = entry->hostKey();
    if (!key) throw std::runtime_error("a host-entry node without its key");
    db::Connection& connection = session_.MainConnection();
    if (!connection.selectDb(grantsDb_)) throw connection.lastError();
    const std::string statement =
        panels::hostEntryFillStatement(connection, grantsDb_, key->Host, key->Db);
    db::Result row = connection.select(statement);
    if (!seekExactRow(row, key->Host, key->Db))
        throw std::runtime_error("the host entry is no longer on the server");

    account_.AddMode = 0;
    account_.OldHHost = row.text(0);
    account_.OldHDb = row.text(1);
    EditHHost_->setText(account_.OldHHost);
    EditHDb_->setText(account_.OldHDb);
    setPrivileges(hostBoxes_, row, 2);
}
