#pragma once

#include <QMainWindow>
#include <memory>

#include "app/IniFile.h"
#include "app/ViewState.h"
#include "dataset/TMySQLConnection.h"
#include "registry/ServerRegistry.h"
#include "sqleditor/QueryTabs.h"
#include "tree/ObjectTree.h"
#include "tree/ServerSession.h"
#include "ui/ServerWait.h"

class DetailPanels;
class ProcessCommands;
class QLabel;
class QSplitter;
class QTabWidget;
class QToolBar;
class QTreeWidget;
class QTreeWidgetItem;
class ServerCommands;
class TreeMenus;
class TableDataView;
class AccountCommands;
class DatabaseCommands;
class MaintenanceCommands;
class HelpLauncher;
class DumpCommands;
class ObjectCommands;
class ObjectPanel;
class SqlPanel;
class QMenu;
namespace ui {
class Prompts;
}

// The main window: wires the tree, the detail panels, the menus and the settings file
// together. The work is done by the classes it owns.
class TfrmMain : public QMainWindow {
    Q_OBJECT
public:
    // `programDir` holds the server registry and the settings file.
    TfrmMain(const QString& programDir, ui::Prompts& prompts, QWidget* parent = nullptr);
    ~TfrmMain() override;

    const QString ProgramDir;    // ends with a separator
    const QString RegistryPath;  // ProgramDir + "HostInfor.Dat"
    const QString IniPath;       // ProgramDir + "Lorvex.ini"
    QString SelectedDb;
    QString ContextDb;     // database node the context menu was last opened on
    QString ContextTable;  // table node the context menu was last opened on

    ObjectTree& tree() { return *tree_; }
    QTreeWidget& TreeView1() { return *TreeView1_; }
    DetailPanels& panels() { return *panels_; }
    ServerSession& session() { return *session_; }
    // Null when LORVEX_SERVER_WAIT=off (calls then block the window, for comparison).
    ui::ServerWait* serverWait() { return wait_.get(); }
    TMySQLConnection& MySQLConnection1() { return *MySQLConnection1_; }
    ServerCommands& serverCommands() { return *serverCommands_; }
    QSplitter& Splitter1() { return *Splitter1_; }
    QWidget& PanelTree() { return *PanelTree_; }
    QToolBar& ToolBarMenu() { return *ToolBarMenu_; }

    // Start-up after the window was created: server list, reconnection, re-expansion,
    // selected database and shown panel. Runs once, when the window is first shown.
    void FormShow();
    // The close step: saves the view state. Closing is never refused.
    void FormCloseQuery();
    // "Exit": closes both connections, then the window.
    void N2Click();
    // The tree's single click: selects the node's database and fills its panel.
    void TreeView1Click();
    // The tree's right click at `pos` (viewport coordinates): selects the node there and
    // opens its level's menu. Returns the menu chosen, or null; `show` false only chooses.
    QMenu* TreeView1ContextPopup(const QPoint& pos, bool show = true);
    TreeMenus& menus() { return *menus_; }
    TableDataView& dataView() { return *dataView_; }
    ProcessCommands& processCommands() { return *processCommands_; }
    // The editor of the current query tab.
    SqlPanel& sqlPanel() { return queryTabs_->Current(); }
    QueryTabs& queryTabs() { return *queryTabs_; }
    ObjectPanel& objectPanel() { return *objectPanel_; }
    ObjectCommands& objectCommands() { return *objectCommands_; }

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void FormCreate();
    void BuildLayout();
    void BuildMenus();
    void OpenSettings();
    void RestoreGeometry();
    // The registered servers as the tree's roots.
    void LoadServers();
    // Offers to make a server list that others may read the user's alone.
    void WarnReadableServerList();
    // False when the reconnection failed and the rest of the start-up is skipped.
    bool RestoreConnection();
    void SaveViewState();
    void rememberConnectedServer(const QString& name, const TServerEntry& entry);
    void reportSettingsError(const IniFileError& error);

    ui::Prompts& prompts_;
    IniFile IniFile_;
    QLabel* connectionStatus_ = nullptr;
    ViewState viewState_;
    bool settingsOpen_ = false;
    bool shown_ = false;
    ServerRegistry registry_;
    TMySQLConnection* MySQLConnection1_ = nullptr;
    std::unique_ptr<ui::ServerWait> wait_;  // before session_: outlives its connections
    std::unique_ptr<ServerSession> session_;
    QToolBar* ToolBarMenu_ = nullptr;
    QSplitter* Splitter1_ = nullptr;
    QWidget* PanelTree_ = nullptr;
    QTabWidget* PageControl1_ = nullptr;
    QTreeWidget* TreeView1_ = nullptr;
    DetailPanels* panels_ = nullptr;
    std::unique_ptr<ObjectTree> tree_;
    std::unique_ptr<ServerCommands> serverCommands_;
    TreeMenus* menus_ = nullptr;
    ProcessCommands* processCommands_ = nullptr;
    TableDataView* dataView_ = nullptr;
    QueryTabs* queryTabs_ = nullptr;
    QStringList restoreNotes_;
    ObjectPanel* objectPanel_ = nullptr;
    ObjectCommands* objectCommands_ = nullptr;
    std::unique_ptr<DatabaseCommands> databaseCommands_;
    std::unique_ptr<MaintenanceCommands> maintenanceCommands_;
    std::unique_ptr<HelpLauncher> helpLauncher_;
    std::unique_ptr<DumpCommands> dumpCommands_;
    std::unique_ptr<AccountCommands> accountCommands_;  // last: it disconnects from the above
};
