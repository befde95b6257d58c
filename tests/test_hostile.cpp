// Hostile names and values swept across every statement the program builds: database,
// table, column, index, account and host names and passwords holding quotes, backticks,
// backslashes, statement separators, comment markers, line breaks, control characters,
// Korean text, LIKE wildcards, leading and trailing blanks, and text that reads as a second
// statement aimed at a canary database and a canary account. Each action is checked on the
// server: a snapshot before and after it may differ only in the objects the action was
// meant to touch, and the canaries must live through everything.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QBuffer>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <map>
#include <memory>
#include <optional>
#include <set>

#include "admin/AccountCommands.h"
#include "admin/AccountStatements.h"
#include "admin/DatabaseCommands.h"
#include "dataset/TMySQLConnection.h"
#include "dataset/TMySQLDataSet.h"
#include "db/Connection.h"
#include "db/ServerTraits.h"
#include "designer/TableStatements.h"
#include "designer/TfrmCreateTable.h"
#include "dump/DumpFormat.h"
#include "dump/DumpWriter.h"
#include "dump/RestoreEngine.h"
#include "dump/RestoreStatus.h"
#include "dump/StatementReader.h"
#include "panels/DetailPanels.h"
#include "panels/PanelStatements.h"
#include "dataset/TableRows.h"
#include "panels/TableDataView.h"
#include "panels/TreeMenus.h"
#include "sqleditor/SqlPanel.h"
#include "support/Failures.h"
#include "support/CommandWindows.h"
#include "support/ScriptedPrompts.h"
#include "support/TestNames.h"
#include "support/TestServer.h"
#include "support/TreeFixture.h"

namespace {

using Keys = std::set<std::string>;

// ---- names -------------------------------------------------------------------------------

// Every object these tests make carries this tag, so that the snapshots see what this
// process made and nothing of the other test programs that share the server.
const QString& tag() {
    static const QString text = QStringLiteral("lvxh%1").arg(::getpid());
    return text;
}

// The canaries the hostile texts aim at: a database with one row, and an account.
QString canaryDb() { return tag() + QStringLiteral("_y"); }
QString canaryUser() { return tag() + QStringLiteral("_c"); }
const QString kCanaryHost = QStringLiteral("localhost");

// A hostile text; "{u}" marks where a unique part goes, so that every use names a fresh
// object with the tag in its name.
struct Hostile {
    const char* label;
    QString pattern;
};

void PrintTo(const Hostile& h, std::ostream* os) { *os << h.label; }

QString fresh(const QString& pattern) {
    static int counter = 0;
    QString text = pattern;
    text.replace(QStringLiteral("{u}"), tag() + u'_' + QString::number(counter++));
    return text;
}

QString u8(const char* text) { return QString::fromUtf8(text); }

// Database, table, column and index names the server accepts (at most 64 characters).
std::vector<Hostile> acceptedNames() {
    const QString y = canaryDb();
    const QString c = canaryUser();
    return {
        {"Quotes", u8("{u} q'uote \"dq\"")},
        {"Backticks", u8("{u} b`ack``tick`")},
        {"Backslashes", u8("{u} back\\slash\\")},
        {"CommentMarkers", u8("{u};-- #/* x */")},
        {"LineFeed", u8("{u}\nline")},
        {"CarriageReturn", u8("{u}\r\nline")},
        {"ControlCharacters", u8("{u}\x01\x07\x1b\x7f")},
        {"Korean", u8("{u} 한글 이름")},
        {"LikeWildcards", u8("{u}%_\\_%")},
        {"DropDatabase", u8("{u} x; drop database ") + y},
        {"DropUser", u8("{u}'; DROP USER '") + c + u8("'@'localhost'; --")},
        {"BacktickBreakout", u8("{u}`; drop database `") + y + u8("`; --")},
        {"ValuesClause", u8("{u}) values (1),(2")},
        {"LeadingBlanks", u8("   {u}")},
    };
}

// Names the server refuses: the program must say so and make nothing.
std::vector<Hostile> refusedNames() {
    return {
        {"TrailingBlank", u8("{u} trailing ")},
        {"TooLong", u8("{u}") + QString(64, u'x')},
        {"ZeroByte", u8("{u}") + QChar(0) + u8("; drop database ") + canaryDb()},
    };
}

// Values: column defaults, cell values and passwords.
std::vector<Hostile> hostileValues() {
    return {
        {"Quotes", u8("it's \"dq\" ''")},
        {"Backslashes", u8("back\\slash \\' \\")},
        {"StatementText", u8("x'); drop database ") + canaryDb() + u8("; -- #/*")},
        {"LineBreaks", u8("line\nfeed\rreturn\r\n")},
        {"Korean", u8("한글 값")},
        {"Blanks", u8("  lead and trail  ")},
        {"LooksLikeNull", u8("null")},
        {"LooksLikeANumber", u8("1e3")},
        {"LooksLikeHex", u8("0x41")},
        {"LooksLikeALiteral", u8("'quoted'")},
        {"Keyword", u8("CURRENT_TIMESTAMP")},
    };
}

// One account as a user types it into the panel.
struct AccountCase {
    const char* label;
    QString user;  // with "{u}"
    QString host;
    QString password;
    QString renamedUser;  // with "{u}"
    QString renamedHost;
};

void PrintTo(const AccountCase& c, std::ostream* os) { *os << c.label; }

std::vector<AccountCase> accountCases() {
    const QString attack =
        u8("'; DROP USER '") + canaryUser() + u8("'@'") + kCanaryHost + u8("'; --");
    return {
        {"Quotes", u8("{u}o'l\"d"), u8("%"), u8("p'w\"d"), u8("{u}n''e\"w"), u8("%")},
        {"Backslashes", u8("{u}\\'\\"), u8("%"), u8("pw\\'\\"), u8("{u}\\\\"), u8("h\\o\\st")},
        {"Backticks", u8("{u}`x``"), u8("`h`"), u8("`pw`"), u8("{u}``"), u8("%")},
        {"CommentMarkers", u8("{u};-- #/*"), u8("%"), u8("-- #/* ;"), u8("{u}*/#"), u8("h;--#")},
        {"LineBreaks", u8("{u}\r\n\n"), u8("%"), u8("a\nb\r"), u8("{u}\n"), u8("h\r\nx")},
        {"Korean", u8("{u}사용자"), u8("%"), u8("비밀번호"), u8("{u}새이름"), u8("호스트")},
        {"LikeWildcards", u8("{u}%_"), u8("lvx%_.example"), u8("%_"), u8("{u}_%"), u8("%")},
        // A host may not hold "@": the attack on the host leaves the account out.
        {"DropUser", u8("{u}") + attack, u8("%"), u8("x") + attack, u8("{u}x") + attack,
         u8("localhost'; DROP USER '") + canaryUser() + u8("'; --")},
        {"DropDatabase", u8("{u}'@'%'; drop database ") + canaryDb() + u8("; --"), u8("%"),
         u8("x'); drop database ") + canaryDb() + u8("; --"), u8("{u} drop database ") + canaryDb(),
         u8("%")},
        {"LeadingBlanks", u8("  {u}"), u8("%"), u8("  pw"), u8("   {u}"), u8(" h")},
        {"TrailingBlanksInPassword", u8("{u}pw"), u8("%"), u8("pw  "), u8("{u}r"), u8("h")},
        {"CapitalHost", u8("{u}caps"), u8("LVX.Example"), u8("PW"), u8("{u}CAPS"),
         u8("Other.EXAMPLE")},
    };
}

// Account statements keep host names in lower case.
QString keptHost(const QString& host) { return host.toLower(); }

// ---- snapshots ---------------------------------------------------------------------------

std::string databaseKey(std::string_view name) { return "database " + db::quoteIdentifier(name); }
std::string databaseKey(const QString& name) {
    return databaseKey(std::string_view(db::utf8(name)));
}
std::string tableKey(std::string_view database, std::string_view table) {
    return "table " + db::quoteIdentifier(database) + "." + db::quoteIdentifier(table);
}
std::string tableKey(const QString& database, const QString& table) {
    return tableKey(std::string_view(db::utf8(database)), std::string_view(db::utf8(table)));
}
std::string accountKey(std::string_view user, std::string_view host) {
    return "account " + db::quoteIdentifier(user) + "@" + db::quoteIdentifier(host);
}
std::string accountKey(const QString& user, const QString& host) {
    return accountKey(std::string_view(db::utf8(user)), std::string_view(db::utf8(host)));
}

// Every column of the current row, NULL told apart from text.
std::string rowText(const db::Result& r, unsigned from = 0) {
    std::string out;
    for (unsigned i = from; i < r.columnCount(); ++i) {
        const db::Value v = r.value(i);
        out += v.isNull() ? std::string("NULL") : "'" + std::string(v.view()) + "'";
        out += i + 1 < r.columnCount() ? "," : "";
    }
    return out;
}

// The state of what this process made, plus the built-in databases and accounts, keyed by
// object: a database; a table with its columns, keys and a checksum of its rows folded in;
// an account with its whole grant row; a privilege row of mysql.db, tables_priv or
// columns_priv.
using Snapshot = std::map<std::string, std::string>;

Snapshot snapshot(db::Connection& c) {
    Snapshot s;
    const std::string mine = c.quoteValue(tag());
    const std::string mySchemas = " WHERE INSTR(TABLE_SCHEMA, " + mine + ") > 0";
    db::Result r = c.select(
        "SELECT SCHEMA_NAME, DEFAULT_CHARACTER_SET_NAME, DEFAULT_COLLATION_NAME FROM "
        "information_schema.SCHEMATA WHERE INSTR(SCHEMA_NAME, " + mine + ") > 0 OR SCHEMA_NAME "
        "IN ('mysql', 'sys', 'performance_schema', 'information_schema')");
    while (r.next()) s[databaseKey(r.value(0).view())] = rowText(r, 1);

    std::vector<std::pair<std::string, std::string>> baseTables;
    r = c.select("SELECT TABLE_SCHEMA, TABLE_NAME, TABLE_TYPE, ENGINE, TABLE_COMMENT FROM "
                 "information_schema.TABLES" + mySchemas);
    while (r.next()) {
        s[tableKey(r.value(0).view(), r.value(1).view())] = rowText(r, 2);
        if (r.text(2) == QLatin1String("BASE TABLE"))
            baseTables.emplace_back(r.value(0).view(), r.value(1).view());
    }
    r = c.select("SELECT TABLE_SCHEMA, TABLE_NAME, COLUMN_NAME, COLUMN_TYPE, IS_NULLABLE, "
                 "COLUMN_DEFAULT, COLUMN_KEY, EXTRA FROM information_schema.COLUMNS" + mySchemas +
                 " ORDER BY TABLE_SCHEMA, TABLE_NAME, ORDINAL_POSITION");
    while (r.next())
        s[tableKey(r.value(0).view(), r.value(1).view())] += "\ncolumn " + rowText(r, 2);
    r = c.select("SELECT TABLE_SCHEMA, TABLE_NAME, INDEX_NAME, SEQ_IN_INDEX, COLUMN_NAME, "
                 "NON_UNIQUE FROM information_schema.STATISTICS" + mySchemas +
                 " ORDER BY TABLE_SCHEMA, TABLE_NAME, INDEX_NAME, SEQ_IN_INDEX");
    while (r.next()) s[tableKey(r.value(0).view(), r.value(1).view())] += "\nkey " + rowText(r, 2);
    for (const auto& [database, table] : baseTables) {
        db::Result sum = c.select("CHECKSUM TABLE " + db::quoteIdentifier(database) + "." +
                                  db::quoteIdentifier(table));
        if (sum.next()) s[tableKey(database, table)] += "\nrows " + rowText(sum, 1);
    }

    const std::string fixedAccounts =
        " OR User IN ('root', " + c.quoteValue(testserver::user()) + ")";
    r = c.select("SELECT User, Host, Priv FROM mysql.global_priv WHERE INSTR(User, " + mine +
                 ") > 0" + fixedAccounts);
    while (r.next()) s[accountKey(r.value(0).view(), r.value(1).view())] = rowText(r, 2);
    for (const char* table : {"db", "tables_priv", "columns_priv"}) {
        r = c.select(std::string("SELECT * FROM mysql.") + table + " WHERE INSTR(User, " + mine +
                     ") > 0 OR INSTR(Db, " + mine + ") > 0");
        while (r.next()) s[std::string("grant row mysql.") + table + " " + rowText(r)] = "";
    }
    return s;
}

// The objects that appeared, disappeared or changed between two snapshots.
Keys changes(const Snapshot& before, const Snapshot& after) {
    Keys out;
    for (const auto& [key, value] : before) {
        const auto found = after.find(key);
        if (found == after.end() || found->second != value) out.insert(key);
    }
    for (const auto& entry : after)
        if (!before.count(entry.first)) out.insert(entry.first);
    return out;
}

// Watches the server from one point on.
class Watch {
public:
    explicit Watch(db::Connection& c) : c_(c), before_(snapshot(c)) {}
    Keys changed() const { return changes(before_, snapshot(c_)); }
    void restart() { before_ = snapshot(c_); }

private:
    db::Connection& c_;
    Snapshot before_;
};

// ---- the canaries ------------------------------------------------------------------------

bool canaryAlive(db::Connection& c) {
    if (!c.query("SELECT v FROM " + db::qualifiedName(canaryDb(), QStringLiteral("keep"))))
        return false;
    db::Result rows = c.storeResult();
    if (!rows || rows.rowCount() != 1 || !rows.next() || rows.text(0) != QLatin1String("alive"))
        return false;
    db::Result user = c.select(
        "SELECT COUNT(*) FROM mysql.global_priv WHERE User = " + c.quoteValue(canaryUser()) +
        " AND Host = " + c.quoteValue(kCanaryHost));
    return user.next() && user.text(0) == QLatin1String("1");
}

// Puts the canaries in place before the first test and checks and removes them after the
// last; also removes whatever a failed test of this process left behind.
class Canaries : public ::testing::Environment {
public:
    void SetUp() override {
        db::Connection c = testserver::connect();
        removeLeftovers(c);
        const std::string database = db::quoteIdentifier(canaryDb());
        c.exec("CREATE DATABASE " + database);
        c.exec("CREATE TABLE " + database + ".`keep` (id INT PRIMARY KEY, v VARCHAR(20))");
        c.exec("INSERT INTO " + database + ".`keep` VALUES (1, 'alive')");
        const std::string account = c.quoteValue(canaryUser()) + "@" + c.quoteValue(kCanaryHost);
        c.exec("CREATE USER " + account + " IDENTIFIED BY 'canary'");
        c.exec("GRANT SELECT ON " + database + ".* TO " + account);
    }
    void TearDown() override {
        db::Connection c = testserver::connect();
        EXPECT_TRUE(canaryAlive(c)) << "a canary did not live through the tests";
        removeLeftovers(c);
    }

private:
    static void removeLeftovers(db::Connection& c) {
        const std::string mine = c.quoteValue(tag());
        std::vector<std::string> drops;
        db::Result r = c.select("SELECT SCHEMA_NAME FROM information_schema.SCHEMATA WHERE "
                                "INSTR(SCHEMA_NAME, " + mine + ") > 0");
        while (r.next()) drops.push_back("DROP DATABASE " + db::quoteIdentifier(r.value(0).view()));
        r = c.select("SELECT User, Host FROM mysql.global_priv WHERE INSTR(User, " + mine +
                     ") > 0");
        while (r.next())
            drops.push_back("DROP USER " + c.quoteValue(r.value(0).view()) + "@" +
                            c.quoteValue(r.value(1).view()));
        for (const std::string& drop : drops) c.query(drop);
    }
};

[[maybe_unused]] ::testing::Environment* const kCanaries =
    ::testing::AddGlobalTestEnvironment(new Canaries);

// ---- server helpers ----------------------------------------------------------------------

// A database of the test's own, dropped at the end however the test ends.
class OwnedDatabase {
public:
    OwnedDatabase(db::Connection& c, QString name) : c_(c), name_(std::move(name)) {
        c_.exec("CREATE DATABASE " + db::quoteIdentifier(name_) +
                " CHARACTER SET utf8mb4 COLLATE utf8mb4_bin");
    }
    ~OwnedDatabase() { c_.query("DROP DATABASE IF EXISTS " + db::quoteIdentifier(name_)); }
    OwnedDatabase(const OwnedDatabase&) = delete;
    OwnedDatabase& operator=(const OwnedDatabase&) = delete;

    const QString& name() const { return name_; }
    std::string table(const QString& t) const { return db::qualifiedName(name_, t); }

private:
    db::Connection& c_;
    QString name_;
};

bool databaseExists(db::Connection& c, const QString& name) {
    db::Result r =
        c.select("SELECT COUNT(*) FROM information_schema.SCHEMATA WHERE SCHEMA_NAME = " +
                 c.quoteValue(name));
    return r.next() && r.text(0) == QLatin1String("1");
}

QStringList sorted(QStringList list) {
    list.sort();
    return list;
}

// The tables of a database, sorted here (the server's collation orders blanks otherwise).
QStringList tableNames(db::Connection& c, const QString& database) {
    db::Result r = c.select("SELECT TABLE_NAME FROM information_schema.TABLES WHERE "
                            "TABLE_SCHEMA = " + c.quoteValue(database));
    QStringList out;
    while (r.next()) out << r.text(0);
    return sorted(out);
}

// Name and default (the value itself, as SHOW COLUMNS gives it) of every column.
std::vector<std::pair<QString, std::optional<QString>>> columnsOf(db::Connection& c,
                                                                  const QString& database,
                                                                  const QString& table) {
    db::Result r = c.select("SHOW COLUMNS FROM " + db::qualifiedName(database, table));
    std::vector<std::pair<QString, std::optional<QString>>> out;
    while (r.next())
        out.emplace_back(r.text(0),
                         r.value(4).isNull() ? std::nullopt : std::optional<QString>(r.text(4)));
    return out;
}

QString showCreate(db::Connection& c, const QString& database, const QString& table) {
    db::Result r = c.select("SHOW CREATE TABLE " + db::qualifiedName(database, table));
    return r.next() ? r.text(1) : QString();
}


// The stored hash of an account is the hash of the password: for accounts whose host the
// test cannot log in from.
bool hasPassword(db::Connection& c, const QString& user, const QString& host,
                 const QString& password) {
    db::Result r = c.select("SELECT authentication_string = PASSWORD(" + c.quoteValue(password) +
                            ") FROM mysql.user WHERE User = " + c.quoteValue(user) +
                            " AND Host = " + c.quoteValue(host));
    return r.rowCount() == 1 && r.next() && r.text(0) == QLatin1String("1");
}



}  // namespace

namespace {

// ---- databases and tables through the tree's commands -----------------------------------

class HostileCommands : public DatabaseCommandsFixture {
protected:
    void TearDown() override {
        DatabaseCommandsFixture::TearDown();
        EXPECT_TRUE(canaryAlive(dba));
    }
    // The "Tables" folder of a database, listed afresh.
    TreeNode* tablesFolder(const QString& database) {
        doubleClick(find({"DB"}));
        return tablesOf(database);
    }
};

class HostileDatabaseName : public HostileCommands,
                            public ::testing::WithParamInterface<Hostile> {};

TEST_P(HostileDatabaseName, DbAddAndDbDropTouchOnlyThatDatabase) {
    const QString name = fresh(GetParam().pattern);
    toDrop << name;
    Watch watch(dba);

    select(find({"DB"}));
    prompts.answerInput(name);
    menus->Add5->trigger();
    EXPECT_EQ(prompts.messages(), QStringList{"DB생성 성공!"});
    EXPECT_EQ(watch.changed(), Keys{databaseKey(name)});
    EXPECT_TRUE(databaseExists(dba, name));
    TreeNode* node = find({"DB", name});
    ASSERT_NE(node, nullptr) << "the re-listed folder shows the name exactly";

    watch.restart();
    prompts.clear();
    select(node);
    prompts.answerOkCancel(true);
    menus->Drop1->trigger();
    EXPECT_EQ(prompts.messages(), QStringList{"DB 삭제 성공!"});
    EXPECT_EQ(watch.changed(), Keys{databaseKey(name)});
    EXPECT_FALSE(databaseExists(dba, name));
    EXPECT_EQ(find({"DB", name}), nullptr);
    EXPECT_TRUE(prompts.allAnswersUsed());
}

INSTANTIATE_TEST_SUITE_P(Names, HostileDatabaseName, ::testing::ValuesIn(acceptedNames()),
                         [](const auto& info) { return std::string(info.param.label); });

class RefusedDatabaseName : public HostileCommands,
                            public ::testing::WithParamInterface<Hostile> {};

TEST_P(RefusedDatabaseName, DbAddReportsTheFailureAndMakesNothing) {
    const QString name = fresh(GetParam().pattern);
    toDrop << name;
    const int listed = find({"DB"})->childCount();
    Watch watch(dba);
    select(find({"DB"}));
    prompts.answerInput(name);
    menus->Add5->trigger();
    ASSERT_EQ(prompts.messages().size(), 1);
    EXPECT_TRUE(prompts.messages()[0].startsWith("DB생성 실패!\n")) << prompts.messages()[0].toStdString();
    EXPECT_EQ(watch.changed(), Keys{});
    EXPECT_EQ(find({"DB"})->childCount(), listed);
}

INSTANTIATE_TEST_SUITE_P(Names, RefusedDatabaseName, ::testing::ValuesIn(refusedNames()),
                         [](const auto& info) { return std::string(info.param.label); });

// The designer as the commands run it: fields typed into the editors, then the buttons.
void addField(TfrmCreateTable& d, const QString& field, const QString& type, const QString& size,
              const QString& defaultValue, bool key = false) {
    d.ClearEditors();
    d.EdField->setText(field);
    d.ComboBox1->setEditText(type);
    d.EdLength->setText(size);
    d.EdDefault->setText(defaultValue);
    d.ChkIndex->setChecked(key);
    d.NewFieldClick();
}

int rowOf(const TfrmCreateTable& d, const QString& field) {
    for (int i = 0; i < d.RowCount(); ++i)
        if (d.Row(i).field == field) return i;
    return -1;
}

class HostileTableName : public HostileCommands, public ::testing::WithParamInterface<Hostile> {};

TEST_P(HostileTableName, NewTablePropertiesRenameAndDropTouchOnlyThatTable) {
    const QString pattern = GetParam().pattern;
    OwnedDatabase database(dba, fresh(pattern));
    // A table named like the canary's in the same database: only the typed one may change.
    dba.exec("CREATE TABLE " + database.table(QStringLiteral("keep")) + " (id INT)");
    const QString typed = fresh(pattern);
    const QString table = typed.trimmed();            // the command trims the typed name
    const QString column = fresh(pattern).trimmed();  // the designer trims field names
    const QString value = u8("it's \\ \"x\"; drop database ") + canaryDb() + u8(" -- #/*");

    // NewTable: the designer in create mode makes the table in the folder's database.
    TreeNode* folder = tablesFolder(database.name());
    ASSERT_NE(folder, nullptr);
    select(folder);
    Watch watch(dba);
    prompts.answerInput(typed);
    if (typed != table) prompts.answerOkCancel(true);  // the blanks dropped are said
    prompts.onDialog([&](QDialog* dialog) {
        auto* d = qobject_cast<TfrmCreateTable*>(dialog);
        EXPECT_NE(d, nullptr);
        if (!d) return int(QDialog::Rejected);
        EXPECT_EQ(d->DatabaseName(), database.name());
        EXPECT_EQ(d->TableName(), table);
        addField(*d, QStringLiteral("id"), QStringLiteral("int"), QStringLiteral("11"), {}, true);
        addField(*d, column, QStringLiteral("varchar"), QStringLiteral("80"), value);
        d->SaveClick();
        return d->result();
    });
    menus->NewTable1->trigger();
    EXPECT_EQ(prompts.messages(), QStringList{"Table Create 성공!"});
    EXPECT_EQ(watch.changed(), Keys{tableKey(database.name(), table)});
    EXPECT_EQ(tableNames(dba, database.name()), sorted({"keep", table}));
    const std::vector<std::pair<QString, std::optional<QString>>> created{
        {QStringLiteral("id"), std::nullopt}, {column, value}};
    EXPECT_EQ(columnsOf(dba, database.name(), table), created);
    TreeNode* node = find({"DB", database.name(), "Tables", table});
    ASSERT_NE(node, nullptr);

    // Table Properties: add, rename and drop a column of that table only.
    const QString added = fresh(pattern).trimmed();
    const QString renamed = fresh(pattern).trimmed();
    select(node);
    prompts.clear();
    watch.restart();
    prompts.onDialog([&](QDialog* dialog) {
        auto* d = qobject_cast<TfrmCreateTable*>(dialog);
        EXPECT_NE(d, nullptr);
        if (!d) return int(QDialog::Rejected);
        addField(*d, added, QStringLiteral("varchar"), QStringLiteral("90"), value + u' ');
        EXPECT_EQ(watch.changed(), Keys{tableKey(database.name(), table)});
        EXPECT_EQ(columnsOf(dba, database.name(), table).back(),
                  std::make_pair(added, std::optional<QString>(value + u' ')));

        watch.restart();
        d->StrGrid->setCurrentCell(rowOf(*d, column), 1);
        d->EdField->setText(renamed);
        d->EditClick();
        EXPECT_EQ(watch.changed(), Keys{tableKey(database.name(), table)});
        EXPECT_EQ(columnsOf(dba, database.name(), table).at(1),
                  std::make_pair(renamed, std::optional<QString>(value)));

        watch.restart();
        d->StrGrid->setCurrentCell(rowOf(*d, added), 1);
        prompts.answerOkCancel(true);
        d->DeleteClick();
        EXPECT_EQ(watch.changed(), Keys{tableKey(database.name(), table)});
        prompts.answerOkCancel(true);
        d->CancelClick();
        return d->result();
    });
    menus->TableInformation1->trigger();
    EXPECT_TRUE(prompts.messages().isEmpty()) << prompts.messages().join('|').toStdString();
    const std::vector<std::pair<QString, std::optional<QString>>> altered{
        {QStringLiteral("id"), std::nullopt}, {renamed, value}};
    EXPECT_EQ(columnsOf(dba, database.name(), table), altered);

    // Table Rename to another hostile name.
    const QString newName = fresh(pattern);
    node = find({"DB", database.name(), "Tables", table});
    select(node);
    prompts.clear();
    watch.restart();
    prompts.answerInput(newName);
    menus->TableRename1->trigger();
    EXPECT_EQ(prompts.messages(), QStringList{"Table ReName 성공!"});
    EXPECT_EQ(watch.changed(),
              (Keys{tableKey(database.name(), table), tableKey(database.name(), newName)}));
    EXPECT_EQ(tableNames(dba, database.name()), sorted({"keep", newName}));

    // Table Drop.
    node = find({"DB", database.name(), "Tables", newName});
    select(node);
    prompts.clear();
    watch.restart();
    prompts.answerOkCancel(true);
    menus->Drop2->trigger();
    EXPECT_EQ(prompts.messages(), QStringList{"Table 삭제 성공!"});
    EXPECT_EQ(watch.changed(), Keys{tableKey(database.name(), newName)});
    EXPECT_EQ(tableNames(dba, database.name()), QStringList{"keep"});
    EXPECT_TRUE(prompts.allAnswersUsed());
}

INSTANTIATE_TEST_SUITE_P(Names, HostileTableName, ::testing::ValuesIn(acceptedNames()),
                         [](const auto& info) { return std::string(info.param.label); });

class RefusedTableName : public HostileCommands, public ::testing::WithParamInterface<Hostile> {};

TEST_P(RefusedTableName, NewTableAndRenameReportTheFailureAndChangeNothing) {
    OwnedDatabase database(dba, fresh(u8("{u}")));
    dba.exec("CREATE TABLE " + database.table(QStringLiteral("t")) + " (id INT)");
    const QString name = fresh(GetParam().pattern);
    TreeNode* folder = tablesFolder(database.name());
    ASSERT_NE(folder, nullptr);

    select(find({"DB", database.name(), "Tables", "t"}));
    Watch watch(dba);
    prompts.answerInput(name);
    menus->TableRename1->trigger();
    ASSERT_EQ(prompts.messages().size(), 1);
    EXPECT_TRUE(prompts.messages()[0].startsWith("Table ReName 실패!\n")) << prompts.messages()[0].toStdString();
    EXPECT_EQ(watch.changed(), Keys{});
    EXPECT_EQ(tableNames(dba, database.name()), QStringList{"t"});

    // NewTable trims the typed name; the designer itself takes it as given.
    prompts.clear();
    TfrmCreateTable designer(dba, prompts, false, database.name(), name);
    prompts.onDialog([&](QDialog*) {
        addField(designer, QStringLiteral("id"), QStringLiteral("int"), {}, {});
        designer.SaveClick();
        return designer.result();
    });
    prompts.exec(&designer);
    ASSERT_EQ(prompts.messages().size(), 1);
    EXPECT_TRUE(prompts.messages()[0].startsWith("Table Create 실패!\n")) << prompts.messages()[0].toStdString();
    EXPECT_EQ(watch.changed(), Keys{});
}

INSTANTIATE_TEST_SUITE_P(Names, RefusedTableName, ::testing::ValuesIn(refusedNames()),
                         [](const auto& info) { return std::string(info.param.label); });

}  // namespace

namespace {

// ---- the designer's defaults -------------------------------------------------------------

class HostileDefault : public ::testing::TestWithParam<Hostile> {
protected:
    void TearDown() override { EXPECT_TRUE(canaryAlive(dba)); }

    // Opens the table in the designer's alter mode, selects the column's row and saves it
    // unchanged, as a user does who only looks at it.
    void saveUnchanged(const QString& database, const QString& table, const QString& column) {
        ScriptedPrompts prompts;
        TfrmCreateTable d(dba, prompts, true, database, table);
        d.FormActivate();
        const int row = rowOf(d, column);
        ASSERT_GE(row, 0) << column.toStdString();
        d.StrGrid->setCurrentCell(row, 1);
        d.EditClick();
        EXPECT_TRUE(prompts.messages().isEmpty()) << prompts.messages().join('|').toStdString();
    }

    db::Connection dba = testserver::connect();
};

TEST_P(HostileDefault, CharacterColumnsStoreTheDefaultAsTyped) {
    const QString value = GetParam().pattern;
    OwnedDatabase database(dba, fresh(u8("{u} defaults")));
    TableStatements statements(dba, database.name(), QStringLiteral("t"));
    FieldRow id;
    id.field = QStringLiteral("id");
    id.type = QStringLiteral("int");
    id.key = QStringLiteral("PRI");
    FieldRow text;
    text.field = QStringLiteral("v");
    text.type = QStringLiteral("varchar");
    text.size = QStringLiteral("80");
    text.defaultValue = value;
    text.null = QStringLiteral("YES");
    Watch watch(dba);
    ASSERT_TRUE(dba.query(statements.createTable({id, text}))) << dba.errorText().toStdString();
    EXPECT_EQ(watch.changed(), Keys{tableKey(database.name(), QStringLiteral("t"))});
    EXPECT_EQ(columnsOf(dba, database.name(), "t").at(1).second, std::optional<QString>(value));

    // A column added to the table takes the value the same way.
    FieldRow added = text;
    added.field = QStringLiteral("w");
    ASSERT_TRUE(dba.query(statements.addColumn(added))) << dba.errorText().toStdString();
    EXPECT_EQ(columnsOf(dba, database.name(), "t").at(2).second, std::optional<QString>(value));

    watch.restart();
    const QString before = showCreate(dba, database.name(), "t");
    saveUnchanged(database.name(), QStringLiteral("t"), QStringLiteral("v"));
    EXPECT_EQ(showCreate(dba, database.name(), "t"), before);
    EXPECT_EQ(watch.changed(), Keys{});
}

// Enum and set defaults are strings, whatever they look like; their values keep quotes and
// backslashes through the designer.
TEST_P(HostileDefault, EnumAndSetColumnsKeepTheirValuesAndDefault) {
    QString value = GetParam().pattern;
    while (value.endsWith(u' ')) value.chop(1);  // the server drops an enum value's trailing blanks
    OwnedDatabase database(dba, fresh(u8("{u} enums")));
    const std::string v = dba.quoteValue(value);
    dba.exec("CREATE TABLE " + database.table(QStringLiteral("t")) + " (e ENUM('a''b', " + v +
             ", 'c\\\\d') DEFAULT " + v + ", s SET('x', " + v + ") DEFAULT " + v + ")");
    const QString before = showCreate(dba, database.name(), "t");
    Watch watch(dba);
    saveUnchanged(database.name(), QStringLiteral("t"), QStringLiteral("e"));
    saveUnchanged(database.name(), QStringLiteral("t"), QStringLiteral("s"));
    EXPECT_EQ(showCreate(dba, database.name(), "t"), before);
    EXPECT_EQ(watch.changed(), Keys{});

    // Typed into a new enum column the default is a string too.
    TableStatements statements(dba, database.name(), QStringLiteral("t"));
    FieldRow row;
    row.field = QStringLiteral("f");
    row.type = QStringLiteral("enum");
    row.typeArgs = QString::fromStdString(v);
    row.defaultValue = value;
    row.null = QStringLiteral("YES");
    ASSERT_TRUE(dba.query(statements.addColumn(row))) << dba.errorText().toStdString();
    EXPECT_EQ(columnsOf(dba, database.name(), "t").at(2).second, std::optional<QString>(value));
}

// The server shows a text column's default as a quoted literal with backslash escapes; the
// designer writes it back as the same literal.
TEST_P(HostileDefault, TextColumnsKeepTheirDefaultThroughTheDesigner) {
    const QString value = GetParam().pattern;
    OwnedDatabase database(dba, fresh(u8("{u} texts")));
    dba.exec("CREATE TABLE " + database.table(QStringLiteral("t")) + " (id INT, tx TEXT DEFAULT " +
             dba.quoteValue(value) + ")");
    const QString before = showCreate(dba, database.name(), "t");
    Watch watch(dba);
    saveUnchanged(database.name(), QStringLiteral("t"), QStringLiteral("tx"));
    EXPECT_EQ(showCreate(dba, database.name(), "t"), before);
    EXPECT_EQ(watch.changed(), Keys{});
}

INSTANTIATE_TEST_SUITE_P(Values, HostileDefault, ::testing::ValuesIn(hostileValues()),
                         [](const auto& info) { return std::string(info.param.label); });

class HostileNameStatements : public ::testing::TestWithParam<Hostile> {};

// A default that is not a number, a literal or a keyword of the server never ends the
// column definition, whatever the column's type: the server refuses the value instead.
TEST(HostileDefaultText, CannotAddAClauseToNumericColumns) {
    db::Connection dba = testserver::connect();
    OwnedDatabase database(dba, fresh(u8("{u} numbers")));
    TableStatements statements(dba, database.name(), QStringLiteral("t"));
    Watch watch(dba);
    for (const QString& value :
         {u8("1, drop database ") + canaryDb(), u8("1) -- "), u8("'1' ) , x int -- "),
          u8("'a\\' , x int, y '"), u8("1 /*"), u8("0x41; drop database ") + canaryDb()}) {
        FieldRow row;
        row.field = QStringLiteral("n");
        row.type = QStringLiteral("int");
        row.defaultValue = value;
        const std::string statement = statements.createTable({row});
        EXPECT_FALSE(dba.query(statement)) << statement;
        EXPECT_EQ(dba.errorNumber(), 1067u) << statement << ": " << dba.errorText().toStdString();
    }
    EXPECT_EQ(watch.changed(), Keys{});
    EXPECT_TRUE(canaryAlive(dba));
}

// Without backslash escapes a quoted default may not hold a backslash that would hide its
// closing quote from the check.
TEST(HostileDefaultText, BackslashesCannotHideAQuoteWhenTheyDoNotEscape) {
    db::Connection dba = testserver::connect();
    OwnedDatabase database(dba, fresh(u8("{u} nbe")));
    dba.exec("SET SESSION sql_mode = CONCAT(@@sql_mode, ',NO_BACKSLASH_ESCAPES')");
    ASSERT_TRUE(dba.noBackslashEscapes());
    TableStatements statements(dba, database.name(), QStringLiteral("t"));
    FieldRow row;
    row.field = QStringLiteral("tx");
    row.type = QStringLiteral("text");
    row.null = QStringLiteral("YES");
    row.defaultValue = u8("'a\\' , x int, y '");
    Watch watch(dba);
    ASSERT_TRUE(dba.query(statements.createTable({row}))) << dba.errorText().toStdString();
    EXPECT_EQ(columnsOf(dba, database.name(), "t").size(), 1u) << "no column x or y";
    dba.exec("INSERT INTO " + database.table(QStringLiteral("t")) + " () VALUES ()");
    db::Result stored = dba.select("SELECT tx FROM " + database.table(QStringLiteral("t")));
    ASSERT_TRUE(stored.next());
    EXPECT_EQ(stored.text(0), row.defaultValue);
    EXPECT_EQ(watch.changed(), Keys{tableKey(database.name(), QStringLiteral("t"))});
}

}  // namespace

namespace {

// The key statements name the designer's table and column, and the key listing reads that
// table's keys only.
TEST_P(HostileNameStatements, PrimaryKeyStatementsTouchOnlyTheNamedTable) {
    db::Connection dba = testserver::connect();
    const QString pattern = GetParam().pattern;
    OwnedDatabase database(dba, fresh(pattern));
    const QString table = fresh(pattern);
    const QString column = fresh(pattern);
    // The same table in another database: only the statements' own table may change.
    OwnedDatabase other(dba, fresh(u8("{u} other")));
    for (const OwnedDatabase* d : {&database, &other})
        dba.exec("CREATE TABLE " + d->table(table) + " (" + db::quoteIdentifier(column) +
                 " INT NOT NULL, id INT NOT NULL, PRIMARY KEY (id))");
    TableStatements statements(dba, database.name(), table);
    Watch watch(dba);
    const auto keyColumns = [&] {
        db::Result r = dba.select(statements.primaryKeyColumns());
        QStringList out;
        while (r.next()) out << r.text(4);
        return out;
    };
    EXPECT_EQ(keyColumns(), QStringList{"id"});
    ASSERT_TRUE(dba.query(statements.dropPrimaryKey())) << dba.errorText().toStdString();
    EXPECT_EQ(keyColumns(), QStringList{});
    ASSERT_TRUE(dba.query(statements.addPrimaryKey(column))) << dba.errorText().toStdString();
    EXPECT_EQ(keyColumns(), QStringList{column});
    EXPECT_EQ(watch.changed(), Keys{tableKey(database.name(), table)});
    db::Result described = dba.select(statements.describe());
    ASSERT_TRUE(described.next());
    EXPECT_EQ(described.text(0), column);
    EXPECT_EQ(described.text(3), QStringLiteral("PRI"));
    watch.restart();
    ASSERT_TRUE(dba.query(statements.dropColumn(column))) << dba.errorText().toStdString();
    EXPECT_EQ(watch.changed(), Keys{tableKey(database.name(), table)});
    EXPECT_TRUE(canaryAlive(dba));
}

INSTANTIATE_TEST_SUITE_P(Names, HostileNameStatements, ::testing::ValuesIn(acceptedNames()),
                         [](const auto& info) { return std::string(info.param.label); });

// ---- listings: the tree, the detail panels and the data grid -----------------------------

QStringList listColumn(QTreeWidget* list, int column) {
    QStringList out;
    for (int i = 0; i < list->topLevelItemCount(); ++i) out << list->topLevelItem(i)->text(column);
    return out;
}

QString property(QTreeWidget* list, const char* name) {
    for (int i = 0; i < list->topLevelItemCount(); ++i)
        if (list->topLevelItem(i)->text(0) == QLatin1String(name))
            return list->topLevelItem(i)->text(1);
    return QStringLiteral("<missing>");
}

class HostileListing : public TreeFixture, public ::testing::WithParamInterface<Hostile> {
protected:
    void SetUp() override {
        TreeFixture::SetUp();
        panels = new DetailPanels(session, prompts, &window);
        data = new TableDataView(dataset, prompts, &window);
        auto* layout = new QVBoxLayout(&window);
        layout->addWidget(panels);
        layout->addWidget(data);
        doubleClick(server());
    }
    void TearDown() override { EXPECT_TRUE(canaryAlive(dba)); }
    void setPanel(TreeNode* node) {
        ASSERT_NE(node, nullptr);
        widget.setCurrentItem(node);
        panels->SetPanel(node->level(), node);
    }

    db::Connection dba = testserver::connect();
    QWidget window;
    DetailPanels* panels = nullptr;
    TableDataView* data = nullptr;
};

TEST_P(HostileListing, TreePanelsAndGridShowExactlyTheNamedObjects) {
    const QString pattern = GetParam().pattern;
    OwnedDatabase database(dba, fresh(pattern));
    const QString table = fresh(pattern);
    const QString column = fresh(pattern);
    const QString index = fresh(pattern);
    const QString value = u8("v'a\\l\"ue\r\n; drop database ") + canaryDb();
    // A neighbour the table's name matches as an unescaped LIKE pattern or without its
    // blanks and quotes: the panels must not show its rows in place of the table's.
    const QString neighbour = fresh(u8("{u}ab_c\\_z"));
    dba.exec("CREATE TABLE " + database.table(table) + " (id INT PRIMARY KEY, " +
             db::quoteIdentifier(column) + " VARCHAR(80) DEFAULT " + dba.quoteValue(value) +
             ", KEY " + db::quoteIdentifier(index) + " (" + db::quoteIdentifier(column) +
             ")) COMMENT 'the table'");
    dba.exec("INSERT INTO " + database.table(table) + " VALUES (1, " + dba.quoteValue(value) + ")");
    dba.exec("CREATE TABLE " + database.table(neighbour) + " (id INT, other INT) COMMENT 'other'");
    dba.exec("INSERT INTO " + database.table(neighbour) + " VALUES (2, 3)");
    Watch watch(dba);

    // The tree lists the names as the server spells them.
    doubleClick(find({"DB"}));
    TreeNode* dbNode = find({"DB", database.name()});
    ASSERT_NE(dbNode, nullptr);
    doubleClick(dbNode);
    TreeNode* tables = find({"DB", database.name(), "Tables"});
    doubleClick(tables);
    const QStringList expected = sorted({table, neighbour});
    EXPECT_EQ(sorted(childTexts(tables)), expected);
    TreeNode* tableNode = find({"DB", database.name(), "Tables", table});
    ASSERT_NE(tableNode, nullptr);
    doubleClick(tableNode);
    TreeNode* fields = find({"DB", database.name(), "Tables", table, "Fields"});
    doubleClick(fields);
    EXPECT_EQ(childTexts(fields), (QStringList{"id", column}));

    // The panels of each level, with backslashes escaping in quotes and without.
    for (const bool noBackslashEscapes : {false, true}) {
        SCOPED_TRACE(noBackslashEscapes ? "NO_BACKSLASH_ESCAPES" : "backslash escapes");
        if (noBackslashEscapes)
            session.MainConnection().exec(
                "SET SESSION sql_mode = CONCAT(@@sql_mode, ',NO_BACKSLASH_ESCAPES')");
        setPanel(tables);
        EXPECT_EQ(sorted(listColumn(panels->TableListView(), 0)), expected);
        setPanel(tableNode);
        EXPECT_EQ(panels->DetailListView()->topLevelItemCount(), 15);
        EXPECT_EQ(property(panels->DetailListView(), "Name"), table);
        EXPECT_EQ(property(panels->DetailListView(), "Comment"), QStringLiteral("the table"));
        setPanel(fields);
        EXPECT_EQ(listColumn(panels->FieldListView(), 0), (QStringList{"id", column}));
        EXPECT_EQ(listColumn(panels->FieldListView(), 4), (QStringList{"", value}));
        setPanel(childNamed(fields, column));
        EXPECT_EQ(property(panels->ColumnListView(), "Field"), column);
        EXPECT_EQ(property(panels->ColumnListView(), "Default"), value);
        setPanel(find({"DB", database.name(), "Tables", table, "Index Key"}));
        EXPECT_EQ(listColumn(panels->IndexListView(), 0), (QStringList{"PRIMARY", index}));
        EXPECT_EQ(listColumn(panels->IndexListView(), 1), (QStringList{"id", column}));
    }

    // The data grid shows the table's own row.
    ASSERT_TRUE(data->LoadTableData(tableNode));
    TableRows& rows = data->rows();
    ASSERT_EQ(rows.rowCount(), 1);
    ASSERT_EQ(rows.columnCount(), 2);
    EXPECT_EQ(rows.data(rows.index(0, 1)).toString(), value);

    EXPECT_TRUE(prompts.messages().isEmpty()) << prompts.messages().join('|').toStdString();
    EXPECT_EQ(watch.changed(), Keys{});
}

INSTANTIATE_TEST_SUITE_P(Names, HostileListing, ::testing::ValuesIn(acceptedNames()),
                         [](const auto& info) { return std::string(info.param.label); });

// ---- the SQL panel's "use" and the dataset connection's database -------------------------

class HostileUse : public ::testing::TestWithParam<Hostile> {
protected:
    void SetUp() override {
        connection.SetHost(testserver::hostField());
        connection.SetUser(testserver::user());
        connection.SetPasswd(testserver::password());
        connection.Open();
        ASSERT_TRUE(programDir.isValid());
        panel = std::make_unique<SqlPanel>(connection, prompts, programDir.path(), &window);
    }
    void TearDown() override { EXPECT_TRUE(canaryAlive(dba)); }
    void run(const QString& text) {
        panel->MemoSQL()->setPlainText(text);
        panel->SpeedButton7Click();
    }
    QString current() {
        db::Result r = connection.connection().select("SELECT DATABASE()");
        return r.next() ? r.text(0) : QString();
    }

    db::Connection dba = testserver::connect();
    TMySQLConnection connection;
    ScriptedPrompts prompts;
    QTemporaryDir programDir;
    QWidget window;
    std::unique_ptr<SqlPanel> panel;
};

TEST_P(HostileUse, UseAndTheTreesSelectionNameTheDatabaseExactly) {
    OwnedDatabase database(dba, fresh(GetParam().pattern));
    OwnedDatabase other(dba, fresh(u8("{u}other")));
    Watch watch(dba);

    // The tree's click selects the node's database and names it in the label.
    connection.SelectDatabase(database.name());
    panel->SetUseDb(database.name());
    EXPECT_EQ(current(), database.name());
    EXPECT_EQ(connection.DB(), database.name());
    EXPECT_EQ(panel->LUseDb()->text(), QStringLiteral("Use DB : ") + database.name());

    // A typed USE names the database as the server uses it, not as quoted.
    connection.SelectDatabase(other.name());
    panel->SetUseDb(other.name());
    run(QStringLiteral("use ") + QString::fromStdString(db::quoteIdentifier(database.name())) +
        QStringLiteral(";"));
    if (database.name().contains(u'\n') && !database.name().contains(u'\r')) {
        // The panel sends every line of its text ended by CR LF, inside quotes too: a name
        // with a lone line feed cannot be typed, and the server says it does not know it.
        EXPECT_EQ(current(), other.name());
        EXPECT_EQ(panel->LUseDb()->text(), QStringLiteral("Use DB : ") + other.name());
        EXPECT_TRUE(panel->MemoResult()->toPlainText().startsWith(u8("Unknown database")))
            << panel->MemoResult()->toPlainText().toStdString();
        connection.SelectDatabase(database.name());
    } else {
        EXPECT_EQ(current(), database.name());
        EXPECT_EQ(panel->LUseDb()->text(), QStringLiteral("Use DB : ") + database.name());
        EXPECT_EQ(panel->MemoResult()->toPlainText(), QStringLiteral("Query OK, 0 rows affected"));
    }
    panel->SetUseDb(database.name());

    // Two statements in one are refused as a whole: nothing after the USE runs.
    run(QStringLiteral("use ") + QString::fromStdString(db::quoteIdentifier(other.name())) +
        QStringLiteral("; drop database ") + canaryDb());
    EXPECT_EQ(current(), database.name());
    EXPECT_EQ(panel->LUseDb()->text(), QStringLiteral("Use DB : ") + database.name());
    EXPECT_TRUE(panel->MemoResult()->toPlainText().contains(QStringLiteral("SQL syntax")))
        << panel->MemoResult()->toPlainText().toStdString();
    EXPECT_EQ(watch.changed(), Keys{});
    EXPECT_TRUE(prompts.shown().empty());
}

INSTANTIATE_TEST_SUITE_P(Names, HostileUse, ::testing::ValuesIn(acceptedNames()),
                         [](const auto& info) { return std::string(info.param.label); });

}  // namespace

namespace {

// ---- accounts ----------------------------------------------------------------------------

class HostileAccount : public ::testing::TestWithParam<AccountCase> {
protected:
    void TearDown() override {
        for (const auto& [user, host] : made)
            dba.query("DROP USER IF EXISTS " + dba.quoteValue(user) + "@" + dba.quoteValue(host));
        EXPECT_TRUE(canaryAlive(dba));
    }
    void send(const std::string& statement) {
        EXPECT_TRUE(dba.query(statement)) << statement << ": " << dba.errorText().toStdString();
    }
    void sweepStatements(bool noBackslashEscapes);

    db::Connection dba = testserver::connect();
    std::vector<std::pair<QString, QString>> made;
};

// Creates, grants, revokes, sets the password, renames and drops, each checked on the
// server; `noBackslashEscapes` runs the statements in that SQL mode.
void HostileAccount::sweepStatements(bool noBackslashEscapes) {
    if (noBackslashEscapes) {
        dba.exec("SET SESSION sql_mode = CONCAT(@@sql_mode, ',NO_BACKSLASH_ESCAPES')");
        ASSERT_TRUE(dba.noBackslashEscapes());
    }
    const AccountCase& param = GetParam();
    admin::AccountRow row{fresh(param.user), param.host, param.password, {}};
    row.privileges[0] = true;  // SELECT
    row.privileges[8] = true;  // PROCESS
    const QString user = row.user;
    const QString host = keptHost(row.host);
    made.emplace_back(user, host);
    Watch watch(dba);

    send(admin::createUserStatement(dba, row));
    EXPECT_EQ(watch.changed(), Keys{accountKey(user, host)});
    EXPECT_TRUE(hasPassword(dba, user, host, row.password));
    if (host == QLatin1String("%")) {
        EXPECT_TRUE(logsIn(user, row.password));
    }

    watch.restart();
    send(admin::grantStatement(dba, row.key(), row.privileges));
    send(admin::revokeStatement(dba, row.key(), row.privileges));
    EXPECT_EQ(globalPrivileges(dba, user, host), (QStringList{"PROCESS", "SELECT"}));
    EXPECT_EQ(watch.changed(), Keys{accountKey(user, host)});

    // The panel's fill reads this account's row and no other.
    db::Result filled =
        dba.select(panels::accountFillStatement(dba, QStringLiteral("mysql"), false, user, host));
    ASSERT_EQ(filled.rowCount(), 1u);
    ASSERT_TRUE(filled.next());
    EXPECT_EQ(filled.text(0), user);
    EXPECT_EQ(filled.text(1), host);

    watch.restart();
    const QString password = param.password + u8("'2\\");
    send(admin::setPasswordStatement(dba, row.key(), password));
    EXPECT_EQ(watch.changed(), Keys{accountKey(user, host)});
    EXPECT_TRUE(hasPassword(dba, user, host, password));

    const TUserKey renamed{fresh(param.renamedUser), param.renamedHost};
    const QString user2 = renamed.User;
    const QString host2 = keptHost(renamed.Host);
    made.emplace_back(user2, host2);
    watch.restart();
    send(admin::renameUserStatement(dba, row.key(), renamed));
    EXPECT_EQ(watch.changed(), (Keys{accountKey(user, host), accountKey(user2, host2)}));
    EXPECT_EQ(globalPrivileges(dba, user2, host2), (QStringList{"PROCESS", "SELECT"}));
    EXPECT_TRUE(hasPassword(dba, user2, host2, password));

    watch.restart();
    send(admin::dropUserStatement(dba, renamed));
    EXPECT_EQ(watch.changed(), Keys{accountKey(user2, host2)});
}

TEST_P(HostileAccount, AccountStatementsChangeOnlyThatAccount) { sweepStatements(false); }

TEST_P(HostileAccount, AccountStatementsWithoutBackslashEscapes) { sweepStatements(true); }

// The user panel and the account menus, on a server whose accounts change through account
// statements.
class HostileAccountPanel : public HostileAccount, public AccountWindow {
protected:
    void SetUp() override { setUpWindow(); }
    void fillUser(const QString& user, const QString& host, const QString& password) {
        panels->EditUUser()->setText(user);
        panels->EditUHost()->setText(host);
        panels->EditUPass()->setText(password);
        for (QCheckBox* box : panels->userPrivilegeBoxes())
            box->setChecked(box->objectName() == QLatin1String("USelect"));
    }
    QString label(const QString& first, const QString& second) {
        return first + u'[' + second + u']';
    }
};

TEST_P(HostileAccountPanel, AddEditRenameAndDeleteTouchOnlyThatAccount) {
    const AccountCase& param = GetParam();
    useGrantsDb(QStringLiteral("mysql"));
    const QString typed = fresh(param.user);
    const QString user = typed;
    const QString host = keptHost(param.host);
    made.emplace_back(user, host);
    widget->setCurrentItem(users);
    menus->Refresh2->trigger();
    Watch watch(dba);

    widget->setCurrentItem(users);
    menus->Add2->trigger();
    fillUser(typed, param.host, param.password);
    panels->SpeedButton2()->click();
    EXPECT_TRUE(prompts.messages().isEmpty()) << prompts.messages().join('|').toStdString();
    EXPECT_EQ(watch.changed(), Keys{accountKey(user, host)});
    EXPECT_TRUE(hasPassword(dba, user, host, param.password));
    EXPECT_EQ(globalPrivileges(dba, user, host), QStringList{"SELECT"});
    TreeNode* node = childNamed(users, label(user, host));
    ASSERT_NE(node, nullptr);
    ASSERT_NE(node->userKey(), nullptr);
    EXPECT_EQ(node->userKey()->User, user);

    // Loaded from the server, the panel holds the account as kept.
    click(node);
    EXPECT_EQ(panels->EditUUser()->text(), user);
    EXPECT_EQ(panels->EditUHost()->text(), host);

    watch.restart();
    const QString password = u8("new'") + param.password;
    panels->EditUPass()->setText(password);
    panels->SpeedButton2()->click();
    EXPECT_TRUE(prompts.messages().isEmpty()) << prompts.messages().join('|').toStdString();
    EXPECT_EQ(watch.changed(), Keys{accountKey(user, host)});
    EXPECT_TRUE(hasPassword(dba, user, host, password));

    const QString typed2 = fresh(param.renamedUser);
    const QString user2 = typed2;
    const QString host2 = keptHost(param.renamedHost);
    made.emplace_back(user2, host2);
    watch.restart();
    panels->EditUUser()->setText(typed2);
    panels->EditUHost()->setText(param.renamedHost);
    panels->SpeedButton2()->click();
    EXPECT_TRUE(prompts.messages().isEmpty()) << prompts.messages().join('|').toStdString();
    EXPECT_EQ(watch.changed(), (Keys{accountKey(user, host), accountKey(user2, host2)}));
    EXPECT_TRUE(hasPassword(dba, user2, host2, password));
    EXPECT_EQ(childNamed(users, label(user, host)), nullptr);
    ASSERT_NE(childNamed(users, label(user2, host2)), nullptr);

    watch.restart();
    prompts.answerOkCancel(true);
    panels->SpeedButton3()->click();
    EXPECT_TRUE(prompts.messages().isEmpty()) << prompts.messages().join('|').toStdString();
    EXPECT_EQ(watch.changed(), Keys{accountKey(user2, host2)});
    EXPECT_EQ(childNamed(users, label(user2, host2)), nullptr);
    EXPECT_TRUE(prompts.allAnswersUsed());
}


// Every row of a legacy table: its key columns (and the password hash) as stored.
QStringList legacyRows(db::Connection& c, const OwnedDatabase& database, bool users) {
    db::Result r = c.select(users ? "SELECT User, Host, Password, Select_priv FROM " +
                                        database.table(QStringLiteral("user"))
                                  : "SELECT Host, Db, Select_priv FROM " +
                                        database.table(QStringLiteral("host")));
    QStringList out;
    while (r.next()) {
        QStringList fields;
        for (unsigned i = 0; i < r.columnCount(); ++i) fields << r.text(i);
        out << fields.join(u'|');
    }
    out.sort();
    return out;
}


TEST_P(HostileAccountPanel, LegacyGrantTablesStoreTheRowsAsTyped) {
    const AccountCase& param = GetParam();
    OwnedDatabase grants(dba, fresh(u8("{u} gr'ants`\\;--")));
    createLegacyGrantTables(dba, grants.name());
    // The traits are read from the hostile database itself.
    const db::ServerTraits traits = db::detectServerTraits(dba, grants.name());
    EXPECT_TRUE(traits.legacyUserTable);
    EXPECT_TRUE(traits.hasHostTable);
    useGrantsDb(grants.name());
    const std::string userTable = tableKey(grants.name(), QStringLiteral("user"));
    const std::string hostTable = tableKey(grants.name(), QStringLiteral("host"));

    const QString typed = fresh(param.user);
    const QString user = typed;
    const QString host = param.host;  // the old layout keeps the host's letter case
    Watch watch(dba);
    widget->setCurrentItem(users);
    menus->Add2->trigger();
    fillUser(typed, param.host, param.password);
    panels->SpeedButton2()->click();
    EXPECT_TRUE(prompts.messages().isEmpty()) << prompts.messages().join('|').toStdString();
    EXPECT_EQ(watch.changed(), Keys{userTable});
    const QString inserted =
        QStringList{user, host, passwordHash(dba, param.password), "Y"}.join(u'|');
    EXPECT_EQ(legacyRows(dba, grants, true), QStringList{inserted});
    EXPECT_NE(childNamed(users, label(user, host)), nullptr);

    const QString typed2 = fresh(param.renamedUser);
    watch.restart();
    panels->EditUUser()->setText(typed2);
    panels->EditUHost()->setText(param.renamedHost);
    panels->EditUPass()->setText(param.password + u'2');
    panels->SpeedButton2()->click();
    EXPECT_TRUE(prompts.messages().isEmpty()) << prompts.messages().join('|').toStdString();
    EXPECT_EQ(watch.changed(), Keys{userTable});
    const QString user2 = typed2;
    const QString host2 = param.renamedHost;
    const QString updated =
        QStringList{user2, host2, passwordHash(dba, param.password + u'2'), "Y"}.join(u'|');
    EXPECT_EQ(legacyRows(dba, grants, true), QStringList{updated});

    watch.restart();
    prompts.answerOkCancel(true);
    panels->SpeedButton3()->click();
    EXPECT_EQ(watch.changed(), Keys{userTable});
    EXPECT_TRUE(legacyRows(dba, grants, true).isEmpty());

    // Host entries: the host and database typed as they are.
    const QString entryDb = fresh(param.renamedUser).left(60);
    const QString movedDb = fresh(param.user).left(60);
    watch.restart();
    panels->SpeedButton4()->click();
    panels->EditHHost()->setText(param.host);
    panels->EditHDb()->setText(entryDb);
    panels->SpeedButton5()->click();
    EXPECT_EQ(watch.changed(), Keys{hostTable});
    const QString entry = QStringList{host, entryDb, "Y"}.join(u'|');
    EXPECT_EQ(legacyRows(dba, grants, false), QStringList{entry});
    // The entry's node loads exactly that entry into the panel.
    TreeNode* entryNode = childNamed(hosts, label(host, entryDb));
    ASSERT_NE(entryNode, nullptr);
    click(entryNode);
    EXPECT_EQ(panels->EditHHost()->text(), host);
    EXPECT_EQ(panels->EditHDb()->text(), entryDb);
    watch.restart();
    panels->EditHHost()->setText(param.renamedHost);
    panels->EditHDb()->setText(movedDb);
    panels->SpeedButton5()->click();
    EXPECT_EQ(watch.changed(), Keys{hostTable});
    const QString movedEntry = QStringList{host2, movedDb, "Y"}.join(u'|');
    EXPECT_EQ(legacyRows(dba, grants, false), QStringList{movedEntry});
    watch.restart();
    prompts.answerOkCancel(true);
    panels->SpeedButton6()->click();
    EXPECT_EQ(watch.changed(), Keys{hostTable});
    EXPECT_TRUE(legacyRows(dba, grants, false).isEmpty());
    EXPECT_TRUE(prompts.messages().isEmpty()) << prompts.messages().join('|').toStdString();
    EXPECT_TRUE(prompts.allAnswersUsed());
}

INSTANTIATE_TEST_SUITE_P(Accounts, HostileAccount, ::testing::ValuesIn(accountCases()),
                         [](const auto& info) { return std::string(info.param.label); });
INSTANTIATE_TEST_SUITE_P(Accounts, HostileAccountPanel, ::testing::ValuesIn(accountCases()),
                         [](const auto& info) { return std::string(info.param.label); });

// Names the server refuses end in the panel's message with the server's reason.
TEST_F(HostileAccountPanel, RefusedAccountNamesAreReportedAndMakeNothing) {
    useGrantsDb(QStringLiteral("mysql"));
    const QString tooLongUser = fresh(u8("{u}")) + QString(129, u'u');
    const QString tooLongHost = QString(256, u'h');
    made.emplace_back(tooLongUser, QStringLiteral("%"));
    made.emplace_back(fresh(u8("{u}h")), tooLongHost);
    made.emplace_back(fresh(u8("{u}at")), u8("localhost'@'%"));
    Watch watch(dba);
    for (const auto& [user, host] : made) {
        prompts.clear();
        widget->setCurrentItem(users);
        menus->Add2->trigger();
        fillUser(user, host, QStringLiteral("pw"));
        panels->SpeedButton2()->click();
        const QStringList messages = prompts.messages();
        ASSERT_FALSE(messages.isEmpty());
        EXPECT_TRUE(messages[0].startsWith(QStringLiteral("ADD False\n")))
            << messages[0].toStdString();
        EXPECT_GT(messages[0].size(), QStringLiteral("ADD False\n").size());
        EXPECT_EQ(panels->accountState().AddMode, 1);
    }
    EXPECT_EQ(watch.changed(), Keys{});
}

// The server would keep "bob " as "bob" in its tables but as "bob " in its live account
// list: such names are refused before anything is sent, for accounts and host entries.
TEST_F(HostileAccountPanel, NamesEndingWithABlankAreRefusedWithTheReason) {
    OwnedDatabase grants(dba, fresh(u8("{u} legacy")));
    createLegacyGrantTables(dba, grants.name());
    const QString user = fresh(u8("{u}"));
    made.emplace_back(user, QStringLiteral("%"));
    made.emplace_back(user + u8("  "), QStringLiteral("%"));
    made.emplace_back(user, QStringLiteral("h "));
    for (const QString& grantsDb : {QStringLiteral("mysql"), grants.name()}) {
        useGrantsDb(grantsDb);
        Watch watch(dba);
        for (const auto& [typedUser, typedHost] :
             {std::pair{user + u8("  "), u8("%")}, std::pair{user, u8("h ")}}) {
            prompts.clear();
            widget->setCurrentItem(users);
            menus->Add2->trigger();
            fillUser(typedUser, typedHost, QStringLiteral("pw"));
            panels->SpeedButton2()->click();
            EXPECT_EQ(prompts.messages(),
                      QStringList{u8("User and host names cannot end with a blank: the server "
                                     "would keep the account without it. Remove the trailing "
                                     "blanks, then save again.")});
            EXPECT_EQ(panels->accountState().AddMode, 1);
        }
        for (const auto& [typedHost, typedDb] :
             {std::pair{u8("h "), u8("d")}, std::pair{u8("h"), u8("d  ")}}) {
            prompts.clear();
            panels->SpeedButton4()->click();
            panels->EditHHost()->setText(typedHost);
            panels->EditHDb()->setText(typedDb);
            panels->SpeedButton5()->click();
            EXPECT_EQ(prompts.messages(),
                      QStringList{u8("Host and database names cannot end with a blank: the server "
                                     "would keep the entry without it. Remove the trailing "
                                     "blanks, then save again.")});
        }
        EXPECT_EQ(watch.changed(), Keys{}) << grantsDb.toStdString();
    }
}

// The traits of a grants database are read from that database only, whatever its name says.
TEST(HostileTraits, GrantsDatabaseNamesNoOtherDatabase) {
    db::Connection dba = testserver::connect();
    OwnedDatabase grants(dba, fresh(u8("{u} gr'ants")));
    createLegacyGrantTables(dba, grants.name());
    const db::ServerTraits legacy = db::detectServerTraits(dba, grants.name());
    EXPECT_TRUE(legacy.legacyUserTable);
    EXPECT_TRUE(legacy.userHasPasswordColumn);
    EXPECT_TRUE(legacy.hasHostTable);
    for (const QString& other :
         {grants.name() + u8("' OR TABLE_SCHEMA = '") + grants.name(), u8("x' OR '1' = '1"),
          grants.name() + u8("%"), u8("%") + grants.name().mid(3)}) {
        const db::ServerTraits none = db::detectServerTraits(dba, other);
        EXPECT_FALSE(none.legacyUserTable || none.userHasPasswordColumn || none.hasHostTable)
            << other.toStdString();
    }
}

}  // namespace

namespace {

// ---- dump and restore --------------------------------------------------------------------

using Row = std::vector<std::optional<std::string>>;

// Every row of a table (all columns, invisible ones too), as bytes, sorted.
std::vector<Row> rowsOf(db::Connection& c, const QString& database, const QString& table) {
    db::Result names =
        c.select("SELECT COLUMN_NAME FROM information_schema.COLUMNS WHERE TABLE_SCHEMA = " +
                 c.quoteValue(database) + " AND TABLE_NAME = " + c.quoteValue(table) +
                 " ORDER BY ORDINAL_POSITION");
    std::string list;
    while (names.next())
        list += (list.empty() ? "" : ",") + db::quoteIdentifier(names.value(0).view());
    db::Result r = c.select("SELECT " + list + " FROM " + db::qualifiedName(database, table));
    std::vector<Row> rows;
    while (r.next()) {
        Row row;
        for (unsigned i = 0; i < r.columnCount(); ++i)
            row.push_back(r.value(i).isNull() ? std::nullopt
                                              : std::optional<std::string>(r.value(i).view()));
        rows.push_back(std::move(row));
    }
    std::sort(rows.begin(), rows.end());
    return rows;
}

QString createText(db::Connection& c, const QString& database, const QString& table) {
    c.selectDb(database);  // a view's text names no database only when it is current
    return showCreate(c, database, table);
}

class HostileDump : public ::testing::Test {
protected:
    void TearDown() override { EXPECT_TRUE(canaryAlive(dba)); }
    QStringList files() const { return QDir(dir.path()).entryList(QDir::Files); }
    QString path(const char* name) const { return dir.filePath(QLatin1String(name)); }

    db::Connection dba = testserver::connect();
    db::Connection worker = testserver::connect();  // the window's main connection
    QTemporaryDir dir;
};

TEST_F(HostileDump, DatabaseRoundTripRecreatesEveryNameAndValueExactly) {
    OwnedDatabase source(dba, fresh(u8("{u} src `'\"\\;-- #/*\n한")));
    OwnedDatabase target(dba, fresh(u8("{u} dst x; drop database ") + canaryDb()));
    std::vector<Hostile> values = hostileValues();
    QStringList tables;
    for (const Hostile& name : acceptedNames()) {
        if (name.pattern.contains(u'\r')) continue;  // no dump file can carry it (below)
        const QString table = fresh(name.pattern);
        const QString column = fresh(name.pattern);
        const QString key = fresh(name.pattern);
        dba.exec("CREATE TABLE " + source.table(table) + " (id INT PRIMARY KEY, " +
                 db::quoteIdentifier(column) + " VARCHAR(200) DEFAULT " +
                 dba.quoteValue(values[std::size_t(tables.size()) % values.size()].pattern) +
                 ", `hidden` INT INVISIBLE DEFAULT 7, KEY " + db::quoteIdentifier(key) + " (" +
                 db::quoteIdentifier(column) + ")) COMMENT " + dba.quoteValue(name.pattern));
        std::string rows;
        for (std::size_t i = 0; i < values.size(); ++i)
            rows += (i ? ", (" : "(") + std::to_string(i) + ", " +
                    dba.quoteValue(values[i].pattern) + ")";
        dba.exec("INSERT INTO " + source.table(table) + " (id, " + db::quoteIdentifier(column) +
                 ") VALUES " + rows);
        tables << table;
    }
    const QString view = fresh(u8("{u} v'i`e\"w;-- #"));
    dba.exec("CREATE VIEW " + source.table(view) + " AS SELECT * FROM " + source.table(tables[0]));
    tables << view;
    tables.sort();

    dump::DumpWriter writer(worker);
    QString error;
    const std::optional<dump::SchemaText> schema = attempt(&error, [&] {
        return writer.schema({source.name(), {}}, true);
    });
    ASSERT_TRUE(schema) << error.toStdString();
    EXPECT_EQ(schema->tables, tables.size());
    const dump::DumpTarget all{source.name(), {}};
    const dump::DumpResult dumped = writer.save(path("d.sql"), schema->text, &all, {});
    ASSERT_TRUE(dumped.ok) << dumped.error.toStdString();
    EXPECT_EQ(dumped.rows, std::uint64_t(tables.size() - 1) * values.size());

    Keys restored;
    for (const QString& table : tables) restored.insert(tableKey(target.name(), table));
    Watch watch(dba);
    dump::RestoreEngine engine(worker, target.name());
    QFile script(path("d.sql"));
    ASSERT_TRUE(script.open(QIODevice::ReadOnly));
    const dump::RestoreRun schemaRun = engine.run(script, dump::RunKind::Script, {});
    EXPECT_TRUE(schemaRun.ok()) << dump::failureReport(schemaRun, "d.sql").toStdString()
                                << schemaRun.fatal.toStdString();
    QFile data(path("d.dat"));
    ASSERT_TRUE(data.open(QIODevice::ReadOnly));
    const dump::RestoreRun dataRun = engine.run(data, dump::RunKind::Data, {});
    EXPECT_TRUE(dataRun.ok()) << dump::failureReport(dataRun, "d.dat").toStdString()
                              << dataRun.fatal.toStdString();
    ASSERT_TRUE(attempt(&error, [&] { engine.finish(); })) << error.toStdString();
    EXPECT_EQ(watch.changed(), restored);

    EXPECT_EQ(tableNames(dba, target.name()), tableNames(dba, source.name()));
    for (const QString& table : tables) {
        EXPECT_EQ(createText(dba, target.name(), table), createText(dba, source.name(), table))
            << table.toStdString();
        EXPECT_EQ(rowsOf(dba, target.name(), table), rowsOf(dba, source.name(), table))
            << table.toStdString();
    }

    // The restore's status names each table as the statements quote it, and counts its rows.
    ASSERT_TRUE(data.seek(0));
    dump::StatementReader reader(data);
    dump::RestoreStatus status(dump::RunKind::Data);
    std::map<QString, int> counted;
    std::string_view statement;
    while (reader.next(statement)) {
        status.note(statement, true);
        const QString text = status.text();
        if (!text.startsWith(QStringLiteral("Insert Ok! - "))) continue;
        const qsizetype open = text.lastIndexOf(u'[');
        counted[text.mid(13, open - 13)] = text.mid(open + 1).chopped(1).toInt();
    }
    std::map<QString, int> expected;
    for (const QString& table : tables)
        if (table != view)
            expected[QString::fromStdString(db::quoteIdentifier(table))] = int(values.size());
    EXPECT_EQ(counted, expected);

    // One table at a time: its schema and rows found by its name alone.
    OwnedDatabase single(dba, fresh(u8("{u} one%_\\")));
    for (const QString& table : tables) {
        const dump::DumpTarget one{source.name(), table};
        const std::optional<dump::SchemaText> text =
            attempt(&error, [&] { return writer.schema(one, true); });
        ASSERT_TRUE(text) << error.toStdString();
        ASSERT_TRUE(writer.save(path("t.sql"), text->text, &one, {}).ok) << table.toStdString();
        dump::RestoreEngine oneEngine(worker, single.name());
        QFile oneScript(path("t.sql"));
        QFile oneData(path("t.dat"));
        ASSERT_TRUE(oneScript.open(QIODevice::ReadOnly) && oneData.open(QIODevice::ReadOnly));
        EXPECT_TRUE(oneEngine.run(oneScript, dump::RunKind::Script, {}).ok())
            << table.toStdString();
        EXPECT_TRUE(oneEngine.run(oneData, dump::RunKind::Data, {}).ok()) << table.toStdString();
        ASSERT_TRUE(attempt(&error, [&] { oneEngine.finish(); })) << error.toStdString();
    }
    EXPECT_EQ(tableNames(dba, single.name()), tableNames(dba, source.name()));
    for (const QString& table : tables)
        EXPECT_EQ(rowsOf(dba, single.name(), table), rowsOf(dba, source.name(), table))
            << table.toStdString();
}

TEST_F(HostileDump, NamesADumpFileCannotCarryAreRefusedAndNothingIsWritten) {
    OwnedDatabase source(dba, fresh(u8("{u} src")));
    // The reader ends a line at a carriage return: this name would end the drop statement
    // early and make its second line a statement of its own, aimed at the canary.
    const QString marker = QString::fromUtf8(dump::kMarker.data(), qsizetype(dump::kMarker.size()));
    const QStringList tables{
        fresh(u8("{u}\r\nline")),
        fresh(u8("{u}") + marker + u8("\r\ndrop database ") + canaryDb() + marker + u8("\r\nx")),
        // A line feed ends the line after the marker alone.
        fresh(u8("{u}") + marker + u8("\ndrop database ") + canaryDb() + marker + u8("\nx")),
        fresh(u8("{u}ctrl\x1az")),
    };
    for (const QString& table : tables)
        dba.exec("CREATE TABLE " + source.table(table) + " (id INT)");
    // A column name: in the CREATE text, and in the data file's column list because an
    // invisible column makes the INSERTs name their columns.
    const QString columns = fresh(u8("{u} columns"));
    dba.exec("CREATE TABLE " + source.table(columns) + " (id INT, `c\r\nd` INT, h INT INVISIBLE)");
    dba.exec("INSERT INTO " + source.table(columns) + " (id, `c\r\nd`, h) VALUES (1, 2, 3)");
    Watch watch(dba);

    dump::DumpWriter writer(worker);
    QString error;
    const auto refused = [](const QString& text) {
        return text.contains(QStringLiteral("cannot be dumped")) &&
               text.contains(QStringLiteral("carriage return or a Ctrl-Z")) &&
               text.contains(QStringLiteral("Rename it"));
    };
    const QStringList refusedTables = QStringList(tables) << columns;
    for (const QString& table : refusedTables) {
        error.clear();
        EXPECT_FALSE(attempt(&error, [&] {
            return writer.schema({source.name(), table}, true);
        })) << table.toStdString();
        EXPECT_TRUE(refused(error)) << error.toStdString();
        const dump::DumpTarget one{source.name(), table};
        const dump::DumpResult result = writer.save(path("t.sql"), "schema", &one, {});
        EXPECT_FALSE(result.ok) << table.toStdString();
        EXPECT_TRUE(refused(result.error)) << result.error.toStdString();
    }
    EXPECT_FALSE(attempt(&error, [&] { return writer.schema({source.name(), {}}, true); }));
    EXPECT_TRUE(refused(error)) << error.toStdString();
    const dump::DumpTarget all{source.name(), {}};
    const dump::DumpResult whole = writer.save(path("d.sql"), "schema", &all, {});
    EXPECT_FALSE(whole.ok);
    EXPECT_TRUE(refused(whole.error)) << whole.error.toStdString();
    EXPECT_EQ(files(), QStringList{});
    EXPECT_EQ(watch.changed(), Keys{});

    // Why: written into a dump, the second name's drop statement would read as two, the
    // second of them dropping the canary.
    QByteArray text = "Drop Table If Exists " +
                      QByteArray::fromStdString(db::quoteIdentifier(tables[1])) + ";#+----\r\n";
    QBuffer buffer(&text);
    buffer.open(QIODevice::ReadOnly);
    dump::StatementReader reader(buffer);
    std::string_view statement;
    QStringList statements;
    while (reader.next(statement))
        statements << QString::fromUtf8(statement.data(), qsizetype(statement.size()));
    EXPECT_TRUE(statements.contains(QStringLiteral("drop database ") + canaryDb()))
        << statements.join(u'|').toStdString();
}

}  // namespace
