#pragma once

#include <QSet>
#include <QString>
#include <QStringList>
#include <QSyntaxHighlighter>
#include <QTextCharFormat>

#include "sqllex/Rules.h"

namespace db {
class Connection;
}

// Colours SQL as the server reads it: keywords, quoted strings, quoted names, numbers and
// comments (--, #, /* */), in the quoting rules of the SQL mode of the panel's connection
// ("..." a name under ANSI_QUOTES). A string, name or comment may span lines; the state at
// a line's end is carried into the next, so only the lines after an edit are coloured again.
class SqlHighlighter : public QSyntaxHighlighter {
    Q_OBJECT

public:
    enum Kind { Keyword, String, QuotedName, Number, Comment, KindCount };

    explicit SqlHighlighter(QTextDocument* document);

    // Built into the program: what a MariaDB 10.x server calls its keywords.
    static const QStringList& builtInKeywords();
    // The server's keywords (information_schema.KEYWORDS, else mysql.help_keyword where the
    // account may read it) together with the built-in ones. One or two queries, on connect.
    static QStringList serverKeywords(db::Connection& connection);
    void setKeywords(const QStringList& words);
    bool isKeyword(QStringView word) const;
    // Colours everything again when the rules change.
    void setRules(sqllex::Rules rules);
    const sqllex::Rules& rules() const { return rules_; }

    const QTextCharFormat& format(Kind kind) const { return formats_[kind]; }

protected:
    void highlightBlock(const QString& text) override;

private:
    QSet<QString> keywords_;  // upper case
    sqllex::Rules rules_;
    QTextCharFormat formats_[KindCount];
};
