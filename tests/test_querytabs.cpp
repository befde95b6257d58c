#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QSet>
#include <QSignalSpy>
#include <QTabBar>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>
#include <sys/stat.h>

#include "dataset/TMySQLConnection.h"
#include "dataset/TMySQLDataSet.h"
#include "sqleditor/QueryTabStore.h"
#include "sqleditor/QueryTabs.h"
#include "sqleditor/ScriptFile.h"
#include "sqleditor/SqlPanel.h"
#include "sqleditor/TabSession.h"
#include "support/ScriptedPrompts.h"
#include "support/TestFiles.h"
#include "support/TestServer.h"
#include "ui/ServerWait.h"

namespace {

using Contents = QueryTabStore::Contents;

const QFileDevice::Permissions kOwnerOnly =
    QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser | QFile::WriteUser;

// ---- The store ------------------------------------------------------------------------------

struct StoreCase {
    const char* name;
    Contents contents;
};

class StoreRoundTrip : public ::testing::TestWithParam<StoreCase> {};

TEST_P(StoreRoundTrip, IsOwnerOnlyWhateverTheUmaskAndReadsBackWhatItWrote) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QLatin1String(QueryTabStore::kFileName));
    writeFile(path, "{}");
    QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadOther);
    QueryTabStore store(path);
    const mode_t old = ::umask(0);
    store.save(GetParam().contents);
    ::umask(old);
    EXPECT_EQ(QFile::permissions(path), kOwnerOnly);
    const QueryTabStore::Loaded loaded = store.load();
    EXPECT_EQ(loaded.problem.toStdString(), "");
    EXPECT_TRUE(loaded.contents == GetParam().contents);
    EXPECT_EQ(filesIn(dir.path()), QStringList{QueryTabStore::kFileName});  // nothing left aside
}

INSTANTIATE_TEST_SUITE_P(
    Tabs, StoreRoundTrip,
    ::testing::Values(
        StoreCase{"none", {}},
        StoreCase{"one", {{{QStringLiteral("SELECT 1"), QString()}}, 0}},
        StoreCase{"oddText",
                  {{{QStringLiteral("SELECT '\"\\\\'\r\n-- \uD55C\uAE00 \U0001F600\t"), QString()},
                    {QString(), QStringLiteral("/tmp/a b/\uD55C.sql")}},
                   1}},
        StoreCase{"thirdCurrent",
                  {{{QStringLiteral("a"), {}}, {QStringLiteral("b"), {}}, {QStringLiteral("c"), {}}},
                   2}}),
    [](const auto& info) { return std::string(info.param.name); });

struct BadCase {
    const char* name;
    QByteArray bytes;
};

class BadStore : public ::testing::TestWithParam<BadCase> {};

TEST_P(BadStore, IsMovedAsideWholeAndNeverWrittenOver) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("tabs.json"));
    writeFile(path, GetParam().bytes);
    QueryTabStore store(path);
    const QueryTabStore::Loaded loaded = store.load();
    EXPECT_TRUE(loaded.contents.tabs.empty());
    EXPECT_TRUE(loaded.problem.contains(path)) << loaded.problem.toStdString();
    const QStringList files = filesIn(dir.path());
    ASSERT_EQ(files.size(), 1);
    EXPECT_TRUE(files[0].startsWith(QStringLiteral("tabs.json.bad-"))) << files[0].toStdString();
    EXPECT_TRUE(loaded.problem.contains(files[0])) << loaded.problem.toStdString();
    store.save({{{QStringLiteral("new"), {}}}, 0});
    EXPECT_EQ(readFile(dir.filePath(files[0])), GetParam().bytes);
}

INSTANTIATE_TEST_SUITE_P(
    Files, BadStore,
    ::testing::Values(BadCase{"empty", ""}, BadCase{"notJson", "{\"format\":1,\"tabs\":["},
                      BadCase{"binary", QByteArray("\x00\xff\xfe", 3)},
                      BadCase{"array", "[]"},
                      BadCase{"otherFormat", "{\"format\":2,\"current\":0,\"tabs\":[]}"},
                      BadCase{"tabWithoutText",
                              "{\"format\":1,\"current\":0,\"tabs\":[{\"file\":\"\"}]}"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(QueryTabStoreDelay, AChangeIsWrittenWithinTheDelayAndAFailingWriteIsSaidOnce) {
    QTemporaryDir dir;
    const Contents contents{{{QStringLiteral("SELECT 1"), {}}}, 0};
    QueryTabStore store(dir.filePath(QStringLiteral("tabs.json")));
    store.setSource([&] { return contents; });
    store.changed();
    EXPECT_FALSE(QFile::exists(store.path()));  // not on every key
    EXPECT_TRUE(QTest::qWaitFor([&] { return QFile::exists(store.path()); },
                                QueryTabStore::kDelayMs + 1000));
    EXPECT_TRUE(store.load().contents == contents);

    QueryTabStore nowhere(dir.filePath(QStringLiteral("missing/tabs.json")));
    nowhere.setSource([&] { return contents; });
    QSignalSpy failed(&nowhere, &QueryTabStore::writeFailed);
    nowhere.flush();
    nowhere.flush();
    ASSERT_EQ(failed.size(), 1);
    EXPECT_TRUE(failed[0][0].toString().startsWith(QStringLiteral("Cannot write ")));
}

// ---- The tabs -------------------------------------------------------------------------------

// The answer to the question before an unsaved tab closes.
void answerCloseQuestion(ScriptedPrompts& prompts, QMessageBox::StandardButton answer) {
    prompts.onDialog([answer](QDialog* dialog) {
        qobject_cast<QMessageBox*>(dialog)->button(answer)->click();
        return 0;
    });
}

class QueryTabsTest : public ::testing::Test {
protected:
    void TearDown() override { EXPECT_TRUE(prompts.allAnswersUsed()); }

    void start() {
        tabs = std::make_unique<QueryTabs>(connection, prompts, dir.path());
        notes = tabs->Restore();
        tabs->resize(800, 600);
        tabs->show();
        QApplication::setActiveWindow(tabs.get());
    }
    QStringList titles() const {
        QStringList out;
        for (int i = 0; i < tabs->count(); ++i) out << tabs->tabText(i);
        return out;
    }
    QPlainTextEdit* editor() const { return tabs->Current().MemoSQL(); }
    void answerClose(QMessageBox::StandardButton answer) { answerCloseQuestion(prompts, answer); }
    QString path(const char* name) const { return dir.filePath(QLatin1String(name)); }
    QString storePath() const { return path(QueryTabStore::kFileName); }

    QTemporaryDir dir;
    TMySQLConnection connection;
    ScriptedPrompts prompts;
    std::unique_ptr<QueryTabs> tabs;
    QStringList notes;
};

TEST_F(QueryTabsTest, KeysAndButtonsOpenAndCloseTabsAndTheLastOneStays) {
    start();
    EXPECT_EQ(titles(), QStringList{"Query 1"});
    QTest::keyClick(editor(), Qt::Key_T, Qt::ControlModifier);
    tabs->NewTabButton()->click();
    EXPECT_EQ(titles(), (QStringList{"Query 1", "Query 2", "Query 3"}));
    EXPECT_EQ(tabs->currentIndex(), 2);
    QTest::keyClick(editor(), Qt::Key_W, Qt::ControlModifier);  // empty: nothing to ask
    EXPECT_EQ(titles(), (QStringList{"Query 1", "Query 2"}));
    QTabBar* bar = tabs->tabBar();
    QWidget* close = bar->tabButton(0, QTabBar::RightSide);
    if (!close) close = bar->tabButton(0, QTabBar::LeftSide);
    ASSERT_NE(qobject_cast<QAbstractButton*>(close), nullptr);
    qobject_cast<QAbstractButton*>(close)->click();
    EXPECT_EQ(titles(), QStringList{"Query 2"});
    tabs->NewTabButton()->click();  // the lowest free number
    EXPECT_EQ(titles(), (QStringList{"Query 2", "Query 1"}));
    tabs->CloseTab(0);
    tabs->CloseTab(0);
    EXPECT_EQ(titles(), QStringList{"Query 1"});
    EXPECT_TRUE(editor()->toPlainText().isEmpty());
}

TEST_F(QueryTabsTest, ATabIsNamedAfterItsFileAndMarkedWhileItDiffers) {
    writeFile(path("b.sql"), "SELECT 2\r\n");
    start();
    QTest::keyClicks(editor(), QStringLiteral("SELECT 1"));
    EXPECT_EQ(titles(), QStringList{"Query 1*"});
    prompts.answerFile(path("a.sql"));
    tabs->Current().SpeedButton9Click();
    EXPECT_EQ(titles(), QStringList{"a.sql"});
    EXPECT_EQ(tabs->FileName(0).toStdString(), path("a.sql").toStdString());
    QTest::keyClicks(editor(), QStringLiteral(" "));
    EXPECT_EQ(titles(), QStringList{"a.sql*"});
    QTest::keyClick(editor(), Qt::Key_Backspace);  // the file's text again
    EXPECT_EQ(titles(), QStringList{"a.sql"});
    tabs->NewTab();
    prompts.answerFile(path("b.sql"));
    tabs->Current().SpeedButton8Click();
    EXPECT_EQ(titles(), (QStringList{"a.sql", "b.sql"}));
    EXPECT_FALSE(tabs->Modified(1));
}

struct CloseCase {
    const char* name;
    QMessageBox::StandardButton answer;
    const char* fileChosen;  // for Yes: the save dialog's answer
    bool closes;
    bool saved;
};

class CloseQuestion : public QueryTabsTest, public ::testing::WithParamInterface<CloseCase> {};

TEST_P(CloseQuestion, UnsavedTextIsSavedDiscardedOrKept) {
    const CloseCase& c = GetParam();
    start();
    QTest::keyClicks(editor(), QStringLiteral("SELECT 42"));
    tabs->NewTab();
    tabs->setCurrentIndex(0);
    answerClose(c.answer);
    if (c.fileChosen) prompts.answerFile(c.fileChosen[0] ? path(c.fileChosen) : QString());
    EXPECT_EQ(tabs->CloseTab(0), c.closes);
    EXPECT_EQ(titles(), (c.closes ? QStringList{"Query 2"} : QStringList{"Query 1*", "Query 2"}));
    EXPECT_EQ(QFile::exists(path("kept.sql")), c.saved);
    if (c.saved) {
        EXPECT_EQ(ScriptFile::load(path("kept.sql")).toStdString(), "SELECT 42\n");
    }
}

INSTANTIATE_TEST_SUITE_P(
    Answers, CloseQuestion,
    ::testing::Values(CloseCase{"yesSaves", QMessageBox::Yes, "kept.sql", true, true},
                      CloseCase{"yesWithoutAFileKeeps", QMessageBox::Yes, "", false, false},
                      CloseCase{"noDiscards", QMessageBox::No, nullptr, true, false},
                      CloseCase{"cancelKeeps", QMessageBox::Cancel, nullptr, false, false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(QueryTabsTest, RestoresTextsFilesAndTheCurrentTabAndSaysWhichFileIsGone) {
    writeFile(path("kept.sql"), "SELECT 1\r\n");
    QueryTabStore(storePath())
        .save({{{QStringLiteral("SELECT 1"), path("kept.sql")},
                {QStringLiteral("typed"), {}},
                {QStringLiteral("SELECT 3"), path("gone.sql")}},
               2});
    start();
    EXPECT_EQ(titles(), (QStringList{"kept.sql", "Query 1*", "gone.sql*"}));
    EXPECT_EQ(tabs->currentIndex(), 2);
    EXPECT_EQ(editor()->toPlainText().toStdString(), "SELECT 3");
    EXPECT_EQ(tabs->FileName(2).toStdString(), path("gone.sql").toStdString());
    ASSERT_EQ(notes.size(), 1);
    EXPECT_TRUE(notes[0].contains(path("gone.sql"))) << notes[0].toStdString();
}

TEST_F(QueryTabsTest, ADamagedStoreStartsWithOneEmptyTabAndIsKeptAside) {
    writeFile(storePath(), "not tabs");
    start();
    EXPECT_EQ(titles(), QStringList{"Query 1"});
    EXPECT_EQ(notes.size(), 1);
    tabs->Flush();
    const QStringList aside = QDir(dir.path()).entryList({QStringLiteral("QueryTabs.json.bad-*")});
    ASSERT_EQ(aside.size(), 1);
    EXPECT_EQ(readFile(dir.filePath(aside[0])), "not tabs");
    EXPECT_TRUE(QueryTabStore(storePath()).load().problem.isEmpty());  // the new store is good
}

// The program killed the hard way a moment after the last key: what was typed comes back.
TEST(QueryTabsProcess, TabsComeBackAfterTheProgramIsKilled) {
    QTemporaryDir dir;
    const QString script = dir.filePath(QStringLiteral("f.sql"));
    writeFile(script, "SELECT 'from file'\n");
    QProcess child;
    child.start(QCoreApplication::applicationDirPath() + QStringLiteral("/querytabs_child"),
                {dir.path()});
    ASSERT_TRUE(child.waitForStarted());
    for (const QString& command :
         {QStringLiteral("type SELECT 1"), QStringLiteral("new"), QStringLiteral("type SELECT 2"),
          QStringLiteral("new"), QStringLiteral("open ") + script, QStringLiteral("select 1")}) {
        child.write((command + u'\n').toUtf8());
        while (!child.canReadLine()) ASSERT_TRUE(child.waitForReadyRead(10000)) << command.toStdString();
        ASSERT_EQ(child.readLine().trimmed(), "ok");
    }
    QTest::qWait(QueryTabStore::kDelayMs + 1500);
    child.kill();
    ASSERT_TRUE(child.waitForFinished());
    EXPECT_EQ(child.exitStatus(), QProcess::CrashExit);

    const QString path = dir.filePath(QLatin1String(QueryTabStore::kFileName));
    EXPECT_EQ(QFile::permissions(path), kOwnerOnly);
    const Contents expected{{{QStringLiteral("SELECT 1"), {}},
                             {QStringLiteral("SELECT 2"), {}},
                             {QStringLiteral("SELECT 'from file'\n"), script}},
                            1};
    const QueryTabStore::Loaded loaded = QueryTabStore(path).load();
    EXPECT_EQ(loaded.problem.toStdString(), "");
    EXPECT_TRUE(loaded.contents == expected) << readFile(path).toStdString();
}

}  // namespace

// ---- Tabs on sessions of their own, against the server ----------------------------------

namespace {

class TabSessionsTest : public ::testing::Test {
protected:
    void SetUp() override {
        main.SetHost(testserver::hostField());
        main.SetUser(testserver::user());
        main.SetPasswd(testserver::password());
        main.connection().setWaiter(&wait);
        main.Open();
        tabs = std::make_unique<QueryTabs>(main, prompts, dir.path());
        tabs->Restore();
        tabs->resize(900, 700);
        tabs->show();
        a = &tabs->NewTab();
        b = &tabs->NewTab();
    }
    void TearDown() override { EXPECT_TRUE(prompts.allAnswersUsed()); }

    static void exec(SqlPanel& panel, const QString& sql) {
        panel.MemoSQL()->setPlainText(sql);
        panel.SpeedButton7Click();
    }
    static bool finishes(SqlPanel& panel, int withinMs) {
        return QTest::qWaitFor([&] { return !panel.Session()->running(); }, withinMs);
    }
    static QString cell(SqlPanel& panel, int column) {
        TMySQLDataSet* rows = panel.MySQLDataSet2();
        return rows->data(rows->index(0, column)).toString();
    }

    ScriptedPrompts prompts;
    ui::ServerWait wait{prompts};
    TMySQLConnection main;
    QTemporaryDir dir;
    std::unique_ptr<QueryTabs> tabs;
    SqlPanel* a = nullptr;
    SqlPanel* b = nullptr;
};

TEST_F(TabSessionsTest, ASlowStatementInOneTabLeavesAnotherFreeAndEachTabHasItsOwnSession) {
    EXPECT_EQ(tabs->Session(0), nullptr);  // the first tab is the window's
    exec(*a, QStringLiteral("SELECT SLEEP(3) AS s, CONNECTION_ID() AS id"));
    ASSERT_TRUE(a->Session()->running());
    EXPECT_FALSE(a->SpeedButton7()->isEnabled());
    EXPECT_FALSE(tabs->RunLine(1)->isHidden());
    EXPECT_FALSE(wait.busy());  // the window does not wait for it

    exec(*b, QStringLiteral("SELECT CONNECTION_ID() AS id, 42 AS answer"));
    ASSERT_TRUE(finishes(*b, 2500));
    EXPECT_TRUE(a->Session()->running());
    EXPECT_EQ(cell(*b, 1).toStdString(), "42");

    ASSERT_TRUE(finishes(*a, 6000));
    EXPECT_EQ(cell(*a, 0).toStdString(), "0");
    EXPECT_TRUE(a->SpeedButton7()->isEnabled());
    EXPECT_TRUE(tabs->RunLine(1)->isHidden());
    const QStringList sessions{cell(*a, 1), cell(*b, 0),
                               QString::number(main.connection().threadId())};
    EXPECT_EQ(QSet<QString>(sessions.begin(), sessions.end()).size(), 3)
        << sessions.join(u' ').toStdString();
    EXPECT_TRUE(prompts.messages().isEmpty()) << prompts.messages().join(u'|').toStdString();
}

// Cancel and Escape in the tab.
class TabCancel : public TabSessionsTest, public ::testing::WithParamInterface<bool> {};

TEST_P(TabCancel, StopsThatTabsStatementAndLeavesTheOtherTabUntouched) {
    exec(*b, QStringLiteral("SELECT 7"));
    ASSERT_TRUE(finishes(*b, 5000));
    tabs->setCurrentWidget(a);
    QApplication::setActiveWindow(tabs.get());
    exec(*a, QStringLiteral("SELECT SLEEP(30)"));
    QTest::qWait(500);  // the statement is on the server
    if (GetParam())
        QTest::keyClick(a->MemoSQL(), Qt::Key_Escape);
    else
        tabs->RunLine(1)->findChild<QPushButton*>(QStringLiteral("RunCancel"))->click();
    ASSERT_TRUE(finishes(*a, 5000));
    EXPECT_TRUE(a->MemoResult()->toPlainText().startsWith(QStringLiteral("Cancelled by the user after ")))
        << a->MemoResult()->toPlainText().toStdString();
    EXPECT_EQ(cell(*b, 0).toStdString(), "7");
    exec(*a, QStringLiteral("SELECT 8"));  // the cancelled tab goes on
    ASSERT_TRUE(finishes(*a, 5000));
    EXPECT_EQ(cell(*a, 0).toStdString(), "8");
    EXPECT_TRUE(prompts.messages().isEmpty()) << prompts.messages().join(u'|').toStdString();
}

INSTANTIATE_TEST_SUITE_P(Ways, TabCancel, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "escape" : "button"; });

// Closing a tab whose statement runs asks first; agreed, the statement is stopped on the
// server, not only left by the client (an UPDATE would otherwise change its rows after all).
TEST_F(TabSessionsTest, ClosingATabWhileItsStatementRunsAsksAndStopsItOnTheServer) {
    ScratchDatabase db(QStringLiteral("tabs"));
    db.exec("CREATE TABLE t (id INT PRIMARY KEY, v INT) ENGINE=InnoDB");
    db.exec("INSERT INTO t VALUES (1, 0), (2, 0)");
    const QString update = QStringLiteral("UPDATE %1.t SET v = 1 + SLEEP(1)").arg(db.name());
    exec(*a, update);
    QTest::qWait(300);  // the statement is on the server
    prompts.answerYesNo(false);
    EXPECT_FALSE(tabs->CloseTab(tabs->indexOf(a)));
    ASSERT_TRUE(a->Session()->running());
    ASSERT_EQ(prompts.shown().size(), 1u);
    EXPECT_TRUE(prompts.shown()[0].text.startsWith(QStringLiteral("A statement runs in")))
        << prompts.shown()[0].text.toStdString();
    prompts.answerYesNo(true);
    answerCloseQuestion(prompts, QMessageBox::No);  // its text is not kept
    ASSERT_TRUE(tabs->CloseTab(tabs->indexOf(a)));
    QTest::qWait(2500);  // past the time the UPDATE would have taken
    EXPECT_EQ(db.scalar("SELECT SUM(v) FROM t"), QStringLiteral("0"));
}

TEST_F(TabSessionsTest, ATabUsesTheDatabaseOfItsLabelAndScriptsRunOnItsSession) {
    ScratchDatabase db(QStringLiteral("tabs"));
    tabs->setCurrentWidget(a);
    tabs->SetUseDb(db.name());
    exec(*a, QStringLiteral("SELECT DATABASE(), CONNECTION_ID()"));
    ASSERT_TRUE(finishes(*a, 5000));
    EXPECT_EQ(cell(*a, 0).toStdString(), db.name().toStdString());
    const QString session = cell(*a, 1);

    a->MemoSQL()->setPlainText(QStringLiteral("SELECT CONNECTION_ID();"));
    a->RunScriptClick();
    ASSERT_EQ(a->ScriptResults()->count(), 2);
    a->ScriptResults()->setCurrentIndex(1);
    auto* rows = a->ScriptResults()->widget(1)->findChild<TMySQLDataSet*>();
    ASSERT_NE(rows, nullptr);
    EXPECT_EQ(rows->data(rows->index(0, 0)).toString(), session);

    tabs->ClearUseDb();  // the window disconnected: the tabs' sessions end with it
    EXPECT_FALSE(a->Session()->connection().connection().isOpen());
    EXPECT_TRUE(prompts.messages().isEmpty()) << prompts.messages().join(u'|').toStdString();
}

}  // namespace
