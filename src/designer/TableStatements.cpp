#include "designer/TableStatements.h"

#include <QRegularExpression>

#include "db/Connection.h"
#include "designer/FieldType.h"

namespace {

bool matchesWhole(const QString& text, const QRegularExpression& pattern) {
    return pattern.match(text).hasMatch();
}

// Defaults written without quotes: numbers, hexadecimal numbers, a complete quoted literal
// (as the server shows the defaults of text columns) and the server's constants and default
// functions. A literal may hold backslash escapes (the server shows it's as 'it\'s') only
// while backslashes escape: otherwise 'a\' x ' would end after a\ and go on as SQL.
bool isVerbatimDefault(const QString& text, bool backslashEscapes) {
    static const QRegularExpression number(
        QStringLiteral(R"(^[+-]?(\d+(\.\d*)?|\.\d+)([eE][+-]?\d+)?$|^0x[0-9A-Fa-f]+$)"));
    static const QRegularExpression plainLiteral(QStringLiteral(R"(^'([^'\\]|'')*'$)"));
    static const QRegularExpression escapedLiteral(QStringLiteral(R"(^'([^'\\]|''|\\[\s\S])*'$)"));
    const QRegularExpression& literal = backslashEscapes ? escapedLiteral : plainLiteral;
    static const QRegularExpression keyword(
        QStringLiteral(R"(^(null|true|false|current_timestamp|current_date|current_time|)"
                       R"(current_user|localtime|localtimestamp|now|curdate|curtime|sysdate|)"
                       R"(utc_date|utc_time|utc_timestamp|unix_timestamp|uuid)(\(\d*\))?$)"),
        QRegularExpression::CaseInsensitiveOption);
    return matchesWhole(text, number) || matchesWhole(text, literal) || matchesWhole(text, keyword);
}

std::string join(const std::vector<std::string>& parts, const char* separator) {
    std::string out;
    for (std::size_t i = 0; i < parts.size(); ++i) {
        if (i > 0) out += separator;
        out += parts[i];
    }
    return out;
}

}  // namespace

TableStatements::TableStatements(const db::Connection& connection, QString database, QString table)
    : connection_(connection), database_(std::move(database)), table_(std::move(table)) {}

std::string TableStatements::tableName() const { return db::qualifiedName(database_, table_); }

bool TableStatements::isValidType(const QString& typeText) {
    static const QRegularExpression pattern(QStringLiteral(
        R"(^[A-Za-z][A-Za-z0-9_ ]*(\(([A-Za-z0-9_ ,.]|'([^'\\]|'')*')*\))?[A-Za-z0-9_ ]*$)"));
    return matchesWhole(typeText.trimmed(), pattern);
}

bool TableStatements::isValidSize(const QString& size) {
    static const QRegularExpression pattern(QStringLiteral(R"(^(\d+(\s*,\s*\d+)?)?$)"));
    return matchesWhole(size.trimmed(), pattern);
}

std::string TableStatements::sqlType(const FieldRow& row) const {
    const QString text = row.type.trimmed();
    if (!isValidType(text)) throw InvalidFieldText("invalid type: " + db::utf8(text));
    const bool takesLength = ClassifyType(text).takesLength;
    const QString args = takesLength ? row.size.trimmed() : row.typeArgs;
    if (takesLength && !isValidSize(args))
        throw InvalidFieldText("invalid size: " + db::utf8(args));
    if (args.isEmpty()) return db::utf8(text);
    std::string out = db::utf8(typeBase(text)) + "(" + db::utf8(args) + ")";
    const QString modifiers = typeModifiers(text);
    if (!modifiers.isEmpty()) out += " " + db::utf8(modifiers);
    return out;
}

std::string TableStatements::sqlDefault(const FieldRow& row) const {
    if (ClassifyType(row.type).quotedDefault) return connection_.quoteValue(row.defaultValue);
    const QString value = row.defaultValue.trimmed();
    return isVerbatimDefault(value, !connection_.noBackslashEscapes())
               ? db::utf8(value)
               : connection_.quoteValue(value);
}

std::string TableStatements::createColumn(const FieldRow& row) const {
    std::string out = db::quoteIdentifier(row.field) + " " + sqlType(row) + " ";
    if (row.isAutoIncrement()) out += "auto_increment ";
    out += row.allowsNull() ? "Null " : "Not Null ";
    if (!row.defaultValue.trimmed().isEmpty()) out += "default " + sqlDefault(row) + " ";
    return out;
}

std::string TableStatements::alterColumn(const FieldRow& row) const {
    const std::optional<KeptColumn>& kept = row.kept;
    std::string out = db::quoteIdentifier(row.field) + " " + sqlType(row);
    if (kept && ClassifyType(row.type).takesCharset) {
        if (!kept->charset.isEmpty()) out += " CHARACTER SET " + db::utf8(kept->charset);
        if (!kept->collation.isEmpty()) out += " COLLATE " + db::utf8(kept->collation);
    }
    // A generated column keeps its expression and kind; it takes no default, no
    // AUTO_INCREMENT and no ON UPDATE, and NOT NULL only after the expression.
    if (kept && !kept->generation.isEmpty()) {
        out += " GENERATED ALWAYS AS (" + db::utf8(kept->generation) + ")";
        if (!kept->generationKind.isEmpty()) out += " " + db::utf8(kept->generationKind);
        if (!row.allowsNull()) out += " Not Null ";
        if (!kept->comment.isEmpty()) out += " COMMENT " + connection_.quoteValue(kept->comment);
        return out;
    }
    // A default the user left as it was loaded is written as the server holds it, for the
    // same kind of type: DEFAULT '' and function defaults survive, which the cell cannot say.
    const bool defaultAsLoaded = kept && row.defaultValue == kept->defaultText &&
                                 typeBase(row.type).toLower() == typeBase(kept->type).toLower();
    if (defaultAsLoaded) {
        if (kept->defaultSql) out += " default " + *kept->defaultSql;
    } else if (!row.defaultValue.trimmed().isEmpty()) {
        out += " default " + sqlDefault(row);
    }
    if (!row.allowsNull()) out += " Not Null ";
    if (row.isAutoIncrement()) out += " AUTO_INCREMENT";
    if (kept && !kept->onUpdate.isEmpty() && ClassifyType(row.type).takesOnUpdate)
        out += " ON UPDATE " + db::utf8(kept->onUpdate);
    if (kept && !kept->comment.isEmpty()) out += " COMMENT " + connection_.quoteValue(kept->comment);
    return out;
}

std::string TableStatements::keptColumnsStatement() const {
    return "SELECT COLUMN_NAME, CHARACTER_SET_NAME, COLLATION_NAME, COLUMN_COMMENT, EXTRA, "
           "COLUMN_DEFAULT, GENERATION_EXPRESSION FROM information_schema.COLUMNS "
           "WHERE TABLE_SCHEMA = " +
           connection_.quoteValue(database_) + " AND TABLE_NAME = " +
           connection_.quoteValue(table_);
}

KeptColumn TableStatements::keptFrom(const FieldRow& loaded, const QString& charset,
                                     const QString& collation, const QString& comment,
                                     const QString& extra,
                                     const std::optional<QString>& defaultValue,
                                     bool defaultsAsSql, const QString& generation) const {
    KeptColumn kept;
    // EXTRA names a generated column's kind: "VIRTUAL GENERATED", "STORED GENERATED",
    // "PERSISTENT GENERATED" on older MariaDB.
    static const QRegularExpression generated(
        QStringLiteral(R"(\b(VIRTUAL|STORED|PERSISTENT)\s+GENERATED\b)"),
        QRegularExpression::CaseInsensitiveOption);
    if (const QRegularExpressionMatch m = generated.match(extra);
        m.hasMatch() && !generation.trimmed().isEmpty()) {
        kept.generation = generation.trimmed();
        kept.generationKind = m.captured(1).toUpper();
    }
    kept.type = loaded.type;
    kept.defaultText = loaded.defaultValue;
    kept.charset = charset;
    kept.collation = collation;
    kept.comment = comment;
    static const QRegularExpression onUpdate(QStringLiteral("on update (.+)$"),
                                             QRegularExpression::CaseInsensitiveOption);
    if (const QRegularExpressionMatch m = onUpdate.match(extra); m.hasMatch())
        kept.onUpdate = m.captured(1).trimmed();
    if (defaultValue) {
        if (defaultsAsSql)
            kept.defaultSql = db::utf8(*defaultValue);
        else if (extra.contains(QLatin1String("DEFAULT_GENERATED"), Qt::CaseInsensitive))
            kept.defaultSql = "(" + db::utf8(*defaultValue) + ")";
        else
            kept.defaultSql = connection_.quoteValue(*defaultValue);
    }
    return kept;
}

std::string TableStatements::createTable(const std::vector<FieldRow>& rows) const {
    std::vector<std::string> parts;
    std::vector<std::string> keys;
    for (const FieldRow& row : rows) {
        if (row.field.trimmed().isEmpty()) continue;
        if (row.isPrimary()) keys.push_back(db::quoteIdentifier(row.field));
        parts.push_back(createColumn(row));
    }
    if (!keys.empty()) parts.push_back("Primary Key(" + join(keys, ",") + ")");
    return "Create Table " + tableName() + "(" + join(parts, ",") + ")";
}

std::string TableStatements::addColumn(const FieldRow& row, bool withPrimaryKey) const {
    std::string out = "alter table " + tableName() + " add column " + alterColumn(row);
    if (withPrimaryKey) out += ", Add Primary Key (" + db::quoteIdentifier(row.field) + ")";
    return out;
}

std::string TableStatements::changeColumn(const QString& oldName, const FieldRow& row,
                                          bool withPrimaryKey) const {
    std::string out = "alter table " + tableName() + " change column " +
                      db::quoteIdentifier(oldName) + " " + alterColumn(row);
    if (withPrimaryKey) out += ", Add Primary Key (" + db::quoteIdentifier(row.field) + ")";
    return out;
}

std::string TableStatements::dropColumn(const QString& name) const {
    return "alter table " + tableName() + " drop column " + db::quoteIdentifier(name);
}

std::string TableStatements::addPrimaryKey(const QString& column) const {
    return "alter table " + tableName() + " Add Primary Key (" + db::quoteIdentifier(column) + ")";
}

std::string TableStatements::dropPrimaryKey() const {
    return "alter table " + tableName() + " Drop Primary Key";
}

std::string TableStatements::describe() const { return "desc " + tableName(); }

std::string TableStatements::primaryKeyColumns() const {
    return "SHOW KEYS FROM " + tableName() + " WHERE Key_name = 'PRIMARY'";
}

FieldRow TableStatements::rowFromDesc(const QString& field, const QString& type,
                                      const QString& null, const QString& key,
                                      const QString& defaultValue, const QString& extra) {
    FieldRow row;
    row.key = key;
    row.field = field;
    const qsizetype open = type.indexOf(u'(');
    if (open < 0) {
        row.type = type.trimmed();
    } else {
        // Modifiers follow the closing bracket ("int(10) unsigned"); enum values may hold
        // brackets of their own, so the arguments end at the last one.
        const qsizetype close = type.lastIndexOf(u')');
        const QString base = type.left(open).trimmed();
        const QString args =
            (close > open ? type.mid(open + 1, close - open - 1) : type.mid(open + 1)).trimmed();
        const QString modifiers = close > open ? type.mid(close + 1).trimmed() : QString();
        row.type = modifiers.isEmpty() ? base : base + u' ' + modifiers;
        if (ClassifyType(base).takesLength)
            row.size = args;
        else
            row.typeArgs = args;
    }
    row.defaultValue = defaultValue;
    row.null = null;
    if (extra == QLatin1String("auto_increment")) row.autoIncrement = QStringLiteral("YES");
    return row;
}
