#include <gtest/gtest.h>

#include <QApplication>
#include <QHeaderView>

#include "support/TreeFixture.h"
#include "tree/NameColumn.h"

namespace {

class ObjectTreeTest : public TreeFixture {};

TEST_F(ObjectTreeTest, ConnectingAddsTheFoldersAndRemembersTheServer) {
    doubleClick(server());
    EXPECT_EQ(childTexts(server()), (QStringList{"DB", "USER", "HOST", "Status"}));
    EXPECT_EQ(find({"Status"})->level(), nlServerStatus);
    EXPECT_EQ(find({"DB"})->level(), nlDbFolder);
    EXPECT_EQ(find({"USER"})->level(), nlUserFolder);
    EXPECT_EQ(find({"HOST"})->level(), nlHostFolder);
    EXPECT_TRUE(server()->isExpanded());
    EXPECT_EQ(session.ConnectedServer(), QStringLiteral("test server"));
    EXPECT_EQ(remembered, QStringList{"test server"});
    EXPECT_TRUE(dataset.Connected());
    EXPECT_EQ(dataset.DB(), QStringLiteral("mysql"));
    EXPECT_TRUE(prompts.messages().isEmpty());

    // Connecting again rebuilds the folders empty.
    doubleClick(find({"DB"}));
    ASSERT_GT(find({"DB"})->childCount(), 0);
    doubleClick(server());
    EXPECT_EQ(find({"DB"})->childCount(), 0);
}

TEST_F(ObjectTreeTest, WrongPasswordLeavesNoFoldersAndAnotherServerStillConnects) {
    TServerEntry bad = testEntry();
    bad.PASSWD += QStringLiteral("-wrong");
    TreeNode* badNode = tree->AddServerNode(QStringLiteral("bad"), bad);
    doubleClick(server());
    ASSERT_EQ(server()->childCount(), 4);

    doubleClick(badNode);
    ASSERT_EQ(prompts.messages().size(), 1);
    // The fixed text, then the client library's reason.
    EXPECT_TRUE(prompts.messages()[0].startsWith("Server Connection Error\n"))
        << prompts.messages()[0].toStdString();
    EXPECT_EQ(badNode->childCount(), 0);
    // The previous server was disconnected and lost its folders; its name is kept.
    EXPECT_EQ(server()->childCount(), 0);
    EXPECT_FALSE(dataset.Connected());
    EXPECT_EQ(session.ConnectedServer(), QStringLiteral("test server"));
    EXPECT_EQ(remembered, QStringList{"test server"});

    doubleClick(server());
    EXPECT_EQ(server()->childCount(), 4);  // DB, USER, HOST, Status
    EXPECT_TRUE(dataset.Connected());
}

// Two servers of one name are two nodes: each keeps only the folders of its own connection.
TEST_F(ObjectTreeTest, TwinNamedServersNeverShareFolders) {
    server()->setText(0, QStringLiteral("twin"));
    TreeNode* second = tree->AddServerNode(QStringLiteral("twin"), testEntry());
    doubleClick(second);
    ASSERT_EQ(second->childCount(), 4);  // DB, USER, HOST, Status
    doubleClick(server());
    EXPECT_EQ(server()->childCount(), 4);  // DB, USER, HOST, Status
    EXPECT_EQ(second->childCount(), 0);
    doubleClick(second);
    EXPECT_EQ(server()->childCount(), 0);
    EXPECT_EQ(second->childCount(), 4);  // DB, USER, HOST, Status
    EXPECT_EQ(tree->connectedNode(), second);
    // A connected node that goes away takes nothing else's folders with it.
    delete second;
    doubleClick(server());
    EXPECT_EQ(server()->childCount(), 4);  // DB, USER, HOST, Status
    EXPECT_TRUE(prompts.messages().isEmpty());
}

TEST_F(ObjectTreeTest, ListsDatabasesTablesAndColumnsWithAwkwardNames) {
    ScratchDatabase scratch(QStringLiteral("my db"));
    scratch.exec("CREATE TABLE `t 1.x'y` (id INT PRIMARY KEY, `na``me` VARCHAR(5))");
    scratch.exec("CREATE TABLE t2 (a INT)");
    doubleClick(server());
    doubleClick(find({"DB"}));
    TreeNode* database = find({"DB", scratch.name()});
    ASSERT_NE(database, nullptr);
    EXPECT_EQ(database->level(), nlDatabase);

    doubleClick(database);
    EXPECT_EQ(childTexts(database), (QStringList{"Tables", "Procedures", "Views", "Routines",
                                                 "Triggers", "Events"}));
    doubleClick(find({"DB", scratch.name(), "Tables"}));
    EXPECT_EQ(childTexts(find({"DB", scratch.name(), "Tables"})),
              (QStringList{"t 1.x'y", "t2"}));

    TreeNode* table = find({"DB", scratch.name(), "Tables", "t 1.x'y"});
    ASSERT_NE(table, nullptr);
    EXPECT_EQ(table->level(), nlTable);
    doubleClick(table);
    EXPECT_EQ(childTexts(table), (QStringList{"Fields", "Index Key", "Validity Checks"}));
    TreeNode* fields = find({"DB", scratch.name(), "Tables", "t 1.x'y", "Fields"});
    doubleClick(fields);
    EXPECT_EQ(childTexts(fields), (QStringList{"id", "na`me"}));
    EXPECT_EQ(TreeNode::cast(fields->child(0))->level(), nlField);
    EXPECT_EQ(TreeNode::cast(fields->child(0))->depth(), 6);
    EXPECT_TRUE(prompts.messages().isEmpty());
}

TEST_F(ObjectTreeTest, FoldersRelistWhileObjectsExpandOnlyOnce) {
    ScratchDatabase scratch;
    scratch.exec("CREATE TABLE t1 (a INT)");
    doubleClick(server());
    doubleClick(find({"DB"}));
    TreeNode* database = find({"DB", scratch.name()});
    doubleClick(database);
    TreeNode* tables = find({"DB", scratch.name(), "Tables"});
    doubleClick(tables);
    EXPECT_EQ(childTexts(tables), QStringList{"t1"});

    // Changes on the server show after a second double click on "Tables" and "DB" ...
    scratch.exec("CREATE TABLE t0 (a INT)");
    doubleClick(tables);
    EXPECT_EQ(childTexts(tables), (QStringList{"t0", "t1"}));
    ScratchDatabase second;
    doubleClick(find({"DB"}));
    EXPECT_NE(find({"DB", second.name()}), nullptr);
    // ... which rebuilt the database nodes without their folders.
    EXPECT_EQ(find({"DB", scratch.name()})->childCount(), 0);

    // A database or table that has its folders keeps them: no second set is added.
    database = find({"DB", scratch.name()});
    doubleClick(database);
    doubleClick(database);
    EXPECT_EQ(database->childCount(), 6);

    // Folders without listings send nothing and change nothing.
    const int before = widget.topLevelItemCount();
    doubleClick(find({"DB", scratch.name(), "Procedures"}));
    EXPECT_EQ(find({"DB", scratch.name(), "Procedures"})->childCount(), 0);
    EXPECT_EQ(widget.topLevelItemCount(), before);
    EXPECT_TRUE(prompts.messages().isEmpty());
}

TEST_F(ObjectTreeTest, RefreshTablesListsTheFoldersOwnDatabase) {
    ScratchDatabase first, second;
    first.exec("CREATE TABLE only_in_first (a INT)");
    second.exec("CREATE TABLE only_in_second (a INT)");
    doubleClick(server());
    doubleClick(find({"DB"}));
    doubleClick(find({"DB", first.name()}));
    session.MainConnection().selectDb(second.name());
    widget.setCurrentItem(find({"DB", first.name(), "Tables"}));
    tree->RefreshTables();
    EXPECT_EQ(childTexts(find({"DB", first.name(), "Tables"})), QStringList{"only_in_first"});

    // Refresh acts only on the folder kind it belongs to.
    widget.setCurrentItem(find({"DB", first.name()}));
    tree->RefreshTables();
    EXPECT_EQ(find({"DB", first.name()})->childCount(), 6);

    second.exec("CREATE DATABASE IF NOT EXISTS " + db::quoteIdentifier(second.name() + "_x"));
    widget.setCurrentItem(find({"DB"}));
    tree->RefreshDatabases();
    EXPECT_NE(find({"DB", second.name() + "_x"}), nullptr);
    second.exec("DROP DATABASE " + db::quoteIdentifier(second.name() + "_x"));
    EXPECT_TRUE(prompts.messages().isEmpty());
}

// Each object folder lists its own kind, names as they are, a procedure and a function of one
// name apart with their own pictures, and lists again on a double click or Refresh.
TEST_F(ObjectTreeTest, ObjectFoldersListTheirKindAndRelist) {
    ScratchDatabase scratch(QStringLiteral("objs"));
    scratch.exec("CREATE TABLE t (a INT)");
    scratch.exec("CREATE VIEW `v 1.x'y` AS SELECT a FROM t");
    scratch.exec("CREATE VIEW v0 AS SELECT a FROM t");
    scratch.exec("CREATE PROCEDURE twin() SELECT 1");
    scratch.exec("CREATE FUNCTION twin() RETURNS INT RETURN 1");
    scratch.exec("CREATE PROCEDURE `p``q`() SELECT 1");
    scratch.exec("CREATE TRIGGER tr BEFORE INSERT ON t FOR EACH ROW SET NEW.a = 1");
    scratch.exec("CREATE EVENT ev ON SCHEDULE EVERY 1 DAY DISABLE DO SELECT 1");
    doubleClick(server());
    doubleClick(find({"DB"}));
    doubleClick(find({"DB", scratch.name()}));

    struct Case {
        const char* folder;
        TNodeLevel folderLevel;
        QStringList names;
        std::vector<TNodeLevel> levels;
    };
    const Case cases[] = {
        {"Views", nlViewsFolder, {"v 1.x'y", "v0"}, {nlView, nlView}},
        {"Routines", nlRoutinesFolder, {"p`q", "twin", "twin"}, {nlProcedure, nlFunction, nlProcedure}},
        {"Triggers", nlTriggersFolder, {"tr"}, {nlTrigger}},
        {"Events", nlEventsFolder, {"ev"}, {nlEvent}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.folder);
        TreeNode* folder = find({"DB", scratch.name(), c.folder});
        ASSERT_NE(folder, nullptr);
        EXPECT_EQ(folder->level(), c.folderLevel);
        doubleClick(folder);
        EXPECT_EQ(childTexts(folder), c.names);
        for (int i = 0; i < folder->childCount() && i < int(c.levels.size()); ++i) {
            TreeNode* node = TreeNode::cast(folder->child(i));
            EXPECT_EQ(node->level(), c.levels[size_t(i)]);
            EXPECT_EQ(node->databaseNode(), find({"DB", scratch.name()}));
        }
    }
    TreeNode* routines = find({"DB", scratch.name(), "Routines"});
    EXPECT_NE(routines->child(1)->icon(0).cacheKey(), routines->child(2)->icon(0).cacheKey());

    // A refresh that finds nothing changed keeps the nodes (and so the one selected); a
    // routine that changed its kind under the same name is a change.
    QTreeWidgetItem* kept = routines->child(1);
    widget.setCurrentItem(routines);
    tree->RefreshObjects();
    EXPECT_EQ(routines->child(1), kept);
    scratch.exec("DROP PROCEDURE `p``q`");
    scratch.exec("CREATE FUNCTION `p``q`() RETURNS INT RETURN 1");
    tree->RefreshObjects();
    EXPECT_EQ(TreeNode::cast(routines->child(0))->level(), nlFunction);

    // Changes show after Refresh on the folder, and a failed listing keeps what it showed.
    scratch.exec("DROP VIEW v0");
    widget.setCurrentItem(find({"DB", scratch.name(), "Views"}));
    tree->RefreshObjects();
    EXPECT_EQ(childTexts(find({"DB", scratch.name(), "Views"})), QStringList{"v 1.x'y"});
    scratch.exec("CREATE EVENT ev2 ON SCHEDULE EVERY 1 DAY DISABLE DO SELECT 1");
    doubleClick(find({"DB", scratch.name(), "Events"}));
    EXPECT_EQ(childTexts(find({"DB", scratch.name(), "Events"})), (QStringList{"ev", "ev2"}));
    EXPECT_TRUE(prompts.messages().isEmpty());

    // Only "Tables" is saved for the next start: the other folders are listed when asked.
    EXPECT_EQ(tree->CurrentExpansion().level3, QString());
}

TEST_F(ObjectTreeTest, AccountsAreListedAndAMissingHostTableIsExplained) {
    doubleClick(server());
    TreeNode* users = find({"USER"});
    doubleClick(users);
    const QString label = testserver::user() + QStringLiteral("[%]");
    TreeNode* account = find({"USER", label});
    ASSERT_NE(account, nullptr) << childTexts(users).join(u' ').toStdString();
    EXPECT_EQ(account->level(), nlUser);
    ASSERT_NE(account->userKey(), nullptr);
    EXPECT_EQ(account->userKey()->User, testserver::user());
    EXPECT_EQ(account->userKey()->Host, QStringLiteral("%"));
    // Listed once: a second double click does not add the accounts again.
    const int count = users->childCount();
    doubleClick(users);
    EXPECT_EQ(users->childCount(), count);

    ASSERT_FALSE(session.traits().hasHostTable);  // MariaDB 10.4 and later
    doubleClick(find({"HOST"}));
    EXPECT_EQ(prompts.messages(), QStringList{noHostTableMessage()});
    EXPECT_EQ(find({"HOST"})->childCount(), 0);
}

TEST_F(ObjectTreeTest, ExpansionRoundTripRestoresTheSameFolders) {
    ScratchDatabase scratch(QStringLiteral("with blank"));
    scratch.exec("CREATE TABLE t1 (a INT)");
    scratch.exec("CREATE TABLE `t 2` (a INT)");
    doubleClick(server());
    doubleClick(find({"DB"}));
    doubleClick(find({"DB", scratch.name()}));
    doubleClick(find({"DB", scratch.name(), "Tables"}));
    doubleClick(find({"DB", scratch.name(), "Tables", "t1"}));
    doubleClick(find({"DB", scratch.name(), "Tables", "t 2"}));
    doubleClick(find({"USER"}));

    const ExpansionLists saved = tree->CurrentExpansion();
    const QString quoted = u'"' + scratch.name() + u'"';
    EXPECT_EQ(saved.level1, QStringLiteral("DB,USER,"));
    EXPECT_EQ(saved.level2, quoted + u',');
    EXPECT_EQ(saved.level3, quoted + u',');
    EXPECT_EQ(saved.level4, quoted + QStringLiteral(",\"t 2\",") + quoted + QStringLiteral(",t1,"));

    // A new run: connect again and rebuild from the saved lists.
    doubleClick(server());
    ASSERT_EQ(find({"DB"})->childCount(), 0);
    tree->RestoreExpansion(saved);
    EXPECT_EQ(childTexts(find({"DB", scratch.name(), "Tables"})), (QStringList{"t 2", "t1"}));
    EXPECT_EQ(childTexts(find({"DB", scratch.name(), "Tables", "t1"})),
              (QStringList{"Fields", "Index Key", "Validity Checks"}));
    EXPECT_EQ(find({"DB", scratch.name(), "Tables", "t 2"})->childCount(), 3);
    EXPECT_NE(find({"USER", testserver::user() + QStringLiteral("[%]")}), nullptr);
    EXPECT_EQ(tree->CurrentExpansion().level4, saved.level4);
}

TEST_F(ObjectTreeTest, NothingExpandedGivesEmptyListsAndMarkersRestoreNothing) {
    doubleClick(server());
    server()->setExpanded(false);
    const ExpansionLists none = tree->CurrentExpansion();
    EXPECT_TRUE(none.level1.isEmpty());
    EXPECT_TRUE(none.level2.isEmpty());
    EXPECT_TRUE(none.level3.isEmpty());
    EXPECT_TRUE(none.level4.isEmpty());

    tree->RestoreExpansion({QStringLiteral(" None "), QString(), QString(), QString()});
    EXPECT_EQ(find({"DB"})->childCount(), 0);

    // An odd level4 list ignores its last item; unknown level1 items are skipped.
    ScratchDatabase scratch;
    scratch.exec("CREATE TABLE t1 (a INT)");
    tree->RestoreExpansion({QStringLiteral("Bogus,DB,"), scratch.name() + u',',
                            scratch.name() + u',', scratch.name() + QStringLiteral(",t1,x")});
    EXPECT_EQ(find({"DB", scratch.name(), "Tables", "t1"})->childCount(), 3);
    EXPECT_TRUE(prompts.messages().isEmpty());
}

}  // namespace

namespace {

// The database a click makes current, for every level of a hand-built branch.
// The column fits every shown name as the style draws it, whatever its letters, font or
// depth, and narrows again when the widest goes out of sight.
TEST(NameColumnWidth, FitsTheWidestShownNodeAndNarrowsWhenItIsHidden) {
    struct Case {
        const char* name;
        QString widest;  // below the folder, beside a longer run of narrow letters
        bool view;
        int depth;
    } const cases[] = {
        {"wide letters", QString(12, u'W'), false, 1},
        {"hangul", QStringLiteral("한국어로 지은 아주 긴 이름"), false, 1},
        {"italic view", QStringLiteral("a_view_with_a_rather_long_name"), true, 1},
        {"deep", QStringLiteral("column_name_far_down"), false, 4},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QTreeWidget tree;
        tree.setRootIsDecorated(false);
        new NameColumn(tree);
        auto* folder = new TreeNode(QStringLiteral("folder"), TNodeData{nlTablesFolder, {}});
        tree.addTopLevelItem(folder);
        QTreeWidgetItem* parent = folder;
        for (int d = 1; d < c.depth; ++d) {
            auto* level = new TreeNode(QStringLiteral("n"), TNodeData{nlTable, {}});
            parent->addChild(level);
            parent->setExpanded(true);
            parent = level;
        }
        QList<QTreeWidgetItem*> nodes;
        for (int i = 0; i < 50; ++i)
            nodes << new TreeNode(QStringLiteral("iiiiiiiiiiiiiiii_%1").arg(i), TNodeData{nlTable, {}});
        auto* widest = new TreeNode(c.widest, TNodeData{nlTable, {}});
        if (c.view) widest->markAsView();
        nodes << widest;
        parent->addChildren(nodes);
        parent->setExpanded(true);
        tree.show();
        QApplication::processEvents();
        const int needed = tree.sizeHintForIndex(tree.indexFromItem(widest)).width() +
                           tree.indentation() * c.depth;
        EXPECT_GE(tree.header()->sectionSize(0), needed);
        EXPECT_GE(tree.header()->sectionSize(0), tree.sizeHintForIndex(tree.indexFromItem(nodes[0])).width());
        folder->setExpanded(false);
        QApplication::processEvents();
        EXPECT_LT(tree.header()->sectionSize(0), needed);
        folder->setExpanded(true);
        QApplication::processEvents();
        EXPECT_GE(tree.header()->sectionSize(0), needed);
        delete widest;  // gone from a branch still shown
        QApplication::processEvents();
        EXPECT_LT(tree.header()->sectionSize(0), needed);
    }
}

TEST(TreeNodeDatabase, EachLevelFindsItsDatabaseAndOthersHaveNone) {
    auto add = [](QTreeWidgetItem* parent, const char* text, TNodeLevel level) {
        auto* node = new TreeNode(QString::fromLatin1(text), TNodeData{level, {}});
        parent->addChild(node);
        return node;
    };
    TreeNode server(QStringLiteral("srv"), TNodeData{nlServer, {}});
    TreeNode* dbFolder = add(&server, "DB", nlDbFolder);
    TreeNode* users = add(&server, "USER", nlUserFolder);
    TreeNode* database = add(dbFolder, "shop", nlDatabase);
    TreeNode* tables = add(database, "Tables", nlTablesFolder);
    TreeNode* procedures = add(database, "Procedures", nlProceduresFolder);
    TreeNode* table = add(tables, "t", nlTable);
    TreeNode* fields = add(table, "Fields", nlFieldsFolder);
    TreeNode* keys = add(table, "Index Key", nlIndexKeyFolder);
    TreeNode* checks = add(table, "Validity Checks", nlValidityChecksFolder);
    TreeNode* field = add(fields, "id", nlField);
    TreeNode* account = add(users, "u[h]", nlUser);

    for (TreeNode* node : {database, tables, procedures, table, fields, keys, field})
        EXPECT_EQ(node->databaseNode(), database) << node->text().toStdString();
    for (TreeNode* node : {&server, dbFolder, users, checks, account})
        EXPECT_EQ(node->databaseNode(), nullptr) << node->text().toStdString();
}

}  // namespace
