#include "dump/DumpCommands.h"

#include "dump/DumpFormat.h"
#include "dump/TfrmCsvImport.h"
#include "files/CsvReader.h"
#include "dump/TfrmRestore.h"
#include "dump/TfrmSchema.h"
#include "ui/Prompts.h"

DumpCommands::DumpCommands(db::Connection& connection, ui::Prompts& prompts,
                           const QString& programDir, QWidget* parent)
    : connection_(connection), prompts_(prompts), programDir_(programDir), parent_(parent) {}

void DumpCommands::openSchema(int scope, const QString& database, const QString& table,
                              const QString& errorText) {
    try {
        TfrmSchema dialog(connection_, prompts_, parent_);
        dialog.SetState(scope, database, table, programDir_);
        prompts_.exec(&dialog);
    } catch (const std::exception&) {
        prompts_.message(parent_, errorText);
    }
}

void DumpCommands::DBSchema1Click(const QString& database) {
    openSchema(TfrmSchema::ScopeDatabase, database, QString(),
               QStringLiteral("DataBase Schema Error"));
}

void DumpCommands::TableSchema1Click(const QString& database, const QString& table) {
    openSchema(TfrmSchema::ScopeTable, database, table, QStringLiteral("Table Schema Error"));
}

void DumpCommands::Restore1Click(const QString& database) {
    const QString path = prompts_.openFileName(parent_, QStringLiteral("Open"), programDir_,
                                               QStringLiteral("SQL files (*.sql *.sql.gz)"));
    if (path.isEmpty()) return;
    try {
        TfrmRestore dialog(connection_, prompts_, parent_);
        dialog.LoadScript(path);
        dialog.SetDatabase(database);
        prompts_.exec(&dialog);
    } catch (const dump::DumpError& error) {
        prompts_.message(parent_, QStringLiteral("Restore Error\r\n\r\n") + error.text());
    } catch (const std::exception&) {
        prompts_.message(parent_, QStringLiteral("Restore Error"));
    }
}

void DumpCommands::ImportCsv1Click(const QString& database, const QString& table) {
    const QString path = prompts_.openFileName(
        parent_, QStringLiteral("Import CSV"), programDir_,
        QStringLiteral("Text files (*.csv *.tsv *.txt);;All files (*)"));
    if (path.isEmpty()) return;
    try {
        TfrmCsvImport dialog(connection_, prompts_, parent_);
        dialog.SetTable(database, table);
        dialog.LoadFile(path);
        prompts_.exec(&dialog);
    } catch (const std::runtime_error& error) {
        prompts_.message(parent_, QStringLiteral("Import Error\r\n\r\n") +
                                      QString::fromUtf8(error.what()));
    }
}
