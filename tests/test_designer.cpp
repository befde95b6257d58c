#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>

#include "db/Connection.h"
#include "designer/TableStatements.h"
#include "designer/TfrmCreateTable.h"
#include "support/ScriptedPrompts.h"
#include "support/TestServer.h"

static void PrintTo(const QString& text, std::ostream* os) {
    *os << '"' << text.toStdString() << '"';
}

namespace {

const QString kIndexNotNull = QStringLiteral("Index Key는 Null값을 허용하지 않습니다.");
const QString kAutoNotNull = QStringLiteral("자동증가값은 Null값을 허용하지 않습니다.");
const QString kAutoRefused = QStringLiteral("자동증가로 설정할 수 없습니다.");
const QString kNullNotAuto =
    QStringLiteral("Null이 허용된 Field는 \r\n자동증가값으로 설정할 수 없습니다.");
const QString kAutoOnePerTable = QStringLiteral("자동증가는 Table당 한 필드만 적용됩니다.");
const QString kAddKeyNotice =
    QStringLiteral("Table에 이미 Primary Key가 있다면,\r\nPrimary Key로 지정되지 않습니다.");
const QString kChangeKeyNotice = QStringLiteral(
    "Table에 이미 Primary Key가 있다면,\r\nPrimary Key로 지정되지 않습니다.\r\n"
    "또한 Data가 Unique하지 않아도 지정되지 않습니다.");

FieldRow row(QString key, QString field, QString type, QString size = {}, QString def = {},
             QString null = {}, QString autoIncrement = {}) {
    FieldRow r;
    r.key = std::move(key);
    r.field = std::move(field);
    r.type = std::move(type);
    r.size = std::move(size);
    r.defaultValue = std::move(def);
    r.null = std::move(null);
    r.autoIncrement = std::move(autoIncrement);
    return r;
}

QString showCreate(db::Connection& c, const QString& database, const QString& table) {
    db::Result result = c.select("SHOW CREATE TABLE " + db::qualifiedName(database, table));
    return result.next() ? result.text(1) : QString();
}

// The editors set in the order a user would: type first, so the check-box rules see it.
struct Editors {
    QString field;
    QString type;
    QString size = {};
    QString def = {};
    bool key = false;
    bool autoIncrement = false;
    bool null = false;
};

void fill(TfrmCreateTable& d, const Editors& e) {
    d.ClearEditors();
    d.EdField->setText(e.field);
    d.ComboBox1->setEditText(e.type);
    d.EdLength->setText(e.size);
    d.EdDefault->setText(e.def);
    d.ChkIndex->setChecked(e.key);
    d.ChkAuto->setChecked(e.autoIncrement);
    d.ChkNull->setChecked(e.null);
}

int rowNamed(const TfrmCreateTable& d, const QString& field) {
    for (int i = 0; i < d.RowCount(); ++i)
        if (d.Row(i).field == field) return i;
    return -1;
}

// ------------------------------------------------------------------------------------------
// CREATE TABLE text, then what the server made of it.

struct CreateCase {
    const char* name;
    std::vector<FieldRow> rows;
    std::string expected;          // after "Create Table `db`.`t`"
    QStringList createdFragments;  // of SHOW CREATE TABLE; empty: the server refuses it
};

void PrintTo(const CreateCase& c, std::ostream* os) { *os << c.name; }

class CreateTableText : public ::testing::TestWithParam<CreateCase> {};

TEST_P(CreateTableText, BuildsTheStatementAndTheServerAgrees) {
    const CreateCase& param = GetParam();
    ScratchDatabase scratch;
    TableStatements statements(scratch.connection(), scratch.name(), QStringLiteral("t"));
    const std::string text = statements.createTable(param.rows);
    EXPECT_EQ(text, "Create Table " + db::qualifiedName(scratch.name(), "t") + param.expected);

    const bool created = scratch.connection().query(text);
    ASSERT_EQ(created, !param.createdFragments.isEmpty());
    const QString shown = created ? showCreate(scratch.connection(), scratch.name(), "t") : "";
    for (const QString& fragment : param.createdFragments)
        EXPECT_TRUE(shown.contains(fragment)) << fragment.toStdString() << " in\n"
                                              << shown.toStdString();
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Rows, CreateTableText, ::testing::Values(
    CreateCase{"ExampleOfTheDesign",
        {row("PRI", "id", "int", "11", "", "", "YES"), row("", "name", "varchar", "20", "x", "YES")},
        "(`id` int(11) auto_increment Not Null ,`name` varchar(20) Null default 'x' ,"
        "Primary Key(`id`))",
        {"`id` int(11) NOT NULL AUTO_INCREMENT", "`name` varchar(20) DEFAULT 'x'",
         "PRIMARY KEY (`id`)"}},
    CreateCase{"TwoKeyColumnsInRowOrder",
        {row("PRI", "b", "int"), row("", "x", "date"), row("PRI", "a", "char", "2")},
        "(`b` int Not Null ,`x` date Not Null ,`a` char(2) Not Null ,Primary Key(`b`,`a`))",
        {"`x` date NOT NULL", "PRIMARY KEY (`b`,`a`)"}},
    CreateCase{"DefaultsQuotedForCharacterColumnsElseAsTyped",
        {row("", "c", "varchar", "20", "it's 'quoted'\\"), row("", "n", "int", "", "-5"),
         row("", "d", "date", "", "2020-01-31"), row("", "ts", "timestamp", "", "CURRENT_TIMESTAMP"),
         row("", "tx", "text", "", "hello", "YES")},
        "(`c` varchar(20) Not Null default 'it\\'s \\'quoted\\'\\\\' ,`n` int Not Null default -5 ,"
        "`d` date Not Null default '2020-01-31' ,`ts` timestamp Not Null default CURRENT_TIMESTAMP ,"
        "`tx` text Null default 'hello' )",
        {"DEFAULT 'it''s ''quoted''\\\\'", "`n` int(11) NOT NULL DEFAULT -5",
         "DEFAULT '2020-01-31'", "DEFAULT current_timestamp()", "`tx` text DEFAULT 'hello'"}},
    // A default never ends the column definition to start another clause.
    CreateCase{"DefaultCannotInjectAClause", {row("", "n", "int", "", "0, x int")},
        "(`n` int Not Null default '0, x int' )", {}},
    CreateCase{"ModifiersFollowTheSizeAndRealTakesNone",
        {row("", "u", "int unsigned", "10"), row("", "r", "real", "7"),
         row("", "e", "enum('a','b''c')", "", "a")},
        "(`u` int(10) unsigned Not Null ,`r` real Not Null ,"
        "`e` enum('a','b''c') Not Null default 'a' )",
        {"`u` int(10) unsigned NOT NULL", "`r` double NOT NULL",
         "enum('a','b''c') NOT NULL DEFAULT 'a'"}},
    CreateCase{"AwkwardNamesQuotedAndEmptyRowsSkipped",
        {row("PRI", "we`ird name", "int"), row("", "", "")},
        "(`we``ird name` int Not Null ,Primary Key(`we``ird name`))",
        {"`we``ird name` int(11) NOT NULL"}},
    CreateCase{"NoFieldsIsRefusedByTheServer", {row("", "", "")}, "()", {}}),
    [](const auto& info) { return std::string(info.param.name); });
// clang-format on

TEST(TableStatementsText, RefusesTypeAndSizeTextsThatAreNotTypeSyntax) {
    db::Connection closed;
    TableStatements statements(closed, QStringLiteral("d"), QStringLiteral("t"));
    for (const char* type : {"int; drop table x", "int, y int", "int -- x", "`int`", "", "int)"})
        EXPECT_THROW(statements.sqlType(row("", "a", type)), InvalidFieldText) << type;
    for (const char* size : {"1) x (", "a", "1,2,3", "1;"})
        EXPECT_THROW(statements.sqlType(row("", "a", "decimal", size)), InvalidFieldText) << size;
    EXPECT_EQ(statements.sqlType(row("", "a", "DECIMAL unsigned zerofill", "10, 2")),
              "DECIMAL(10, 2) unsigned zerofill");
}

// ------------------------------------------------------------------------------------------
// The check-box rules: the box checked last is refused with its message, or accepted.

struct RuleCase {
    const char* name;
    const char* earlierType;  // classified before the current type: must not matter
    const char* type;
    const char* alreadyChecked;  // "", "Index", "Null" or "Auto"
    const char* checked;
    QString message;  // empty: accepted
};

void PrintTo(const RuleCase& c, std::ostream* os) { *os << c.name; }

QCheckBox* box(TfrmCreateTable& d, const QString& name) {
    if (name == QLatin1String("Index")) return d.ChkIndex;
    if (name == QLatin1String("Null")) return d.ChkNull;
    if (name == QLatin1String("Auto")) return d.ChkAuto;
    return nullptr;
}

class CheckBoxRules : public ::testing::TestWithParam<RuleCase> {};

TEST_P(CheckBoxRules, RefuseWithTheirMessage) {
    const RuleCase& param = GetParam();
    db::Connection closed;
    ScriptedPrompts prompts;
    TfrmCreateTable d(closed, prompts, false, "d", "t");
    d.FormActivate();
    d.ComboBox1->setEditText(param.earlierType);
    d.ChkAuto->setChecked(true);
    d.ClearEditors();
    prompts.clear();

    d.ComboBox1->setEditText(param.type);
    if (QCheckBox* before = box(d, param.alreadyChecked)) before->setChecked(true);
    ASSERT_TRUE(prompts.messages().isEmpty());
    QCheckBox* checked = box(d, param.checked);
    checked->setChecked(true);
    EXPECT_EQ(prompts.messages(),
              param.message.isEmpty() ? QStringList{} : QStringList{param.message});
    EXPECT_EQ(checked->isChecked(), param.message.isEmpty());
    if (QCheckBox* before = box(d, param.alreadyChecked)) {
        EXPECT_TRUE(before->isChecked());
    }
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Boxes, CheckBoxRules, ::testing::Values(
    RuleCase{"IndexAfterNull", "int", "int", "Null", "Index", kIndexNotNull},
    RuleCase{"NullAfterIndex", "int", "int", "Index", "Null", kIndexNotNull},
    RuleCase{"NullAfterAuto", "int", "int", "Auto", "Null", kAutoNotNull},
    RuleCase{"AutoOnReal", "int", "real", "", "Auto", kAutoRefused},
    RuleCase{"AutoOnDate", "int", "date", "", "Auto", kAutoRefused},
    RuleCase{"AutoOnVarchar", "int", "varchar", "", "Auto", kAutoRefused},
    RuleCase{"AutoAfterNull", "int", "int", "Null", "Auto", kNullNotAuto},
    RuleCase{"AutoOnIntAfterVarchar", "varchar", "int", "", "Auto", {}},
    RuleCase{"AutoOnUnsignedBigintKey", "char", "BIGINT unsigned", "Index", "Auto", {}}),
    [](const auto& info) { return std::string(info.param.name); });
// clang-format on

// ------------------------------------------------------------------------------------------
// Create mode.

class CreateMode : public ::testing::Test {
protected:
    ScratchDatabase scratch;
    ScriptedPrompts prompts;
    TfrmCreateTable d{scratch.connection(), prompts, false, scratch.name(), "made"};

    void SetUp() override { d.FormActivate(); }
    void add(const Editors& e) {
        fill(d, e);
        d.NewFieldClick();
    }
};

QStringList texts(std::initializer_list<QAbstractButton*> buttons) {
    QStringList out;
    for (QAbstractButton* b : buttons) out << b->text();
    return out;
}

TEST_F(CreateMode, NewFieldChecksTheEditorsThenFillsTheFreeRowThenAppends) {
    EXPECT_EQ(d.LTable->text(), QStringLiteral("Table Name : made"));
    EXPECT_EQ(texts({d.NewField, d.Edit, d.Delete, d.Save, d.Cancel}),
              QStringList({"New Field", "Edit", "Delete", "CreateTable", "Cancel"}));
    EXPECT_EQ(d.StrGrid->horizontalHeaderItem(6)->text(), QStringLiteral("Auto Increment"));
    ASSERT_EQ(d.ComboBox1->count(), 26);
    EXPECT_EQ(d.ComboBox1->itemText(25), QStringLiteral("set "));
    EXPECT_FALSE(d.Edit->isEnabled());

    add({"", "int"});
    add({"a", " "});
    add({"a", "int; drop table x"});
    add({"a", "decimal", "10;2"});
    EXPECT_EQ(prompts.messages(),
              QStringList({"Field Name을 입력하세요.", "Type을 선택하세요.",
                           "Type 값이 올바르지 않습니다.", "Length 값이 올바르지 않습니다."}));
    ASSERT_EQ(d.RowCount(), 1);
    EXPECT_TRUE(d.Row(0).field.isEmpty());

    prompts.clear();
    add({"id", "int", "11", "", true, true});
    add({"r", "real", "7", "1.5"});
    add({"name", "varchar", "20", "x", false, false, true});
    EXPECT_TRUE(prompts.messages().isEmpty());
    ASSERT_EQ(d.RowCount(), 3);
    const FieldRow id = d.Row(0);
    EXPECT_EQ(QStringList({id.key, id.size, id.autoIncrement, id.null}),
              QStringList({"PRI", "11", "YES", ""}));
    EXPECT_EQ(d.Row(1).size, "");  // real takes no size
    EXPECT_EQ(d.Row(2).null, "YES");
    EXPECT_TRUE(d.EdField->text().isEmpty());
    EXPECT_FALSE(d.ChkIndex->isChecked());
}

TEST_F(CreateMode, EnterMovesThroughTheEditorsToNewField) {
    d.show();
    QWidget* order[] = {d.EdField,   d.ChkIndex, d.ComboBox1, d.EdLength,
                        d.EdDefault, d.ChkAuto,  d.ChkNull,   d.NewField};
    EXPECT_EQ(d.focusWidget(), d.EdField);
    for (std::size_t i = 0; i + 1 < std::size(order); ++i) {
        QKeyEvent enter(QEvent::KeyPress, i % 2 ? Qt::Key_Enter : Qt::Key_Return, Qt::NoModifier);
        QWidget* target = order[i] == d.ComboBox1 ? d.ComboBox1->lineEdit() : order[i];
        QApplication::sendEvent(target, &enter);
        EXPECT_EQ(d.focusWidget(), order[i + 1]) << i;
    }
    d.EdField->setFocus();
    QKeyEvent other(QEvent::KeyPress, Qt::Key_A, Qt::NoModifier, QStringLiteral("a"));
    QApplication::sendEvent(d.EdField, &other);
    EXPECT_EQ(d.focusWidget(), d.EdField);
}

TEST_F(CreateMode, SelectEditAndDeleteRows) {
    add({"id", "int", "11", "", true});
    add({"v", "varchar", "5", "", false, false, true});

    d.StrGrid->setCurrentCell(0, 1);
    EXPECT_EQ(d.SelectedRow(), 0);
    EXPECT_TRUE(d.Edit->isEnabled() && d.Delete->isEnabled());
    EXPECT_EQ(QStringList({d.EdField->text(), d.ComboBox1->currentText(), d.EdLength->text()}),
              QStringList({"id", "int", "11"}));
    EXPECT_TRUE(d.ChkIndex->isChecked());

    // An unchecked Index Key clears the row's key; a type without size clears the size.
    d.ChkIndex->setChecked(false);
    d.EdField->setText("when");
    d.ComboBox1->setEditText("date");
    d.EditClick();
    const FieldRow edited = d.Row(0);
    EXPECT_EQ(QStringList({edited.key, edited.field, edited.type, edited.size}),
              QStringList({"", "when", "date", ""}));
    EXPECT_EQ(d.SelectedRow(), -1);
    EXPECT_FALSE(d.Edit->isEnabled());
    EXPECT_TRUE(d.EdField->text().isEmpty());

    // The same row selected again shows again; an emptied name is not written over it.
    d.StrGrid->setCurrentCell(0, 2);
    EXPECT_EQ(d.EdField->text(), "when");
    d.EdField->clear();
    d.EditClick();
    EXPECT_EQ(prompts.messages(), QStringList{"Field Name을 입력하세요."});
    EXPECT_EQ(d.Row(0).field, "when");

    d.StrGrid->setCurrentCell(1, 0);
    d.DeleteClick();
    ASSERT_EQ(d.RowCount(), 1);
    EXPECT_EQ(d.Row(0).field, "when");
    EXPECT_FALSE(d.Delete->isEnabled());
}

TEST_F(CreateMode, CreateTableClosesOnSuccessAndStaysOpenOnFailure) {
    prompts.onDialog([&](QDialog* dialog) {
        d.SaveClick();  // no fields: refused
        EXPECT_TRUE(dialog->isVisible());
        add({"id", "int", "11", "", true, true});
        add({"name", "varchar", "20", "it's", false, false, true});
        d.SaveClick();
        EXPECT_FALSE(dialog->isVisible());
        return dialog->result();
    });
    EXPECT_EQ(prompts.exec(&d), QDialog::Accepted);
    ASSERT_EQ(prompts.messages().size(), 2);
    // The refusal says why on its second line.
    EXPECT_TRUE(prompts.messages()[0].startsWith("Table Create 실패!\n")) << prompts.messages()[0].toStdString();
    EXPECT_GT(prompts.messages()[0].size(), QStringLiteral("Table Create 실패!\n").size());
    EXPECT_EQ(prompts.messages()[1], QStringLiteral("Table Create 성공!"));
    const QString shown = showCreate(scratch.connection(), scratch.name(), "made");
    EXPECT_TRUE(shown.contains("`id` int(11) NOT NULL AUTO_INCREMENT"));
    EXPECT_TRUE(shown.contains("`name` varchar(20) DEFAULT 'it''s'"));
}

TEST_F(CreateMode, CancelAndEscapeAsk) {
    prompts.onDialog([&](QDialog* dialog) {
        prompts.answerOkCancel(false);
        d.CancelClick();
        EXPECT_TRUE(dialog->isVisible());
        EXPECT_EQ(dialog->focusWidget(), d.EdField);
        prompts.answerOkCancel(true);
        d.reject();  // Escape and the close box
        EXPECT_FALSE(dialog->isVisible());
        return dialog->result();
    });
    EXPECT_EQ(prompts.exec(&d), QDialog::Rejected);
    ASSERT_EQ(prompts.shown().size(), 2u);
    EXPECT_EQ(prompts.shown()[1].text, QStringLiteral("Table Create를 취소하시겠습니까?"));
    EXPECT_EQ(prompts.shown()[1].caption, QStringLiteral("Cancel Msg"));
}

// ------------------------------------------------------------------------------------------
// Alter mode: loading, then each action applied to a real table.

QStringList cells(const FieldRow& r) {
    return {r.key, r.field, r.type, r.size, r.defaultValue, r.null, r.autoIncrement, r.typeArgs};
}

TEST(LoadColumns, SplitsTheServersTypeIntoTypeAndSize) {
    ScratchDatabase scratch;
    scratch.exec(
        "CREATE TABLE t (id int(11) auto_increment primary key, price decimal(10,2) default 1.5, "
        "e enum('a','b)') not null default 'b)', u int(10) unsigned zerofill, d datetime(6))");
    ScriptedPrompts prompts;
    TfrmCreateTable d(scratch.connection(), prompts, true, scratch.name(), "t");
    d.FormActivate();
    // key, field, type, size, default, null, auto increment, and the arguments kept aside
    const std::vector<QStringList> expected{
        {"PRI", "id", "int", "11", "", "NO", "YES", ""},
        {"", "price", "decimal", "10,2", "1.50", "YES", "", ""},
        {"", "e", "enum", "", "b)", "NO", "", "'a','b)'"},
        {"", "u", "int unsigned zerofill", "10", "", "YES", "", ""},
        {"", "d", "datetime", "", "", "YES", "", "6"},
        {"", "", "", "", "", "", "", ""},  // the free row
    };
    ASSERT_EQ(d.RowCount(), int(expected.size()));
    for (int i = 0; i < d.RowCount(); ++i) EXPECT_EQ(cells(d.Row(i)), expected[i]) << i;
}

// A table of the scratch database open in the designer's alter mode.
struct AlterTable {
    ScratchDatabase scratch;
    ScriptedPrompts prompts;
    std::unique_ptr<TfrmCreateTable> d;

    void open(const std::string& definition) {
        scratch.exec("CREATE TABLE t (" + definition + ")");
        d = std::make_unique<TfrmCreateTable>(scratch.connection(), prompts, true, scratch.name(),
                                              "t");
        d->FormActivate();
    }
    QString created() { return showCreate(scratch.connection(), scratch.name(), "t"); }
    QString keyOf(const QString& field) { return d->Row(rowNamed(*d, field)).key; }
    void select(const QString& field) { d->StrGrid->setCurrentCell(rowNamed(*d, field), 1); }
    void add(const Editors& e) {
        fill(*d, e);
        d->NewFieldClick();
    }
    // Selects the field's row, changes the editors, then "Edit Save".
    template <typename Change>
    void edit(const QString& field, Change change) {
        select(field);
        change(*d);
        d->EditClick();
    }
    void drop(const QString& field, bool confirm) {
        select(field);
        prompts.answerOkCancel(confirm);
        d->DeleteClick();
    }
};

class AlterMode : public ::testing::Test, protected AlterTable {};

TEST_F(AlterMode, CaptionsAndCloseWithoutChangesAsksNothing) {
    open("id int primary key");
    // Wide enough for every column of the grid.
    int columns = 0;
    for (int c = 0; c < d->StrGrid->columnCount(); ++c) columns += d->StrGrid->columnWidth(c);
    EXPECT_GT(d->width(), columns);
    EXPECT_EQ(texts({d->NewField, d->Edit, d->Delete, d->Cancel}),
              QStringList({"Add Field", "Edit Save", "Drop Save", "Close"}));
    EXPECT_TRUE(d->Save->isHidden());
    prompts.onDialog([&](QDialog* dialog) {
        d->CancelClick();
        return dialog->result();
    });
    EXPECT_EQ(prompts.exec(d.get()), QDialog::Rejected);
    EXPECT_TRUE(prompts.shown().empty());
}

TEST_F(AlterMode, AddColumnNamesTheDesignersDatabaseWhateverIsCurrent) {
    ScratchDatabase other;
    other.exec("CREATE TABLE t (id int primary key)");
    open("id int primary key");
    EXPECT_EQ(d->Statements().addColumn(row("", "age", "int", "3", "0")),
              "alter table " + db::qualifiedName(scratch.name(), "t") +
                  " add column `age` int(3) default 0 Not Null ");
    ASSERT_TRUE(scratch.connection().selectDb(other.name()));

    add({"age", "int", "3", "0"});
    add({"note", "varchar", "10", "a b"});
    EXPECT_TRUE(prompts.messages().isEmpty()) << prompts.messages().join('|').toStdString();
    EXPECT_TRUE(created().contains("`age` int(3) NOT NULL DEFAULT 0"));
    EXPECT_TRUE(created().contains("`note` varchar(10) NOT NULL DEFAULT 'a b'"));
    EXPECT_FALSE(showCreate(other.connection(), other.name(), "t").contains("`age`"));
    // The grid shows the table, then the free row that the next field fills.
    ASSERT_EQ(d->RowCount(), 4);
    EXPECT_EQ(d->Row(2).field, "note");
    EXPECT_TRUE(d->Row(3).field.isEmpty());

    EXPECT_TRUE(d->Modified());
    prompts.answerOkCancel(false);
    d->CancelClick();
    EXPECT_EQ(prompts.shown().back().text, QStringLiteral("작업을 종료하시겠습니까?"));
    EXPECT_EQ(prompts.shown().back().caption, QStringLiteral("Close Msg"));
}

TEST_F(AlterMode, EditSaveRenamesAndKeepsWhatTheGridDoesNotEdit) {
    open(
        "id int primary key, d datetime(6) not null, e enum('x','y') default 'y', "
        "u bigint(20) unsigned, v varchar(10)");
    edit("d", [](TfrmCreateTable& d) { d.EdField->setText("stamp"); });
    edit("e", [](TfrmCreateTable& d) { d.EdField->setText("choice"); });
    edit("u", [](TfrmCreateTable& d) { d.EdLength->setText("15"); });
    edit("v", [](TfrmCreateTable& d) { d.EdDefault->setText("it's x"); });
    EXPECT_TRUE(prompts.messages().isEmpty()) << prompts.messages().join('|').toStdString();
    const QString shown = created();
    for (const char* fragment :
         {"`stamp` datetime(6) NOT NULL", "`choice` enum('x','y') DEFAULT 'y'",
          "`u` bigint(15) unsigned DEFAULT NULL", "`v` varchar(10) DEFAULT 'it''s x'"})
        EXPECT_TRUE(shown.contains(fragment)) << fragment << " in\n" << shown.toStdString();

    FieldRow r = d->Row(rowNamed(*d, "stamp"));
    r.field = "s2";
    EXPECT_EQ(d->Statements().changeColumn("stamp", r),
              "alter table " + db::qualifiedName(scratch.name(), "t") +
                  " change column `stamp` `s2` datetime(6) Not Null ");
}

// What the grid does not show of a column survives a rename and a length change: its
// comment, ON UPDATE, its own character set and collation, and a DEFAULT ''.
TEST_F(AlterMode, EditSaveKeepsEveryAttributeTheGridDoesNotShow) {
    open("id int primary key, "
         "c varchar(10) CHARACTER SET latin1 COLLATE latin1_bin NOT NULL DEFAULT '' "
         "COMMENT 'a ''note''', "
         "ts timestamp NOT NULL DEFAULT current_timestamp() ON UPDATE current_timestamp() "
         "COMMENT 'when'");
    edit("c", [](TfrmCreateTable& d) {
        d.EdField->setText("c2");
        d.EdLength->setText("20");
    });
    edit("ts", [](TfrmCreateTable& d) { d.EdField->setText("changed"); });
    EXPECT_TRUE(prompts.messages().isEmpty()) << prompts.messages().join('|').toStdString();
    const QString shown = created();
    for (const char* fragment :
         {"`c2` varchar(20) CHARACTER SET latin1 COLLATE latin1_bin NOT NULL DEFAULT '' COMMENT "
          "'a ''note'''",
          "`changed` timestamp NOT NULL DEFAULT current_timestamp() ON UPDATE current_timestamp() "
          "COMMENT 'when'"})
        EXPECT_TRUE(shown.contains(QLatin1String(fragment))) << fragment << " in\n" << shown.toStdString();
    // A default the user edits is the user's; ON UPDATE follows a type that takes it.
    edit("c2", [](TfrmCreateTable& d) { d.EdDefault->setText("x"); });
    edit("changed", [](TfrmCreateTable& d) { d.ComboBox1->setEditText("datetime"); });
    EXPECT_TRUE(created().contains("`c2` varchar(20) CHARACTER SET latin1 COLLATE latin1_bin NOT "
                                   "NULL DEFAULT 'x' COMMENT 'a ''note'''"))
        << created().toStdString();
    EXPECT_TRUE(created().contains("ON UPDATE current_timestamp() COMMENT 'when'"))
        << created().toStdString();
}

// A generated column keeps its expression and kind through a rename and a type change.
TEST_F(AlterMode, EditSaveKeepsAGeneratedColumnGenerated) {
    open("a int, v int AS (a + 1) VIRTUAL, "
         "s varchar(10) CHARACTER SET latin1 AS (concat(a, 'x')) PERSISTENT COMMENT 'kept', "
         "t int GENERATED ALWAYS AS (a * 2) STORED");
    edit("v", [](TfrmCreateTable& d) { d.EdField->setText("v2"); });
    edit("s", [](TfrmCreateTable& d) { d.EdLength->setText("12"); });
    edit("t", [](TfrmCreateTable& d) { d.ComboBox1->setEditText("bigint"); });
    EXPECT_TRUE(prompts.messages().isEmpty()) << prompts.messages().join('|').toStdString();
    const QString shown = created();
    for (const char* fragment :
         {"`v2` int(11) GENERATED ALWAYS AS (`a` + 1) VIRTUAL",
          "`s` varchar(12) CHARACTER SET latin1 COLLATE latin1_swedish_ci GENERATED ALWAYS AS "
          "(concat(`a`,'x')) STORED COMMENT 'kept'",
          "`t` bigint(11) GENERATED ALWAYS AS (`a` * 2) STORED"})
        EXPECT_TRUE(shown.contains(QLatin1String(fragment))) << fragment << " in\n" << shown.toStdString();
}

// Selecting the empty last row leaves nothing for Edit Save and Drop Save to act on.
TEST_F(AlterMode, TheEmptyRowSelectedGivesEditAndDropNothing) {
    open("id int primary key, c int");
    select("c");
    ASSERT_TRUE(d->Delete->isEnabled());
    d->StrGrid->setCurrentCell(d->RowCount() - 1, 1);
    EXPECT_FALSE(d->Delete->isEnabled());
    EXPECT_FALSE(d->Edit->isEnabled());
    d->DeleteClick();  // no question: nothing is shown selected
    d->EditClick();
    EXPECT_TRUE(prompts.shown().empty());
    EXPECT_TRUE(created().contains("`c` int"));
}

TEST_F(AlterMode, IndexKeyAddsAndDropsThePrimaryKey) {
    open("a int not null, b int not null");
    edit("a", [](TfrmCreateTable& d) { d.ChkIndex->setChecked(true); });
    EXPECT_EQ(prompts.messages(), QStringList{kChangeKeyNotice});
    EXPECT_TRUE(created().contains("PRIMARY KEY (`a`)"));
    EXPECT_EQ(keyOf("a"), "PRI");

    // Unchecking asks; Cancel keeps the key and its cell, OK drops it.
    prompts.clear();
    prompts.answerOkCancel(false);
    edit("a", [](TfrmCreateTable& d) { d.ChkIndex->setChecked(false); });
    ASSERT_EQ(prompts.shown().size(), 1u);
    EXPECT_EQ(prompts.shown()[0].text, QStringLiteral("Primary Key를 삭제하시겠습니까?"));
    EXPECT_EQ(prompts.shown()[0].caption, QStringLiteral("Drop Notice"));
    EXPECT_TRUE(created().contains("PRIMARY KEY (`a`)"));
    EXPECT_EQ(keyOf("a"), "PRI");
    prompts.answerOkCancel(true);
    edit("a", [](TfrmCreateTable& d) { d.ChkIndex->setChecked(false); });
    EXPECT_FALSE(created().contains("PRIMARY KEY"));
    EXPECT_EQ(keyOf("a"), "");

    edit("b", [](TfrmCreateTable& d) { d.ChkIndex->setChecked(true); });
    EXPECT_TRUE(created().contains("PRIMARY KEY (`b`)"));
}

TEST_F(AlterMode, DropSaveAsksThenDropsTheColumnAndWhatItsKeyLeaves) {
    open("a int not null, b int not null, c int, primary key (a, b)");
    drop("c", false);
    EXPECT_EQ(prompts.shown()[0].text, QStringLiteral("Field를 삭제하시겠습니까?\nc"));
    EXPECT_TRUE(created().contains("`c`"));
    EXPECT_GE(rowNamed(*d, "c"), 0);
    drop("c", true);
    EXPECT_FALSE(created().contains("`c`"));
    EXPECT_EQ(rowNamed(*d, "c"), -1);
    EXPECT_TRUE(prompts.messages().isEmpty());

    // The server refuses a column of a key over several columns: the key stays too.
    drop("a", true);
    ASSERT_EQ(prompts.messages().size(), 1);
    EXPECT_TRUE(prompts.messages()[0].startsWith("Drop Column Error\n")) << prompts.messages()[0].toStdString();
    EXPECT_TRUE(created().contains("PRIMARY KEY (`a`,`b`)"));
    EXPECT_EQ(keyOf("a"), "PRI");
}

// Each action with its messages and the key cells afterwards ("field=key").
struct ActionCase {
    const char* name;
    const char* definition;
    std::function<void(AlterTable&)> act;
    QStringList messages;
    QStringList keysAfter;
};

void PrintTo(const ActionCase& c, std::ostream* os) { *os << c.name; }

class AlterAction : public ::testing::TestWithParam<ActionCase>, protected AlterTable {};

TEST_P(AlterAction, ReportsEachRefusedStatementAndTheGridShowsTheServer) {
    open(GetParam().definition);
    GetParam().act(*this);
    // Each "... Error" says on its second line why the server refused.
    QStringList headlines;
    for (const QString& m : prompts.messages()) {
        const QString first = m.section(u'\n', 0, 0);
        const bool refusal = first.endsWith(QLatin1String("Error"));
        EXPECT_TRUE(!refusal || !m.section(u'\n', 1).isEmpty()) << m.toStdString();
        headlines << (refusal ? first : m);
    }
    EXPECT_EQ(headlines, GetParam().messages);
    for (const QString& pair : GetParam().keysAfter) {
        const QStringList parts = pair.split('=');
        ASSERT_GE(rowNamed(*d, parts[0]), 0) << parts[0].toStdString();
        EXPECT_EQ(keyOf(parts[0]), parts[1]) << parts[0].toStdString();
    }
}

auto renameAToB = [](AlterTable& t) {
    t.edit("a", [](TfrmCreateTable& d) { d.EdField->setText("b"); });
};
auto uncheckIdKey = [](AlterTable& t) {
    t.prompts.answerOkCancel(true);
    t.edit("id", [](TfrmCreateTable& d) { d.ChkIndex->setChecked(false); });
};

// clang-format off
INSTANTIATE_TEST_SUITE_P(Statements, AlterAction, ::testing::Values(
    ActionCase{"AddExistingColumn", "id int primary key",
               [](AlterTable& t) { t.add({"id", "int"}); }, {"Column Add Error"}, {"id=PRI"}},
    ActionCase{"AddKeyWhereOneExists", "id int primary key",
               [](AlterTable& t) { t.add({"x", "int", "", "", true}); },
               {kAddKeyNotice, "Add Primary Key Error"}, {"id=PRI", "x="}},
    // An auto-increment column must be a key from the start: both in one statement.
    ActionCase{"AddAutoIncrementKey", "v int",
               [](AlterTable& t) { t.add({"id", "int", "11", "", true, true}); },
               {kAutoOnePerTable, kAddKeyNotice}, {"id=PRI", "v="}},
    ActionCase{"RenameOntoAnotherColumn", "a int, b int", renameAToB, {"Column Edit Error"},
               {"a="}},
    ActionCase{"DropKeyOfAutoIncrementColumn", "id int auto_increment primary key, v int",
               uncheckIdKey, {kAutoOnePerTable, "Drop Primary Key Error"}, {"id=PRI"}},
    // No key is dropped while its column stays...
    ActionCase{"DropTheOnlyColumn", "id int primary key",
               [](AlterTable& t) { t.drop("id", true); }, {"Drop Column Error"}, {"id=PRI"}},
    // ...and none is reported missing when it went with its column.
    ActionCase{"DropTheKeyColumn", "id int primary key, v int",
               [](AlterTable& t) { t.drop("id", true); }, {}, {"v="}}),
    [](const auto& info) { return std::string(info.param.name); });
// clang-format on

}  // namespace
