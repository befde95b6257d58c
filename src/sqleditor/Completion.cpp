#include "sqleditor/Completion.h"

#include <QRegularExpression>
#include <algorithm>

#include "db/Connection.h"

namespace {

bool isNameChar(QChar c) { return c.isLetterOrNumber() || c == u'_' || c == u'$' || c == u'`'; }

QString unquoted(QString name) {
    if (name.size() >= 2 && name.startsWith(u'`') && name.endsWith(u'`'))
        name = name.mid(1, name.size() - 2).replace(QStringLiteral("``"), QStringLiteral("`"));
    return name;
}

// The statement around the cursor: from the ';' before it to the ';' after it.
QString statementAround(const QString& text, int cursor) {
    const int begin = int(text.lastIndexOf(u';', std::max(cursor - 1, 0))) + 1;
    int end = int(text.indexOf(u';', cursor));
    if (end < 0) end = int(text.size());
    return text.mid(begin, std::max(end - begin, 0));
}

}  // namespace

void Completion::clear() {
    haveDatabases_ = haveTables_ = false;
    databases_.clear();
    tables_.clear();
    columns_.clear();
}

Completion::Request Completion::requestAt(const QString& text, int cursor) {
    Request r;
    int start = std::clamp(cursor, 0, int(text.size()));
    while (start > 0 && isNameChar(text[start - 1])) --start;
    r.start = start;
    r.prefix = unquoted(text.mid(start, cursor - start));
    if (r.prefix.startsWith(u'`')) r.prefix.remove(0, 1);
    if (start > 0 && text[start - 1] == u'.') {
        int q = start - 1;
        while (q > 0 && isNameChar(text[q - 1])) --q;
        r.qualifier = unquoted(text.mid(q, start - 1 - q));
    }
    return r;
}

QHash<QString, QString> Completion::tablesNamed(const QString& text, int cursor) {
    static const QRegularExpression named(
        QStringLiteral("\\b(?:FROM|JOIN|UPDATE|INTO|TABLE|DESC|DESCRIBE)\\s+((?:`[^`]+`|[\\w$]+)"
                       "(?:\\.(?:`[^`]+`|[\\w$]+))?)(?:\\s+(?:AS\\s+)?(`[^`]+`|[\\w$]+))?"),
        QRegularExpression::CaseInsensitiveOption);
    static const QStringList notAlias = {
        QStringLiteral("WHERE"), QStringLiteral("JOIN"),  QStringLiteral("ON"),
        QStringLiteral("SET"),   QStringLiteral("LEFT"),  QStringLiteral("RIGHT"),
        QStringLiteral("INNER"), QStringLiteral("ORDER"), QStringLiteral("GROUP"),
        QStringLiteral("LIMIT"), QStringLiteral("VALUES"), QStringLiteral("USING"),
        QStringLiteral("CROSS"), QStringLiteral("NATURAL"), QStringLiteral("HAVING")};
    QHash<QString, QString> out;
    const QString statement = statementAround(text, cursor);
    for (auto it = named.globalMatch(statement); it.hasNext();) {
        const QRegularExpressionMatch m = it.next();
        QString table = m.captured(1);
        const int dot = int(table.lastIndexOf(QStringLiteral(".")));
        // A qualified name keeps its database: "db.t" is looked up in db.
        const QString bare = unquoted(dot > 0 && !table.endsWith(u'`') ? table.mid(dot + 1)
                                                                        : table);
        QString key = unquoted(table);
        if (dot > 0) key = unquoted(table.left(dot)) + u'.' + unquoted(table.mid(dot + 1));
        out.insert(bare, key);
        const QString alias = unquoted(m.captured(2));
        if (!alias.isEmpty() && !notAlias.contains(alias, Qt::CaseInsensitive))
            out.insert(alias, key);
    }
    return out;
}

QStringList Completion::readNames(const std::string& query) {
    QStringList names;
    if (connection_.query(query)) {
        db::Result r = connection_.storeResult();
        while (r && r.next()) names << r.text(0);
    }
    return names;
}

const QStringList& Completion::databases() {
    if (!haveDatabases_) {
        databases_ = readNames("SHOW DATABASES");
        haveDatabases_ = true;
    }
    return databases_;
}

const QStringList& Completion::tables() {
    const QStringList current = readNames("SELECT DATABASE()");
    const QString database = current.isEmpty() ? QString() : current.first();
    if (!haveTables_ || database != tablesOf_) {
        tables_ = database.isEmpty() ? QStringList() : readNames("SHOW TABLES");
        tablesOf_ = database;
        haveTables_ = true;
    }
    return tables_;
}

const QStringList& Completion::columns(const QString& table) {
    auto it = columns_.find(table);
    if (it != columns_.end()) return *it;
    const int dot = int(table.indexOf(u'.'));
    const std::string schema = dot > 0 ? connection_.quoteValue(table.left(dot)) : "DATABASE()";
    const std::string name = connection_.quoteValue(dot > 0 ? table.mid(dot + 1) : table);
    return *columns_.insert(
        table, readNames("SELECT COLUMN_NAME FROM information_schema.COLUMNS WHERE TABLE_SCHEMA = " +
                         schema + " AND TABLE_NAME = " + name + " ORDER BY ORDINAL_POSITION"));
}

QStringList Completion::candidates(const QString& text, int cursor) {
    const Request r = requestAt(text, cursor);
    const QHash<QString, QString> named = tablesNamed(text, cursor);
    QStringList names;
    if (!r.qualifier.isEmpty()) {
        // "alias." or "table." offers columns; "db." offers that database's tables.
        const auto table = named.find(r.qualifier);
        if (table != named.end()) {
            names = columns(*table);
        } else if (databases().contains(r.qualifier)) {
            names = readNames("SHOW TABLES FROM " + db::quoteIdentifier(r.qualifier));
        } else {
            names = columns(r.qualifier);
        }
    } else {
        for (const QString& table : named) names << columns(table);
        names << tables() << databases();
    }
    auto matching = [&](const QStringList& words) {
        QStringList out;
        for (const QString& w : words)
            if (w.startsWith(r.prefix, Qt::CaseInsensitive) && w != r.prefix) out << w;
        out.removeDuplicates();
        out.sort(Qt::CaseInsensitive);
        return out;
    };
    QStringList out = matching(names);
    if (r.qualifier.isEmpty() && !r.prefix.isEmpty()) out << matching(keywords_);
    return out;
}
