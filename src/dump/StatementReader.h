#pragma once

#include <QString>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

class QIODevice;

namespace dump {

// Cuts dump text into statements. A line ends at CR LF, at a lone CR, and at an LF that
// directly follows the marker (a dump whose line breaks a copy turned into LF); any other
// LF is part of the line. A Ctrl-Z inside a quoted value is data and kept; any other Ctrl-Z
// ends the input, or with `pastCtrlZ` is dropped and the reading goes on (this program's
// writer never puts a raw one in a file: one there is damage). Each line is trimmed of blanks and control characters; a lone "#" and the known
// comment lines of dumps are skipped (also where LF line breaks left them at the start of a
// statement); the other lines are joined without separator until a line ends with the
// marker. The input is read in pieces, so a file of any size takes the memory of its longest
// statement. A statement longer than the limit is passed over as it is read, whatever the
// length of its lines: only its first kSkippedHead bytes are kept, and next() hands them
// out with skippedLength() set, so that the memory stays near the limit.
class StatementReader {
public:
    // Which quote is open after a run of statement text: a Ctrl-Z inside a quoted value is
    // data, one outside is damage.
    struct Quotes {
        char open = 0;         // the quote character, 0 outside quotes
        bool escaped = false;  // a backslash inside quotes was the last byte
        void over(std::string_view text);
    };

    // The server accepts no statement longer than its largest max_allowed_packet.
    static constexpr std::size_t kDefaultLimit = std::size_t(1) << 30;

    // `limit`: the longest statement (without its marker) handed out whole. While a
    // statement is read its lines count as they stand, with blanks inside and at their ends,
    // and one in the hex form counts as written.
    explicit StatementReader(QIODevice& input, std::size_t limit = kDefaultLimit,
                             bool pastCtrlZ = false);

    // The next complete statement, trimmed and without its marker (one written in the hex
    // form decoded); valid until the next call. False at the end of the input.
    bool next(std::string_view& statement);
    // After next(): 0 when the statement came whole; otherwise it was longer than the limit,
    // `statement` holds only its first bytes, and this is its length in bytes.
    std::uint64_t skippedLength() const { return skippedLength_; }
    // The most bytes the reader's buffers held at once so far.
    std::size_t heldBytes() const { return peak_; }

    // Called with each comment line the reader skips (trimmed): the row counts and the
    // section lines of a dump are read from there.
    void onComment(std::function<void(std::string_view)> fn) { onComment_ = std::move(fn); }

    // The line (from 1) on which the last statement ended.
    qint64 line() const { return statementLine_; }
    // Bytes of the input consumed so far.
    qint64 position() const { return consumed_; }

    // The first line that holds a Ctrl-Z outside quotes; 0 when none was met.
    qint64 ctrlZLine() const { return ctrlZLine_; }

    // After the end: the text that no marker closed (not a statement), and its first line.
    const std::string& leftover() const { return pending_; }
    qint64 leftoverLine() const { return pendingLine_; }

    // The input could not be read to its end; errorString() is a sentence for the user.
    bool failed() const { return !error_.isEmpty(); }
    const QString& errorString() const { return error_; }

    // Asked before each read of the input: true ends the reading there (a signal, Stop),
    // which stopped() then says.
    void stopWhen(std::function<bool()> fn) { stopWhen_ = std::move(fn); }
    bool stopped() const { return stopped_; }

    // A line the reader skips as a comment (T trimmed).
    static bool isCommentLine(std::string_view trimmed);
    static std::string_view trim(std::string_view text);

private:
    // A line too long to hold while it is read: its first bytes and what the rest was like.
    struct Cut {
        std::string head;         // from its first non-blank byte
        std::uint64_t length = 0; // trimmed, without the Ctrl-Z dropped
        std::size_t blanks = 0;   // blanks behind the last non-blank byte so far
        bool started = false;     // a non-blank byte was met
        std::string tail;         // its last bytes up to the last non-blank one
        Quotes quotes;            // of the statement, over the trimmed line
        Quotes start;             // of the statement before the line
        bool leading = false;     // in a "#" part no LF has ended yet: maybe a comment line
    };

    bool nextLine(std::string_view& line);
    bool fill();
    void startCut();
    void cutUpTo(std::size_t to);
    void cutPiece(std::string_view piece);
    void cutContent(std::string_view piece);
    void cutSpan(std::string_view piece);
    void restartCut();
    void dropCut(std::size_t scanned);
    bool skipAlong(std::string_view trimmed, std::uint64_t length);
    void notePeak();
    // The position of the next line end from `from` (a CR, or an LF right after the marker)
    // in the unread text, or null.
    const char* lineEnd(const char* from, const char* end) const;
    // The statement without comment lines that LF line breaks left in front of it.
    std::string_view withoutLeadingComments(std::string_view statement);
    bool skipped(std::string_view trimmed);
    bool complete(std::string_view& statement);
    // The quotes open at the end of the statement gathered so far.
    Quotes pendingQuotes();
    void clearPending();

    QIODevice& input_;
    std::size_t limit_;
    bool pastCtrlZ_;
    qint64 ctrlZLine_ = 0;
    std::string cleaned_;  // a line without its Ctrl-Z
    std::string chunk_;
    std::size_t pos_ = 0;
    bool inputEnded_ = false;
    bool headSeen_ = false;  // the first bytes were looked at for a byte-order mark  // nothing more to read (end of device or Ctrl-Z seen)
    bool stop_ = false;        // Ctrl-Z reached: no more lines
    qint64 consumed_ = 0;
    qint64 lineNumber_ = 0;
    qint64 statementLine_ = 0;
    std::string pending_;
    qint64 pendingLine_ = 0;
    Quotes pendingQuotes_;            // over pending_ up to quotesScanned_
    std::size_t quotesScanned_ = 0;
    Quotes lineQuotes_;               // over the unread line from pos_ up to lineScanned_
    std::size_t lineScanned_ = 0;
    bool lineQuotesSet_ = false;      // lineQuotes_ holds the state of this line
    // The line being read is too long to hold: read on, keeping only what cut_ says of it.
    bool cutting_ = false;
    std::size_t cutDone_ = 0;         // bytes of the unread line from pos_ already in cut_
    Cut cut_;
    // The statement being read is longer than the limit: only its head is kept.
    bool skipping_ = false;
    std::string head_;
    std::uint64_t skipLength_ = 0;
    qint64 skipLine_ = 0;
    Quotes skipQuotes_;
    std::uint64_t skippedLength_ = 0;
    std::size_t peak_ = 0;
    std::string statement_;
    std::string decoded_;
    std::function<void(std::string_view)> onComment_;
    QString error_;
    std::function<bool()> stopWhen_;
    bool stopped_ = false;
    std::uint64_t reads_ = 0;
};

}  // namespace dump
