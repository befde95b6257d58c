#include "files/CommaText.h"

#include <algorithm>

namespace commatext {

namespace {

bool isSeparatorBlank(QChar c) { return c.unicode() <= u' '; }

}  // namespace

QStringList split(const QString& text) {
    QStringList items;
    const qsizetype size = text.size();
    qsizetype pos = 0;
    const auto skipBlanks = [&] {
        while (pos < size && isSeparatorBlank(text[pos])) ++pos;
    };

    skipBlanks();
    while (pos < size) {
        QString item;
        if (text[pos] == u'"') {
            // An unterminated quote takes the rest of the text.
            for (++pos; pos < size; ++pos) {
                if (text[pos] == u'"') {
                    if (pos + 1 < size && text[pos + 1] == u'"') {
                        item += u'"';
                        ++pos;
                        continue;
                    }
                    ++pos;
                    break;
                }
                item += text[pos];
            }
        } else {
            const qsizetype start = pos;
            while (pos < size && !isSeparatorBlank(text[pos]) && text[pos] != u',') ++pos;
            item = text.sliced(start, pos - start);
        }
        items.append(item);
        skipBlanks();
        if (pos < size && text[pos] == u',') {
            if (pos == size - 1) items.append(QString());
            ++pos;
            skipBlanks();
        }
    }
    return items;
}

QString joinWithTrailingCommas(const QStringList& items) {
    QString text;
    for (const QString& item : items) {
        const bool quote = std::any_of(item.begin(), item.end(), [](QChar c) {
            return isSeparatorBlank(c) || c == u',' || c == u'"';
        });
        if (quote)
            text += u'"' + QString(item).replace(u'"', QStringLiteral("\"\"")) + u'"';
        else
            text += item;
        text += u',';
    }
    return text;
}

}  // namespace commatext
