#pragma once

#include <QString>
#include <QStringList>

// The statement typed into the SQL panel, and the words that decide how it runs. The text
// is one statement: it is never split at semicolons.
class SqlText {
public:
    explicit SqlText(const QString& editorText);

    // The editor text without leading and trailing blanks and control characters, and
    // without one final ";".
    const QString& statement() const { return statement_; }
    bool isEmpty() const { return statement_.isEmpty(); }
    // The statement up to and including its first blank (code 32), trimmed; empty when the
    // statement has no blank. Tabs and line breaks do not end the word.
    const QString& firstWord() const { return firstWord_; }

    // SELECT, DESC and SHOW (ASCII letters in any case) run as queries shown in the grid.
    bool isQuery() const;
    bool isSelect() const;
    bool isUse() const;
    // "Use DB : " and the statement from its fifth character on, trimmed.
    QString useDbLabel() const;

    // The statement's lines, for the statement lists that send each line followed by
    // CR LF; empty for an empty statement.
    QStringList lines() const { return splitLines(statement_); }

    // Lines ended by CR, LF or CR LF. A final line break does not start another line.
    static QStringList splitLines(const QString& text);
    // Without leading and trailing characters of code 32 and below.
    static QString trimmed(const QString& text);
    static QString useDbLabelFor(const QString& database);

private:
    bool firstWordIs(const char* word) const;

    QString statement_;
    QString firstWord_;
};
