// Edits posted from a grid reach the row shown and no other, in one transaction: a row
// changed elsewhere meanwhile, or a statement the server refuses, rolls everything back.
#include <gtest/gtest.h>

#include "dataset/RowEdits.h"
#include "support/TestServer.h"

namespace {

class RowEditsTest : public ::testing::Test {
protected:
    void SetUp() override {
        c = testserver::connect();
        create("InnoDB");
    }

    void create(const char* engine) {
        scratch.exec("DROP TABLE IF EXISTS t");
        scratch.exec(std::string("CREATE TABLE t (id INT AUTO_INCREMENT PRIMARY KEY, name VARCHAR(40) NULL, "
                                 "f FLOAT NULL, b VARBINARY(20) NULL, made DATETIME DEFAULT '2020-01-02 03:04:05', "
                                 "g INT AS (id * 2) VIRTUAL) ENGINE=") + engine);
        scratch.exec("INSERT INTO t (id, name, f, b) VALUES (1, 'a', 0.1, 'x'), (2, 'b', 2.5, NULL), "
                     "(3, 'c', NULL, ''), (4, 'd', 1e-7, 'y')");
    }

    RowStatements statements() {
        db::Connection* conn = &c;
        return RowStatements(readTableShape(c, scratch.name(), QStringLiteral("t")),
                             [conn](std::string_view b) { return conn->quoteValue(b); });
    }

    // The row as a grid read it.
    RowBytes row(int id) {
        db::Result r = c.select("SELECT * FROM " + db::qualifiedName(scratch.name(), "t") +
                                " WHERE id = " + std::to_string(id));
        RowBytes out;
        if (r.next())
            for (unsigned col = 0; col < r.columnCount(); ++col) {
                const db::Value v = r.value(col);
                out.push_back(v.isNull() ? CellBytes() : CellBytes(std::string(v.view())));
            }
        return out;
    }

    std::string table() {
        return scratch.scalar("SELECT GROUP_CONCAT(CONCAT_WS(',', id, IFNULL(name, 'NULL'), "
                              "IFNULL(f, 'NULL'), IFNULL(HEX(b), 'NULL')) ORDER BY id SEPARATOR ';') FROM t")
            .toStdString();
    }

    static RowEdit update(RowBytes original, std::map<int, CellBytes> changed) {
        return {RowEdit::Kind::Update, 0, std::move(original), std::move(changed)};
    }

    ScratchDatabase scratch{QStringLiteral("edits")};
    db::Connection c;
};

TEST_F(RowEditsTest, EveryKindOfEditReachesItsRowAndReadsBackWhatTheServerHolds) {
    const std::string hostile = "x'; DROP TABLE t; -- \\";
    const std::vector<RowEdit> edits = {
        update(row(1), {{1, std::string()}, {2, std::string("7.25")}}),  // empty, not NULL
        update(row(2), {{1, std::nullopt}, {3, std::string("\0'\\\"z", 5)}}),
        update(row(4), {{1, hostile}}),  // a FLOAT read as 1e-7 is found again
        {RowEdit::Kind::Insert, 0, {}, {{1, std::string("new")}, {5, std::string("ignored")}}},
        {RowEdit::Kind::Delete, 0, row(3), {}},
    };
    const RowStatements s = statements();
    const PostOutcome out = postEdits(c, s, edits);
    ASSERT_TRUE(out.applied) << out.reason.toStdString();
    EXPECT_EQ(table(), "1,,7.25,78;2,NULL,2.5,00275C227A;4," + hostile + ",0.0000001,79;5,new,NULL,NULL");
    ASSERT_EQ(out.rowsAfter.size(), edits.size());
    // The added row shows the key the server gave, the default and the generated column.
    const RowBytes& added = out.rowsAfter[3];
    ASSERT_EQ(added.size(), 6u);
    EXPECT_EQ(added[0], CellBytes("5"));
    EXPECT_EQ(added[4], CellBytes("2020-01-02 03:04:05"));
    EXPECT_EQ(added[5], CellBytes("10"));
    EXPECT_TRUE(out.rowsAfter[4].empty());
    EXPECT_EQ(s.statement(update(row(1), {})), "");  // nothing changed, nothing sent
}

TEST_F(RowEditsTest, ARowChangedOrDeletedElsewhereRollsThePostBack) {
    struct Case {
        const char* name;
        std::string elsewhere;
        RowEdit::Kind kind;
    };
    const Case cases[] = {
        {"changed", "UPDATE t SET name = 'other' WHERE id = 2", RowEdit::Kind::Update},
        {"deleted", "DELETE FROM t WHERE id = 2", RowEdit::Kind::Update},
        {"deleted before its deletion", "DELETE FROM t WHERE id = 2", RowEdit::Kind::Delete},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        create("InnoDB");
        std::vector<RowEdit> edits = {update(row(1), {{1, std::string("first")}}),
                                      {k.kind, 0, row(2), {{1, std::string("second")}}}};
        scratch.exec(k.elsewhere);
        const std::string before = table();
        const PostOutcome out = postEdits(c, statements(), edits);
        EXPECT_FALSE(out.applied);
        EXPECT_EQ(out.failedEdit, 1);
        EXPECT_TRUE(out.changedElsewhere);
        EXPECT_FALSE(out.partlyKept);
        EXPECT_EQ(table(), before);  // the first edit was undone too
    }
    // The server's refusal names its reason; on MyISAM what ran before stays, and says so.
    for (const char* engine : {"InnoDB", "MyISAM"}) {
        SCOPED_TRACE(engine);
        create(engine);
        const std::vector<RowEdit> edits = {
            update(row(1), {{1, std::string("first")}}),
            {RowEdit::Kind::Insert, 0, {}, {{0, std::string("2")}, {1, std::string("dup")}}}};
        const PostOutcome out = postEdits(c, statements(), edits);
        EXPECT_FALSE(out.applied);
        EXPECT_EQ(out.failedEdit, 1);
        EXPECT_FALSE(out.changedElsewhere);
        EXPECT_TRUE(out.reason.contains(QLatin1String("Duplicate"))) << out.reason.toStdString();
        const bool kept = std::string(engine) == "MyISAM";
        EXPECT_EQ(out.partlyKept, kept);
        EXPECT_EQ(scratch.scalar("SELECT name FROM t WHERE id = 1"), kept ? "first" : "a");
    }
}

TEST_F(RowEditsTest, APostThatReadsNoRowsBackAppliesTheSameEdits) {
    const std::vector<RowEdit> edits = {update(row(1), {{1, std::string("z")}}),
                                        {RowEdit::Kind::Delete, 0, row(3), {}}};
    const PostOutcome out = postEdits(c, statements(), edits, ReadBack::None);
    ASSERT_TRUE(out.applied) << out.reason.toStdString();
    EXPECT_TRUE(out.rowsAfter.empty());
    EXPECT_EQ(table(), "1,z,0.1,78;2,b,2.5,NULL;4,d,0.0000001,79");
}

}  // namespace
