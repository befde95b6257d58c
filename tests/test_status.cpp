#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QThread>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <functional>

#include "admin/ServerVariables.h"
#include "admin/StatusSampler.h"
#include "dataset/TMySQLConnection.h"
#include "db/Connection.h"
#include "panels/DetailPanels.h"
#include "panels/ProcessRefresh.h"
#include "panels/StatusCharts.h"
#include "panels/StatusPanel.h"
#include "panels/VariablesTab.h"
#include "support/PrivateServer.h"
#include "support/ScriptedPrompts.h"
#include "support/TestServer.h"
#include "tree/ServerSession.h"
#include "tree/TreeNode.h"

namespace {

using admin::ServerVariable;
using admin::ServerVariables;

// Lets the window's loop run until `done` holds or 10 s pass; whether it held.
bool waitFor(const std::function<bool()>& done) {
    QElapsedTimer clock;
    clock.start();
    while (!done() && clock.elapsed() < 10000) {
        QApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(5);
    }
    return done();
}

// A global variable put back as it was when the test ends, however it ends: the test
// server is shared.
struct RestoreGlobal {
    explicit RestoreGlobal(QString variable) : name(std::move(variable)) {}
    db::Connection connection = testserver::connect();
    QString name;
    QString value = testserver::firstValue(connection, "SELECT @@GLOBAL." + db::utf8(name));
    ~RestoreGlobal() {
        connection.query("SET GLOBAL " + db::quoteIdentifier(name) + " = " + value.toStdString());
    }
};

// ---- the variables, without widgets

struct SetCase {
    const char* name;
    bool global;
    const char* value;
    const char* readBack;  // what the server then has; "=global" for the global value
};

void PrintTo(const SetCase& c, std::ostream* os) {
    *os << (c.global ? "global " : "session ") << c.name << " = " << c.value;
}

class VariableSet : public ::testing::TestWithParam<SetCase> {};

TEST_P(VariableSet, IsSentReadBackAndKeptByTheServer) {
    const SetCase& p = GetParam();
    const QString name = QString::fromLatin1(p.name);
    std::optional<RestoreGlobal> restore;
    if (p.global) restore.emplace(name);
    db::Connection c = testserver::connect();
    ServerVariables variables(c);
    const std::optional<ServerVariable> before = variables.read(name);
    ASSERT_TRUE(before);
    ASSERT_TRUE(before->settable(p.global));
    const ServerVariable after = variables.set(*before, p.global, QString::fromLatin1(p.value));
    const QString expected = QLatin1String(p.readBack) == QLatin1String("=global")
                                 ? before->globalValue
                                 : QString::fromLatin1(p.readBack);
    EXPECT_EQ(after.value(p.global).toStdString(), expected.toStdString());
    // Read back from the server itself, not from the statement.
    const std::string scope = p.global ? "@@GLOBAL." : "@@SESSION.";
    EXPECT_EQ(testserver::firstValue(c, "SELECT " + scope + p.name).toStdString(),
              expected.toStdString());
}

INSTANTIATE_TEST_SUITE_P(
    , VariableSet,
    ::testing::Values(SetCase{"wait_timeout", false, "300", "300"},
                      SetCase{"long_query_time", false, "2.5", "2.500000"},
                      SetCase{"sql_mode", false, "strict_all_tables,ansi_quotes",
                              "ANSI_QUOTES,STRICT_ALL_TABLES"},
                      SetCase{"tx_isolation", false, "read-committed", "READ-COMMITTED"},
                      SetCase{"lc_time_names", false, "de_DE", "de_DE"},
                      SetCase{"wait_timeout", false, " default ", "=global"},
                      SetCase{"max_connections", true, "211", "211"}),
    [](const auto& info) {
        return std::string(info.param.global ? "global_" : "session_") + info.param.name + "_" +
               std::to_string(info.index);
    });

struct RefusedCase {
    const char* name;
    bool global;
    const char* value;
    unsigned code;  // the server's error
};

void PrintTo(const RefusedCase& c, std::ostream* os) {
    *os << (c.global ? "global " : "session ") << c.name << " = " << c.value;
}

class VariableRefused : public ::testing::TestWithParam<RefusedCase> {};

TEST_P(VariableRefused, ThrowsTheServersReasonAndChangesNothing) {
    const RefusedCase& p = GetParam();
    db::Connection c = testserver::connect();
    ServerVariables variables(c);
    const std::optional<ServerVariable> before = variables.read(QString::fromLatin1(p.name));
    ASSERT_TRUE(before);
    try {
        variables.set(*before, p.global, QString::fromLatin1(p.value));
        ADD_FAILURE() << "the server took " << p.value;
    } catch (const db::DbError& error) {
        EXPECT_EQ(error.code(), p.code) << error.what();
        EXPECT_TRUE(QString::fromUtf8(error.what()).contains(QLatin1String(p.name)))
            << error.what();
    }
    const std::optional<ServerVariable> after = variables.read(QString::fromLatin1(p.name));
    ASSERT_TRUE(after);
    EXPECT_EQ(after->value(p.global), before->value(p.global));
}

INSTANTIATE_TEST_SUITE_P(, VariableRefused,
                         ::testing::Values(RefusedCase{"version", true, "x", 1238},
                                           RefusedCase{"wait_timeout", false, "abc", 1232},
                                           RefusedCase{"sql_mode", false, "NO_SUCH_MODE", 1231},
                                           RefusedCase{"max_connections", false, "5", 1229}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(ServerVariables, MetadataAndStatementsFollowTheVariablesType) {
    db::Connection c = testserver::connect();
    ServerVariables variables(c);
    const std::vector<ServerVariable> all = variables.readAll();
    ASSERT_GT(all.size(), 300u);
    const auto find = [&](const char* name) {
        for (const ServerVariable& v : all)
            if (v.name == QLatin1String(name)) return v;
        ADD_FAILURE() << name << " not listed";
        return ServerVariable{};
    };
    const ServerVariable version = find("version");
    EXPECT_TRUE(version.readOnly);
    EXPECT_FALSE(version.settable(true));
    EXPECT_EQ(admin::scopeNote(version), QStringLiteral("read-only"));
    const ServerVariable connections = find("max_connections");
    EXPECT_TRUE(connections.numeric());
    EXPECT_FALSE(connections.settable(false));
    EXPECT_TRUE(connections.sessionValue.isNull());
    EXPECT_EQ(admin::scopeNote(connections), QStringLiteral("global only"));
    EXPECT_EQ(admin::scopeNote(find("timestamp")), QStringLiteral("session only"));
    const ServerVariable mode = find("sql_mode");
    EXPECT_TRUE(mode.allowedValues.contains(QStringLiteral("ANSI_QUOTES")));
    EXPECT_FALSE(mode.numeric());

    EXPECT_EQ(variables.setStatement(connections, true, QStringLiteral(" 200 ")),
              "SET GLOBAL `max_connections` = 200");
    EXPECT_EQ(variables.setStatement(connections, true, QStringLiteral("1+1")),
              "SET GLOBAL `max_connections` = '1+1'");
    EXPECT_EQ(variables.setStatement(mode, false, QStringLiteral("it's")),
              "SET SESSION `sql_mode` = 'it\\'s'");
    EXPECT_EQ(variables.setStatement(mode, false, QStringLiteral("Default")),
              "SET SESSION `sql_mode` = DEFAULT");
    EXPECT_EQ(
        admin::setQuestion(connections, true, QStringLiteral("200")),
        QStringLiteral("Set global max_connections from %1 to 200?").arg(connections.globalValue));
}

// ---- the sampler's arithmetic, from real samples

TEST(StatusSampler, RatesComeFromTwoRealSamplesAndNeverGoNegative) {
    db::Connection c = testserver::connect();
    admin::StatusSampler sampler;
    sampler.add(admin::readStatus(c));
    EXPECT_FALSE(sampler.hasRate());
    EXPECT_FALSE(sampler.rate(QStringLiteral("Questions")));
    EXPECT_FALSE(sampler.point());
    const double before = *sampler.latest().number(QStringLiteral("Questions"));
    for (int i = 0; i < 50; ++i) c.exec("DO 1");
    // Over a second, so that Uptime_since_flush_status has grown before the flush below.
    QThread::msleep(1100);
    sampler.add(admin::readStatus(c));
    ASSERT_TRUE(sampler.hasRate());
    const double seconds = sampler.seconds();
    EXPECT_GE(seconds, 1.0);
    const double after = *sampler.latest().number(QStringLiteral("Questions"));
    ASSERT_GE(after - before, 51);  // the DOs and the second SHOW GLOBAL STATUS
    EXPECT_DOUBLE_EQ(*sampler.rate(QStringLiteral("Questions")), (after - before) / seconds);
    const std::optional<admin::StatusPoint> point = sampler.point();
    ASSERT_TRUE(point);
    EXPECT_DOUBLE_EQ(point->queriesPerSecond, (after - before) / seconds);
    EXPECT_GE(point->connections, 1);
    EXPECT_GE(point->threadsRunning, 1);
    EXPECT_GT(point->bytesReceivedPerSecond, 0);
    EXPECT_GT(point->bytesSentPerSecond, 0);
    EXPECT_FALSE(sampler.rate(QStringLiteral("Innodb_buffer_pool_load_status")));  // text

    c.exec("FLUSH STATUS");
    sampler.add(admin::readStatus(c));
    const QString reset = QStringLiteral("Uptime_since_flush_status");
    std::optional<double> now = sampler.latest().number(reset);
    ASSERT_TRUE(now);
    // The counter went back, and so has no rate at all rather than a negative one.
    EXPECT_FALSE(sampler.rate(reset)) << *now;
    int backwards = 0;
    for (const auto& [name, value] : sampler.latest().values) {
        if (const std::optional<double> r = sampler.rate(name))
            EXPECT_GE(*r, 0) << name.toStdString();
        else if (sampler.latest().number(name))
            ++backwards;
    }
    EXPECT_GE(backwards, 1);
    const std::optional<admin::StatusPoint> flushed = sampler.point();
    ASSERT_TRUE(flushed);
    for (double v : {flushed->queriesPerSecond, flushed->bytesReceivedPerSecond,
                     flushed->bytesSentPerSecond, flushed->diskReadsPerSecond,
                     flushed->readRequestsPerSecond, flushed->slowQueriesPerSecond})
        EXPECT_GE(v, 0);
    if (flushed->hitRatio) {
        EXPECT_GE(*flushed->hitRatio, 0);
        EXPECT_LE(*flushed->hitRatio, 100);
    }
}

// ---- the panels, in a window on the test server

class StatusPanelTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_NO_THROW(session.Connect(QStringLiteral("test"), testserver::serverEntry()));
        auto* layout = new QVBoxLayout(&window);
        panels = new DetailPanels(session, prompts, &window);
        layout->addWidget(panels);
        window.resize(900, 600);
        window.show();
        status = panels->PStatus();
        status->setSampleInterval(100);
    }
    void TearDown() override { EXPECT_TRUE(prompts.allAnswersUsed()); }

    void showStatus() {
        TreeNode node(QStringLiteral("Status"), TNodeData{nlServerStatus, {}});
        panels->SetPanel(nlServerStatus, &node);
    }
    QString cell(const QString& variable, int column) {
        QTreeWidgetItem* item = status->variables()->itemOf(variable);
        return item ? item->text(column) : QStringLiteral("<not listed>");
    }

    TMySQLConnection dataset;
    ServerSession session{dataset, nullptr};
    ScriptedPrompts prompts;
    QWidget window;
    DetailPanels* panels = nullptr;
    StatusPanel* status = nullptr;
};

TEST_F(StatusPanelTest, VariablesAreListedFilteredAndChangedAfterAQuestion) {
    showStatus();
    EXPECT_EQ(panels->ShownPanel(), DetailPanels::pnStatus);
    EXPECT_TRUE(status->isVisible());
    VariablesTab* tab = status->variables();
    EXPECT_EQ(cell("version", VariablesTab::colNote), QStringLiteral("read-only"));
    EXPECT_EQ(cell("max_connections", VariablesTab::colSession), QString());
    EXPECT_FALSE(cell("max_connections", VariablesTab::colGlobal).isEmpty());

    tab->filter()->setText(QStringLiteral("MAX_CONN"));
    int shown = 0;
    for (int i = 0; i < tab->list()->topLevelItemCount(); ++i) {
        QTreeWidgetItem* item = tab->list()->topLevelItem(i);
        if (item->isHidden()) continue;
        ++shown;
        EXPECT_TRUE(item->text(0).contains(QLatin1String("max_conn")))
            << item->text(0).toStdString();
    }
    EXPECT_GE(shown, 2);  // max_connections, max_connect_errors
    tab->filter()->clear();

    // Read-only: said so, and nothing asked.
    tab->Edit(QStringLiteral("version"), true);
    ASSERT_EQ(prompts.shown().size(), 1u);
    EXPECT_TRUE(prompts.messages()[0].contains(QLatin1String("read-only")));
    prompts.clear();

    // Globally, after a question naming the old and the new value; put back afterwards.
    RestoreGlobal restore{QStringLiteral("max_connections")};
    const QString old = cell("max_connections", VariablesTab::colGlobal);
    const QString raised = QString::number(old.toInt() + 49);
    prompts.answerInput(raised);
    prompts.answerYesNo(true);
    tab->Edit(QStringLiteral("max_connections"), true);
    ASSERT_EQ(prompts.shown().size(), 2u);
    EXPECT_EQ(
        prompts.shown()[1].text.toStdString(),
        QStringLiteral("Set global max_connections from %1 to %2?").arg(old, raised).toStdString());
    EXPECT_EQ(cell("max_connections", VariablesTab::colGlobal), raised);
    EXPECT_EQ(testserver::firstValue(restore.connection, "SELECT @@GLOBAL.max_connections"),
              raised);

    // For the session of the SQL panel's connection, where the user's statements run.
    prompts.clear();
    prompts.answerInput(QStringLiteral("ANSI_QUOTES"));
    prompts.answerYesNo(true);
    tab->Edit(QStringLiteral("sql_mode"), false);
    EXPECT_EQ(cell("sql_mode", VariablesTab::colSession), QStringLiteral("ANSI_QUOTES"));
    EXPECT_EQ(testserver::firstValue(dataset.connection(), "SELECT @@SESSION.sql_mode"),
              QStringLiteral("ANSI_QUOTES"));
    EXPECT_TRUE(prompts.messages().isEmpty());

    // Answered No: nothing is sent.
    prompts.answerInput(QStringLiteral("77"));
    prompts.answerYesNo(false);
    tab->Edit(QStringLiteral("wait_timeout"), false);
    EXPECT_NE(testserver::firstValue(dataset.connection(), "SELECT @@SESSION.wait_timeout"),
              QStringLiteral("77"));

    // Refused: the server's reason, and the value as the server has it.
    const QString timeout = cell("wait_timeout", VariablesTab::colSession);
    prompts.answerInput(QStringLiteral("abc"));
    prompts.answerYesNo(true);
    tab->Edit(QStringLiteral("wait_timeout"), false);
    ASSERT_EQ(prompts.messages().size(), 1);
    EXPECT_TRUE(prompts.messages()[0].startsWith(QLatin1String("wait_timeout was not changed.")));
    EXPECT_TRUE(prompts.messages()[0].contains(QLatin1String("Incorrect argument type")))
        << prompts.messages()[0].toStdString();
    EXPECT_EQ(cell("wait_timeout", VariablesTab::colSession), timeout);
}

// The panel the last run ended on is shown at start without a click: it reads its variables.
TEST_F(StatusPanelTest, ShownWithoutAClickItReadsTheVariables) {
    panels->SwitchPanel(DetailPanels::pnStatus);
    EXPECT_TRUE(waitFor([&] { return status->variables()->itemOf("max_connections"); }));
    EXPECT_TRUE(prompts.messages().isEmpty());
}

TEST_F(StatusPanelTest, CountersAndChartsSampleOnlyWhileShownAndConnected) {
    showStatus();
    EXPECT_FALSE(status->sampling());  // the variables need no sampling
    status->setCurrentWidget(status->countersTab());
    ASSERT_TRUE(status->sampling());
    ASSERT_TRUE(waitFor([&] { return status->samples() >= 3; }));
    QTreeWidget* list = status->counterList();
    QTreeWidgetItem* questions = nullptr;
    for (int i = 0; i < list->topLevelItemCount(); ++i)
        if (list->topLevelItem(i)->text(0) == QLatin1String("Questions"))
            questions = list->topLevelItem(i);
    ASSERT_TRUE(questions);
    EXPECT_GT(questions->text(1).toDouble(), 0);
    EXPECT_GE(questions->text(2).toDouble(), 0);
    EXPECT_FALSE(questions->text(2).isEmpty());
    // Selected, it stays selected through the next samples: the items are updated in place.
    list->setCurrentItem(questions);
    const int seen = status->samples();
    ASSERT_TRUE(waitFor([&] { return status->samples() >= seen + 2; }));
    EXPECT_EQ(list->currentItem(), questions);
    EXPECT_TRUE(questions->isSelected());

    status->counterFilter()->setText(QStringLiteral("bytes_"));
    for (int i = 0; i < list->topLevelItemCount(); ++i) {
        QTreeWidgetItem* item = list->topLevelItem(i);
        EXPECT_EQ(item->isHidden(),
                  !item->text(0).contains(QLatin1String("Bytes_"), Qt::CaseInsensitive))
            << item->text(0).toStdString();
    }

    status->setCurrentWidget(status->charts());
    const int points = status->charts()->pointCount(0);
    ASSERT_TRUE(waitFor([&] { return status->charts()->pointCount(0) >= points + 2; }));
    EXPECT_EQ(status->charts()->pointCount(1, 1), status->charts()->pointCount(0));
    status->charts()->pause()->click();
    EXPECT_FALSE(status->sampling());
    status->charts()->pause()->click();
    EXPECT_TRUE(status->sampling());

    // Hidden: no sampling; shown again: it goes on.
    panels->SwitchPanel(DetailPanels::pnNone);
    EXPECT_FALSE(status->sampling());
    showStatus();
    EXPECT_TRUE(status->sampling());
    // Disconnected: stopped, and the old server's points are gone.
    session.Disconnect();
    panels->ServerChanged();
    EXPECT_FALSE(status->sampling());
    EXPECT_EQ(status->charts()->pointCount(0), 0);
    const int last = status->samples();
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 400) QApplication::processEvents(QEventLoop::AllEvents, 20);
    EXPECT_EQ(status->samples(), last);  // nothing more arrives
}

TEST_F(StatusPanelTest, ProcessListRefreshesItselfKeepingTheSelectionAndHidesSleepers) {
    std::vector<db::Connection> sleepers;
    for (int i = 0; i < 40; ++i) sleepers.push_back(testserver::connect());
    const QString chosen = QString::number(sleepers[20].threadId());
    panels->SwitchPanel(DetailPanels::pnProcess);
    panels->ListProcesses();
    QTreeWidget* list = panels->ProcessListView();
    ProcessRefresh* refresh = panels->processRefresh();
    EXPECT_FALSE(refresh->refreshing());  // off until chosen
    const auto itemOf = [&](const QString& id) -> QTreeWidgetItem* {
        for (int i = 0; i < list->topLevelItemCount(); ++i)
            if (list->topLevelItem(i)->text(0) == id) return list->topLevelItem(i);
        return nullptr;
    };
    ASSERT_TRUE(itemOf(chosen));
    list->setCurrentItem(itemOf(chosen));
    list->verticalScrollBar()->setValue(list->verticalScrollBar()->maximum() / 2);
    const int scroll = list->verticalScrollBar()->value();

    refresh->setIntervalSeconds(1);
    ASSERT_TRUE(refresh->refreshing());
    // A connection that ends shifts the rows after it; the chosen one stays chosen.
    const QString ended = QString::number(sleepers[3].threadId());
    sleepers[3].close();
    ASSERT_TRUE(waitFor([&] { return !itemOf(ended); }));
    const int before = refresh->refreshes();
    ASSERT_TRUE(waitFor([&] { return refresh->refreshes() >= before + 2; }));
    ASSERT_TRUE(list->currentItem());
    EXPECT_EQ(list->currentItem()->text(0), chosen);
    EXPECT_TRUE(list->currentItem()->isSelected());
    EXPECT_EQ(list->verticalScrollBar()->value(), scroll);

    refresh->hideSleeping()->setChecked(true);
    ASSERT_TRUE(itemOf(chosen));
    EXPECT_TRUE(itemOf(chosen)->isHidden());
    int visible = 0;
    for (int i = 0; i < list->topLevelItemCount(); ++i) {
        QTreeWidgetItem* item = list->topLevelItem(i);
        EXPECT_EQ(item->isHidden(), item->text(4) == QLatin1String("Sleep"))
            << item->text(0).toStdString();
        visible += item->isHidden() ? 0 : 1;
    }
    EXPECT_GE(visible, 1);  // the refresh's own SHOW PROCESSLIST at least
    // A manual listing hides them too.
    panels->ListProcesses();
    ASSERT_TRUE(itemOf(chosen));
    EXPECT_TRUE(itemOf(chosen)->isHidden());

    // Hidden panel, or off: no more refreshes.
    panels->SwitchPanel(DetailPanels::pnNone);
    EXPECT_FALSE(refresh->refreshing());
    panels->SwitchPanel(DetailPanels::pnProcess);
    EXPECT_TRUE(refresh->refreshing());
    refresh->setIntervalSeconds(0);
    EXPECT_FALSE(refresh->refreshing());
    EXPECT_TRUE(prompts.messages().isEmpty());
}

// A server that goes away under the sampling: it stops by itself and says why; the window
// never waits for it.
TEST(StatusPanelOnAPrivateServer, AServerThatDiesStopsTheSamplingWithItsReason) {
    PrivateServer server;
    QString error;
    ASSERT_TRUE(server.start(&error)) << error.toStdString();
    TMySQLConnection dataset;
    ServerSession session{dataset, nullptr};
    ASSERT_NO_THROW(session.Connect(QStringLiteral("private"), server.entry()));
    ScriptedPrompts prompts;
    QWidget window;
    auto* layout = new QVBoxLayout(&window);
    auto* status = new StatusPanel(session, prompts, &window);
    layout->addWidget(status);
    status->setSampleInterval(100);
    window.show();
    status->Load();
    status->setCurrentWidget(status->countersTab());
    ASSERT_TRUE(waitFor([&] { return status->samples() >= 2; }));
    server.kill();
    QElapsedTimer clock;
    clock.start();
    ASSERT_TRUE(waitFor([&] { return !status->sampling(); }));
    EXPECT_LT(clock.elapsed(), 7000);  // within the poller's read timeout
    EXPECT_TRUE(status->note()->text().startsWith(QLatin1String("Sampling stopped: ")))
        << status->note()->text().toStdString();
    EXPECT_TRUE(prompts.messages().isEmpty());
}

}  // namespace
