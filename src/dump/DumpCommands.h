#pragma once

#include <QString>

class QWidget;
namespace db {
class Connection;
}
namespace ui {
class Prompts;
}

// The tree's dump and restore commands. They work on the connection the main window hands
// over (its session's main one), and on the names from the node the context menu was opened
// on; the engine's side knows no tree.
class DumpCommands {
public:
    DumpCommands(db::Connection& connection, ui::Prompts& prompts, const QString& programDir,
                 QWidget* parent);

    // "DB Schema / Dump" on a database node.
    void DBSchema1Click(const QString& database);
    // "Table Schema  / Dump" on a table node: the database is the table's grandparent.
    void TableSchema1Click(const QString& database, const QString& table);
    // "Restore" on a database node: asks for a schema file, then opens the restore dialog.
    void Restore1Click(const QString& database);
    // "Import CSV..." on a table node: asks for a text file, then opens the import dialog.
    void ImportCsv1Click(const QString& database, const QString& table);

private:
    void openSchema(int scope, const QString& database, const QString& table,
                    const QString& errorText);

    db::Connection& connection_;
    ui::Prompts& prompts_;
    QString programDir_;
    QWidget* parent_;
};
