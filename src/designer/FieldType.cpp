#include "designer/FieldType.h"

namespace {

qsizetype firstBlank(const QString& text) {
    for (qsizetype i = 0; i < text.size(); ++i)
        if (text[i].isSpace()) return i;
    return -1;
}

}  // namespace

QString typeBase(const QString& typeText) {
    const QString text = typeText.trimmed();
    const qsizetype blank = firstBlank(text);
    return blank < 0 ? text : text.left(blank);
}

QString typeModifiers(const QString& typeText) {
    const QString text = typeText.trimmed();
    const qsizetype blank = firstBlank(text);
    return blank < 0 ? QString() : text.mid(blank).trimmed();
}

FieldType ClassifyType(const QString& typeName) {
    static const QStringList lengthTypes{
        QStringLiteral("tinyint"), QStringLiteral("smallint"), QStringLiteral("mediumint"),
        QStringLiteral("int"),     QStringLiteral("integer"),  QStringLiteral("bigint"),
        QStringLiteral("float"),   QStringLiteral("decimal"),  QStringLiteral("numeric"),
        QStringLiteral("char"),    QStringLiteral("varchar")};
    const QString base = typeBase(typeName).toLower();
    FieldType type;
    type.takesLength = lengthTypes.contains(base);
    // A type typed with its arguments ("varchar(20)", "enum('a')") is named up to the bracket.
    const QString name = base.section(u'(', 0, 0);
    type.isCharacter = name == QLatin1String("char") || name == QLatin1String("varchar");
    static const QStringList stringTypes{QStringLiteral("enum"), QStringLiteral("set"),
                                         QStringLiteral("binary"), QStringLiteral("varbinary")};
    type.quotedDefault = type.isCharacter || stringTypes.contains(name);
    static const QStringList textTypes{QStringLiteral("tinytext"), QStringLiteral("text"),
                                       QStringLiteral("mediumtext"), QStringLiteral("longtext"),
                                       QStringLiteral("enum"), QStringLiteral("set")};
    type.takesCharset = type.isCharacter || textTypes.contains(name);
    type.takesOnUpdate = name == QLatin1String("timestamp") || name == QLatin1String("datetime");
    return type;
}

const QStringList& FieldTypeNames() {
    static const QStringList names{
        QStringLiteral("tinyint"),    QStringLiteral("smallint"),   QStringLiteral("mediumint"),
        QStringLiteral("int"),        QStringLiteral("integer"),    QStringLiteral("bigint"),
        QStringLiteral("real"),       QStringLiteral("double"),     QStringLiteral("float"),
        QStringLiteral("decimal"),    QStringLiteral("numeric"),    QStringLiteral("char"),
        QStringLiteral("varchar"),    QStringLiteral("date"),       QStringLiteral("time"),
        QStringLiteral("timestamp"),  QStringLiteral("datetime"),   QStringLiteral("blob"),
        QStringLiteral("mediumblob"), QStringLiteral("longblob"),   QStringLiteral("tinyblob"),
        QStringLiteral("text"),       QStringLiteral("mediumtext"), QStringLiteral("longtext"),
        QStringLiteral("enum"),       QStringLiteral("set ")};
    return names;
}
