#include "app/TfrmMain.h"

#include <QCloseEvent>
#include <QDir>
#include <QGuiApplication>
#include <QScreen>
#include <QLabel>
#include <QMenu>
#include <QSplitter>
#include <QStatusBar>
#include <QTabWidget>
#include <QToolBar>
#include <QToolButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "admin/AccountCommands.h"
#include "admin/DatabaseCommands.h"
#include "admin/HelpLauncher.h"
#include "admin/MaintenanceCommands.h"
#include "sqleditor/ObjectCommands.h"
#include "app/CommandWiring.h"
#include "app/ScreenFit.h"
#include "app/ServerCommands.h"
#include "dump/DumpCommands.h"
#include "panels/DetailPanels.h"
#include "sqleditor/ObjectPanel.h"
#include "panels/ProcessCommands.h"
#include "panels/TableDataView.h"
#include "panels/TreeMenus.h"
#include "sqleditor/QueryTabs.h"
#include "sqleditor/SqlPanel.h"
#include "tree/ObjectTreeView.h"
#include "tree/TableSelection.h"
#include "ui/Prompts.h"

namespace {

QString withSeparator(const QString& dir) {
    QString path = QDir(dir).absolutePath();
    if (!path.endsWith(u'/')) path += u'/';
    return path;
}

}  // namespace

TfrmMain::TfrmMain(const QString& programDir, ui::Prompts& prompts, QWidget* parent)
    : QMainWindow(parent),
      ProgramDir(withSeparator(programDir)),
      RegistryPath(ProgramDir + QStringLiteral("HostInfor.Dat")),
      IniPath(ProgramDir + QStringLiteral("Lorvex.ini")),
      prompts_(prompts),
      IniFile_(IniPath),
      viewState_(IniFile_),
      registry_(RegistryPath) {
    FormCreate();
}

TfrmMain::~TfrmMain() { session_->SetWaiter(nullptr); }

void TfrmMain::FormCreate() {
    setWindowTitle(QStringLiteral("Lorvex"));
    MySQLConnection1_ = new TMySQLConnection(this);
    session_ = std::make_unique<ServerSession>(
        *MySQLConnection1_, [this](const QString& name) {
            rememberConnectedServer(name, session_->ConnectedEntry());
        });
    session_->SetKnownHostsFile(ProgramDir + QStringLiteral("known_hosts"));
    session_->SetQuestions({
        [this](const QString& prompt) {
            return prompts_.password(this, QStringLiteral("Server Password"), prompt);
        },
        [this](const QString& text) {
            return prompts_.yesNo(this, text, QStringLiteral("SSH Host Key"));
        },
        {},
    });
    if (qEnvironmentVariable("LORVEX_SERVER_WAIT") != QLatin1String("off")) {
        wait_ = std::make_unique<ui::ServerWait>(prompts_);
        session_->SetWaiter(wait_.get());
        connect(wait_.get(), &ui::ServerWait::inputRefused, this,
                [this](const QString& note) { statusBar()->showMessage(note, 5000); });
    }
    BuildLayout();
    if (wait_) {
        connect(wait_.get(), &ui::ServerWait::connectionGivenUp, this,
                [this](const db::Connection* given) {
                    if (!session_->Owns(given)) return;
                    tree_->GiveUpConnection(given);
                    statusBar()->showMessage(
                        QStringLiteral("Disconnected from %1. Double-click the server to connect again.")
                            .arg(session_->ConnectedServer()),
                        10000);
                });
    }
    BuildMenus();
    OpenSettings();
    RestoreGeometry();
    session_->SetNetTimeout(viewState_.ReadNetTimeout());
}

void TfrmMain::BuildLayout() {
    auto* PanelClient = new QWidget(this);
    auto* clientLayout = new QVBoxLayout(PanelClient);
    clientLayout->setContentsMargins(0, 0, 0, 0);

    Splitter1_ = new QSplitter(Qt::Horizontal, PanelClient);
    Splitter1_->setChildrenCollapsible(false);
    PanelTree_ = new QWidget(Splitter1_);
    auto* treeLayout = new QVBoxLayout(PanelTree_);
    treeLayout->setContentsMargins(0, 0, 0, 0);
    PageControl1_ = new QTabWidget(PanelTree_);
    auto* treeView = new ObjectTreeView(PageControl1_);
    TreeView1_ = treeView;
    TreeView1_->setObjectName(QStringLiteral("TreeView1"));
    PageControl1_->addTab(TreeView1_, QStringLiteral("Tree"));
    treeLayout->addWidget(PageControl1_);

    tree_ = std::make_unique<ObjectTree>(*TreeView1_, *session_, prompts_);
    new TableSelection(*TreeView1_);  // several tables of one database at once
    panels_ = new DetailPanels(*session_, prompts_, Splitter1_);
    panels_->setObjectName(QStringLiteral("PanelShow"));
    panels_->setTreeView(TreeView1_);
    Splitter1_->addWidget(PanelTree_);
    Splitter1_->addWidget(panels_);
    Splitter1_->setStretchFactor(1, 1);
    clientLayout->addWidget(Splitter1_);
    setCentralWidget(PanelClient);

    // Two status panels: the first tells how the connected server is reached.
    connectionStatus_ = new QLabel(statusBar());
    connectionStatus_->setObjectName(QStringLiteral("ConnectionStatus"));
    statusBar()->addWidget(connectionStatus_, 1);
    statusBar()->addWidget(new QLabel(statusBar()), 1);
    session_->SetConnectionChanged([this] {
        connectionStatus_->setText(session_->ConnectionSummary());
        // A new or closed connection has no current database yet.
        if (queryTabs_) queryTabs_->ClearUseDb();
        // Nothing goes on reading the server the window no longer shows.
        panels_->ServerChanged();
    });

    serverCommands_ = std::make_unique<ServerCommands>(*tree_, registry_, prompts_, this);

    connect(TreeView1_, &QTreeWidget::itemClicked, this, [this] { TreeView1Click(); });
    connect(TreeView1_, &QTreeWidget::itemDoubleClicked, this, [this] { tree_->ExpandNode(); });
    // The keyboard does what the mouse does: the panel follows the current node, and Enter
    // is the double click.
    connect(treeView, &ObjectTreeView::currentMovedByKey, this, [this] { TreeView1Click(); });
    connect(treeView, &ObjectTreeView::enterPressed, this, [this] { tree_->ExpandNode(); });
    dataView_ = new TableDataView(*MySQLConnection1_, prompts_, panels_->DataTab());
    auto* dataLayout = new QVBoxLayout(panels_->DataTab());
    dataLayout->setContentsMargins(0, 0, 0, 0);
    dataLayout->addWidget(dataView_);
    connect(panels_, &DetailPanels::LoadTableData, this,
            [this](TreeNode* table) { dataView_->LoadTableData(table); });

    queryTabs_ = new QueryTabs(*MySQLConnection1_, prompts_, ProgramDir, panels_->panelSQL());
    restoreNotes_ = queryTabs_->Restore();
    connect(queryTabs_, &QueryTabs::statusMessage, this,
            [this](const QString& text) { statusBar()->showMessage(text, 10000); });
    connect(queryTabs_, &QueryTabs::reconnectRequested, this, [this] {
        if (tree_->ReconnectServer()) statusBar()->showMessage(session_->ConnectionSummary(), 10000);
    });
    panels_->panelSQL()->layout()->addWidget(queryTabs_);

    processCommands_ = new ProcessCommands(*panels_, *session_, prompts_, this);

    objectPanel_ = new ObjectPanel(*MySQLConnection1_, prompts_);
    panels_->addPanel(DetailPanels::pnObject, objectPanel_);
    objectCommands_ = new ObjectCommands(*tree_, *objectPanel_, *session_, prompts_, this);
    connect(panels_, &DetailPanels::ShowObject, objectCommands_, &ObjectCommands::ShowObject);
    connect(objectCommands_, &ObjectCommands::panelWanted, this,
            [this] { panels_->SwitchPanel(DetailPanels::pnObject); });

    menus_ = new TreeMenus(this);
    TreeView1_->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(TreeView1_, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& pos) { TreeView1ContextPopup(pos); });
    connect(menus_->Information1, &QAction::triggered, this,
            [this] { serverCommands_->Information1Click(); });
    connect(menus_->DeleteServer1, &QAction::triggered, this,
            [this] { serverCommands_->DeleteServer1Click(); });
    // A refresh also renews the names the SQL editor completes.
    connect(menus_->Refresh1, &QAction::triggered, this, [this] {
        tree_->RefreshDatabases();
        queryTabs_->ForgetNames();
    });
    connect(menus_->Refresh4, &QAction::triggered, this, [this] {
        tree_->RefreshTables();
        queryTabs_->ForgetNames();
    });

    connect(menus_->RefreshObjects1, &QAction::triggered, this, [this] { tree_->RefreshObjects(); });
    connect(menus_->NewObject1, &QAction::triggered, objectCommands_,
            [this] { objectCommands_->NewObject(false); });
    connect(menus_->NewFunction1, &QAction::triggered, objectCommands_,
            [this] { objectCommands_->NewObject(true); });
    connect(menus_->RunRoutine1, &QAction::triggered, objectCommands_,
            [this] { objectCommands_->RunRoutine(false); });
    connect(menus_->DropObject1, &QAction::triggered, objectCommands_,
            [this] { objectCommands_->DropObject(); });

    accountCommands_ = accountCommandsOn(*tree_, *panels_, *session_, prompts_, this);
    connectAccountMenus(*accountCommands_, *menus_);
    connect(accountCommands_.get(), &AccountCommands::statusMessage, this,
            [this](const QString& text) { statusBar()->showMessage(text, 10000); });
    databaseCommands_ = std::make_unique<DatabaseCommands>(*tree_, *session_, prompts_, this);
    connectDatabaseMenus(*databaseCommands_, *menus_, ContextDb, ContextTable);
    connect(databaseCommands_.get(), &DatabaseCommands::databaseDropped, this,
            [this](const QString& name) {
                queryTabs_->ForgetDatabase(name);
                if (SelectedDb == name) SelectedDb.clear();
            });
    maintenanceCommands_ =
        std::make_unique<MaintenanceCommands>(*tree_, *session_, prompts_, this);
    connectMaintenanceMenus(*maintenanceCommands_, *menus_);
    helpLauncher_ = std::make_unique<HelpLauncher>(ProgramDir, prompts_, this);
    dumpCommands_ =
        std::make_unique<DumpCommands>(session_->MainConnection(), prompts_, ProgramDir, this);
    connect(menus_->DBSchema1, &QAction::triggered, this,
            [this] { dumpCommands_->DBSchema1Click(ContextDb); });
    connect(menus_->TableSchema1, &QAction::triggered, this, [this] {
        TreeNode* table = tree_->selectedNode();
        TreeNode* database = table && table->level() == nlTable ? table->databaseNode() : nullptr;
        if (database) dumpCommands_->TableSchema1Click(database->text(), ContextTable);
    });
    connect(menus_->ImportCsv1, &QAction::triggered, this, [this] {
        TreeNode* table = tree_->selectedNode();
        TreeNode* database = table && table->level() == nlTable ? table->databaseNode() : nullptr;
        if (database) dumpCommands_->ImportCsv1Click(database->text(), ContextTable);
    });
    connect(menus_->Restore1, &QAction::triggered, this, [this] {
        // From the first restore of the run on, scripts open with the .sql filter only.
        queryTabs_->SetOpenFilter(QStringLiteral("SQL files (*.sql)"));
        dumpCommands_->Restore1Click(ContextDb);
    });
}

// The menu is shown as a tool bar of flat buttons, one per top-level menu, each dropping
// down its submenu.
void TfrmMain::BuildMenus() {
    ToolBarMenu_ = new QToolBar(QStringLiteral("ToolBarMenu"), this);
    ToolBarMenu_->setObjectName(QStringLiteral("ToolBarMenu"));
    ToolBarMenu_->setMovable(false);
    ToolBarMenu_->setFloatable(false);
    addToolBar(Qt::TopToolBarArea, ToolBarMenu_);

    auto* system = new QMenu(QStringLiteral("System"), this);
    system->addAction(QStringLiteral("New Server"), this, [this] { serverCommands_->N3Click(); });
    system->addAction(QStringLiteral("Delete Server"), this,
                      [this] { serverCommands_->N4Click(); });
    system->addSeparator();
    system->addAction(QStringLiteral("Exit"), this, [this] { N2Click(); });

    auto* help = new QMenu(QStringLiteral("Help"), this);
    help->addAction(QStringLiteral("Help"), this, [this] { helpLauncher_->Help2Click(); });
    help->addSeparator();
    help->addAction(QStringLiteral("About"), this, [this] { helpLauncher_->About1Click(); });

    for (QMenu* menu : {system, help}) {
        auto* button = new QToolButton(ToolBarMenu_);
        button->setText(menu->title());
        button->setMenu(menu);
        button->setPopupMode(QToolButton::InstantPopup);
        button->setAutoRaise(true);
        ToolBarMenu_->addWidget(button);
    }
    setMenuBar(nullptr);
}

void TfrmMain::OpenSettings() {
    try {
        IniFile_.open();
        settingsOpen_ = true;
    } catch (const IniFileError& error) {
        reportSettingsError(error);
    }
}

void TfrmMain::RestoreGeometry() {
    const ViewState::Geometry g = viewState_.ReadGeometry();
    QList<QRect> screens;
    for (const QScreen* screen : QGuiApplication::screens()) screens << screen->availableGeometry();
    const QRect frame = fitOnScreens(QRect(g.left, g.top, g.width, g.height), screens);
    move(frame.topLeft());
    resize(frame.size());
    Splitter1_->setSizes({g.treeWidth, std::max(1, frame.width() - g.treeWidth)});
}

void TfrmMain::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    if (!shown_) {
        shown_ = true;
        FormShow();
    }
}

void TfrmMain::FormShow() {
    shown_ = true;
    panels_->SwitchPanel(0);
    // What of the last run's editor tabs could not come back as it was.
    if (!restoreNotes_.isEmpty()) prompts_.message(this, restoreNotes_.join(QStringLiteral("\n\n")));
    restoreNotes_.clear();
    LoadServers();
    if (!RestoreConnection()) return;

    const QString database = viewState_.ReadSelectDb();
    if (database != QLatin1String("NoneBD")) {
        MySQLConnection1_->SelectDatabase(database);
        queryTabs_->SetUseDb(database);
        SelectedDb = database;
    }
    panels_->SwitchPanel(viewState_.ReadShowPanel());
}

void TfrmMain::LoadServers() {
    try {
        QString damaged;
        RegistryEncoding encoding = RegistryEncoding::Utf8;
        for (const RegistryRecord& record : registry_.LoadServerRegistry(&damaged, &encoding))
            tree_->AddServerNode(record.name, record.entry);
        // The user may keep the file to mend it, or put it aside (kept whole) and start anew.
        if (!damaged.isEmpty() &&
            prompts_.yesNo(this,
                           damaged + QStringLiteral("\n\nMove it aside now, keeping its contents, "
                                                    "and start a new server list?"),
                           QStringLiteral("Server List")))
            prompts_.message(this, QStringLiteral("The damaged server list was moved to %1; a "
                                                  "new one is made with the first server "
                                                  "registered.")
                                       .arg(QDir::toNativeSeparators(registry_.moveAside())));
        // Older versions wrote the list in the Korean code page. It is read and written that
        // way until the user agrees to convert it; it is never converted unasked.
        if (encoding == RegistryEncoding::Cp949 &&
            prompts_.yesNo(this,
                           QStringLiteral("The server list %1 is written in the Korean code page "
                                          "CP949 of older versions. Convert it to UTF-8 now?\n\n"
                                          "Until it is converted it is read and written in CP949, "
                                          "which cannot hold every character.")
                               .arg(QDir::toNativeSeparators(RegistryPath)),
                           QStringLiteral("Server List")))
            registry_.ConvertToUtf8();
    } catch (const RegistryError& error) {
        prompts_.message(this, error.text());
    }
    WarnReadableServerList();
}

void TfrmMain::WarnReadableServerList() {
    if (!settingsOpen_ || !registry_.readableByOthers() || !viewState_.ReadWarnReadableServerList())
        return;
    const bool fix = prompts_.yesNo(
        this,
        QStringLiteral("The server list %1 holds passwords, and other users of this computer may "
                       "read it. Make it readable by you only?\n\n(No: keep it as it is and do "
                       "not ask again.)")
            .arg(QDir::toNativeSeparators(RegistryPath)),
        QStringLiteral("Server List"));
    try {
        if (!fix)
            viewState_.WriteWarnReadableServerList(false);
        else if (!registry_.makePrivate())
            prompts_.message(this, QStringLiteral("The permissions of %1 could not be changed; "
                                                  "change them with: chmod 600 %1")
                                       .arg(QDir::toNativeSeparators(RegistryPath)));
    } catch (const IniFileError& error) {
        reportSettingsError(error);
    }
}

bool TfrmMain::RestoreConnection() {
    const QString name = viewState_.ReadConnectServer();
    session_->SetConnectedServer(name);
    if (name == QLatin1String("None")) return true;
    // The server of that name whose host and user were written with it; the first of the
    // name when none matches (or an older version wrote the name alone).
    const QString host = viewState_.ReadConnectHost();
    const QString user = viewState_.ReadConnectUser();
    TreeNode* server = nullptr;
    for (int i = 0; i < TreeView1_->topLevelItemCount(); ++i) {
        TreeNode* node = TreeNode::cast(TreeView1_->topLevelItem(i));
        if (!node || node->text() != name || node->level() != nlServer || !node->serverEntry())
            continue;
        const bool same = node->serverEntry()->IP == host && node->serverEntry()->USERID == user;
        if (!server || same) server = node;
        if (same) break;
    }
    try {
        if (server) tree_->ConnectServerNode(server);
        tree_->RestoreExpansion(viewState_.ReadExpansion());
    } catch (const std::exception& error) {
        const QString where = server ? server->serverEntry()->IP : QString();
        prompts_.message(this, QStringLiteral("Cannot reconnect to the server \"%1\" (%2) "
                                              "connected at the last run: %3")
                                   .arg(name, where, QString::fromUtf8(error.what())));
        return false;
    }
    return true;
}

void TfrmMain::rememberConnectedServer(const QString& name, const TServerEntry& entry) {
    if (!settingsOpen_) return;
    try {
        viewState_.WriteConnectServer(name, entry.IP, entry.USERID);
    } catch (const IniFileError& error) {
        reportSettingsError(error);
    }
}

void TfrmMain::reportSettingsError(const IniFileError& error) {
    prompts_.message(this, error.text());
}

void TfrmMain::closeEvent(QCloseEvent* event) {
    // A tab's statement would be stopped with its session: the user says whether it may.
    const QStringList running = queryTabs_->RunningTabs();
    if (!running.isEmpty() &&
        !prompts_.yesNo(this,
                        QStringLiteral("A statement runs in %1. Stop it and close the window?")
                            .arg(running.join(QStringLiteral(", "))),
                        QStringLiteral("Close"))) {
        event->ignore();
        return;
    }
    FormCloseQuery();
    event->accept();
}

void TfrmMain::FormCloseQuery() {
    queryTabs_->Flush();
    SaveViewState();
}

void TfrmMain::SaveViewState() {
    if (!settingsOpen_) return;
    ViewState::Geometry g;
    const QRect frame = isMaximized() || isMinimized() ? normalGeometry() : geometry();
    g.left = isMaximized() || isMinimized() ? frame.x() : x();
    g.top = isMaximized() || isMinimized() ? frame.y() : y();
    g.width = frame.width();
    g.height = frame.height();
    g.treeWidth = PanelTree_->width();
    g.treeHeight = PanelTree_->height();
    try {
        viewState_.Save(g, tree_->CurrentExpansion(), panels_->ShownPanel(), SelectedDb);
    } catch (const IniFileError& error) {
        reportSettingsError(error);
    }
    // Nothing more is written to the settings file in this run.
    settingsOpen_ = false;
}

void TfrmMain::N2Click() {
    if (!session_->ConnectedServer().isEmpty()) session_->Disconnect();
    close();
}

void TfrmMain::TreeView1Click() {
    TreeNode* node = tree_->selectedNode();
    if (!node) return;
    try {
        if (TreeNode* database = node->databaseNode()) {
            MySQLConnection1_->SelectDatabase(database->text());
            queryTabs_->SetUseDb(database->text());
            SelectedDb = database->text();
        }
        switch (node->level()) {
            case nlServer:
            case nlDbFolder:
            case nlDatabase: panels_->SwitchPanel(0); break;
            default: panels_->SetPanel(node->level(), node); break;
        }
    } catch (const std::exception&) {
        prompts_.message(this, QStringLiteral("TreeView Click Error"));
    }
}

QMenu* TfrmMain::TreeView1ContextPopup(const QPoint& pos, bool show) {
    TreeNode* node = TreeNode::cast(TreeView1_->itemAt(pos));
    if (!node) return nullptr;
    // Selecting here does not refill the detail panel: only a click does. A node among the
    // selected ones keeps the selection, which the table commands act on.
    TreeView1_->setCurrentItem(node, 0,
                               node->isSelected() ? QItemSelectionModel::NoUpdate
                                                  : QItemSelectionModel::ClearAndSelect |
                                                        QItemSelectionModel::Rows);
    QMenu* menu = menus_->menuFor(node->level());
    if (!menu) return nullptr;
    menus_->prepareFor(node->level());
    if (node->level() == nlDatabase) ContextDb = node->text();
    if (node->level() == nlTable) ContextTable = node->text();
    if (show) menu->popup(TreeView1_->viewport()->mapToGlobal(pos));
    return menu;
}
