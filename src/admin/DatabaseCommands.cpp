#include "admin/DatabaseCommands.h"

#include <QTreeWidget>
#include <memory>

#include "db/Connection.h"
#include "db/Result.h"
#include "designer/TfrmCreateTable.h"
#include "tree/ObjectTree.h"
#include "tree/ServerSession.h"
#include "ui/BusyCursor.h"
#include "ui/Prompts.h"

namespace {

const QString kDropCaption = QStringLiteral("Drop Notice");

TreeNode* selectedAt(ObjectTree& tree, TNodeLevel level) {
    TreeNode* node = tree.selectedNode();
    return node && node->level() == level ? node : nullptr;
}

// Whether the server holds `database`.`table` as a view. Asked when a command runs, since
// the tree may have been listed before the object was replaced; the tree's mark stands
// when the server cannot say.
bool isViewOnServer(db::Connection& connection, const QString& database, TreeNode* table) {
    const std::string statement =
        "SELECT TABLE_TYPE FROM information_schema.TABLES WHERE TABLE_SCHEMA = " +
        connection.quoteValue(database) + " AND TABLE_NAME = " + connection.quoteValue(table->text());
    if (!connection.query(statement)) return table->isView();
    db::Result rows = connection.storeResult();
    if (!rows || !rows.next()) return table->isView();
    return isViewType(rows.text(0));
}


}  // namespace

DatabaseCommands::DatabaseCommands(ObjectTree& tree, ServerSession& session, ui::Prompts& prompts,
                                   QWidget* window)
    : tree_(tree), session_(session), prompts_(prompts), window_(window) {}

void DatabaseCommands::Add5Click() {
    const QString defaultText = QStringLiteral("DataBase Name");
    try {
        const QString name = prompts_.inputBox(
            window_, QStringLiteral("ADD"), QStringLiteral("DB Name을 입력하세요."), defaultText);
        if (name.isEmpty()) {
            prompts_.message(window_, QStringLiteral("추가할 DB명을 써주십시오."));
            return;
        }
        if (name == defaultText) return;
        db::Connection& connection = session_.MainConnection();
        bool created;
        {
            ui::BusyCursor busy;
            created = connection.query("create database " + db::quoteIdentifier(name));
        }
        if (!created) {
            prompts_.message(window_,
                             ui::withReason(QStringLiteral("DB생성 실패!"), connection.errorText()));
            return;
        }
        prompts_.message(window_, QStringLiteral("DB생성 성공!"));
        tree_.RefreshDatabases();
    } catch (const std::exception&) {
        prompts_.message(window_, QStringLiteral("DataBase Add Error"));
    }
}

void DatabaseCommands::Drop1Click(QString& contextDb) {
    try {
        TreeNode* node = selectedAt(tree_, nlDatabase);
        if (!node) return;
        if (!prompts_.okCancel(window_, ui::naming(QStringLiteral("DataBase를 삭제하시겠습니까?"), node->text()),
                               kDropCaption))
            return;
        db::Connection& connection = session_.MainConnection();
        bool dropped;
        {
            ui::BusyCursor busy;
            dropped = connection.query("Drop database " + db::quoteIdentifier(node->text()));
        }
        contextDb.clear();
        if (!dropped) {
            prompts_.message(window_,
                             ui::withReason(QStringLiteral("DB 삭제 실패!"), connection.errorText()));
            return;
        }
        const QString name = node->text();
        delete node;
        Q_EMIT databaseDropped(name);
        prompts_.message(window_, QStringLiteral("DB 삭제 성공!"));
    } catch (const std::exception&) {
        prompts_.message(window_, QStringLiteral("DataBase Drop Error"));
    }
}

void DatabaseCommands::Drop2Click(QString& contextTable) {
    try {
        TreeNode* node = selectedAt(tree_, nlTable);
        TreeNode* database = node ? node->databaseNode() : nullptr;
        if (!node || !database) return;
        db::Connection& connection = session_.MainConnection();
        // A view goes with DROP VIEW, which the server requires, and the question says
        // that it is a view that goes.
        bool view;
        {
            ui::BusyCursor busy;
            view = isViewOnServer(connection, database->text(), node);
        }
        const QString name = ui::qualifiedLabel(database->text(), node->text());
        const QString question = view ? QStringLiteral("Drop this view? Its rows stay in the "
                                                       "tables it reads.")
                                      : QStringLiteral("Table을 삭제하시겠습니까?");
        if (!prompts_.okCancel(window_, ui::naming(question, name), kDropCaption)) return;
        bool dropped;
        {
            ui::BusyCursor busy;
            dropped = connection.query((view ? "DROP VIEW " : "Drop table ") +
                                       db::qualifiedName(database->text(), node->text()));
        }
        contextTable.clear();
        if (!dropped) {
            prompts_.message(window_,
                             ui::withReason(view ? QStringLiteral("The view was not dropped.")
                                                 : QStringLiteral("Table 삭제 실패!"),
                                            connection.errorText()));
            return;
        }
        delete node;
        prompts_.message(window_, view ? QStringLiteral("View dropped.")
                                       : QStringLiteral("Table 삭제 성공!"));
    } catch (const std::exception&) {
        prompts_.message(window_, QStringLiteral("Table Drop Error"));
    }
}

void DatabaseCommands::NewTable1Click() {
    const QString prompt = QStringLiteral("Table Name을 넣어주세요.");
    const QString defaultText = QStringLiteral("New Table");
    // The designer reports its own failures; nothing else here has one worth a message.
    try {
        const QString name =
            prompts_.inputBox(window_, QStringLiteral("New Table"), prompt, defaultText);
        if (name.isEmpty()) {
            prompts_.message(window_, prompt);
            return;
        }
        if (name == defaultText) return;
        // The designer takes the name without blanks at its ends; it says so rather than
        // make a table of another name than the one typed.
        const QString table = name.trimmed();
        if (table != name &&
            !prompts_.okCancel(window_,
                               QStringLiteral("Blanks at the start or end of a table name are "
                                              "dropped: the table will be named \"%1\".")
                                   .arg(table),
                               QStringLiteral("New Table")))
            return;
        TreeNode* folder = selectedAt(tree_, nlTablesFolder);
        TreeNode* database = folder ? folder->parentNode() : nullptr;
        if (!database) return;
        {
            TfrmCreateTable designer(session_.MainConnection(), prompts_, false, database->text(),
                                     table, window_);
            prompts_.exec(&designer);
        }
        tree_.widget().setCurrentItem(folder);
        tree_.RefreshTables();
    } catch (const std::exception&) {
    }
}

void DatabaseCommands::TableInformation1Click() {
    try {
        TreeNode* node = selectedAt(tree_, nlTable);
        TreeNode* database = node ? node->databaseNode() : nullptr;
        if (!database) return;
        db::Connection& connection = session_.MainConnection();
        // The designer alters columns with ALTER TABLE, which a view refuses.
        bool view;
        {
            ui::BusyCursor busy;
            view = isViewOnServer(connection, database->text(), node);
        }
        if (view) {
            prompts_.message(
                window_, ui::naming(QStringLiteral("This is a view: the table designer changes "
                                                   "tables only. Change a view with CREATE OR "
                                                   "REPLACE VIEW in the SQL panel."),
                                    ui::qualifiedLabel(database->text(), node->text())));
            return;
        }
        TfrmCreateTable designer(connection, prompts_, true, database->text(), node->text(),
                                 window_);
        prompts_.exec(&designer);
    } catch (const std::exception&) {
        prompts_.message(window_, QStringLiteral("Table Properties Error"));
    }
}

void DatabaseCommands::TableRename1Click() {
    try {
        TreeNode* node = selectedAt(tree_, nlTable);
        TreeNode* database = node ? node->databaseNode() : nullptr;
        if (!database) return;
        const QString oldName = node->text();
        const QString newName = prompts_.inputBox(window_, QStringLiteral("Table Rename"),
                                                  QStringLiteral("Table Name 변경"), oldName);
        if (newName.isEmpty()) {
            prompts_.message(window_, QStringLiteral("변경할 Table명을 써주십시오."));
            return;
        }
        if (newName == oldName) return;
        db::Connection& connection = session_.MainConnection();
        const bool renamed =
            connection.query("RENAME TABLE " + db::qualifiedName(database->text(), oldName) +
                             " To " + db::qualifiedName(database->text(), newName));
        if (!renamed) {
            prompts_.message(window_, ui::withReason(QStringLiteral("Table ReName 실패!"),
                                                     connection.errorText()));
            return;
        }
        prompts_.message(window_, QStringLiteral("Table ReName 성공!"));
        tree_.widget().setCurrentItem(node->parent());
        tree_.RefreshTables();
    } catch (const std::exception&) {
        prompts_.message(window_, QStringLiteral("Table Schema Error"));
    }
}
