#pragma once

#include <QString>
#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "sqllex/Rules.h"

class QIODevice;

// Plain SQL scripts, as mysqldump, mariadb-dump and mydumper write them and as people write
// them by hand, cut into statements the way the mariadb command-line client cuts them.
namespace sqllex {

// Reads statements ended by the delimiter in force (";" until a DELIMITER command changes
// it). Quotes (read by `Rules`, which the caller changes between statements as the session's
// SQL mode changes), comments and the code inside conditional comments ("/*!NNNNN ... */",
// "/*M!NNNNN ... */", which the server runs) are told apart as the client tells them, and
// after a statement that sets the client character set to SJIS, CP932, GBK, GB18030 or Big5
// the second byte of a two-byte character is never read as a quote, backslash, delimiter or
// comment. The input is read in pieces, so a file of any size takes the memory of its
// longest statement. A statement longer than the limit (counted as the client sends it,
// with the blanks before its delimiter) is passed over as it is read: only its first
// kSkippedHead bytes are kept, and next() hands them out with skippedLength() set.
class SqlScriptReader {
public:
    // The server accepts no statement longer than its largest max_allowed_packet.
    static constexpr std::size_t kDefaultLimit = std::size_t(1) << 30;

    explicit SqlScriptReader(QIODevice& input, std::size_t limit = kDefaultLimit,
                             Rules rules = {});

    // The quoting rules for the statements read from now on (the client reads each
    // statement in the SQL mode that the statements before it left).
    void setRules(Rules rules);
    const Rules& rules() const { return rules_; }

    // The next statement: without its delimiter, without the blanks and comments in front
    // of it and the blanks after it; comments inside it are kept as written (a routine body
    // keeps its comments). Valid until the next call. False at the end of the input.
    bool next(std::string_view& statement);
    // After next(): 0 when the statement came whole; otherwise it was longer than the limit,
    // `statement` holds only its first bytes, and this is its length in bytes.
    std::uint64_t skippedLength() const { return skippedLength_; }
    // The most bytes the reader's buffers held at once so far.
    std::size_t heldBytes() const { return peak_; }

    // The line (from 1) on which the last statement began.
    qint64 line() const { return statementLine_; }
    // Bytes of the input consumed so far.
    qint64 position() const { return dropped_ + qint64(pos_); }

    // The input could not be read to its end, or a DELIMITER command was longer than the
    // limit; errorString() is a sentence for the user.
    bool failed() const { return !error_.isEmpty(); }
    const QString& errorString() const { return error_; }

    // Asked before each read of the input: true ends the reading there (a signal, Stop),
    // which stopped() then says.
    void stopWhen(std::function<bool()> fn) { stopWhen_ = std::move(fn); }
    bool stopped() const { return stopped_; }

    // The delimiter in force now.
    const std::string& delimiter() const { return delimiter_; }

private:
    // How the client character set splits bytes into characters (Big5 as GBK).
    enum class MultiByte : unsigned char { None, Sjis, Gbk, Gb18030 };
    using Table = std::array<unsigned char, 256>;

    bool fill();
    bool ensure(std::size_t bytes);
    void tooLong();
    void buildTables();
    bool delimiterAt(std::size_t at) const;
    bool skipToStatement();
    bool scanStatement(std::size_t& end);
    void skipQuoted(char quote);
    void skipBlockComment();
    void skipLine();
    void skipCharacter();
    void runCommand(std::size_t wordLength);
    void noteCharacterSet(std::string_view statement);

    std::string_view text() const { return {chunk_.data(), size_}; }

    QIODevice& input_;
    std::size_t limit_;
    std::string chunk_;   // the read buffer; its first size_ bytes hold input
    std::size_t size_ = 0;
    std::size_t pos_ = 0;
    qint64 dropped_ = 0;  // bytes of the input before chunk_
    bool inputEnded_ = false;
    bool stop_ = false;
    bool started_ = false;
    // While a statement or command is read, chunk_ keeps it from `start_` on.
    bool inStatement_ = false;
    // A statement (no command) is read: past the limit it is skipped rather than an error.
    bool skippable_ = false;
    // The statement is past the limit: chunk_ no longer keeps it, head_ has its first bytes.
    bool skipping_ = false;
    std::string head_;
    qint64 skipFrom_ = 0;         // where it began in the input
    std::size_t skipBlanks_ = 0;  // blanks at the end of what was let go of
    std::uint64_t skippedLength_ = 0;
    std::size_t peak_ = 0;
    std::size_t start_ = 0;
    qint64 startLine_ = 0;
    qint64 lineNumber_ = 1;
    qint64 statementLine_ = 0;
    std::string delimiter_ = ";";
    Rules rules_;
    MultiByte multiByte_ = MultiByte::None;
    // User variables that saved the client character set (mysqldump's @saved_cs_client).
    std::vector<std::pair<std::string, MultiByte>> saved_;
    // The bytes that end the fast scan in each state.
    Table code_{}, single_{}, double_{}, backtick_{}, lead_{};
    QString error_;
    std::function<bool()> stopWhen_;
    bool stopped_ = false;
    std::uint64_t reads_ = 0;
};

// The same rules over text in memory (for an editor that runs a script).
struct ScriptStatement {
    std::string text;
    qint64 line = 0;  // its first line, from 1
};
std::vector<ScriptStatement> splitSqlScript(std::string_view text, Rules rules = {});

// The line newer mariadb-dump writes first ("/*M!999999\\- enable the sandbox mode */"): a
// command to its client, not to the server.
bool sandboxCommandAt(std::string_view s);


}  // namespace sqllex
