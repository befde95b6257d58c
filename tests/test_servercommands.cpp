#include <gtest/gtest.h>

#include <QComboBox>
#include <QDialog>
#include <QLabel>
#include <QSpinBox>
#include <QToolButton>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTreeWidget>

#include "app/ServerCommands.h"
#include "dataset/TMySQLConnection.h"
#include "registry/ServerRegistry.h"
#include "registry/TfrmNewConnect.h"
#include "registry/TfrmServer.h"
#include "support/ScriptedPrompts.h"
#include "support/ServerListFixture.h"
#include "tree/ObjectTree.h"
#include "tree/ServerSession.h"
#include "tree/TreeNode.h"

namespace {

const QString kDeleteQuestion = QStringLiteral("선택하신 서버를 삭제하시겠습니까?");

QLineEdit* edit(QDialog* dialog, const char* name) {
    auto* found = dialog->findChild<QLineEdit*>(QLatin1String(name));
    EXPECT_NE(found, nullptr) << name;
    return found;
}

void click(QDialog* dialog, const char* name) {
    auto* button = dialog->findChild<QPushButton*>(QLatin1String(name));
    ASSERT_NE(button, nullptr) << name;
    button->click();
}

// Entries as "ip|user|password" and records as "name|ip|user|password", easy to compare and
// to read in a failure.
QString flatten(const TServerEntry& e) { return QStringList{e.IP, e.USERID, e.PASSWD}.join(u'|'); }

QStringList flatten(const std::vector<RegistryRecord>& records) {
    QStringList out;
    for (const RegistryRecord& r : records) out << r.name + u'|' + flatten(r.entry);
    return out;
}

class ServerCommandsTest : public ServerListFixture {
protected:
    QStringList fileRecords() { return flatten(registry.LoadServerRegistry()); }

    QByteArray fileBytes() const {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    void writeFile(const QByteArray& bytes) {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(bytes);
    }

    // Registers the servers in the file and in the tree, as start-up does.
    void registerServers(const std::vector<RegistryRecord>& records) {
        for (const RegistryRecord& r : records) {
            registry.AppendServerEntry(r.name, r.entry);
            tree.AddServerNode(r.name, r.entry);
        }
    }

    QStringList rootTexts() const {
        QStringList out;
        for (int i = 0; i < widget.topLevelItemCount(); ++i) out << widget.topLevelItem(i)->text(0);
        return out;
    }

};

// A message box never grows taller than the screen: a long list goes to its details.
TEST(LongMessages, AreCutForTheBoxAndKeptWholeInTheDetails) {
    EXPECT_EQ(ui::splitLongMessage(QStringLiteral("short\ntext")).details, QString());
    QStringList many;
    for (int i = 1; i <= 40; ++i) many << QStringLiteral("line %1").arg(i);
    const ui::MessageParts parts = ui::splitLongMessage(many.join(u'\n'));
    EXPECT_EQ(parts.details, many.join(u'\n'));
    EXPECT_EQ(parts.shown.count(u'\n'), 19);
    EXPECT_TRUE(parts.shown.startsWith(QStringLiteral("line 1\nline 2\n")));
    EXPECT_TRUE(parts.shown.endsWith(QStringLiteral("\"Show Details...\".)")));
    const ui::MessageParts wide = ui::splitLongMessage(QString(1000, u'x'));
    EXPECT_EQ(wide.details.size(), 1000);
    EXPECT_LT(wide.shown.size(), 400);
}

TEST(ServerFieldTrim, RemovesOuterBlanksAndControlCharactersOnly) {
    EXPECT_EQ(TrimServerField(QStringLiteral(" \t\r\n\x01 a b\tc\x7f \x1f")),
              QStringLiteral("a b\tc"));
    EXPECT_EQ(TrimServerField(QStringLiteral("\x02\x03  ")), QString());
    EXPECT_EQ(TrimServerField(QStringLiteral("서버")), QStringLiteral("서버"));
}

TEST_F(ServerCommandsTest, NewServerChecksNameHostAndUserInOrderAndRegistersTrimmedValues) {
    registerServers({{QStringLiteral("first"), {QStringLiteral("h0"), QStringLiteral("u0"),
                                                QStringLiteral("p0")}}});
    prompts.onDialog([](QDialog* dialog) {
        EXPECT_EQ(dialog->windowTitle(), QStringLiteral("새 데이터 베이스"));
        QLineEdit* name = edit(dialog, "Edit4");
        QLineEdit* host = edit(dialog, "Edit1");
        QLineEdit* user = edit(dialog, "Edit2");
        QLineEdit* password = edit(dialog, "Edit3");
        EXPECT_EQ(dialog->focusWidget(), name);
        EXPECT_EQ(password->echoMode(), QLineEdit::Password);

        // Each failed check keeps the dialog open and puts the focus in the field.
        name->setText(QStringLiteral("  \t "));
        host->setText(QStringLiteral(" h "));
        user->setText(QStringLiteral(" u "));
        password->setFocus();
        click(dialog, "BitBtn1");
        EXPECT_TRUE(dialog->isVisible());
        EXPECT_EQ(dialog->focusWidget(), name);

        name->setText(QStringLiteral(" 새 서버\x01"));
        host->setText(QStringLiteral("\r\n"));
        click(dialog, "BitBtn1");
        EXPECT_TRUE(dialog->isVisible());
        EXPECT_EQ(dialog->focusWidget(), host);

        host->setText(QStringLiteral(" 10.0.0.1:3307 "));
        user->setText(QStringLiteral(" "));
        click(dialog, "BitBtn1");
        EXPECT_TRUE(dialog->isVisible());
        EXPECT_EQ(dialog->focusWidget(), user);

        // A password of blanks is accepted, blanks and all: trimmed it would not log in.
        user->setText(QStringLiteral("\troot "));
        password->setText(QStringLiteral("  "));
        click(dialog, "BitBtn1");
        EXPECT_FALSE(dialog->isVisible());
        return dialog->result();
    });
    commands.N3Click();

    EXPECT_TRUE(prompts.messages().isEmpty());
    ASSERT_EQ(rootTexts(), (QStringList{"first", "새 서버"}));
    ASSERT_NE(root(1)->serverEntry(), nullptr);
    EXPECT_EQ(root(1)->level(), nlServer);
    EXPECT_EQ(flatten(*root(1)->serverEntry()), QStringLiteral("10.0.0.1:3307|root|  "));
    EXPECT_EQ(fileRecords(), (QStringList{"first|h0|u0|p0", "새 서버|10.0.0.1:3307|root|  "}));
}

TEST_F(ServerCommandsTest, NewServerAsksBeforeRegisteringANameTwice) {
    registerServers({{QStringLiteral("twin"), {QStringLiteral("h"), QStringLiteral("u"),
                                               QStringLiteral("p")}}});
    prompts.answerOkCancel(false);
    prompts.answerOkCancel(true);
    prompts.onDialog([this](QDialog* dialog) {
        edit(dialog, "Edit4")->setText(QStringLiteral(" twin "));
        edit(dialog, "Edit1")->setText(QStringLiteral("h2"));
        edit(dialog, "Edit2")->setText(QStringLiteral("u"));
        click(dialog, "BitBtn1");  // Cancel: the dialog stays, its fields kept
        EXPECT_TRUE(dialog->isVisible());
        EXPECT_EQ(dialog->focusWidget(), edit(dialog, "Edit4"));
        EXPECT_EQ(edit(dialog, "Edit1")->text(), QStringLiteral("h2"));
        EXPECT_EQ(prompts.shown().back().caption, QStringLiteral("Register Notice"));
        EXPECT_TRUE(prompts.shown().back().text.contains(QStringLiteral("\"twin\"")));
        click(dialog, "BitBtn1");  // OK: registered all the same
        return dialog->result();
    });
    commands.N3Click();
    EXPECT_EQ(rootTexts(), (QStringList{"twin", "twin"}));
    EXPECT_EQ(fileRecords(), (QStringList{"twin|h|u|p", "twin|h2|u|"}));
}

TEST_F(ServerCommandsTest, NewServerCancelledChangesNothing) {
    prompts.onDialog([](QDialog* dialog) {
        edit(dialog, "Edit4")->setText(QStringLiteral("s"));
        edit(dialog, "Edit1")->setText(QStringLiteral("h"));
        edit(dialog, "Edit2")->setText(QStringLiteral("u"));
        click(dialog, "BitBtn2");
        EXPECT_FALSE(dialog->isVisible());
        return dialog->result();
    });
    commands.N3Click();
    EXPECT_TRUE(rootTexts().isEmpty());
    EXPECT_FALSE(QFile::exists(path));
    EXPECT_TRUE(prompts.messages().isEmpty());
}

TEST_F(ServerCommandsTest, NewServerThatCannotBeWrittenSaysWhyAndLeavesNoNode) {
    // A directory where the file should be: the append cannot open it.
    ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("HostInfor.Dat")));
    prompts.onDialog([](QDialog* dialog) {
        edit(dialog, "Edit4")->setText(QStringLiteral("s"));
        edit(dialog, "Edit1")->setText(QStringLiteral("h"));
        edit(dialog, "Edit2")->setText(QStringLiteral("u"));
        click(dialog, "BitBtn1");
        return dialog->result();
    });
    commands.N3Click();
    ASSERT_EQ(prompts.messages().size(), 1);
    EXPECT_TRUE(prompts.messages()[0].startsWith("Server Registration Error\nCannot "))
        << prompts.messages()[0].toStdString();
    EXPECT_TRUE(rootTexts().isEmpty());  // the next start would not know it
}

class PropertiesTest : public ServerCommandsTest {
protected:
    void SetUp() override {
        ServerCommandsTest::SetUp();
        registerServers({{QStringLiteral("a"), {QStringLiteral("ha"), QStringLiteral("ua"),
                                                QStringLiteral("pa")}},
                         {QStringLiteral("b"), {QStringLiteral("hb"), QStringLiteral("ub"),
                                                QStringLiteral("pb")}},
                         {QStringLiteral("c"), {QStringLiteral("hc"), QStringLiteral("uc"),
                                                QStringLiteral("pc")}}});
    }
};

TEST_F(PropertiesTest, SaveMovesTheServerToTheEndWithTheEditedValuesInNodeAndFile) {
    // The server's folders go with the old node.
    root(1)->addChild(new TreeNode(QStringLiteral("DB"), TNodeData{nlDbFolder, {}}));
    select(root(1));
    prompts.onDialog([](QDialog* dialog) {
        EXPECT_EQ(dialog->windowTitle(), QStringLiteral("Server Properties"));
        EXPECT_EQ(edit(dialog, "Edit1")->text(), QStringLiteral("b"));
        EXPECT_EQ(edit(dialog, "Edit2")->text(), QStringLiteral("hb"));
        EXPECT_EQ(edit(dialog, "Edit3")->text(), QStringLiteral("ub"));
        EXPECT_EQ(edit(dialog, "Edit4")->text(), QStringLiteral("pb"));
        EXPECT_EQ(edit(dialog, "Edit4")->echoMode(), QLineEdit::Password);
        edit(dialog, "Edit1")->setText(QStringLiteral(" b2 "));
        edit(dialog, "Edit2")->setText(QStringLiteral("hb2\t"));
        edit(dialog, "Edit4")->setText(QStringLiteral(" pw "));  // saved as typed
        click(dialog, "BitBtn1");
        EXPECT_FALSE(dialog->isVisible());
        EXPECT_TRUE(qobject_cast<TfrmServer*>(dialog)->Saved());
        return dialog->result();
    });
    commands.Information1Click();

    EXPECT_TRUE(prompts.messages().isEmpty());
    ASSERT_EQ(rootTexts(), (QStringList{"a", "c", "b2"}));
    EXPECT_EQ(root(2)->childCount(), 0);
    ASSERT_NE(root(2)->serverEntry(), nullptr);
    EXPECT_EQ(flatten(*root(2)->serverEntry()), QStringLiteral("hb2|ub| pw "));
    // The record keeps its place in the file.
    EXPECT_EQ(fileRecords(), (QStringList{"a|ha|ua|pa", "b2|hb2|ub| pw ", "c|hc|uc|pc"}));

    // Node and record stay in step: the moved node still finds its record.
    select(root(2));
    prompts.answerOkCancel(true);
    commands.N4Click();
    EXPECT_EQ(rootTexts(), (QStringList{"a", "c"}));
    EXPECT_EQ(fileRecords(), (QStringList{"a|ha|ua|pa", "c|hc|uc|pc"}));
}

// Renaming a server to a name another server has asks first, as New Server does; its own
// name is no question.
TEST_F(PropertiesTest, RenamingToANameInUseAsksFirst) {
    select(root(1));
    prompts.answerOkCancel(false);
    prompts.answerOkCancel(true);
    prompts.onDialog([this](QDialog* dialog) {
        edit(dialog, "Edit1")->setText(QStringLiteral("a"));
        click(dialog, "BitBtn1");  // Cancel: the dialog stays
        EXPECT_TRUE(dialog->isVisible());
        EXPECT_TRUE(prompts.shown().back().text.contains(QStringLiteral("\"a\" is already registered")));
        click(dialog, "BitBtn1");
        return dialog->result();
    });
    commands.Information1Click();
    EXPECT_EQ(rootTexts(), (QStringList{"a", "c", "a"}));
    select(root(2));
    prompts.onDialog([](QDialog* dialog) {
        click(dialog, "BitBtn1");
        return dialog->result();
    });
    commands.Information1Click();
    EXPECT_EQ(rootTexts(), (QStringList{"a", "c", "a"}));
}

// Another window changed the record since this one read the list: Save, Delete and Delete
// Server change nothing, say so, and keep the node.
TEST_F(PropertiesTest, ARecordChangedElsewhereIsReportedAndKeptAsItIs) {
    registry.UpdateServerEntry({QStringLiteral("b"), {QStringLiteral("hb"), QStringLiteral("ub"),
                                                      QStringLiteral("pb")}},
                               QStringLiteral("b"),
                               {QStringLiteral("hb"), QStringLiteral("ub"), QStringLiteral("new")});
    const QByteArray before = fileBytes();
    select(root(1));
    prompts.onDialog([](QDialog* dialog) {
        edit(dialog, "Edit1")->setText(QStringLiteral("renamed"));
        click(dialog, "BitBtn1");
        EXPECT_TRUE(dialog->isVisible());
        click(dialog, "BitBtn2");
        EXPECT_TRUE(dialog->isVisible());
        click(dialog, "BitBtn3");
        return dialog->result();
    });
    commands.Information1Click();
    prompts.answerOkCancel(true);
    commands.N4Click();
    ASSERT_EQ(prompts.messages().size(), 3);
    for (const QString& message : prompts.messages())
        EXPECT_EQ(message, changedElsewhere(QStringLiteral("b")));
    EXPECT_EQ(rootTexts(), (QStringList{"a", "b", "c"}));
    EXPECT_EQ(fileBytes(), before);
}

TEST_F(PropertiesTest, SaveAndDeleteActOnTheRecordOfTheChosenNodeOnly) {
    // A second registration of server a, under another name.
    registerServers({{QStringLiteral("a again"),
                      {QStringLiteral("ha"), QStringLiteral("ua"), QStringLiteral("pa")}}});
    select(root(3));
    prompts.onDialog([](QDialog* dialog) {
        click(dialog, "BitBtn2");
        EXPECT_FALSE(dialog->isVisible());
        EXPECT_FALSE(qobject_cast<TfrmServer*>(dialog)->Saved());
        return dialog->result();
    });
    commands.Information1Click();
    EXPECT_TRUE(prompts.messages().isEmpty());
    EXPECT_EQ(rootTexts(), (QStringList{"a", "b", "c"}));
    EXPECT_EQ(fileRecords(), (QStringList{"a|ha|ua|pa", "b|hb|ub|pb", "c|hc|uc|pc"}));

    // Saving the first of two registrations leaves the second as it was.
    registerServers({{QStringLiteral("a again"),
                      {QStringLiteral("ha"), QStringLiteral("ua"), QStringLiteral("pa")}}});
    select(root(0));
    prompts.onDialog([](QDialog* dialog) {
        edit(dialog, "Edit1")->setText(QStringLiteral("a2"));
        click(dialog, "BitBtn1");
        return dialog->result();
    });
    commands.Information1Click();
    EXPECT_EQ(fileRecords(),
              (QStringList{"a2|ha|ua|pa", "b|hb|ub|pb", "c|hc|uc|pc", "a again|ha|ua|pa"}));
}

TEST_F(PropertiesTest, FailedSaveShowsTheErrorAndKeepsTheDialogOpenUntilClose) {
    select(root(0));
    prompts.onDialog([this](QDialog* dialog) {
        // The file disappears while the dialog is open.
        EXPECT_TRUE(QFile::remove(path));
        edit(dialog, "Edit1")->setText(QStringLiteral("a2"));
        click(dialog, "BitBtn1");
        EXPECT_TRUE(dialog->isVisible());
        click(dialog, "BitBtn2");
        EXPECT_TRUE(dialog->isVisible());
        click(dialog, "BitBtn3");
        EXPECT_FALSE(dialog->isVisible());
        return dialog->result();
    });
    commands.Information1Click();

    const QStringList shown = prompts.messages();
    ASSERT_EQ(shown.size(), 2);
    EXPECT_FALSE(shown[0].isEmpty());
    EXPECT_FALSE(shown.contains(QStringLiteral("Server Information Error")));
    EXPECT_EQ(rootTexts(), (QStringList{"a", "b", "c"}));
    EXPECT_FALSE(QFile::exists(path));
}

TEST_F(PropertiesTest, UnreadableOrUnparsableRegistryIsReportedBeforeTheDialog) {
    select(root(1));
    writeFile("<HOST NAME=\"b\"><IP>hb</IP><USERID>ub</USERID><PASSWD>pb</HOST>");
    commands.Information1Click();
    ASSERT_TRUE(QFile::remove(path));
    commands.Information1Click();
    EXPECT_EQ(prompts.messages(),
              (QStringList{"Server Information Error", "Server Information Error"}));
    EXPECT_EQ(rootTexts(), (QStringList{"a", "b", "c"}));
}

TEST_F(ServerCommandsTest, DeleteServerAsksAndCancelChangesNothing) {
    registerServers({{QStringLiteral("s"), {QStringLiteral("h"), QStringLiteral("u"),
                                            QStringLiteral("p")}}});
    const QByteArray before = fileBytes();
    select(root(0));
    prompts.answerOkCancel(false);
    commands.N4Click();
    ASSERT_EQ(prompts.shown().size(), 1u);
    EXPECT_EQ(prompts.shown()[0].kind, QStringLiteral("okCancel"));
    EXPECT_EQ(prompts.shown()[0].text, kDeleteQuestion + QStringLiteral("\ns"));
    EXPECT_EQ(prompts.shown()[0].caption, QStringLiteral("Delete Notice"));
    EXPECT_EQ(rootTexts(), QStringList{"s"});
    EXPECT_EQ(fileBytes(), before);
}

TEST_F(ServerCommandsTest, DeleteServerOnADuplicateRemovesTheChosenRecordAndNode) {
    const TServerEntry same{QStringLiteral("h"), QStringLiteral("u"), QStringLiteral("p")};
    registerServers({{QStringLiteral("one"), same},
                     {QStringLiteral("other"), {QStringLiteral("h2"), QStringLiteral("u"),
                                                QStringLiteral("p")}},
                     {QStringLiteral("two"), same}});
    root(2)->addChild(new TreeNode(QStringLiteral("DB"), TNodeData{nlDbFolder, {}}));
    select(root(2));
    prompts.answerOkCancel(true);
    commands.DeleteServer1Click();
    EXPECT_TRUE(prompts.messages().isEmpty());
    EXPECT_EQ(rootTexts(), (QStringList{"one", "other"}));
    EXPECT_EQ(fileRecords(), (QStringList{"one|h|u|p", "other|h2|u|p"}));
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
}

TEST_F(ServerCommandsTest, DeleteServerOnAnUnparsableRegistryKeepsNodeAndFile) {
    tree.AddServerNode(QStringLiteral("s"),
                       {QStringLiteral("h"), QStringLiteral("u"), QStringLiteral("p")});
    const QByteArray broken = "<HOST NAME=\"s\"><IP>h</IP><USERID>u</USERID><PASSWD>p</HOST>";
    writeFile(broken);
    select(root(0));
    prompts.answerOkCancel(true);
    commands.N4Click();
    ASSERT_EQ(prompts.messages().size(), 1);
    EXPECT_TRUE(prompts.messages()[0].startsWith("Delete Server Error\nThe server list "))
        << prompts.messages()[0].toStdString();
    EXPECT_EQ(rootTexts(), QStringList{"s"});
    EXPECT_EQ(fileBytes(), broken);
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
}

TEST_F(ServerCommandsTest, CommandsIgnoreNodesOtherThanServers) {
    registerServers({{QStringLiteral("s"), {QStringLiteral("h"), QStringLiteral("u"),
                                            QStringLiteral("p")}}});
    auto* folder = new TreeNode(QStringLiteral("DB"), TNodeData{nlDbFolder, {}});
    root(0)->addChild(folder);
    const QByteArray before = fileBytes();
    select(folder);
    // No question and no dialog: the scripted prompts would fail the test.
    commands.Information1Click();
    commands.N4Click();
    EXPECT_TRUE(prompts.shown().empty());
    EXPECT_EQ(rootTexts(), QStringList{"s"});
    EXPECT_EQ(root(0)->childCount(), 1);
    EXPECT_EQ(fileBytes(), before);

    // Without a selection Properties does nothing and Delete Server reports.
    select(nullptr);
    commands.Information1Click();
    commands.N4Click();
    EXPECT_EQ(prompts.messages(), QStringList{"Delete Server Error"});
    EXPECT_EQ(rootTexts(), QStringList{"s"});
}

}  // namespace

namespace {

TEST_F(ServerCommandsTest, AdvancedSettingsAndWhereThePasswordIsKeptAreRegisteredAndEdited) {
    prompts.onDialog([](QDialog* dialog) {
        // Without a keyring (none runs here) the file is the default, and the dialog says so.
        auto* storage = childNamed<QComboBox>(dialog, "PasswordStorage");
        EXPECT_EQ(storage->currentIndex(), int(PasswordStorage::File));
        EXPECT_TRUE(childNamed<QLabel>(dialog, "StorageNote")->text().contains(QLatin1String("No desktop keyring")));
        EXPECT_FALSE(childNamed<QWidget>(dialog, "TlsMode")->isVisible());  // folded
        childNamed<QToolButton>(dialog, "Advanced")->click();
        EXPECT_TRUE(childNamed<QWidget>(dialog, "TlsMode")->isVisible());
        edit(dialog, "Edit4")->setText(QStringLiteral("srv"));
        edit(dialog, "Edit1")->setText(QStringLiteral("db.internal:3307"));
        edit(dialog, "Edit2")->setText(QStringLiteral("dba"));
        edit(dialog, "Edit3")->setText(QStringLiteral("secret"));
        storage->setCurrentIndex(int(PasswordStorage::Ask));
        EXPECT_FALSE(edit(dialog, "Edit3")->isEnabled());
        childNamed<QComboBox>(dialog, "TlsMode")->setCurrentIndex(int(db::TlsMode::VerifyIdentity));
        edit(dialog, "TlsCa")->setText(QStringLiteral(" /etc/ca.pem "));
        edit(dialog, "SshHost")->setText(QStringLiteral("bastion"));
        childNamed<QSpinBox>(dialog, "SshPort")->setValue(2222);
        edit(dialog, "SshUser")->setText(QStringLiteral("ops"));
        click(dialog, "BitBtn1");
        return dialog->result();
    });
    commands.N3Click();
    std::vector<RegistryRecord> records = registry.LoadServerRegistry();
    ASSERT_EQ(records.size(), 1u);
    const TServerEntry& saved = records[0].entry;
    EXPECT_EQ(flatten(saved), QStringLiteral("db.internal:3307|dba|"));  // the password nowhere
    EXPECT_FALSE(fileBytes().contains("secret"));
    ServerOptions expected;
    expected.password = PasswordStorage::Ask;
    expected.tls = {db::TlsMode::VerifyIdentity, QStringLiteral("/etc/ca.pem"), {}, {}};
    expected.ssh = {QStringLiteral("bastion"), 2222, QStringLiteral("ops"), {}};
    EXPECT_EQ(saved.options, expected);
    ASSERT_EQ(root(0)->serverEntry()->options, expected);

    // Properties shows the settings unfolded and keeps what it does not change; back to the
    // file, the typed password is kept there.
    select(root(0));
    prompts.onDialog([this](QDialog* dialog) {
        EXPECT_TRUE(childNamed<QWidget>(dialog, "TlsMode")->isVisible());
        EXPECT_EQ(edit(dialog, "TlsCa")->text(), QStringLiteral("/etc/ca.pem"));
        // Verifying the CA without its file would verify nothing: not saved, dialog kept.
        auto* mode = childNamed<QComboBox>(dialog, "TlsMode");
        mode->setCurrentIndex(int(db::TlsMode::VerifyCa));
        edit(dialog, "TlsCa")->clear();
        click(dialog, "BitBtn1");
        EXPECT_TRUE(dialog->isVisible());
        EXPECT_TRUE(prompts.messages().join(u'|').contains(QLatin1String("needs a CA file")))
            << prompts.messages().join(u'|').toStdString();
        mode->setCurrentIndex(int(db::TlsMode::VerifyIdentity));
        edit(dialog, "TlsCa")->setText(QStringLiteral("/etc/ca.pem"));
        childNamed<QComboBox>(dialog, "PasswordStorage")->setCurrentIndex(int(PasswordStorage::File));
        edit(dialog, "SshHost")->clear();
        edit(dialog, "Edit4")->setText(QStringLiteral("typed"));
        click(dialog, "BitBtn1");
        return dialog->result();
    });
    commands.Information1Click();
    records = registry.LoadServerRegistry();
    EXPECT_EQ(flatten(records[0].entry), QStringLiteral("db.internal:3307|dba|typed"));
    expected.password = PasswordStorage::File;
    expected.ssh = {};
    EXPECT_EQ(records[0].entry.options, expected);
}

}  // namespace
