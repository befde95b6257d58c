#include <QLocale>

#include "db/Connection.h"
#include "dump/CsvImport.h"

// What the import and its dialog share besides the run: the table's columns, the mapping
// of the file's columns to them, and the words for the outcome.
namespace dump {

namespace {

QString number(std::uint64_t n) { return QLocale(QLocale::English).toString(qulonglong(n)); }

}  // namespace

std::vector<QString> tableColumns(db::Connection& connection, const QString& database,
                                  const QString& table) {
    db::Result r = connection.select(
        "SELECT COLUMN_NAME FROM information_schema.COLUMNS WHERE TABLE_SCHEMA = " +
        connection.quoteValue(database) + " AND TABLE_NAME = " + connection.quoteValue(table) +
        " ORDER BY ORDINAL_POSITION");
    std::vector<QString> names;
    while (r.next()) names.push_back(r.text(0));
    if (names.empty())
        throw CsvImportError(QStringLiteral("There is no table %1 (or you may not see its "
                                            "columns): choose another table.")
                                 .arg(QString::fromStdString(db::qualifiedName(database, table)))
                                 .toStdString());
    return names;
}

std::vector<int> mapColumns(const std::vector<QString>& header, std::size_t fileColumns,
                            const std::vector<QString>& tableColumns, bool byName) {
    std::vector<int> mapping(fileColumns, -1);
    for (std::size_t i = 0; i < fileColumns; ++i) {
        if (!byName) {
            if (i < tableColumns.size()) mapping[i] = int(i);
            continue;
        }
        if (i >= header.size()) continue;
        for (std::size_t t = 0; t < tableColumns.size(); ++t)
            if (header[i].trimmed().compare(tableColumns[t], Qt::CaseInsensitive) == 0) {
                mapping[i] = int(t);
                break;
            }
    }
    return mapping;
}

QString CsvImportResult::summary() const {
    QString text;
    const QString rows = records == 1 ? QStringLiteral("row") : QStringLiteral("rows");
    if (cancelled) {
        text = rolledBack ? QStringLiteral("Cancelled: nothing was loaded (the import was rolled back).")
                          : QStringLiteral("Cancelled after %1 rows; the table has no "
                                           "transactions, so they stay.")
                                .arg(number(loaded));
        return text;
    }
    if (rolledBack) {
        text = QStringLiteral("Nothing was loaded: %1 of %2 %3 refused, so the import was rolled "
                              "back. Correct those lines, or keep the rows that load.")
                   .arg(number(refused), number(records),
                        records == 1 ? QStringLiteral("row was")
                        : refused == 1 ? QStringLiteral("rows was")
                                       : QStringLiteral("rows were"));
    } else {
        text = QStringLiteral("Loaded %1 of %2 %3").arg(number(loaded), number(records), rows);
        text += refused ? QStringLiteral("; %1 refused:").arg(number(refused)) : QStringLiteral(".");
        if (!transactional && !problems.empty())
            text += QStringLiteral(" (the table has no transactions: the rows that loaded stay)");
    }
    for (const CsvProblem& p : problems)
        text += p.line ? QStringLiteral("\nline %1: %2").arg(p.line).arg(p.reason)
                       : QStringLiteral("\nline unknown (the server did not say): %1").arg(p.reason);
    if (moreProblems) text += QStringLiteral("\n... and %1 more").arg(number(moreProblems));
    return text;
}

}  // namespace dump
