#include <gtest/gtest.h>

#include <QTableWidget>
#include <sys/stat.h>

#include <QApplication>
#include <QHeaderView>
#include <QKeyEvent>
#include <QScreen>
#include <QScrollBar>
#include <QStatusBar>
#include <QTest>
#include <QFile>
#include <QLoggingCategory>
#include <QSplitter>
#include <QTemporaryDir>
#include <QToolBar>
#include <QToolButton>
#include <QTreeWidget>

#include <QBuffer>
#include <QElapsedTimer>
#include <QProgressBar>
#include <QFileInfo>
#include <QPushButton>
#include <QCheckBox>
#include <QMessageBox>
#include <QTimer>

#include "app/IniFile.h"
#include "dump/RestoreEngine.h"
#include "dump/TfrmRestore.h"
#include "dump/TfrmSchema.h"
#include "ui/ServerWait.h"
#include <QPlainTextEdit>
#include "app/ScreenFit.h"
#include "app/TfrmMain.h"
#include "panels/DetailPanels.h"
#include "panels/StatusPanel.h"
#include "sqleditor/ObjectPanel.h"
#include "dataset/TableRows.h"
#include "panels/TableDataView.h"
#include "panels/TreeMenus.h"
#include "sqleditor/SqlPanel.h"
#include "sqleditor/TabSession.h"
#include <QLabel>
#include "dataset/TMySQLDataSet.h"
#include <QMenu>
#include "support/Failures.h"
#include "support/ScriptedPrompts.h"
#include "support/TestFiles.h"
#include "support/TestServer.h"
#include "support/TestNames.h"

namespace {

class MainWindowTest : public ::testing::Test {
protected:
    // Files made here are the user's alone, as the program makes its server list: a list
    // others may read is asked about (see ServerListOthersMayReadIsOfferedPrivacyOnce).
    void SetUp() override { oldMask = ::umask(077); }
    void TearDown() override { ::umask(oldMask); }
    mode_t oldMask = 0;

    QString path(const char* name) const { return dir.filePath(QString::fromLatin1(name)); }

    void registerServer(const QString& name, const QString& password,
                        const QString& user = testserver::user()) {
        QFile file(path("HostInfor.Dat"));
        ASSERT_TRUE(file.open(QIODevice::Append));
        file.write(QStringLiteral("<HOST NAME=\"%1\"><IP>%2</IP><USERID>%3</USERID><PASSWD>%4</PASSWD></HOST>")
                       .arg(name, testserver::hostField(), user, password)
                       .toUtf8());
    }

    void writeSettings(const std::vector<std::array<const char*, 3>>& values) {
        IniFile ini(path("Lorvex.ini"));
        ini.open();
        for (const auto& [section, key, value] : values)
            ini.WriteString(QLatin1String(section), QLatin1String(key), QString::fromUtf8(value));
    }

    static void press(TfrmMain& w, int key) {
        QKeyEvent event(QEvent::KeyPress, key, Qt::NoModifier);
        QCoreApplication::sendEvent(&w.TreeView1(), &event);
    }

    QString setting(const char* section, const char* key) const {
        IniFile ini(path("Lorvex.ini"));
        return ini.ReadString(QString::fromLatin1(section), QString::fromLatin1(key),
                              QStringLiteral("<missing>"));
    }

    static TreeNode* find(TfrmMain& w, const QStringList& texts) {
        QTreeWidgetItem* item = w.TreeView1().topLevelItem(0);
        for (const QString& text : texts) {
            QTreeWidgetItem* next = nullptr;
            for (int i = 0; item && i < item->childCount(); ++i)
                if (item->child(i)->text(0) == text) next = item->child(i);
            item = next;
        }
        return TreeNode::cast(item);
    }

    static void doubleClick(TfrmMain& w, TreeNode* node) {
        ASSERT_NE(node, nullptr);
        w.TreeView1().setCurrentItem(node);
        w.tree().ExpandNode();
    }
    // Connects the first server and opens one of its databases.
    static void openDatabase(TfrmMain& w, const QString& name) {
        doubleClick(w, TreeNode::cast(w.TreeView1().topLevelItem(0)));
        doubleClick(w, find(w, {"DB"}));
        doubleClick(w, find(w, {"DB", name}));
    }

    QTemporaryDir dir;
    ScriptedPrompts prompts;
};

TEST_F(MainWindowTest, FirstRunCreatesTheSettingsFileAndUsesTheDefaults) {
    ASSERT_FALSE(QFile::exists(path("Lorvex.ini")));
    {
        TfrmMain w(dir.path(), prompts);
        EXPECT_TRUE(QFile::exists(path("Lorvex.ini")));
        EXPECT_EQ(w.windowTitle(), QStringLiteral("Lorvex"));
        EXPECT_EQ(w.IniPath, path("Lorvex.ini"));
        EXPECT_EQ(w.RegistryPath, path("HostInfor.Dat"));
        EXPECT_EQ(w.x(), 230);
        EXPECT_EQ(w.y(), 160);
        EXPECT_EQ(w.width(), 714);
        EXPECT_EQ(w.height(), 636);
        w.show();
        EXPECT_EQ(w.PanelTree().width(), 260);  // a database, table and column name fit
        EXPECT_EQ(w.TreeView1().topLevelItemCount(), 0);
        EXPECT_EQ(w.panels().ShownPanel(), 0);
        EXPECT_EQ(w.session().ConnectedServer(), QStringLiteral("None"));

        // The menu is a tool bar of "System" and "Help" buttons.
        QStringList buttons;
        for (QToolButton* b : w.ToolBarMenu().findChildren<QToolButton*>())
            if (b->menu()) buttons << b->text();
        EXPECT_EQ(buttons, (QStringList{"System", "Help"}));
        w.close();
    }
    EXPECT_EQ(setting("Windows", "left"), QStringLiteral("230"));
    EXPECT_EQ(setting("Windows", "width"), QStringLiteral("714"));
    EXPECT_EQ(setting("PanelTree", "width"), QStringLiteral("260"));
    for (const char* key : {"level1", "level2", "level3", "level4"})
        EXPECT_EQ(setting("Expand", key), QString()) << key;
    EXPECT_EQ(setting("ShowPanel", "Panel"), QStringLiteral("0"));
    EXPECT_EQ(setting("SelectDB", "DB"), QString());
    EXPECT_EQ(setting("ConnectServer", "ConnectServer"), QStringLiteral("<missing>"));
    EXPECT_TRUE(prompts.messages().isEmpty());
}

TEST_F(MainWindowTest, ViewStateSurvivesARestart) {
    ScratchDatabase scratch(QStringLiteral("view state"));
    scratch.exec("CREATE TABLE t1 (id INT PRIMARY KEY)");
    registerServer(QStringLiteral("other"), QStringLiteral("unused"));
    registerServer(QStringLiteral("test"), testserver::password());
    {
        TfrmMain w(dir.path(), prompts);
        w.show();
        ASSERT_EQ(w.TreeView1().topLevelItemCount(), 2);
        TreeNode* server = TreeNode::cast(w.TreeView1().topLevelItem(1));
        doubleClick(w, server);
        EXPECT_EQ(setting("ConnectServer", "ConnectServer"), QStringLiteral("test"));
        QTreeWidgetItem* root = server;
        auto child = [&](QTreeWidgetItem* parent, const QString& text) -> TreeNode* {
            for (int i = 0; parent && i < parent->childCount(); ++i)
                if (parent->child(i)->text(0) == text) return TreeNode::cast(parent->child(i));
            return nullptr;
        };
        doubleClick(w, child(root, "DB"));
        TreeNode* database = child(child(root, "DB"), scratch.name());
        doubleClick(w, database);
        doubleClick(w, child(database, "Tables"));
        TreeNode* table = child(child(database, "Tables"), "t1");
        doubleClick(w, table);
        w.TreeView1().setCurrentItem(table);
        w.TreeView1Click();
        EXPECT_EQ(w.panels().ShownPanel(), 7);
        EXPECT_EQ(w.SelectedDb, scratch.name());
        w.close();
    }
    const QString quoted = u'"' + scratch.name() + u'"';
    EXPECT_EQ(setting("Expand", "level1"), QStringLiteral("DB,"));
    EXPECT_EQ(setting("Expand", "level2"), quoted + u',');
    EXPECT_EQ(setting("Expand", "level3"), quoted + u',');
    EXPECT_EQ(setting("Expand", "level4"), quoted + QStringLiteral(",t1,"));
    EXPECT_EQ(setting("ShowPanel", "Panel"), QStringLiteral("7"));
    EXPECT_EQ(setting("SelectDB", "DB"), scratch.name());

    TfrmMain again(dir.path(), prompts);
    again.show();
    TreeNode* server = TreeNode::cast(again.TreeView1().topLevelItem(1));
    ASSERT_NE(server, nullptr);
    ASSERT_EQ(server->childCount(), 4);  // DB, USER, HOST, Status
    EXPECT_TRUE(again.MySQLConnection1().Connected());
    EXPECT_EQ(again.MySQLConnection1().DB(), scratch.name());
    EXPECT_EQ(again.panels().ShownPanel(), 7);
    QTreeWidgetItem* tables = nullptr;
    for (QTreeWidgetItemIterator it(&again.TreeView1()); *it; ++it)
        if ((*it)->text(0) == QLatin1String("t1")) tables = (*it)->parent();
    ASSERT_NE(tables, nullptr);
    EXPECT_EQ(tables->parent()->text(0), scratch.name());
    EXPECT_EQ(tables->child(0)->childCount(), 3);  // "t1" has its folders again
    EXPECT_TRUE(prompts.messages().isEmpty()) << prompts.messages().join(u'|').toStdString();
}

TEST_F(MainWindowTest, RefusedReconnectionIsReportedAndSkipsTheRestOfStartUp) {
    registerServer(QStringLiteral("test"), testserver::password() + QStringLiteral("-changed"));
    {
        IniFile ini(path("Lorvex.ini"));
        ini.open();
        ini.WriteString(QStringLiteral("ConnectServer"), QStringLiteral("ConnectServer"),
                        QStringLiteral("test"));
        ini.WriteString(QStringLiteral("Expand"), QStringLiteral("level1"), QStringLiteral("DB,"));
        ini.WriteInteger(QStringLiteral("ShowPanel"), QStringLiteral("Panel"), 4);
    }
    TfrmMain w(dir.path(), prompts);
    w.show();
    ASSERT_EQ(prompts.messages().size(), 1);
    EXPECT_TRUE(prompts.messages()[0].contains(QStringLiteral("Access denied")))
        << prompts.messages()[0].toStdString();
    // Which server of the list, and where it was looked for.
    EXPECT_TRUE(prompts.messages()[0].contains(QStringLiteral("\"test\" (%1)").arg(testserver::hostField())))
        << prompts.messages()[0].toStdString();
    EXPECT_FALSE(prompts.messages()[0].contains(testserver::password()));
    EXPECT_EQ(w.TreeView1().topLevelItem(0)->childCount(), 0);
    EXPECT_EQ(w.panels().ShownPanel(), 0);
    EXPECT_FALSE(w.MySQLConnection1().Connected());
}

// Of two servers of one name, the one that was connected comes back.
TEST_F(MainWindowTest, ReconnectsTheServerThatWasConnectedAmongServersOfOneName) {
    registerServer(QStringLiteral("twin"), QStringLiteral("unused"), QStringLiteral("lorvex_nobody"));
    registerServer(QStringLiteral("twin"), testserver::password());
    {
        TfrmMain w(dir.path(), prompts);
        w.show();
        doubleClick(w, TreeNode::cast(w.TreeView1().topLevelItem(1)));
        EXPECT_EQ(setting("ConnectServer", "User"), testserver::user());
    }
    TfrmMain again(dir.path(), prompts);
    again.show();
    EXPECT_TRUE(prompts.messages().isEmpty()) << prompts.messages().join(u'|').toStdString();
    EXPECT_TRUE(again.MySQLConnection1().Connected());
    EXPECT_EQ(again.TreeView1().topLevelItem(0)->childCount(), 0);
    EXPECT_GT(again.TreeView1().topLevelItem(1)->childCount(), 0);
}

// A program folder nobody may write to (root included) and a damaged server list: each is
// reported once, the window comes up with its defaults, and nothing is written or replaced.
TEST_F(MainWindowTest, UnwritableFolderAndDamagedServerListAreReported) {
    {
        TfrmMain w(QStringLiteral("/proc/self"), prompts);
        w.show();
        ASSERT_EQ(prompts.messages().size(), 1);
        EXPECT_TRUE(prompts.messages()[0].startsWith(QStringLiteral(
            "Cannot create the settings file /proc/self/Lorvex.ini")))
            << prompts.messages()[0].toStdString();
        EXPECT_EQ(w.TreeView1().topLevelItemCount(), 0);
        w.close();
        EXPECT_EQ(prompts.messages().size(), 1);  // closing does not try again
    }
    prompts.clear();
    const QByteArray damaged = "<HOST NAME=\"a\"><IP>h</IP><USERID>u</USERID><PASSWD>p";
    {
        QFile file(path("HostInfor.Dat"));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(damaged);
    }
    for (const bool moveAside : {false, true}) {
        SCOPED_TRACE(moveAside);
        prompts.clear();
        prompts.answerYesNo(moveAside);
        TfrmMain w(dir.path(), prompts);
        w.show();
        ASSERT_FALSE(prompts.shown().empty());
        const QString said = prompts.shown().front().text;
        EXPECT_TRUE(said.contains(QStringLiteral("is damaged (line 1, column"))) << said.toStdString();
        EXPECT_EQ(w.TreeView1().topLevelItemCount(), 0);
        w.close();
        // Kept, or moved aside whole.
        QFile file(path(moveAside ? "HostInfor.Dat.damaged" : "HostInfor.Dat"));
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        EXPECT_EQ(file.readAll(), damaged);
        EXPECT_EQ(QFile::exists(path("HostInfor.Dat")), !moveAside);
    }
}

// Every trace the program writes, with all its logging on, and every text it shows while
// it connects, lists, reads rows and fails to connect: no password among them.
QStringList traced;

TEST_F(MainWindowTest, PasswordsStayOutOfTracesTitlesAndMessages) {
    ScratchDatabase s;
    s.exec("CREATE TABLE t (id INT)");
    s.exec("INSERT INTO t VALUES (1)");
    const QString wrong = QStringLiteral("Wr0ng-Secret-7731");
    registerServer(QStringLiteral("test"), testserver::password());
    registerServer(QStringLiteral("wrong"), wrong);
    traced.clear();
    QLoggingCategory::setFilterRules(QStringLiteral("lorvex.*=true"));
    const QtMessageHandler previous = qInstallMessageHandler(
        [](QtMsgType, const QMessageLogContext&, const QString& text) { traced << text; });
    QStringList titles;
    {
        TfrmMain w(dir.path(), prompts);
        w.show();
        doubleClick(w, TreeNode::cast(w.TreeView1().topLevelItem(0)));
        doubleClick(w, find(w, {"DB"}));
        doubleClick(w, find(w, {"DB", s.name()}));
        doubleClick(w, find(w, {"DB", s.name(), "Tables"}));
        w.TreeView1().setCurrentItem(find(w, {"DB", s.name(), "Tables", "t"}));
        w.TreeView1Click();
        EXPECT_EQ(w.dataView().rows().rowCount(), 1);
        doubleClick(w, TreeNode::cast(w.TreeView1().topLevelItem(1)));
        for (QWidget* widget : QApplication::topLevelWidgets()) titles << widget->windowTitle();
    }
    qInstallMessageHandler(previous);
    QLoggingCategory::setFilterRules(QString());

    EXPECT_FALSE(traced.isEmpty());  // the trace was on
    ASSERT_FALSE(prompts.messages().isEmpty());  // the wrong password was reported
    for (const QStringList& texts : {traced, titles, prompts.messages()}) {
        for (const QString& text : texts) {
            EXPECT_FALSE(text.contains(testserver::password())) << text.toStdString();
            EXPECT_FALSE(text.contains(wrong)) << text.toStdString();
        }
    }
}

TEST_F(MainWindowTest, ExitClosesTheConnectionsAndSavesTheViewState) {
    registerServer(QStringLiteral("test"), testserver::password());
    TfrmMain w(dir.path(), prompts);
    w.show();
    doubleClick(w, TreeNode::cast(w.TreeView1().topLevelItem(0)));
    ASSERT_TRUE(w.MySQLConnection1().Connected());
    w.N2Click();
    EXPECT_FALSE(w.MySQLConnection1().Connected());
    EXPECT_FALSE(w.session().MainConnection().isOpen());
    EXPECT_EQ(setting("Expand", "level1"), QString());
    EXPECT_EQ(setting("ShowPanel", "Panel"), QStringLiteral("0"));
    EXPECT_EQ(setting("ConnectServer", "ConnectServer"), QStringLiteral("test"));
}

TEST_F(MainWindowTest, EachNodeLevelOpensItsOwnMenuAndRemembersItsObject) {
    ScratchDatabase scratch;
    scratch.exec("CREATE TABLE t1 (a INT)");
    registerServer(QStringLiteral("test"), testserver::password());
    TfrmMain w(dir.path(), prompts);
    w.show();
    TreeNode* server = TreeNode::cast(w.TreeView1().topLevelItem(0));
    doubleClick(w, server);
    doubleClick(w, find(w, {"DB"}));
    doubleClick(w, find(w, {"DB", scratch.name()}));
    doubleClick(w, find(w, {"DB", scratch.name(), "Tables"}));
    doubleClick(w, find(w, {"DB", scratch.name(), "Tables", "t1"}));
    doubleClick(w, find(w, {"USER"}));
    w.TreeView1().scrollToTop();

    auto menuAt = [&](TreeNode* node) -> QString {
        if (!node) return QStringLiteral("<no node>");
        w.TreeView1().scrollToItem(node);
        QMenu* menu = w.TreeView1ContextPopup(w.TreeView1().visualItemRect(node).center(), false);
        EXPECT_EQ(w.TreeView1().currentItem(), node);
        return menu ? menu->objectName() : QString();
    };
    auto captions = [](QMenu* menu) {
        QStringList out;
        for (QAction* a : menu->actions())
            if (!a->isSeparator()) out << a->text();
        return out;
    };
    const int panelBefore = w.panels().ShownPanel();
    EXPECT_EQ(menuAt(server), QStringLiteral("PServer"));
    EXPECT_EQ(menuAt(find(w, {"DB"})), QStringLiteral("PopupFDB"));
    EXPECT_EQ(menuAt(find(w, {"USER"})), QStringLiteral("PopupUser"));
    EXPECT_EQ(menuAt(find(w, {"HOST"})), QStringLiteral("PopupHost"));
    EXPECT_EQ(menuAt(find(w, {"USER", testserver::user() + QStringLiteral("[%]")})),
              QStringLiteral("PopupUserView"));
    EXPECT_EQ(menuAt(find(w, {"DB", scratch.name()})), QStringLiteral("PopupDB"));
    EXPECT_EQ(w.ContextDb, scratch.name());
    EXPECT_EQ(menuAt(find(w, {"DB", scratch.name(), "Tables"})), QStringLiteral("PopupFtable"));
    EXPECT_EQ(menuAt(find(w, {"DB", scratch.name(), "Tables", "t1"})),
              QStringLiteral("PopupTable"));
    EXPECT_EQ(w.ContextTable, QStringLiteral("t1"));
    // The object folders share one menu, named for the folder it opens on.
    struct ObjectMenu {
        const char* folder;
        const char* newCaption;
        bool newFunction;
    };
    for (const ObjectMenu& m : {ObjectMenu{"Views", "New View", false},
                                ObjectMenu{"Routines", "New Procedure", true},
                                ObjectMenu{"Triggers", "New Trigger", false},
                                ObjectMenu{"Events", "New Event", false}}) {
        EXPECT_EQ(menuAt(find(w, {"DB", scratch.name(), m.folder})), QStringLiteral("PopupObjects"));
        EXPECT_EQ(w.menus().NewObject1->text(), QLatin1String(m.newCaption));
        EXPECT_EQ(w.menus().NewFunction1->isVisible(), m.newFunction) << m.folder;
    }
    for (const char* noMenu : {"Procedures"})
        EXPECT_EQ(menuAt(find(w, {"DB", scratch.name(), noMenu})), QString());
    EXPECT_EQ(menuAt(find(w, {"DB", scratch.name(), "Tables", "t1", "Fields"})), QString());
    EXPECT_EQ(menuAt(find(w, {"DB", scratch.name(), "Tables", "t1", "Index Key"})), QString());
    EXPECT_EQ(w.panels().ShownPanel(), panelBefore);  // a right click does not refill panels

    // Outside any node: no menu.
    find(w, {"DB"})->setExpanded(false);
    find(w, {"USER"})->setExpanded(false);
    EXPECT_EQ(w.TreeView1ContextPopup(QPoint(5, w.TreeView1().viewport()->height() - 2), false),
              nullptr);

    EXPECT_EQ(captions(w.menus().PopupTable),
              (QStringList{"Table Schema  / Dump", "Table Properties", "Table Rename",
                           "Table Drop", "Import CSV...", "Check Table", "Analyze Table",
                           "Optimize Table...", "Repair Table", "Checksum Table"}));
    EXPECT_EQ(captions(w.menus().PopupDB), (QStringList{"DB Schema / Dump", "Restore", "DB Drop"}));
    EXPECT_EQ(captions(w.menus().PServer), (QStringList{"Properties", "Delete Server"}));
    EXPECT_EQ(captions(w.menus().PopupHostView), (QStringList{"Host Add", "Host Delete"}));
}

// Tables gathered with Ctrl stay selected when the menu opens on one of them, for the
// maintenance commands; the menu on another table selects that one alone. The panel follows
// the table clicked last, as with one selected.
TEST_F(MainWindowTest, TheTableMenuKeepsTheTablesSelectedWithIt) {
    ScratchDatabase scratch;
    for (const char* t : {"t1", "t2", "t3"}) scratch.exec(std::string("CREATE TABLE ") + t + " (id INT)");
    registerServer(QStringLiteral("test"), testserver::password());
    TfrmMain w(dir.path(), prompts);
    w.show();
    openDatabase(w, scratch.name());
    doubleClick(w, find(w, {"DB", scratch.name(), "Tables"}));
    QTreeWidget& view = w.TreeView1();
    const auto at = [&](const char* table) {
        TreeNode* node = find(w, {"DB", scratch.name(), "Tables", table});
        view.scrollToItem(node);
        return view.visualItemRect(node).center();
    };
    const auto selected = [&] {
        QStringList out;
        for (QTreeWidgetItem* item : view.selectedItems()) out << item->text(0);
        out.sort();
        return out;
    };
    QTest::mouseClick(view.viewport(), Qt::LeftButton, Qt::NoModifier, at("t1"));
    QTest::mouseClick(view.viewport(), Qt::LeftButton, Qt::ControlModifier, at("t3"));
    EXPECT_EQ(w.panels().ShownPanel(), 7);
    EXPECT_EQ(w.tree().selectedNode()->text(), QStringLiteral("t3"));
    EXPECT_EQ(w.TreeView1ContextPopup(at("t1"), false), w.menus().PopupTable);
    EXPECT_EQ(selected(), (QStringList{"t1", "t3"}));
    EXPECT_EQ(w.tree().selectedNode()->text(), QStringLiteral("t1"));
    EXPECT_EQ(w.TreeView1ContextPopup(at("t2"), false), w.menus().PopupTable);
    EXPECT_EQ(selected(), (QStringList{"t2"}));
}

// A click on a routine shows the object panel with its text; the menu's Run runs it there.
TEST_F(MainWindowTest, ClickingARoutineShowsItsDefinitionAndRunRunsIt) {
    ScratchDatabase scratch;
    scratch.exec("CREATE FUNCTION twice(a INT) RETURNS INT RETURN a * 2");
    registerServer(QStringLiteral("test"), testserver::password());
    TfrmMain w(dir.path(), prompts);
    w.show();
    openDatabase(w, scratch.name());
    doubleClick(w, find(w, {"DB", scratch.name(), "Routines"}));
    TreeNode* function = find(w, {"DB", scratch.name(), "Routines", "twice"});
    ASSERT_NE(function, nullptr);
    w.TreeView1().setCurrentItem(function);
    w.TreeView1Click();
    EXPECT_EQ(w.panels().ShownPanel(), 9);
    EXPECT_EQ(w.SelectedDb, scratch.name());
    EXPECT_TRUE(w.objectPanel().isVisibleTo(&w));
    EXPECT_TRUE(w.objectPanel().Editor()->toPlainText().endsWith("RETURN a * 2"));

    prompts.onDialog([](QDialog* dialog) {
        dialog->findChild<QLineEdit*>(QStringLiteral("ArgValue1"))->setText(QStringLiteral("21"));
        return int(QDialog::Accepted);
    });
    w.menus().RunRoutine1->trigger();
    auto* result = qobject_cast<QTableWidget*>(w.objectPanel().RunResults()->widget(0));
    ASSERT_NE(result, nullptr);
    EXPECT_EQ(result->item(0, 0)->text(), QStringLiteral("42"));
    EXPECT_TRUE(prompts.messages().isEmpty()) << prompts.messages().join(u'\n').toStdString();
}

// A click on a table selects its database for the grids, shows the table panel and loads the
// rows of that database's table, even when another database holds a table of the same name.
TEST_F(MainWindowTest, ClickingATableLoadsItsOwnRowsIntoTheGrid) {
    ScratchDatabase first, other;
    first.exec("CREATE TABLE t (id INT, v VARCHAR(10))");
    first.exec("INSERT INTO t VALUES (1, 'a'), (2, NULL), (3, '')");
    other.exec("CREATE TABLE t (id INT)");
    registerServer(QStringLiteral("test"), testserver::password());
    TfrmMain w(dir.path(), prompts);
    w.show();
    openDatabase(w, first.name());
    doubleClick(w, find(w, {"DB", first.name(), "Tables"}));
    // The grid's connection has the other database current: the statement must not rely on it.
    w.MySQLConnection1().SelectDatabase(other.name());
    TreeNode* table = find(w, {"DB", first.name(), "Tables", "t"});
    w.TreeView1().setCurrentItem(table);
    w.TreeView1Click();
    EXPECT_EQ(w.panels().ShownPanel(), 7);
    EXPECT_EQ(w.SelectedDb, first.name());
    EXPECT_EQ(w.MySQLConnection1().DB(), first.name());
    EXPECT_EQ(w.sqlPanel().LUseDb()->text(), QStringLiteral("Use DB : ") + first.name());
    TableRows& rows = w.dataView().rows();
    ASSERT_EQ(rows.rowCount(), 3);
    EXPECT_EQ(rows.columnCount(), 2);
    EXPECT_TRUE(rows.data(rows.index(1, 1), TableRows::IsNullRole).toBool());
    EXPECT_FALSE(rows.data(rows.index(2, 1), TableRows::IsNullRole).toBool());
    EXPECT_EQ(rows.data(rows.index(2, 1)).toString(), QString());
    EXPECT_FALSE(rows.flags(rows.index(0, 0)).testFlag(Qt::ItemIsEditable));
    EXPECT_TRUE(prompts.messages().isEmpty());

    // The navigator moves the current row; a table without a key stays read-only, and says so.
    const auto& nav = w.dataView().DBNavigator1();
    ASSERT_EQ(nav.size(), 10);
    nav[3]->click();  // last
    EXPECT_EQ(w.dataView().DBGrid1().currentIndex().row(), 2);
    nav[1]->click();  // prior
    EXPECT_EQ(w.dataView().DBGrid1().currentIndex().row(), 1);
    for (int i = 4; i <= 8; ++i) EXPECT_FALSE(nav[i]->isEnabled()) << i;
    EXPECT_TRUE(w.dataView().status().text().contains(QLatin1String("no PRIMARY KEY")))
        << w.dataView().status().text().toStdString();

    // A table dropped behind the tree's back: the server's message, then "Data View Error".
    first.exec("DROP TABLE t");
    w.TreeView1Click();
    const QStringList shown = prompts.messages();
    ASSERT_EQ(shown.size(), 2);
    EXPECT_TRUE(shown[0].contains(QStringLiteral("doesn't exist"))) << shown[0].toStdString();
    EXPECT_EQ(shown[1], QStringLiteral("Data View Error"));
    EXPECT_EQ(rows.rowCount(), 0);
}

// The SQL panel's "Use DB" label names a current database: not one dropped since, nor one
// of a connection that has ended.
TEST_F(MainWindowTest, UseDbLabelForgetsADroppedDatabaseAndAClosedConnection) {
    ScratchDatabase kept, dropped;
    registerServer(QStringLiteral("test"), testserver::password());
    TfrmMain w(dir.path(), prompts);
    w.show();
    doubleClick(w, TreeNode::cast(w.TreeView1().topLevelItem(0)));
    doubleClick(w, find(w, {"DB"}));
    const QString empty = QStringLiteral("Use DB : ");
    for (const ScratchDatabase* db : {&kept, &dropped}) {
        w.TreeView1().setCurrentItem(find(w, {"DB", db->name()}));
        w.TreeView1Click();
        ASSERT_EQ(w.sqlPanel().LUseDb()->text(), empty + db->name());
        w.TreeView1ContextPopup(
            w.TreeView1().visualItemRect(find(w, {"DB", db->name()})).center(), false);
        if (db == &kept) continue;
        prompts.answerOkCancel(true);
        w.menus().Drop1->trigger();
    }
    EXPECT_EQ(prompts.messages(), QStringList{"DB 삭제 성공!"});
    EXPECT_EQ(w.sqlPanel().LUseDb()->text(), empty);
    EXPECT_TRUE(w.SelectedDb.isEmpty());

    w.TreeView1().setCurrentItem(find(w, {"DB", kept.name()}));
    w.TreeView1Click();
    ASSERT_EQ(w.sqlPanel().LUseDb()->text(), empty + kept.name());
    doubleClick(w, TreeNode::cast(w.TreeView1().topLevelItem(0)));  // connects afresh
    EXPECT_EQ(w.sqlPanel().LUseDb()->text(), empty);
}

}  // namespace

namespace {

TEST(ScreenFit, AWindowStaysWhereItCanBeReachedAndComesBackOntoTheNearestScreen) {
    const QList<QRect> screens{QRect(0, 0, 1920, 1080), QRect(1920, 0, 1280, 1024)};
    const struct {
        QRect window;
        QRect fitted;
    } cases[] = {
        {{230, 160, 714, 636}, {230, 160, 714, 636}},      // on a screen
        {{1700, 900, 714, 636}, {1700, 900, 714, 636}},    // partly off, title bar reachable
        {{2200, 100, 714, 636}, {2200, 100, 714, 636}},    // on the second screen
        {{3500, 200, 714, 636}, {2486, 200, 714, 636}},    // right of the second screen
        {{-3000, -2000, 714, 636}, {0, 0, 714, 636}},      // a monitor removed since
        {{100, -600, 714, 636}, {100, 0, 714, 636}},       // title bar above every screen
        {{5000, 5000, 3000, 2000}, {1920, 0, 1280, 1024}},  // larger than the screen near it
    };
    for (const auto& c : cases) EXPECT_EQ(fitOnScreens(c.window, screens), c.fitted) << c.window.x();
    EXPECT_EQ(fitOnScreens(QRect(-9000, 0, 10, 10), {}), QRect(-9000, 0, 10, 10));
}

TEST_F(MainWindowTest, AWindowSavedOffEveryScreenOpensOnOne) {
    writeSettings({{"Windows", "left", "-6000"}, {"Windows", "top", "-4000"}});
    TfrmMain w(dir.path(), prompts);
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    EXPECT_TRUE(screen.intersects(QRect(w.pos(), w.size()))) << w.x() << "," << w.y();
}

// Names are never cut: the tree scrolls sideways and every node has its text as tooltip.
TEST_F(MainWindowTest, TheTreeShowsWholeNamesAtAnyWidth) {
    const QString longName = QStringLiteral("a server with a rather long name: ") + QString(60, u'x');
    registerServer(longName, QStringLiteral("unused"));
    TfrmMain w(dir.path(), prompts);
    w.show();
    QApplication::processEvents();
    QTreeWidget& tree = w.TreeView1();
    QTreeWidgetItem* node = tree.topLevelItem(0);
    EXPECT_EQ(tree.textElideMode(), Qt::ElideNone);
    EXPECT_GE(tree.header()->sectionSize(0), tree.fontMetrics().horizontalAdvance(longName));
    EXPECT_GT(tree.horizontalScrollBar()->maximum(), 0);
    EXPECT_EQ(node->data(0, Qt::ToolTipRole).toString(), longName);
}

// The keyboard does what the mouse does: the panel follows the current node, Enter lists.
TEST_F(MainWindowTest, ArrowKeysMoveThePanelAlongAndEnterIsTheDoubleClick) {
    ScratchDatabase scratch;
    scratch.exec("CREATE TABLE t1 (id INT)");
    registerServer(QStringLiteral("test"), testserver::password());
    TfrmMain w(dir.path(), prompts);
    w.show();
    w.TreeView1().setCurrentItem(w.TreeView1().topLevelItem(0));
    press(w, Qt::Key_Return);  // connects
    ASSERT_EQ(w.TreeView1().topLevelItem(0)->childCount(), 4);  // DB, USER, HOST, Status
    w.TreeView1().setCurrentItem(find(w, {"DB"}));
    press(w, Qt::Key_Enter);
    w.TreeView1().setCurrentItem(find(w, {"DB", scratch.name()}));
    press(w, Qt::Key_Return);
    TreeNode* tables = find(w, {"DB", scratch.name(), "Tables"});
    w.TreeView1().setCurrentItem(tables);
    press(w, Qt::Key_Return);
    ASSERT_EQ(tables->childCount(), 1);
    EXPECT_EQ(w.panels().ShownPanel(), 0);  // selecting in code fills nothing

    press(w, Qt::Key_Down);
    EXPECT_EQ(w.TreeView1().currentItem(), tables->child(0));
    EXPECT_EQ(w.panels().ShownPanel(), 7);
    EXPECT_EQ(w.SelectedDb, scratch.name());
    EXPECT_EQ(w.dataView().rows().columnCount(), 1);
    press(w, Qt::Key_Up);
    EXPECT_EQ(w.panels().ShownPanel(), 3);
    EXPECT_TRUE(prompts.messages().isEmpty()) << prompts.messages().join(u'|').toStdString();
}

// A server list in the old Korean code page loads; it is converted only when the user agrees.
TEST_F(MainWindowTest, AKoreanCodePageServerListLoadsAndIsConvertedOnlyWhenAsked) {
    const QByteArray cp949 = "<HOST NAME=\"\xbc\xad\xb9\xf6\"><IP>h</IP><USERID>u</USERID>"
                             "<PASSWD></PASSWD></HOST>";
    writeFile(path("HostInfor.Dat"), cp949);
    for (bool convert : {false, true}) {
        prompts.answerYesNo(convert);
        TfrmMain w(dir.path(), prompts);
        w.show();
        ASSERT_EQ(w.TreeView1().topLevelItemCount(), 1);
        EXPECT_EQ(w.TreeView1().topLevelItem(0)->text(0), QStringLiteral("서버"));
        EXPECT_EQ(prompts.shown().back().kind, QStringLiteral("yesNo"));
        EXPECT_EQ(readFile(path("HostInfor.Dat")),
                  convert ? QStringLiteral("<HOST NAME=\"서버\"><IP>h</IP><USERID>u</USERID>"
                                           "<PASSWD></PASSWD></HOST>").toUtf8()
                          : cp949);
    }
    EXPECT_TRUE(prompts.allAnswersUsed());
    EXPECT_TRUE(prompts.messages().isEmpty());
}

// A server list that others may read is offered to be made private; a No is remembered.
TEST_F(MainWindowTest, ServerListOthersMayReadIsOfferedPrivacyOnce) {
    registerServer(QStringLiteral("s"), QStringLiteral("pw"));
    const QString list = path("HostInfor.Dat");
    for (bool fix : {false, true}) {
        ASSERT_TRUE(QFile::setPermissions(list, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadOther));
        prompts.clear();
        if (fix) writeSettings({{"ServerList", "WarnReadable", "1"}});
        prompts.answerYesNo(fix);
        {
            TfrmMain w(dir.path(), prompts);
            w.show();
        }
        ASSERT_EQ(prompts.shown().size(), 1u);
        EXPECT_TRUE(prompts.shown()[0].text.contains(QStringLiteral("holds passwords")));
        EXPECT_EQ(QFile::permissions(list) & QFile::ReadOther, fix ? 0 : QFile::ReadOther);
        if (!fix) {  // not asked again
            ASSERT_TRUE(QFile::setPermissions(list, QFile::ReadOwner | QFile::ReadOther));
            TfrmMain again(dir.path(), prompts);
            again.show();
            EXPECT_EQ(prompts.shown().size(), 1u);
        }
    }
}

// A saved HOST folder on a server without mysql.host is skipped quietly at start-up.
TEST_F(MainWindowTest, SavedHostFolderWithoutAHostTableIsSkippedQuietly) {
    registerServer(QStringLiteral("test"), testserver::password());
    writeSettings({{"ConnectServer", "ConnectServer", "test"}, {"Expand", "level1", "USER,HOST,"}});
    TfrmMain w(dir.path(), prompts);
    w.show();
    ASSERT_EQ(w.TreeView1().topLevelItem(0)->childCount(), 4);  // DB, USER, HOST, Status
    EXPECT_GT(find(w, {"USER"})->childCount(), 0);
    EXPECT_TRUE(prompts.shown().empty()) << prompts.messages().join(u'|').toStdString();
}

// ---- waiting for the server without freezing ---------------------------------------------

// What a command did to the event loop: the longest pause between two ticks of a 10 ms
// timer, and how long it ran.
struct Watched {
    qint64 longestGapMs = 0;
    qint64 tookMs = 0;
};

// Runs `command`; once `ready` holds (polled every 10 ms), `during` runs once.
Watched watch(const std::function<bool()>& ready, const std::function<void()>& during,
              const std::function<void()>& command) {
    QElapsedTimer clock;
    clock.start();
    Watched seen;
    qint64 last = 0;
    bool done = false;
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, [&] {
        const qint64 now = clock.elapsed();
        seen.longestGapMs = std::max(seen.longestGapMs, now - last);
        last = now;
        if (!done && ready()) {
            done = true;
            during();
        }
    });
    tick.start(10);
    command();
    seen.tookMs = clock.elapsed();
    EXPECT_TRUE(done) << "the command ended before the condition held";
    return seen;
}

std::function<bool()> after(int ms) {
    auto clock = std::make_shared<QElapsedTimer>();
    clock->start();
    return [clock, ms] { return clock->elapsed() >= ms; };
}

bool anyMessageContains(const ScriptedPrompts& prompts, const QString& text) {
    for (const QString& m : prompts.messages())
        if (m.contains(text)) return true;
    return false;
}

class ServerWaitTest : public MainWindowTest {
protected:
    void SetUp() override {
        MainWindowTest::SetUp();
        registerServer(QStringLiteral("test"), testserver::password());
        w = std::make_unique<TfrmMain>(dir.path(), prompts);
        w->show();
        doubleClick(*w, TreeNode::cast(w->TreeView1().topLevelItem(0)));
        ASSERT_NE(w->serverWait(), nullptr);
    }

    Watched runSql(const std::string& sql, const std::function<bool()>& ready,
                   const std::function<void()>& during) {
        w->sqlPanel().MemoSQL()->setPlainText(QString::fromStdString(sql));
        return watch(ready, during, [&] { w->sqlPanel().SpeedButton7()->click(); });
    }
    void pressCancel() {
        ASSERT_NE(w->serverWait()->indicator(), nullptr);
        w->serverWait()->cancelButton()->click();
    }
    bool indicatorShown() const {
        return w->serverWait()->indicator() && w->serverWait()->indicator()->isVisible();
    }
    // A cancelled Exec: the memo shows `memo`, the status line that the statement did not run.
    ::testing::AssertionResult cancelShown(const QString& memo) const {
        const QString shown = w->sqlPanel().MemoResult()->toPlainText();
        const QString status = w->statusBar()->currentMessage();
        if (!w->sqlPanel().MemoResult()->isVisibleTo(&w->sqlPanel()) || !shown.startsWith(memo) ||
            status != QStringLiteral("Cancelled: 0 of 1 statement ran."))
            return ::testing::AssertionFailure() << "memo: " << shown.toStdString()
                                                 << ", status: " << status.toStdString();
        return ::testing::AssertionSuccess();
    }
    static void sendKey(QWidget* target, int key) {
        QKeyEvent event(QEvent::KeyPress, key, Qt::NoModifier);
        QCoreApplication::sendEvent(target, &event);
    }

    std::unique_ptr<TfrmMain> w;
};

TEST_F(ServerWaitTest, ASleepingStatementKeepsTheWindowAliveAndCancelEndsIt) {
    QString shown;
    const Watched run = runSql("SELECT SLEEP(5)", [&] { return indicatorShown(); }, [&] {
        shown = w->serverWait()->indicator()->findChild<QLabel*>()->text();
        pressCancel();
    });
    EXPECT_TRUE(shown.startsWith(QStringLiteral("Running on test: SELECT SLEEP(5)\n"))) << shown.toStdString();
    EXPECT_LT(run.longestGapMs, 100);
    EXPECT_LT(run.tookMs, ui::ServerWait::kShowAfterMs + 1000);
    // Nothing to confirm: the memo keeps how long it ran, the status line says it ended.
    EXPECT_TRUE(prompts.messages().isEmpty()) << prompts.messages().join(u'|').toStdString();
    EXPECT_TRUE(cancelShown(QStringLiteral("Cancelled by the user after 0.")));
    EXPECT_FALSE(indicatorShown());

    prompts.clear();  // the session is still usable
    w->sqlPanel().MemoSQL()->setPlainText(QStringLiteral("SELECT 42"));
    w->sqlPanel().SpeedButton7()->click();
    EXPECT_TRUE(prompts.messages().isEmpty()) << prompts.messages().join(u'|').toStdString();
}

TEST_F(ServerWaitTest, ACancelledCommandEndsInTheStatusLineToo) {
    ScratchDatabase db;
    db.exec("CREATE TABLE t (id INT)");
    const std::string table = db::qualifiedName(db.name(), QStringLiteral("t"));
    db::Connection locker = testserver::connect();
    locker.exec("LOCK TABLES " + table + " WRITE");
    runSql("UPDATE " + table + " SET id = 1", [&] { return indicatorShown(); }, [&] { pressCancel(); });
    EXPECT_TRUE(prompts.messages().isEmpty()) << prompts.messages().join(u'|').toStdString();
    EXPECT_TRUE(cancelShown(QStringLiteral("Cancelled by the user after 0.")));
    locker.exec("UNLOCK TABLES");
}

TEST_F(ServerWaitTest, CancelEndsAScriptEvenWhenItGoesOnAfterErrors) {
    w->sqlPanel().CheckBoxStopAtError()->setChecked(false);
    w->sqlPanel().MemoSQL()->setPlainText(QStringLiteral("DO 1;\nSELECT SLEEP(5);\nDO 2;"));
    const Watched run = watch([&] { return indicatorShown(); }, [&] { pressCancel(); },
                              [&] { w->sqlPanel().RunScriptClick(); });
    EXPECT_LT(run.longestGapMs, 100);
    EXPECT_LT(run.tookMs, ui::ServerWait::kShowAfterMs + 1000);
    const QStringList log = w->sqlPanel().MemoLog()->toPlainText().split(u'\n');
    ASSERT_EQ(log.size(), 3) << log.join(u'\n').toStdString();
    EXPECT_TRUE(log[1].startsWith(QStringLiteral("Line 2: Cancelled by the user after 0."))) << log[1].toStdString();
    EXPECT_TRUE(log[2].startsWith(QStringLiteral("2 statements, 1 failed, ")) && log[2].endsWith(QStringLiteral(", stopped")));
    EXPECT_EQ(w->statusBar()->currentMessage(), QStringLiteral("Cancelled: 1 of 3 statements ran."));
    EXPECT_TRUE(prompts.messages().isEmpty()) << prompts.messages().join(u'|').toStdString();
}

TEST_F(ServerWaitTest, CancelStopsAScriptWhoseStatementEndsOnItsOwn) {
    // An interrupted SLEEP returns early without an error: the statements after it stay unrun.
    w->sqlPanel().MemoSQL()->setPlainText(QStringLiteral("DO SLEEP(5);\nDO 1;\nDO 2;"));
    watch([&] { return indicatorShown(); }, [&] { pressCancel(); },
          [&] { w->sqlPanel().RunScriptClick(); });
    const QStringList log = w->sqlPanel().MemoLog()->toPlainText().split(u'\n');
    ASSERT_EQ(log.size(), 3) << log.join(u'\n').toStdString();
    EXPECT_TRUE(log[0].startsWith(QStringLiteral("Line 1: 0 rows affected, 1 warning, "))) << log[0].toStdString();
    EXPECT_EQ(log[1], QStringLiteral("  Error 1317: Query execution was interrupted"));
    EXPECT_TRUE(log[2].startsWith(QStringLiteral("1 statement, 0 failed, ")) && log[2].endsWith(QStringLiteral(", stopped")));
    EXPECT_EQ(w->statusBar()->currentMessage(), QStringLiteral("Cancelled: 1 of 3 statements ran."));
    EXPECT_TRUE(prompts.messages().isEmpty()) << prompts.messages().join(u'|').toStdString();
}

// While a call runs, typing in the editor goes on; what would start a command (a button,
// keys in the tree, a call of the busy connection) is refused with a note, and Escape
// cancels.
TEST_F(ServerWaitTest, WhileACallRunsTypingGoesOnCommandsAreRefusedAndEscapeCancels) {
    const BusyHandleCallsExpected onPurpose;
    QTreeWidgetItem* before = w->TreeView1().currentItem();
    bool refused = true;
    unsigned code = 0;
    QString text, note;
    QPlainTextEdit* editor = w->sqlPanel().MemoSQL();
    // Once the indicator is up the SLEEP itself runs: a fixed delay could land in one of the
    // short calls before it on a loaded machine, whose cancel ends the command silently.
    const Watched run = runSql("SELECT SLEEP(5)", [&] { return indicatorShown(); }, [&] {
        db::Connection& main = w->session().MainConnection();
        refused = !main.query("SELECT 1");
        code = main.errorNumber();
        text = main.errorText();
        for (const char* key : {"z", "z"}) {
            QKeyEvent press(QEvent::KeyPress, Qt::Key_Z, Qt::NoModifier, QString::fromLatin1(key));
            QCoreApplication::sendEvent(editor, &press);
        }
        QTest::mouseClick(w->sqlPanel().SpeedButton7(), Qt::LeftButton);  // Exec again
        note = w->statusBar()->currentMessage();
        sendKey(&w->TreeView1(), Qt::Key_Down);  // would move to the next node
        sendKey(&w->TreeView1(), Qt::Key_Escape);
    });
    EXPECT_TRUE(editor->toPlainText().contains(QStringLiteral("zz"))) << editor->toPlainText().toStdString();
    EXPECT_TRUE(note.startsWith(QStringLiteral("Running on test: SELECT SLEEP(5) - wait for it to end, or press Escape")))
        << note.toStdString();
    EXPECT_FALSE(anyMessageContains(prompts, QStringLiteral("Another command is still running")))
        << prompts.messages().join(u'|').toStdString();
    EXPECT_TRUE(refused);
    EXPECT_EQ(code, 2014u);
    EXPECT_TRUE(text.startsWith(QStringLiteral("Another command is still running"))) << text.toStdString();
    EXPECT_EQ(w->TreeView1().currentItem(), before);
    // Escape ended the 5 s statement early; a loaded machine may take a while to open the
    // connection that sends the KILL QUERY.
    EXPECT_LT(run.tookMs, 3000);
    // Within the 3 s above, so "after 0.", "1." or "2."; one assertion, so a failure shows
    // what the memo and the status line held.
    EXPECT_TRUE(cancelShown(QStringLiteral("Cancelled by the user after ")));
    EXPECT_TRUE(prompts.messages().isEmpty()) << prompts.messages().join(u'|').toStdString();
    EXPECT_TRUE(w->session().MainConnection().query("SELECT 1"));  // free again
    w->session().MainConnection().discardResults();
}

// A connection lost under the SQL panel (its session killed) is said with an offer to
// connect again; Yes connects the server again without sending the statement again.
TEST_F(ServerWaitTest, ALostConnectionOffersToConnectAgainWithoutSendingTheStatementAgain) {
    ScratchDatabase db;
    db.exec("CREATE TABLE t (id INT)");
    for (const bool command : {false, true}) {
        SCOPED_TRACE(command ? "a command" : "a query");
        const unsigned long session = w->MySQLConnection1().connection().threadId();
        db::Connection killer = testserver::connect();
        killer.exec("KILL " + std::to_string(session));
        prompts.clear();
        prompts.answerYesNo(true);
        w->sqlPanel().MemoSQL()->setPlainText(
            command ? QStringLiteral("INSERT INTO %1.t VALUES (1)").arg(db.name())
                    : QStringLiteral("SELECT 1"));
        w->sqlPanel().SpeedButton7()->click();
        EXPECT_TRUE(prompts.allAnswersUsed());
        ASSERT_FALSE(prompts.shown().empty());
        EXPECT_TRUE(prompts.shown().back().text.contains(QStringLiteral("Connect again now? The statement is not sent again")))
            << prompts.shown().back().text.toStdString();
        EXPECT_NE(w->MySQLConnection1().connection().threadId(), session);
        EXPECT_EQ(db.scalar("SELECT COUNT(*) FROM t"), QStringLiteral("0"));
    }
    prompts.clear();  // connected again: the next statement runs
    w->sqlPanel().MemoSQL()->setPlainText(QStringLiteral("SELECT 42"));
    w->sqlPanel().SpeedButton7()->click();
    EXPECT_TRUE(prompts.messages().isEmpty()) << prompts.messages().join(u'|').toStdString();
}

TEST_F(ServerWaitTest, TheDataTabOfALockedTableIsCancelled) {
    ScratchDatabase db;
    db.exec("CREATE TABLE t (id INT)");
    db::Connection locker = testserver::connect();
    locker.exec("LOCK TABLES " + db::qualifiedName(db.name(), QStringLiteral("t")) + " WRITE");
    doubleClick(*w, find(*w, {"DB"}));
    doubleClick(*w, find(*w, {"DB", db.name()}));
    doubleClick(*w, find(*w, {"DB", db.name(), "Tables"}));
    w->TreeView1().setCurrentItem(find(*w, {"DB", db.name(), "Tables", "t"}));
    const Watched run = watch([&] { return indicatorShown(); }, [&] { pressCancel(); },
                              [&] { w->TreeView1Click(); });
    EXPECT_LT(run.longestGapMs, 100);
    EXPECT_LT(run.tookMs, ui::ServerWait::kShowAfterMs + 1000);
    EXPECT_TRUE(anyMessageContains(prompts, QStringLiteral("Cancelled by the user after")))
        << prompts.messages().join(u'|').toStdString();
    locker.exec("UNLOCK TABLES");
}

TEST_F(ServerWaitTest, AConnectionLostDuringAWaitIsReportedAsLost) {
    const unsigned long id = w->MySQLConnection1().connection().threadId();
    db::Connection admin = testserver::connect();
    prompts.answerYesNo(false);  // not connected again now
    const Watched run = runSql("SELECT SLEEP(5)", after(200),
                               [&] { admin.exec("KILL " + std::to_string(id)); });
    EXPECT_LT(run.tookMs, 1500);
    ASSERT_FALSE(prompts.shown().empty());
    EXPECT_TRUE(prompts.shown().back().text.contains(QStringLiteral("Lost connection")))
        << prompts.shown().back().text.toStdString();
    EXPECT_FALSE(anyMessageContains(prompts, QStringLiteral("Cancelled")));
}

TEST_F(ServerWaitTest, ClosingTheWindowDuringACallAsksCancelsAndCloses) {
    prompts.answerYesNo(true);
    runSql("SELECT SLEEP(5)", after(200), [&] { w->close(); });
    // Closed as the call ended, not after the command's message about the cancel.
    EXPECT_FALSE(w->isVisible());
    // A dialog the cancelled command still opens is dismissed, not left for an answer.
    QMessageBox late(QMessageBox::Information, QStringLiteral("t"), QStringLiteral("late"));
    bool leftOpen = false;
    QTimer::singleShot(3000, &late, [&] {  // a safety net: the test never waits on it
        leftOpen = true;
        late.done(QMessageBox::Ok);
    });
    late.exec();
    EXPECT_FALSE(leftOpen);
    ASSERT_FALSE(prompts.shown().empty());
    EXPECT_EQ(prompts.shown()[0].kind, QStringLiteral("yesNo"));
    EXPECT_TRUE(prompts.shown()[0].text.endsWith(QStringLiteral("Cancel it and close the window?")));
    EXPECT_EQ(setting("ConnectServer", "ConnectServer"), QStringLiteral("test"));
    EXPECT_NE(setting("ShowPanel", "Panel"), QStringLiteral("<missing>"));
}

// The dump's Stop ends the statement the server runs: one waiting for a lock, or the rows
// of a large table streaming in.
class DumpStop : public ::testing::TestWithParam<bool> {};

TEST_P(DumpStop, StopEndsTheRunningStatementAndWritesNoFile) {
    const bool locked = GetParam();
    ScratchDatabase db;
    db.exec("CREATE TABLE t (id INT PRIMARY KEY, v VARCHAR(100))");
    if (!locked)
        db.exec("INSERT INTO t SELECT seq, REPEAT('x', 100) FROM seq_1_to_300000");
    db::Connection locker = testserver::connect();
    if (locked) locker.exec("LOCK TABLES " + db::qualifiedName(db.name(), QStringLiteral("t")) + " WRITE");

    QTemporaryDir dir;
    db::Connection c = testserver::connect();
    ScriptedPrompts prompts;
    ui::ServerWait wait(prompts);
    c.setWaiter(&wait);
    TfrmSchema dialog(c, prompts);
    dialog.SetState(TfrmSchema::ScopeTable, db.name(), QStringLiteral("t"), dir.path());
    const QString file = dir.filePath(QStringLiteral("t.sql"));
    prompts.answerFile(file);
    QString status;
    Watched run;
    prompts.onDialog([&](QDialog* d) {
        auto* stop = d->findChild<QPushButton*>(QStringLiteral("BitBtn3"));
        auto* bar = d->findChild<QProgressBar*>();
        d->findChild<QCheckBox*>(QStringLiteral("CheckBox1"))->click();
        const auto waited = after(300);
        run = watch([&] { return locked ? wait.busy() && waited() : bar->value() > 0; },
                    [&] { stop->click(); },
                    [&] { d->findChild<QPushButton*>(QStringLiteral("BitBtn1"))->click(); });
        status = d->findChild<QLabel*>(QStringLiteral("lblStatus"))->text();
        return int(QDialog::Accepted);
    });
    prompts.exec(&dialog);
    EXPECT_EQ(status, QStringLiteral("Stopped"));
    EXPECT_LT(run.tookMs, locked ? 1500 : 5000);
    EXPECT_LT(run.longestGapMs, 100);
    EXPECT_FALSE(QFileInfo::exists(file));
    EXPECT_TRUE(prompts.messages().isEmpty()) << prompts.messages().join(u'|').toStdString();
    EXPECT_EQ(c.select("SELECT 7").rowCount(), 1u);  // the session is still usable
}

INSTANTIATE_TEST_SUITE_P(WhileWaiting, DumpStop, ::testing::Values(true, false));

// Cancel during a restore ends it as stopped, with what ran kept and counted.
TEST(RestoreCancel, KeepsWhatRanAndReportsStopped) {
    ScratchDatabase db;
    db::Connection c = testserver::connect();
    ScriptedPrompts prompts;
    ui::ServerWait wait(prompts);
    c.setWaiter(&wait);
    QByteArray script("CREATE TABLE a (x INT);\nINSERT INTO a VALUES (1);\nSELECT SLEEP(5);\n"
                      "INSERT INTO a VALUES (2);\n");
    QBuffer input(&script);
    ASSERT_TRUE(input.open(QIODevice::ReadOnly));
    dump::RestoreEngine engine(c, db.name());
    dump::RunOptions options;
    options.format = dump::ScriptFormat::Plain;
    dump::RestoreRun result;
    const Watched run = watch(after(300), [&] { wait.cancel(); }, [&] {
        result = engine.run(input, dump::RunKind::Script, {}, options);
    });
    QString error;
    EXPECT_TRUE(attempt(&error, [&] { engine.finish(); })) << error.toStdString();
    EXPECT_TRUE(result.stopped);
    EXPECT_TRUE(result.fatal.isEmpty()) << result.fatal.toStdString();
    EXPECT_LT(run.tookMs, 1500);
    // What ran is counted and kept: the table and one row for each insert.
    EXPECT_EQ(db.scalar("SELECT COUNT(*) FROM a").toULongLong() + 1, result.statements);
    EXPECT_EQ(db.scalar("SELECT MIN(x) FROM a"), QStringLiteral("1"));
}

// The restore dialog runs its statements off the window's thread: its status line still
// follows the run, and Stop ends the statement the server runs with the run stopped.
TEST(RestoreDialog, ShowsProgressWhileRunningAsideAndStops) {
    ScratchDatabase db;
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("script.sql"));
    QByteArray script("CREATE TABLE a (x INT);\n");
    for (int i = 1; i <= 2000; ++i) script += "INSERT INTO a VALUES (" + QByteArray::number(i) + ");\n";
    script += "SELECT SLEEP(5);\nINSERT INTO a VALUES (0);\n";
    writeFile(file, script);
    db::Connection c = testserver::connect();
    ScriptedPrompts prompts;
    ui::ServerWait wait(prompts);
    c.setWaiter(&wait);
    TfrmRestore dialog(c, prompts);
    dialog.SetDatabase(db.name());
    dialog.LoadScript(file);
    dialog.show();
    auto* status = dialog.findChild<QLabel*>(QStringLiteral("Label2"));
    auto* stop = dialog.findChild<QPushButton*>(QStringLiteral("SpeedButton3"));
    ASSERT_TRUE(status && stop);
    QString shownWhileRunning;
    const auto waited = after(300);
    const Watched run = watch(
        [&] {
            if (wait.busy() && status->text().startsWith(QStringLiteral("SQL Exec")))
                shownWhileRunning = status->text();
            return waited() && !shownWhileRunning.isEmpty();
        },
        [&] { stop->click(); },
        [&] { dialog.findChild<QPushButton*>(QStringLiteral("SpeedButton2"))->click(); });
    EXPECT_EQ(status->text(), QStringLiteral("SQL Done - Stopped"));
    EXPECT_LT(run.tookMs, 3000);  // the sleep did not run to its end
    EXPECT_LT(run.longestGapMs, 100);
    // What ran before the stop is kept.
    EXPECT_GE(db.scalar("SELECT COUNT(*) FROM a").toInt(), 2000);
    EXPECT_EQ(c.select("SELECT 7").rowCount(), 1u);  // the session is still usable
}

// The Status node opens its panel in the real window; a disconnect stops its sampling at once,
// whatever panel is shown.
TEST_F(MainWindowTest, StatusNodeShowsItsPanelAndADisconnectStopsTheSampling) {
    registerServer(QStringLiteral("test"), testserver::password());
    TfrmMain w(dir.path(), prompts);
    w.show();
    w.TreeView1().setCurrentItem(w.TreeView1().topLevelItem(0));
    w.tree().ExpandNode();
    w.TreeView1().setCurrentItem(find(w, {"Status"}));
    w.TreeView1Click();
    EXPECT_EQ(w.panels().ShownPanel(), DetailPanels::pnStatus);
    StatusPanel* status = w.panels().PStatus();
    ASSERT_TRUE(status->isVisible());
    status->setCurrentWidget(status->countersTab());
    EXPECT_TRUE(status->sampling());
    w.session().Disconnect();
    EXPECT_FALSE(status->sampling());
    EXPECT_TRUE(prompts.messages().isEmpty()) << prompts.messages().join(u'|').toStdString();
}

// A tab opened in the window runs on its own: while its statement runs, the tree goes on,
// the database chosen there goes to that tab for its next statement, and the tabs the
// window closes with come back in the next one.
TEST_F(ServerWaitTest, ASecondTabRunsWhileTheTreeGoesOnAndTheTabsComeBack) {
    ScratchDatabase db;
    QueryTabs& tabs = w->queryTabs();
    tabs.NewTabButton()->click();
    ASSERT_EQ(tabs.count(), 2);
    SqlPanel& tab = w->sqlPanel();
    ASSERT_EQ(&tab, &tabs.Panel(1));
    tab.MemoSQL()->setPlainText(QStringLiteral("SELECT SLEEP(2)"));
    tab.SpeedButton7()->click();
    doubleClick(*w, find(*w, {"DB"}));
    doubleClick(*w, find(*w, {"DB", db.name()}));
    w->TreeView1().setCurrentItem(find(*w, {"DB", db.name()}));
    w->TreeView1Click();
    EXPECT_EQ(w->SelectedDb, db.name());
    ASSERT_TRUE(tabs.Session(1)->running());  // the tree did not wait for the tab
    prompts.answerYesNo(false);  // closing the window asks first, naming the tab
    EXPECT_FALSE(w->close());
    ASSERT_FALSE(prompts.shown().empty());
    EXPECT_EQ(prompts.shown().back().text.toStdString(),
              "A statement runs in " + tabs.TabName(1).toStdString() + ". Stop it and close the window?");
    EXPECT_EQ(tab.LUseDb()->text(), QStringLiteral("Use DB : ") + db.name());
    EXPECT_EQ(tabs.Panel(0).LUseDb()->text(), tab.LUseDb()->text());  // the window's session
    ASSERT_TRUE(QTest::qWaitFor([&] { return !tabs.Session(1)->running(); }, 5000));
    tab.MemoSQL()->setPlainText(QStringLiteral("SELECT DATABASE()"));
    tab.SpeedButton7()->click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !tabs.Session(1)->running(); }, 5000));
    TMySQLDataSet* rows = tab.MySQLDataSet2();
    EXPECT_EQ(rows->data(rows->index(0, 0)).toString(), db.name());
    EXPECT_TRUE(prompts.messages().isEmpty()) << prompts.messages().join(u'|').toStdString();

    w->close();
    w = std::make_unique<TfrmMain>(dir.path(), prompts);
    ASSERT_EQ(w->queryTabs().count(), 2);
    EXPECT_EQ(w->queryTabs().currentIndex(), 1);
    EXPECT_EQ(w->sqlPanel().MemoSQL()->toPlainText(), QStringLiteral("SELECT DATABASE()"));
}

}  // namespace
