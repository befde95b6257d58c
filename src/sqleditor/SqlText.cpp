#include "sqleditor/SqlText.h"

#include <cstring>

namespace {

bool isBlankOrControl(QChar c) { return c.unicode() <= 32; }

// Case folding by ASCII letters only: QString's case-insensitive compare folds other
// letters too ("ſelect" would match "SELECT").
bool equalsAsciiNoCase(const QString& text, const char* word) {
    const qsizetype length = qsizetype(std::strlen(word));
    if (text.size() != length) return false;
    for (qsizetype i = 0; i < length; ++i) {
        char16_t c = text.at(i).unicode();
        if (c >= u'a' && c <= u'z') c = char16_t(c - u'a' + u'A');
        char16_t w = char16_t(word[i]);
        if (w >= u'a' && w <= u'z') w = char16_t(w - u'a' + u'A');
        if (c != w) return false;
    }
    return true;
}

}  // namespace

SqlText::SqlText(const QString& editorText) {
    statement_ = trimmed(editorText);
    if (statement_.endsWith(u';')) statement_.chop(1);
    const qsizetype blank = statement_.indexOf(u' ');
    if (blank >= 0) firstWord_ = trimmed(statement_.left(blank + 1));
}

QString SqlText::trimmed(const QString& text) {
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && isBlankOrControl(text.at(begin))) ++begin;
    while (end > begin && isBlankOrControl(text.at(end - 1))) --end;
    return text.mid(begin, end - begin);
}

bool SqlText::firstWordIs(const char* word) const { return equalsAsciiNoCase(firstWord_, word); }

bool SqlText::isQuery() const {
    return firstWordIs("SELECT") || firstWordIs("DESC") || firstWordIs("SHOW");
}

bool SqlText::isSelect() const { return firstWordIs("SELECT"); }

bool SqlText::isUse() const { return firstWordIs("USE"); }

QString SqlText::useDbLabel() const { return useDbLabelFor(trimmed(statement_.mid(4))); }

QString SqlText::useDbLabelFor(const QString& database) {
    return QStringLiteral("Use DB : ") + database;
}

QStringList SqlText::splitLines(const QString& text) {
    QStringList lines;
    qsizetype start = 0;
    const qsizetype size = text.size();
    for (qsizetype i = 0; i < size; ++i) {
        const QChar c = text.at(i);
        if (c != u'\r' && c != u'\n') continue;
        lines << text.mid(start, i - start);
        if (c == u'\r' && i + 1 < size && text.at(i + 1) == u'\n') ++i;
        start = i + 1;
    }
    if (start < size) lines << text.mid(start);
    return lines;
}
