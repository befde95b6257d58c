#include "panels/TableDataView.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QStyle>
#include <QTableView>
#include <QToolButton>
#include <QVBoxLayout>

#include "dataset/TMySQLConnection.h"
#include "dataset/TMySQLDataSet.h"
#include "db/Connection.h"
#include "panels/ResultGrid.h"
#include "tree/ServerSession.h"
#include "tree/TreeNode.h"
#include "ui/BusyCursor.h"
#include "ui/Prompts.h"

TableDataView::TableDataView(TMySQLConnection& datasetConnection, ui::Prompts& prompts,
                             QWidget* parent)
    : QWidget(parent), prompts_(prompts) {
    MySQLDataSet1_ = new TMySQLDataSet(this);
    MySQLDataSet1_->setObjectName(QStringLiteral("MySQLDataSet1"));
    MySQLDataSet1_->SetConnection(&datasetConnection);

    DBGrid1_ = new ResultGrid(*MySQLDataSet1_, prompts, this);
    DBGrid1_->setObjectName(QStringLiteral("DBGrid1"));
    DBGrid1_->setSelectionBehavior(QAbstractItemView::SelectItems);
    DBGrid1_->setSelectionMode(QAbstractItemView::SingleSelection);
    DBGrid1_->setTabKeyNavigation(true);
    DBGrid1_->setShowGrid(true);
    DBGrid1_->horizontalHeader()->setSectionsMovable(false);
    DBGrid1_->horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    // Row heights stay fixed so that a million-row result lays out without measuring rows.
    DBGrid1_->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    DBGrid1_->verticalHeader()->setDefaultSectionSize(
        DBGrid1_->fontMetrics().height() + 6);

    auto* navigator = new QWidget(this);
    navigator->setObjectName(QStringLiteral("DBNavigator1"));
    auto* navLayout = new QHBoxLayout(navigator);
    navLayout->setContentsMargins(0, 2, 0, 2);
    navLayout->setSpacing(1);
    struct NavigatorButton {
        const char* name;
        QStyle::StandardPixmap icon;
        const char* hint;
        bool enabled;
    };
    static const NavigatorButton buttons[] = {
        {"nbFirst", QStyle::SP_MediaSkipBackward, "First record", true},
        {"nbPrior", QStyle::SP_MediaSeekBackward, "Prior record", true},
        {"nbNext", QStyle::SP_MediaSeekForward, "Next record", true},
        {"nbLast", QStyle::SP_MediaSkipForward, "Last record", true},
        {"nbInsert", QStyle::SP_FileDialogNewFolder, "Insert record", false},
        {"nbDelete", QStyle::SP_TrashIcon, "Delete record", false},
        {"nbEdit", QStyle::SP_FileDialogContentsView, "Edit record", false},
        {"nbPost", QStyle::SP_DialogApplyButton, "Post edit", false},
        {"nbCancel", QStyle::SP_DialogCancelButton, "Cancel edit", false},
        {"nbRefresh", QStyle::SP_BrowserReload, "Refresh data", true},
    };
    for (const NavigatorButton& kind : buttons) {
        auto* button = new QToolButton(navigator);
        button->setObjectName(QString::fromLatin1(kind.name));
        button->setIcon(style()->standardIcon(kind.icon));
        button->setToolTip(QString::fromLatin1(kind.hint));
        button->setAutoRaise(true);
        // The rows are read-only: editing buttons are shown but never enabled.
        button->setEnabled(kind.enabled);
        navLayout->addWidget(button);
        navigator_.append(button);
    }
    navLayout->addStretch(1);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(DBGrid1_, 1);
    layout->addWidget(navigator);

    TMySQLDataSet* ds = MySQLDataSet1_;
    connect(navigator_[0], &QToolButton::clicked, this, [ds] { ds->First(); });
    connect(navigator_[1], &QToolButton::clicked, this, [ds] { ds->Prior(); });
    connect(navigator_[2], &QToolButton::clicked, this, [ds] { ds->Next(); });
    connect(navigator_[3], &QToolButton::clicked, this, [ds] { ds->Last(); });
    connect(navigator_[9], &QToolButton::clicked, this, [this] {
        ui::BusyCursor busy;
        MySQLDataSet1_->Close();
        if (!openRows()) reportLostConnection();
    });
    connect(MySQLDataSet1_, &TMySQLDataSet::AfterScroll, this, [this] { followCursor(); });
    // Moving in the grid moves the record cursor.
    connect(DBGrid1_->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            [this](const QModelIndex& current) {
                if (current.isValid() && MySQLDataSet1_->RecNo() != current.row() + 1)
                    MySQLDataSet1_->SetRecNo(current.row() + 1);
            });
}

void TableDataView::followCursor() {
    const int row = MySQLDataSet1_->RecNo() - 1;
    if (row < 0) return;
    const QModelIndex current = DBGrid1_->currentIndex();
    if (current.isValid() && current.row() == row) return;
    const QModelIndex target = MySQLDataSet1_->index(row, current.isValid() ? current.column() : 0);
    DBGrid1_->setCurrentIndex(target);
    DBGrid1_->scrollTo(target);
}

bool TableDataView::LoadTableData(TreeNode* table) {
    ui::BusyCursor busy;
    TreeNode* database = table ? table->databaseNode() : nullptr;
    MySQLDataSet1_->Close();
    if (!database) {
        prompts_.message(window(), QStringLiteral("Data View Error"));
        return false;
    }
    // Naming the database keeps a failed database selection from showing another
    // database's table of the same name.
    MySQLDataSet1_->SetSQL({QStringLiteral("select * from ") +
                            QString::fromStdString(db::qualifiedName(database->text(),
                                                                     table->text()))});
    if (!openRows()) {
        if (!reportLostConnection()) prompts_.message(window(), QStringLiteral("Data View Error"));
        return false;
    }
    return true;
}

bool TableDataView::openRows() {
    const bool opened = MySQLDataSet1_->Open();
    if (!MySQLDataSet1_->LastError().isEmpty())
        prompts_.message(window(), MySQLDataSet1_->LastError());
    return opened;
}

bool TableDataView::reportLostConnection() {
    TMySQLConnection* connection = MySQLDataSet1_->Connection();
    if (!connection || !connection->connection().connectionLost()) return false;
    prompts_.message(window(), lostConnectionMessage(connection->connection().errorText()));
    return true;
}
