#include "dataset/TableShape.h"

#include <QStringList>
#include <algorithm>
#include <map>

#include "db/Connection.h"
#include "files/SqlBytes.h"

QString TableShape::readOnlyReason() const {
    if (isView) return QStringLiteral("A view's rows are shown read-only.");
    if (!hasKey())
        return QStringLiteral(
            "Read-only: the table has no PRIMARY KEY and no UNIQUE key over NOT NULL columns, "
            "so a change could not be kept to one row.");
    return {};
}

int TableShape::columnNamed(const QString& name) const {
    for (std::size_t i = 0; i < columns.size(); ++i)
        if (columns[i].name.compare(name, Qt::CaseInsensitive) == 0) return int(i);
    return -1;
}

namespace {

QString baseType(const QString& columnType) {
    const int paren = columnType.indexOf(u'(');
    const int blank = columnType.indexOf(u' ');
    int end = columnType.size();
    if (paren >= 0) end = paren;
    if (blank >= 0) end = std::min(end, blank);
    return columnType.left(end).toLower();
}

}  // namespace

QString TableColumn::baseType() const { return ::baseType(columnType); }

bool TableColumn::isNumber() const {
    static const QStringList numbers = {
        QStringLiteral("tinyint"), QStringLiteral("smallint"), QStringLiteral("mediumint"),
        QStringLiteral("int"),     QStringLiteral("integer"),  QStringLiteral("bigint"),
        QStringLiteral("decimal"), QStringLiteral("numeric"),  QStringLiteral("float"),
        QStringLiteral("double"),  QStringLiteral("real"),     QStringLiteral("year")};
    return numbers.contains(baseType());
}

bool TableColumn::isBinary() const {
    const QString base = baseType();
    return base == QLatin1String("binary") || base == QLatin1String("varbinary") ||
           base == QLatin1String("bit") || base.endsWith(QLatin1String("blob"));
}

bool TableShape::transactional() const {
    // Aria and MyISAM keep every statement that ran, whatever ROLLBACK says.
    return engine.compare(QLatin1String("InnoDB"), Qt::CaseInsensitive) == 0 ||
           engine.compare(QLatin1String("RocksDB"), Qt::CaseInsensitive) == 0;
}

bool TableShape::approximate(int column) const {
    const QString base = columns[std::size_t(column)].baseType();
    return base == QLatin1String("float") || base == QLatin1String("double") ||
           base == QLatin1String("real");
}

std::string TableShape::literal(int column, const std::string& bytes,
                                const std::function<std::string(std::string_view)>& quote,
                                bool serverNumber) const {
    const TableColumn& c = columns[std::size_t(column)];
    if (c.isBinary()) {
        std::string hex(2 * bytes.size() + 3, '\'');
        hex[0] = 'X';
        sqlbytes::putHex(hex.data() + 2, bytes);
        return hex;
    }
    if (serverNumber && c.isNumber()) return bytes;
    return quote(bytes);
}

TableShape readTableShape(db::Connection& c, const QString& database, const QString& table) {
    TableShape shape;
    shape.database = database;
    shape.table = table;
    const std::string where = " WHERE TABLE_SCHEMA = " + c.quoteValue(database) +
                              " AND TABLE_NAME = " + c.quoteValue(table);
    {
        db::Result r = c.select(
            "SELECT TABLE_TYPE, TABLE_ROWS, ENGINE FROM information_schema.TABLES" + where);
        if (r.next()) {
            shape.isView = r.text(0) == QLatin1String("VIEW");
            shape.estimatedRows = r.text(1).toULongLong();
            shape.engine = r.text(2);
        }
    }
    {
        db::Result r = c.select(
            "SELECT COLUMN_NAME, COLUMN_TYPE, IS_NULLABLE, EXTRA FROM information_schema.COLUMNS" +
            where + " ORDER BY ORDINAL_POSITION");
        while (r.next()) {
            TableColumn column;
            column.name = r.text(0);
            column.columnType = r.text(1);
            column.nullable = r.text(2) == QLatin1String("YES");
            const QString extra = r.text(3);
            column.generated = extra.contains(QLatin1String("GENERATED"), Qt::CaseInsensitive);
            column.autoIncrement = extra.contains(QLatin1String("auto_increment"), Qt::CaseInsensitive);
            shape.columns.push_back(std::move(column));
        }
    }
    if (shape.isView) return shape;
    struct Candidate {
        std::vector<int> columns;
        bool usable = true;
    };
    std::map<QString, Candidate> unique;  // by name; PRIMARY sorts first of the upper case
    std::vector<QString> order;
    db::Result r = c.select(
        "SELECT INDEX_NAME, COLUMN_NAME, SUB_PART FROM information_schema.STATISTICS" + where +
        " AND NON_UNIQUE = 0 ORDER BY INDEX_NAME = 'PRIMARY' DESC, INDEX_NAME, SEQ_IN_INDEX");
    while (r.next()) {
        const QString name = r.text(0);
        auto [it, added] = unique.try_emplace(name);
        if (added) order.push_back(name);
        const int column = shape.columnNamed(r.text(1));
        // A prefix part cannot order the rows by the key, and a nullable column lets two
        // rows share the key's values.
        if (column < 0 || !r.value(2).isNull() || shape.columns[std::size_t(column)].nullable)
            it->second.usable = false;
        else
            it->second.columns.push_back(column);
    }
    for (const QString& name : order) {
        const Candidate& candidate = unique[name];
        if (!candidate.usable || candidate.columns.empty()) continue;
        shape.key = candidate.columns;
        shape.keyName = name;
        break;
    }
    return shape;
}
