#pragma once

#include <QObject>
#include <QString>

class ObjectTree;
class ServerSession;
class QWidget;
namespace ui {
class Prompts;
}

// The database and table commands of the tree's context menus: create and drop databases,
// rename and drop tables, and the table designer for a new or an existing table. Each acts
// on the tree's selected node, which the context menu set to the node it opened on, and
// names the node's database in its statements, so the connection's current database never
// matters. The tree changes only after the server carried the change out.
class DatabaseCommands : public QObject {
    Q_OBJECT
public:
    // `window` owns the message boxes and the designer dialogs.
    DatabaseCommands(ObjectTree& tree, ServerSession& session, ui::Prompts& prompts,
                     QWidget* window);

    // "DB Add" on the databases folder: asks for a name, creates the database and re-lists
    // the folder.
    void Add5Click();
    // "DB Drop" on a database node, after confirmation; clears `contextDb`.
    void Drop1Click(QString& contextDb);
    // "NewTable" on a "Tables" folder: asks for a name, runs the designer in create mode,
    // then re-lists the folder whatever the designer did.
    void NewTable1Click();
    // "Table Properties" on a table node: the designer in alter mode.
    void TableInformation1Click();
    // "Table Rename" on a table node: asks for the new name, renames, re-lists the folder.
    void TableRename1Click();
    // "Table Drop" on a table node, after confirmation; clears `contextTable`.
    void Drop2Click(QString& contextTable);

Q_SIGNALS:
    // The server dropped the database: whatever names it as the current one must forget it.
    void databaseDropped(const QString& name);

private:
    ObjectTree& tree_;
    ServerSession& session_;
    ui::Prompts& prompts_;
    QWidget* window_;
};
