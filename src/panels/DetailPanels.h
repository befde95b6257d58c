#pragma once

#include <QPointer>
#include <QString>
#include <QWidget>
#include <array>
#include <string>

#include "panels/PanelStatements.h"
#include "ui/AccountPanelState.h"

class QCheckBox;
class QLineEdit;
class QPushButton;
class QTabWidget;
class QTreeWidget;
class QVBoxLayout;
class ProcessRefresh;
class ServerSession;
class StatusPanel;
class TreeNode;
struct TUserKey;
namespace db {
class Result;
}
namespace ui {
class Prompts;
}

// The detail area on the right of the main window: the account and host-entry panels and
// the six page controls that list what the server says about the selected tree node. One
// panel at a time fills the area. The shared SQL panel has no place of its own; it moves
// into the "SQL" tab of whichever page control is shown.
class DetailPanels : public QWidget {
    Q_OBJECT
public:
    // Panel numbers of SwitchPanel and ShownPanel.
    enum Panel {
        pnNone = 0,
        pnUser = 1,
        pnHost = 2,
        pnTable = 3,
        pnField = 4,
        pnColumn = 5,
        pnIndex = 6,
        pnTableDetail = 7,
        pnProcess = 8,
        pnObject = 9,
        pnStatus = 10,
    };

    DetailPanels(ServerSession& session, ui::Prompts& prompts, QWidget* parent = nullptr);

    // The tree that receives the focus when no panel is shown.
    void setTreeView(QWidget* tree) { tree_ = tree; }
    // The database holding the grant tables user and host; "mysql" unless a test points
    // the account fills at tables of its own.
    void setGrantsDatabase(const QString& name) { grantsDb_ = name; }

    // Hides every panel, remembers `number` (whatever its value) and shows its panel; 0 or
    // an unknown number leaves the area empty, 0 also focuses the tree. The active tab of a
    // page control is left as the user chose it.
    void SwitchPanel(int number);
    int ShownPanel() const { return shownPanel_; }
    // Shows and fills the panel of a node level from the server, under the busy cursor.
    // A list whose database cannot be selected or whose listing fails keeps its items
    // silently; an account or host entry that cannot be read, and any other failure, is
    // reported as "SetPanel Error". Levels without a panel leave the shown one as it is.
    void SetPanel(int level, TreeNode* selected);

    // Lists the server's connections in the process panel again; a refused listing keeps
    // what it showed.
    void ListProcesses();
    // Reads an account (or role) into the user panel and remembers its key, as the click on
    // its node does, without switching panels. Throws when it cannot be read; the panel
    // then keeps what it showed.
    void LoadAccount(const TUserKey& key);

    AccountPanelState& accountState() { return account_; }
    const AccountPanelState& accountState() const { return account_; }

    // The session connected elsewhere or disconnected: the panels that read the server on
    // their own (the status panel's sampling, the process list's refresh) stop.
    void ServerChanged();

    // Puts a panel made elsewhere (the object panel) in the area under its number, hidden
    // until SwitchPanel shows it.
    void addPanel(int number, QWidget* panel);

    // The panel of a number from 1 on, else null.
    QWidget* panel(int number) const;
    // Holds the SQL panel (in its QVBoxLayout); moved between the page controls.
    QWidget* panelSQL() const { return PanelSQL_; }

    // User panel.
    QWidget* PUser() const { return PUser_; }
    QLineEdit* EditUUser() const { return EditUUser_; }
    QLineEdit* EditUHost() const { return EditUHost_; }
    QLineEdit* EditUPass() const { return EditUPass_; }
    // USelect ... UAlter, in the order of db::kUserPrivilegeColumns.
    const std::array<QCheckBox*, 14>& userPrivilegeBoxes() const { return userBoxes_; }
    QPushButton* SpeedButton1() const { return SpeedButton1_; }  // "+"
    QPushButton* SpeedButton2() const { return SpeedButton2_; }  // "Save"
    QPushButton* SpeedButton3() const { return SpeedButton3_; }  // "-"

    // Host panel.
    QWidget* PHost() const { return PHost_; }
    QLineEdit* EditHHost() const { return EditHHost_; }
    QLineEdit* EditHDb() const { return EditHDb_; }
    // HSelect ... HAlter, in the order of db::kHostPrivilegeColumns.
    const std::array<QCheckBox*, 10>& hostPrivilegeBoxes() const { return hostBoxes_; }
    QPushButton* SpeedButton4() const { return SpeedButton4_; }  // "+"
    QPushButton* SpeedButton5() const { return SpeedButton5_; }  // "Save"
    QPushButton* SpeedButton6() const { return SpeedButton6_; }  // "-"

    // Page controls and their lists.
    QTabWidget* PTable() const { return PTable_; }
    QTabWidget* PField() const { return PField_; }
    QTabWidget* PColumn() const { return PColumn_; }
    QTabWidget* PIndex() const { return PIndex_; }
    QTabWidget* PTableDetail() const { return PTableDetail_; }
    QTabWidget* PProcess() const { return PProcess_; }
    QTreeWidget* TableListView() const { return TableListView_; }
    QTreeWidget* FieldListView() const { return FieldListView_; }
    QTreeWidget* ColumnListView() const { return ColumnListView_; }
    QTreeWidget* IndexListView() const { return IndexListView_; }
    QTreeWidget* DetailListView() const { return DetailListView_; }
    QTreeWidget* ProcessListView() const { return ProcessListView_; }
    ProcessRefresh* processRefresh() const { return processRefresh_; }
    StatusPanel* PStatus() const { return PStatus_; }
    // The "Data" tab of PTableDetail, empty until the table grid moves in.
    QWidget* DataTab() const { return DataTab_; }

Q_SIGNALS:
    // A table node was selected and its panel shown: load its rows into the "Data" tab.
    // Emitted before the table's status is read; the receiver reports its own failures.
    void LoadTableData(TreeNode* table);
    // A view, routine, trigger or event node was selected and the object panel shown: read
    // it into the panel. The receiver reports its own failures.
    void ShowObject(TreeNode* object);

private:
    void buildUserPanel();
    void buildHostPanel();
    QTabWidget* addPageControl(int number, const char* name, QTreeWidget* list,
                               const char* sqlTabName, QWidget* dataTab = nullptr);
    void movePanelSql(int number);

    void fillTables(TreeNode* folder);
    void fillProcesses(TreeNode* folder);
    void fillTableDetail(TreeNode* table);
    void fillFields(TreeNode* folder);
    void fillColumn(TreeNode* field);
    void fillIndexes(TreeNode* folder);
    void fillAccount(TreeNode* account);
    void fillHostEntry(TreeNode* entry);

    // Sends a listing on the main connection; an empty result when the statement fails or
    // yields none, and the list then keeps what it showed.
    db::Result list(const std::string& statement);
    // Selects the database; false when the server refuses, throws when the connection is lost.
    bool use(const QString& database);

    ServerSession& session_;
    ui::Prompts& prompts_;
    QPointer<QWidget> tree_;
    QString grantsDb_ = QStringLiteral("mysql");
    AccountPanelState account_;
    int shownPanel_ = pnNone;

    QVBoxLayout* area_ = nullptr;
    std::array<QWidget*, 11> panels_{};   // by panel number; [0] unused
    std::array<QWidget*, 11> sqlTabs_{};  // the "SQL" tab of each page control
    QWidget* PanelSQL_ = nullptr;

    QWidget* PUser_ = nullptr;
    QLineEdit* EditUUser_ = nullptr;
    QLineEdit* EditUHost_ = nullptr;
    QLineEdit* EditUPass_ = nullptr;
    std::array<QCheckBox*, 14> userBoxes_{};
    QPushButton* SpeedButton1_ = nullptr;
    QPushButton* SpeedButton2_ = nullptr;
    QPushButton* SpeedButton3_ = nullptr;

    QWidget* PHost_ = nullptr;
    QLineEdit* EditHHost_ = nullptr;
    QLineEdit* EditHDb_ = nullptr;
    std::array<QCheckBox*, 10> hostBoxes_{};
    QPushButton* SpeedButton4_ = nullptr;
    QPushButton* SpeedButton5_ = nullptr;
    QPushButton* SpeedButton6_ = nullptr;

    QTabWidget* PTable_ = nullptr;
    QTabWidget* PField_ = nullptr;
    QTabWidget* PColumn_ = nullptr;
    QTabWidget* PIndex_ = nullptr;
    QTabWidget* PTableDetail_ = nullptr;
    QTabWidget* PProcess_ = nullptr;
    QTreeWidget* TableListView_ = nullptr;
    QTreeWidget* FieldListView_ = nullptr;
    QTreeWidget* ColumnListView_ = nullptr;
    QTreeWidget* IndexListView_ = nullptr;
    QTreeWidget* DetailListView_ = nullptr;
    QTreeWidget* ProcessListView_ = nullptr;
    ProcessRefresh* processRefresh_ = nullptr;
    StatusPanel* PStatus_ = nullptr;
    QWidget* DataTab_ = nullptr;
};
