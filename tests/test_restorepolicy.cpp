#include <gtest/gtest.h>

#include "dump/RestorePolicy.h"

namespace {

using dump::RestorePolicy;
using Action = dump::StatementPlan::Action;
constexpr std::size_t npos = std::string_view::npos;

struct PlanCase {
    const char* statement;
    Action action;
    std::size_t rowCount = 0;  // of an INSERT's row list
};

RestorePolicy::Context plainRun() {
    RestorePolicy::Context context;
    context.database = QStringLiteral("db");
    context.statementLimit = 64;
    return context;
}

// What the restore does with each statement in a run that follows no USE, refuses nothing,
// holds nothing back and takes statements of up to 63 bytes.
TEST(RestorePolicy, EachStatementGetsItsAction) {
    const PlanCase cases[] = {
        {"USE other", Action::SkipUse},
        {"use `db`", Action::SkipUse},
        {"# a note joined to nothing", Action::SkipCommented},
        {"-- a note", Action::SkipCommented},
        {"--x = 1", Action::Batch},  // no comment: "--" needs a blank after it
        {"# note\nINSERT INTO t VALUES (1)", Action::SendAlone},
        {"INSERT INTO t VALUES (1),(2),(3)", Action::Batch, 3},
        {"INSERT INTO t VALUES ('a;b')", Action::Batch, 1},
        {"INSERT INTO t VALUES ('open", Action::SendAlone},
        {"INSERT INTO t VALUES (1); DROP TABLE u", Action::SendAlone},
        {"INSERT INTO t SELECT 1", Action::Batch},
        {"CALL p()", Action::SendAlone},
        {"/*!40101 SET NAMES utf8 */", Action::SendAlone},
        {"CREATE DEFINER=`u`@`%` VIEW v AS SELECT 1", Action::SendWithDefiner},
        {"CREATE TABLE t (a INT)", Action::Batch},
        {"DROP TABLE IF EXISTS t", Action::Batch},
        {"SET sql_mode = 'ANSI_QUOTES'", Action::SendAlone},  // what follows reads in its mode
        {"SET NAMES utf8mb4", Action::Batch},
        {"INSERT INTO t VALUES ('this one is longer than the server takes at all')",
         Action::SkipOversized},
    };
    for (const PlanCase& c : cases) {
        const dump::StatementPlan plan = RestorePolicy::plan(c.statement, plainRun());
        EXPECT_EQ(plan.action, c.action) << c.statement;
        if (c.rowCount) EXPECT_EQ(plan.rowCount, c.rowCount) << c.statement;
        EXPECT_EQ(plan.rows != npos, c.rowCount > 0) << c.statement;
    }
    // A SET may change how what follows reads: what is gathered goes at once.
    EXPECT_TRUE(RestorePolicy::plan("SET NAMES utf8mb4", plainRun()).endsTrip);
    EXPECT_FALSE(RestorePolicy::plan("INSERT INTO t VALUES (1)", plainRun()).endsTrip);

    const dump::StatementPlan definer =
        RestorePolicy::plan("CREATE DEFINER=`u`@`%` VIEW v AS SELECT 1", plainRun());
    EXPECT_EQ(QString::fromStdString(definer.bare).simplified(),
              QStringLiteral("CREATE VIEW v AS SELECT 1"));
    EXPECT_EQ(definer.definer, "`u`@`%`");
}

// The run's options and state change the answer for the same statement.
TEST(RestorePolicy, TheRunsOptionsDecideUseForeignAndLateStatements) {
    RestorePolicy::Context follow = plainRun();
    follow.followUse = true;
    EXPECT_EQ(RestorePolicy::plan("USE other", follow).action, Action::FollowUse);

    RestorePolicy::Context refuse = plainRun();
    refuse.refuseForeign = true;
    const dump::StatementPlan foreign = RestorePolicy::plan("DROP DATABASE other", refuse);
    EXPECT_EQ(foreign.action, Action::RefuseForeign);
    EXPECT_FALSE(foreign.reason.isEmpty());
    EXPECT_EQ(RestorePolicy::plan("DROP TABLE t", refuse).action, Action::Batch);
    EXPECT_EQ(RestorePolicy::plan("DROP DATABASE other", plainRun()).action, Action::Batch);

    RestorePolicy::Context late = plainRun();
    late.late = true;
    EXPECT_EQ(
        RestorePolicy::plan("CREATE TRIGGER tr BEFORE INSERT ON t FOR EACH ROW SET @a = 1", late)
            .action,
        Action::Batch);  // read behind the marker, but not held back: runs now
    late.deferLate = true;
    EXPECT_EQ(
        RestorePolicy::plan("CREATE TRIGGER tr BEFORE INSERT ON t FOR EACH ROW SET @a = 1", late)
            .action,
        Action::Defer);

    // Without backslash escapes a backslash does not hide the quote after it.
    RestorePolicy::Context ansi = plainRun();
    ansi.rules.backslashEscapes = false;
    EXPECT_EQ(RestorePolicy::plan("INSERT INTO t VALUES ('a\\')", ansi).action, Action::Batch);
    EXPECT_EQ(RestorePolicy::plan("INSERT INTO t VALUES ('a\\')", plainRun()).action,
              Action::SendAlone);
}

TEST(RestorePolicy, InsertsJoinOnlyWithTheSameTextBeforeTheirRows) {
    const std::string_view first = "INSERT INTO t VALUES (1)";
    const std::string_view same = "INSERT INTO t VALUES (2),(3)";
    const std::string_view other = "INSERT INTO u VALUES (2)";
    const std::size_t at = RestorePolicy::rowListAt(first, {});
    EXPECT_TRUE(RestorePolicy::joins(same, RestorePolicy::rowListAt(same, {}), first, at));
    EXPECT_FALSE(RestorePolicy::joins(other, RestorePolicy::rowListAt(other, {}), first, at));
    EXPECT_FALSE(RestorePolicy::joins(same, npos, first, at));
    EXPECT_FALSE(RestorePolicy::joins(same, RestorePolicy::rowListAt(same, {}), first, npos));
    EXPECT_EQ(RestorePolicy::insertTable("INSERT INTO `a``b` VALUES (1)"), "a`b");
    EXPECT_EQ(RestorePolicy::insertTable("INSERT INTO other.t VALUES (1)"), "");
}

// Which refusals end the run or are retried, and which warnings count as changed values.
TEST(RestorePolicy, ServerAnswersAreSortedByCode) {
    const struct {
        unsigned code;
        bool ends, retry, valueWarning;
    } codes[] = {
        {2013, true, false, false},   // connection lost during the statement
        {2006, true, false, false},   // server gone away
        {1213, true, false, false},   // deadlock: the transaction was rolled back
        {1317, true, false, false},   // the statement was stopped
        {1227, false, true, false},   // no privilege for the DEFINER
        {1449, false, true, false},   // the DEFINER does not exist
        {1062, false, false, false},  // a duplicate key: refused, the run goes on
        {1264, false, false, true},   // out of range
        {1366, false, false, true},   // an incorrect value
        {1287, false, false, false},  // deprecated syntax
    };
    for (const auto& c : codes) {
        EXPECT_EQ(RestorePolicy::endsTheRun(c.code), c.ends) << c.code;
        EXPECT_EQ(RestorePolicy::retryWithoutDefiner(c.code), c.retry) << c.code;
        EXPECT_EQ(RestorePolicy::valueWarning(c.code), c.valueWarning) << c.code;
    }
    EXPECT_TRUE(RestorePolicy::missingDefiner(1449));
    EXPECT_FALSE(RestorePolicy::missingDefiner(1227));

    EXPECT_TRUE(RestorePolicy::changedValues(true, 1264, "CREATE VIEW v AS SELECT 1"));
    EXPECT_FALSE(RestorePolicy::changedValues(true, 0, "INSERT INTO t VALUES (1)"));
    // Without the server's words, only statements that write rows count.
    EXPECT_TRUE(RestorePolicy::changedValues(false, 0, "replace into t values (1)"));
    EXPECT_FALSE(RestorePolicy::changedValues(
        false, 0, "CREATE EVENT e ON SCHEDULE EVERY 1 DAY DO SELECT 1"));
}

}  // namespace
