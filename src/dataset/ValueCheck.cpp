#include "dataset/ValueCheck.h"

#include <QDate>
#include <QJsonDocument>
#include <QJsonParseError>
#include <QRegularExpression>

namespace valuecheck {

QStringList members(const QString& columnType) {
    QStringList out;
    const int open = columnType.indexOf(u'(');
    if (open < 0) return out;
    QString current;
    bool inQuote = false;
    for (int i = open + 1; i < columnType.size(); ++i) {
        const QChar c = columnType[i];
        if (inQuote) {
            if (c == u'\'' && i + 1 < columnType.size() && columnType[i + 1] == u'\'') {
                current += u'\'';
                ++i;
            } else if (c == u'\'') {
                inQuote = false;
                out << current;
                current.clear();
            } else if (c == u'\\' && i + 1 < columnType.size()) {
                current += columnType[++i];
            } else {
                current += c;
            }
        } else if (c == u'\'') {
            inQuote = true;
        } else if (c == u')') {
            break;
        }
    }
    return out;
}

bool isEnum(const TableColumn& column) { return column.baseType() == QLatin1String("enum"); }
bool isSet(const TableColumn& column) { return column.baseType() == QLatin1String("set"); }

bool isLongText(const TableColumn& column) {
    const QString base = column.baseType();
    return base.endsWith(QLatin1String("text")) || base == QLatin1String("json");
}

namespace {

// A calendar date, or the zero date some SQL modes allow.
bool realDate(const QString& text) {
    static const QRegularExpression dateEnd(QStringLiteral("[ T]"));
    const QStringList parts = text.section(dateEnd, 0, 0).split(u'-');
    if (parts.size() != 3) return false;
    const int y = parts[0].toInt(), m = parts[1].toInt(), d = parts[2].toInt();
    return (y == 0 && m == 0 && d == 0) || QDate(y, m, d).isValid();
}

}  // namespace

QString problem(const TableColumn& column, const QString& text, bool json) {
    const QString base = column.baseType();
    const QString t = text.trimmed();
    static const QRegularExpression integer(QStringLiteral("^[+-]?\\d+$"));
    static const QRegularExpression decimal(QStringLiteral("^[+-]?(\\d+\\.?\\d*|\\.\\d+)([eE][+-]?\\d+)?$"));
    static const QRegularExpression date(QStringLiteral("^\\d{4}-\\d{1,2}-\\d{1,2}$"));
    static const QRegularExpression dateTime(
        QStringLiteral("^\\d{4}-\\d{1,2}-\\d{1,2}[ T]\\d{1,2}:\\d{1,2}(:\\d{1,2}(\\.\\d{1,6})?)?$"));
    static const QRegularExpression time(QStringLiteral("^-?\\d{1,3}:\\d{1,2}(:\\d{1,2}(\\.\\d{1,6})?)?$"));
    static const QStringList integers = {QStringLiteral("tinyint"), QStringLiteral("smallint"),
                                         QStringLiteral("mediumint"), QStringLiteral("int"),
                                         QStringLiteral("integer"), QStringLiteral("bigint"),
                                         QStringLiteral("year")};
    if (integers.contains(base)) {
        if (!integer.match(t).hasMatch()) return QStringLiteral("%1 takes a whole number.").arg(column.name);
        if (column.columnType.contains(QLatin1String("unsigned")) && t.startsWith(u'-'))
            return QStringLiteral("%1 takes no negative number.").arg(column.name);
    } else if (column.isNumber()) {
        if (!decimal.match(t).hasMatch()) return QStringLiteral("%1 takes a number.").arg(column.name);
    } else if (base == QLatin1String("date")) {
        if (!date.match(t).hasMatch() || !realDate(t))
            return QStringLiteral("%1 takes a date as YYYY-MM-DD.").arg(column.name);
    } else if (base == QLatin1String("datetime") || base == QLatin1String("timestamp")) {
        if ((!dateTime.match(t).hasMatch() && !date.match(t).hasMatch()) || !realDate(t))
            return QStringLiteral("%1 takes a date and time as YYYY-MM-DD hh:mm:ss.").arg(column.name);
    } else if (base == QLatin1String("time")) {
        if (!time.match(t).hasMatch()) return QStringLiteral("%1 takes a time as hh:mm:ss.").arg(column.name);
    } else if (isEnum(column)) {
        if (!members(column.columnType).contains(text))
            return QStringLiteral("%1 takes one of: %2.").arg(column.name, members(column.columnType).join(QStringLiteral(", ")));
    } else if (isSet(column)) {
        const QStringList allowed = members(column.columnType);
        for (const QString& part : text.split(u',', Qt::SkipEmptyParts))
            if (!allowed.contains(part))
                return QStringLiteral("%1 takes members of: %2.").arg(column.name, allowed.join(QStringLiteral(", ")));
    } else if (json || base == QLatin1String("json")) {
        QJsonParseError error;
        // A scalar is valid JSON too: wrapped, so that the parser takes it.
        QJsonDocument::fromJson(QStringLiteral("[%1]").arg(text).toUtf8(), &error);
        if (error.error != QJsonParseError::NoError)
            return QStringLiteral("%1 takes JSON: %2.").arg(column.name, error.errorString());
    }
    return {};
}

}  // namespace valuecheck
