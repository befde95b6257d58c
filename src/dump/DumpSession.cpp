#include "dump/DumpSession.h"

namespace dump {

DumpError notDumpable(std::string_view table) {
    return DumpError(QStringLiteral("The table %1 cannot be dumped: its name, or the name of one "
                                    "of its columns or keys, holds a carriage return or a "
                                    "Ctrl-Z, or a line feed right after \";#+----\", which a "
                                    "dump file cannot carry. Rename it, then dump again.")
                         .arg(QString::fromUtf8(commentText(table))));
}

QString lostConnection(db::Connection& c, const QString& during) {
    return QStringLiteral(
               "The connection to the server was lost while %1: %2\n"
               "No file was written; repeat the dump once the server is back.")
        .arg(during, c.errorText());
}

QString serverError(db::Connection& c, const std::string& statement) {
    if (c.cancelledByUser()) throw Stopped{};
    const QString text = QString::fromUtf8(statement.data(), qsizetype(statement.size()));
    if (c.connectionLost()) return lostConnection(c, QStringLiteral("running \"%1\"").arg(text));
    return QStringLiteral("The server refused \"%1\": %2").arg(text, c.errorText());
}

db::Result selectRows(db::Connection& c, const std::string& statement) {
    if (!c.query(statement)) throw DumpError(serverError(c, statement));
    db::Result result = c.storeResult();
    if (!result) throw DumpError(serverError(c, statement));
    return result;
}

std::string literalOrNull(db::Connection& c, const db::Value& v) {
    return v.isNull() ? std::string("NULL") : c.quoteValue(v.view());
}

std::vector<std::string> namesOf(db::Connection& c, const std::string& query) {
    db::Result r = selectRows(c, query);
    std::vector<std::string> names;
    while (r.next()) names.emplace_back(r.value(0).view());
    return names;
}

std::vector<TableEntry> tablesOf(db::Connection& c, const QString& database) {
    db::Result r = selectRows(c, "SHOW TABLE STATUS FROM " + db::quoteIdentifier(database));
    std::vector<TableEntry> out;
    while (r.next()) {
        TableEntry e;
        e.name = std::string(r.value(0).view());
        e.rows = r.value(4).isNull() ? 0 : r.text(4).toULongLong();
        e.view = r.value(1).isNull() && r.columnCount() > 17 && r.text(17) == QLatin1String("VIEW");
        e.engine = std::string(r.value(1).view());
        out.push_back(std::move(e));
    }
    return out;
}

}  // namespace dump
