#include "sqleditor/SqlHighlighter.h"

#include <QFont>

#include "db/Connection.h"
#include "sqllex/Lexer.h"

namespace {

}  // namespace

SqlHighlighter::SqlHighlighter(QTextDocument* document) : QSyntaxHighlighter(document) {
    formats_[Keyword].setForeground(QColor(0x00, 0x33, 0x99));
    formats_[Keyword].setFontWeight(QFont::Bold);
    formats_[String].setForeground(QColor(0xa3, 0x15, 0x15));
    formats_[QuotedName].setForeground(QColor(0x00, 0x70, 0x70));
    formats_[Number].setForeground(QColor(0x80, 0x00, 0x80));
    formats_[Comment].setForeground(QColor(0x6a, 0x73, 0x7d));
    formats_[Comment].setFontItalic(true);
    setKeywords(builtInKeywords());
}

const QStringList& SqlHighlighter::builtInKeywords() {
    static const QStringList words = QStringLiteral(
        "ACCESSIBLE ACCOUNT ACTION ADD AFTER AGAINST AGGREGATE ALGORITHM ALL ALTER ALWAYS "
        "ANALYZE AND ANY AS ASC ASCII ASENSITIVE AT AUTO_INCREMENT AVG_ROW_LENGTH BACKUP "
        "BEFORE BEGIN BETWEEN BIGINT BINARY BINLOG BIT BLOB BOOL BOOLEAN BOTH BTREE BY "
        "BYTE CACHE CALL CASCADE CASCADED CASE CHAIN CHANGE CHANGED CHAR CHARACTER CHARSET "
        "CHECK CHECKSUM CLOSE COLLATE COLLATION COLUMN COLUMNS COMMENT COMMIT COMMITTED "
        "COMPACT COMPRESSED CONCURRENT CONDITION CONNECTION CONSISTENT CONSTRAINT CONTAINS "
        "CONTINUE CONVERT CREATE CROSS CURRENT CURRENT_DATE CURRENT_ROLE CURRENT_TIME "
        "CURRENT_TIMESTAMP CURRENT_USER CURSOR DATA DATABASE DATABASES DATE DATETIME "
        "DAY DAY_HOUR DAY_MICROSECOND DAY_MINUTE DAY_SECOND DEALLOCATE DEC DECIMAL DECLARE "
        "DEFAULT DEFINER DELAYED DELAY_KEY_WRITE DELETE DESC DESCRIBE DETERMINISTIC "
        "DISABLE DISCARD DISTINCT DISTINCTROW DIV DO DOUBLE DROP DUAL DUMPFILE DUPLICATE "
        "DYNAMIC EACH ELSE ELSEIF ENABLE ENCLOSED END ENGINE ENGINES ENUM ESCAPE ESCAPED "
        "EVENT EVENTS EVERY EXCEPT EXCHANGE EXECUTE EXISTS EXIT EXPLAIN EXTENDED FALSE "
        "FETCH FIELDS FILE FIRST FIXED FLOAT FLUSH FOLLOWS FOR FORCE FOREIGN FORMAT FOUND "
        "FROM FULL FULLTEXT FUNCTION GENERATED GET GLOBAL GRANT GRANTS GROUP HANDLER "
        "HASH HAVING HELP HIGH_PRIORITY HOST HOSTS HOUR HOUR_MICROSECOND HOUR_MINUTE "
        "HOUR_SECOND IDENTIFIED IF IGNORE IMMEDIATE IN INDEX INDEXES INFILE INNER INOUT "
        "INSENSITIVE INSERT INSTALL INT INTEGER INTERSECT INTERVAL INTO INVOKER IS "
        "ISOLATION ITERATE JOIN JSON KEY KEYS KILL LANGUAGE LAST LEADING LEAVE LEFT LEVEL "
        "LIKE LIMIT LINEAR LINES LOAD LOCAL LOCALTIME LOCALTIMESTAMP LOCK LOCKS LOGS LONG "
        "LONGBLOB LONGTEXT LOOP LOW_PRIORITY MASTER MATCH MAXVALUE MEDIUMBLOB MEDIUMINT "
        "MEDIUMTEXT MERGE MICROSECOND MINUTE MINUTE_MICROSECOND MINUTE_SECOND MOD MODE "
        "MODIFIES MODIFY MONTH NAMES NATIONAL NATURAL NEXT NO NONE NOT NO_WRITE_TO_BINLOG "
        "NULL NUMERIC OFFSET ON ONLY OPEN OPTIMIZE OPTION OPTIONALLY OPTIONS OR ORDER OUT "
        "OUTER OUTFILE OVER OWNER PACK_KEYS PARTITION PARTITIONS PASSWORD PERSISTENT "
        "PLUGIN PLUGINS PRECEDES PRECISION PREPARE PRIMARY PRIVILEGES PROCEDURE PROCESS "
        "PROCESSLIST PURGE QUARTER QUERY QUICK RANGE READ READS REAL RECURSIVE REFERENCES "
        "REGEXP RELEASE RELOAD RENAME REPAIR REPEAT REPEATABLE REPLACE REQUIRE RESET "
        "RESIGNAL RESTRICT RETURN RETURNING RETURNS REVOKE RIGHT RLIKE ROLE ROLLBACK "
        "ROLLUP ROUTINE ROW ROWS ROW_FORMAT SAVEPOINT SCHEDULE SCHEMA SCHEMAS SECOND "
        "SECOND_MICROSECOND SECURITY SELECT SENSITIVE SEPARATOR SEQUENCE SERIAL "
        "SERIALIZABLE SESSION SET SHARE SHOW SHUTDOWN SIGNAL SIGNED SIMPLE SLAVE "
        "SMALLINT SNAPSHOT SOME SONAME SPATIAL SPECIFIC SQL SQLEXCEPTION SQLSTATE "
        "SQLWARNING SQL_BIG_RESULT SQL_CALC_FOUND_ROWS SQL_SMALL_RESULT SSL START "
        "STARTING STATEMENT STATUS STOP STORAGE STORED STRAIGHT_JOIN STRING SUBPARTITION "
        "SUPER SYSTEM TABLE TABLES TABLESPACE TEMPORARY TEMPTABLE TERMINATED TEXT THEN "
        "TIME TIMESTAMP TINYBLOB TINYINT TINYTEXT TO TRAILING TRANSACTION TRIGGER "
        "TRIGGERS TRUE TRUNCATE TYPE UNCOMMITTED UNDEFINED UNDO UNION UNIQUE UNKNOWN "
        "UNLOCK UNSIGNED UPDATE USAGE USE USER USING UTC_DATE UTC_TIME UTC_TIMESTAMP "
        "VALUE VALUES VARBINARY VARCHAR VARIABLES VARYING VIEW VIRTUAL WAIT WARNINGS WEEK "
        "WHEN WHERE WHILE WINDOW WITH WITHOUT WORK WRITE XA XOR YEAR YEAR_MONTH ZEROFILL")
        .split(u' ', Qt::SkipEmptyParts);
    return words;
}

QStringList SqlHighlighter::serverKeywords(db::Connection& connection) {
    auto read = [&](const char* query) {
        QStringList words;
        if (connection.query(query)) {
            db::Result r = connection.storeResult();
            while (r && r.next()) words << r.text(0).toUpper();
        }
        return words;
    };
    // The server's full keyword list where it has one; the help tables name only the
    // words that have a help topic (no WHERE, AS or THEN), and an account may not read them.
    QStringList words = read("SELECT WORD FROM information_schema.KEYWORDS");
    if (words.isEmpty()) words = read("SELECT name FROM mysql.help_keyword");
    // The built-in words are always keywords, whatever the server's list lacks.
    words << builtInKeywords();
    words.removeDuplicates();
    return words;
}

void SqlHighlighter::setKeywords(const QStringList& words) {
    QSet<QString> upper;
    for (const QString& w : words) upper.insert(w.toUpper());
    // Each connect hands over the list again: a long script is coloured again only when
    // the words changed.
    if (upper == keywords_) return;
    keywords_ = std::move(upper);
    rehighlight();
}

bool SqlHighlighter::isKeyword(QStringView word) const {
    return keywords_.contains(word.toString().toUpper());
}

void SqlHighlighter::setRules(sqllex::Rules rules) {
    if (rules == rules_) return;
    rules_ = rules;
    rehighlight();
}

void SqlHighlighter::highlightBlock(const QString& text) {
    const int n = int(text.size());
    // Go on from what the line before ended inside.
    sqllex::TextLexer lexer(sqllex::utf16(text), rules_, sqllex::State::unpacked(previousBlockState()));
    for (sqllex::Token t = lexer.next(); t.kind != sqllex::Kind::End; t = lexer.next()) {
        const int begin = int(t.begin);
        const int size = int(t.size());
        const QChar c = text[begin];
        switch (t.kind) {
            case sqllex::Kind::Comment:
            case sqllex::Kind::CodeOpen:
            case sqllex::Kind::CodeClose:
                setFormat(begin, size, formats_[Comment]);
                break;
            case sqllex::Kind::String: setFormat(begin, size, formats_[String]); break;
            case sqllex::Kind::Name: setFormat(begin, size, formats_[QuotedName]); break;
            case sqllex::Kind::Word:
            case sqllex::Kind::Symbol:
                if (c.isDigit() || (c == u'.' && begin + 1 < n && text[begin + 1].isDigit())) {
                    // A number with its fraction and exponent ("12.5", ".5e3").
                    int end = begin + 1;
                    while (end < n && (text[end].isLetterOrNumber() || text[end] == u'.')) ++end;
                    setFormat(begin, end - begin, formats_[Number]);
                    lexer.seek(std::size_t(end));
                } else if (t.kind == sqllex::Kind::Word) {
                    // A name after a dot is a column or table, whatever it is called.
                    const QChar before = begin > 0 ? text[begin - 1] : QChar();
                    if (before != u'.' && before != u'@' && isKeyword(QStringView(text).mid(begin, size)))
                        setFormat(begin, size, formats_[Keyword]);
                }
                break;
            default:
                break;
        }
    }
    setCurrentBlockState(lexer.state().packed());
}
