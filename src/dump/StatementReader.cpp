#include "dump/StatementReader.h"

#include <QIODevice>
#include <algorithm>
#include <array>
#include <cstring>
#include <limits>

#include "dump/DumpFormat.h"

namespace dump {

namespace {

constexpr qint64 kReadSize = qint64(kReadPiece);
constexpr char kCtrlZ = '\x1a';


bool endsWithMarker(std::string_view text) {
    return text.size() >= kMarker.size() && text.substr(text.size() - kMarker.size()) == kMarker;
}

}  // namespace

void StatementReader::Quotes::over(std::string_view text) {
    // Only quotes and backslashes change anything: jumped to with memchr, each byte's next
    // place found again only once it is passed, so that a statement too long to hold is
    // followed at the speed it is read.
    static constexpr char kBytes[] = {'\'', '"', '`', '\\'};
    const char* p = text.data();
    const char* const end = p + text.size();
    const char* next[4] = {};
    const auto find = [&](int i) {
        if (!next[i] || next[i] < p) {
            const void* at = std::memchr(p, kBytes[i], std::size_t(end - p));
            next[i] = at ? static_cast<const char*>(at) : end;
        }
        return next[i];
    };
    while (p < end) {
        const char* at;
        if (escaped) {
            escaped = false;
            ++p;
            continue;
        }
        if (!open) {
            at = std::min({find(0), find(1), find(2)});
            if (at == end) return;
            open = *at;
        } else if (open == '`') {
            at = find(2);
            if (at == end) return;
            open = 0;
        } else {
            // A doubled quote closes and opens again: the same state as before it.
            at = std::min(find(open == '\'' ? 0 : 1), find(3));
            if (at == end) return;
            if (*at == '\\')
                escaped = true;
            else
                open = 0;
        }
        p = at + 1;
    }
}

StatementReader::Quotes StatementReader::pendingQuotes() {
    if (skipping_) return skipQuotes_;
    if (quotesScanned_ < pending_.size()) {
        pendingQuotes_.over(std::string_view(pending_).substr(quotesScanned_));
        quotesScanned_ = pending_.size();
    }
    return pendingQuotes_;
}

void StatementReader::clearPending() {
    pending_.clear();
    pendingQuotes_ = {};
    quotesScanned_ = 0;
}

StatementReader::StatementReader(QIODevice& input, std::size_t limit, bool pastCtrlZ)
    : input_(input),
      limit_(std::clamp<std::size_t>(limit, 1, std::numeric_limits<std::size_t>::max() / 2)),
      pastCtrlZ_(pastCtrlZ) {}

const char* StatementReader::lineEnd(const char* from, const char* end) const {
    const char* cr = static_cast<const char*>(std::memchr(from, '\r', std::size_t(end - from)));
    const char* lineStart = chunk_.data() + pos_;
    const char* limit = cr ? cr : end;
    for (const char* lf = from; (lf = static_cast<const char*>(
                                     std::memchr(lf, '\n', std::size_t(limit - lf))));
         ++lf) {
        if (std::size_t(lf - lineStart) >= kMarker.size() &&
            std::string_view(lf - kMarker.size(), kMarker.size()) == kMarker)
            return lf;
    }
    return cr;
}

std::string_view StatementReader::trim(std::string_view text) {
    while (!text.empty() && isBlankByte(text.front())) text.remove_prefix(1);
    while (!text.empty() && isBlankByte(text.back())) text.remove_suffix(1);
    return text;
}

bool StatementReader::isCommentLine(std::string_view t) {
    static constexpr std::array<std::string_view, 19> prefixes = {
        "# Dump", "# MySQ", "# Tabl", "# Drop", "# Host", "# Serv", "#-----",
        "# dump", "# mysq", "# tabl", "# drop", "# host", "# serv", "# DUMP",
        "# MYSQ", "# TABL", "# DROP", "# HOST", "# SERV"};
    if (t == "#") return true;
    if (t.size() < 6) return false;
    return std::find(prefixes.begin(), prefixes.end(), t.substr(0, 6)) != prefixes.end();
}

// Reads more input behind the unread part; false when nothing more came.
bool StatementReader::fill() {
    if (inputEnded_) return false;
    // Not before the first read: what a Stop right at the start finds is run as far as
    // one piece goes.
    if (stopWhen_ && reads_++ > 0 && stopWhen_()) {
        stopped_ = inputEnded_ = true;
        return false;
    }
    chunk_.erase(0, pos_);
    pos_ = 0;
    const std::size_t old = chunk_.size();
    // A small file is read in one piece of its own size rather than a full buffer.
    qint64 want = kReadSize;
    if (!input_.isSequential()) want = std::clamp<qint64>(input_.bytesAvailable(), 1, kReadSize);
    reserveFor(chunk_, old + std::size_t(want), limit_);
    chunk_.resize(old + std::size_t(want));
    const qint64 n = input_.read(chunk_.data() + old, want);
    if (n < 0) error_ = QStringLiteral("Cannot read the file to its end: %1").arg(input_.errorString());
    chunk_.resize(old + std::size_t(std::max<qint64>(n, 0)));
    if (n <= 0) inputEnded_ = true;
    notePeak();
    // A byte-order mark an editor put at the head of the file is no part of the first line.
    // Only there: an input handed out in small pieces may have passed lines already.
    if (!headSeen_ && (consumed_ > 0 || chunk_.size() >= 3 || inputEnded_)) {
        headSeen_ = true;
        if (consumed_ == 0 && std::string_view(chunk_).starts_with("\xEF\xBB\xBF")) {
            pos_ = 3;
            consumed_ += 3;
        }
    }
    return n > 0;
}

void StatementReader::notePeak() {
    peak_ = std::max(peak_, chunk_.size() + pending_.size() + statement_.size() +
                                cleaned_.size() + decoded_.size() + head_.size() +
                                cut_.head.size());
}

// The line is past the limit with the statement before it: read on without holding it.
void StatementReader::startCut() {
    cutting_ = true;
    cutDone_ = 0;
    cut_.start = pendingQuotes();
    restartCut();
    if (pastCtrlZ_) {
        // The Ctrl-Z are dropped as the line goes by, by the quotes of its raw bytes.
        lineQuotes_ = pendingQuotes();
        lineQuotesSet_ = true;
    }
}

void StatementReader::cutUpTo(std::size_t to) {
    cutPiece(std::string_view(chunk_.data() + pos_ + cutDone_, to - pos_ - cutDone_));
    cutDone_ = to - pos_;
}

void StatementReader::cutPiece(std::string_view s) {
    if (!pastCtrlZ_) {
        cutContent(s);
        return;
    }
    // As next() does for a whole line: dropped where it is damage, kept inside a quoted value.
    while (!s.empty()) {
        const char* z = static_cast<const char*>(std::memchr(s.data(), kCtrlZ, s.size()));
        if (!z) {
            lineQuotes_.over(s);
            cutContent(s);
            return;
        }
        const std::size_t n = std::size_t(z - s.data());
        lineQuotes_.over(s.substr(0, n));
        if (lineQuotes_.open) {
            lineQuotes_.over(s.substr(n, 1));
            cutContent(s.substr(0, n + 1));
        } else {
            if (!ctrlZLine_) ctrlZLine_ = lineNumber_ + 1;
            cutContent(s.substr(0, n));
        }
        s.remove_prefix(n + 1);
    }
}

void StatementReader::restartCut() {
    cut_.head.clear();
    cut_.length = 0;
    cut_.blanks = 0;
    cut_.started = false;
    cut_.leading = false;
    cut_.tail.clear();
    cut_.quotes = cut_.start;
}

// What trim() and withoutLeadingComments() would leave of the line, measured as it goes by.
void StatementReader::cutContent(std::string_view s) {
    while (!s.empty()) {
        const char* lf = nullptr;
        if (!cut_.started || cut_.leading)
            lf = static_cast<const char*>(std::memchr(s.data(), '\n', s.size()));
        if (!lf) break;
        const std::size_t at = std::size_t(lf - s.data());
        cutSpan(s.substr(0, at));
        if (!cut_.started) {  // blanks so far, the LF one more
            s.remove_prefix(at + 1);
            continue;
        }
        if (!cut_.leading) {
            s.remove_prefix(at);
            break;
        }
        // The comment line ends here: it is passed over as a line of its own would be.
        const std::string_view comment =
            std::string_view(cut_.head).substr(0, std::size_t(std::min<std::uint64_t>(cut_.length, cut_.head.size())));
        if (!isCommentLine(comment)) {
            cut_.leading = false;
            s.remove_prefix(at);
            break;
        }
        if (onComment_) onComment_(comment);
        restartCut();
        s.remove_prefix(at + 1);
    }
    cutSpan(s);
}

void StatementReader::cutSpan(std::string_view s) {
    if (!cut_.started) {
        while (!s.empty() && isBlankByte(s.front())) s.remove_prefix(1);
        if (s.empty()) return;
        cut_.started = true;
        cut_.leading = s.front() == '#';
    }
    if (cut_.head.size() < kSkippedHead)
        cut_.head.append(s.substr(0, kSkippedHead - cut_.head.size()));
    std::size_t last = s.size();
    while (last > 0 && isBlankByte(s[last - 1])) --last;
    if (last == 0) {
        cut_.blanks += s.size();
        return;
    }
    if (cut_.blanks) {
        // Any blank byte does to the quotes what one does, and none is part of the marker.
        cut_.quotes.over(" ");
        cut_.length += cut_.blanks;
        cut_.tail.append(std::min(cut_.blanks, kMarker.size()), ' ');
    }
    const std::string_view content = s.substr(0, last);
    cut_.quotes.over(content);
    cut_.length += content.size();
    cut_.tail.append(content.substr(content.size() - std::min(content.size(), kMarker.size())));
    if (cut_.tail.size() > kMarker.size()) cut_.tail.erase(0, cut_.tail.size() - kMarker.size());
    cut_.blanks = s.size() - last;
}

// Lets go of the cut line up to `scanned`, but for the bytes lineEnd() looks back on.
void StatementReader::dropCut(std::size_t scanned) {
    cutUpTo(scanned);
    const std::size_t unread = scanned - pos_;
    const std::size_t drop = unread - std::min(unread, kMarker.size());
    if (drop == 0) return;
    if (!pastCtrlZ_) {
        // The quotes a Ctrl-Z further on is judged by.
        if (!lineQuotesSet_) {
            lineQuotes_ = pendingQuotes();
            lineQuotesSet_ = true;
        }
        if (lineScanned_ < drop) {
            lineQuotes_.over(std::string_view(chunk_.data() + pos_ + lineScanned_, drop - lineScanned_));
            lineScanned_ = drop;
        }
        lineScanned_ -= drop;
    }
    pos_ += drop;
    cutDone_ -= drop;
    consumed_ += qint64(drop);
}

bool StatementReader::nextLine(std::string_view& line) {
    cutting_ = false;
    lineQuotesSet_ = false;
    if (stop_) return false;
    std::size_t searchFrom = pos_;
    // The line from pos_ to `stop`, or what cut_ kept of it.
    const auto take = [&](std::size_t stop) {
        if (!cutting_) return std::string_view(chunk_.data() + pos_, stop - pos_);
        cutUpTo(stop);
        return std::string_view(cut_.head);
    };
    for (;;) {
        const char* begin = chunk_.data() + searchFrom;
        const char* end = chunk_.data() + chunk_.size();
        const char* cr = lineEnd(begin, end);
        const char* z = nullptr;
        if (!pastCtrlZ_) {
            // The first Ctrl-Z outside quotes ends the input; next() drops them otherwise.
            const char* lineStart = chunk_.data() + pos_;
            const char* to = cr ? cr : end;
            for (const char* at = begin; at < to &&
                 (z = static_cast<const char*>(std::memchr(at, kCtrlZ, std::size_t(to - at))));
                 at = z + 1, z = nullptr) {
                if (!lineQuotesSet_) {
                    lineQuotes_ = pendingQuotes();
                    lineQuotesSet_ = true;
                }
                lineQuotes_.over(std::string_view(lineStart + lineScanned_,
                                                  std::size_t(z - lineStart) - lineScanned_));
                lineScanned_ = std::size_t(z - lineStart);
                if (!lineQuotes_.open) break;
            }
            if (z && !ctrlZLine_) ctrlZLine_ = lineNumber_ + 1;
        }
        if (z) {
            const std::size_t stop = std::size_t(z - chunk_.data());
            line = take(stop);
            consumed_ += qint64(stop - pos_) + 1;
            pos_ = chunk_.size();
            stop_ = true;
            ++lineNumber_;
            lineScanned_ = 0;
            return true;
        }
        // A CR at the very end may be the first half of CR LF: read on before deciding.
        if (cr && (cr + 1 < end || inputEnded_)) {
            const std::size_t start = pos_;
            std::size_t stop = std::size_t(cr - chunk_.data());
            std::size_t after = stop + 1;
            if (*cr == '\r' && after < chunk_.size() && chunk_[after] == '\n') ++after;
            line = take(stop);
            consumed_ += qint64(after - start);
            pos_ = after;
            ++lineNumber_;
            lineScanned_ = 0;
            return true;
        }
        const std::size_t scanned = cr ? std::size_t(cr - chunk_.data()) : chunk_.size();
        // Held with what the statement holds already, the line would be past the limit.
        if (!cutting_ && (skipping_ ? 0 : pending_.size()) + (scanned - pos_) > limit_ + kMarker.size())
            startCut();
        if (cutting_) dropCut(scanned);
        // Where the scan got to in the input: fill() moves the unread part to the front, and
        // a byte-order mark it passes over may have been scanned already.
        const qint64 scannedAt = consumed_ + qint64(scanned - pos_);
        const bool more = fill();
        if (stopped_) {
            stop_ = true;
            return false;
        }
        searchFrom = pos_ + std::size_t(std::max<qint64>(scannedAt - consumed_, 0));
        if (more || cr) continue;          // a CR at the end of the input ends its line
        if (pos_ < chunk_.size() || cutting_) {
            // The last line, without a line break.
            line = take(chunk_.size());
            consumed_ += qint64(chunk_.size() - pos_);
            pos_ = chunk_.size();
            ++lineNumber_;
            stop_ = true;
            return true;
        }
        stop_ = true;
        return false;
    }
}

bool StatementReader::skipped(std::string_view trimmed) {
    if (!isCommentLine(trimmed)) return false;
    if (onComment_) onComment_(trimmed);
    return true;
}

std::string_view StatementReader::withoutLeadingComments(std::string_view statement) {
    while (!statement.empty() && statement.front() == '#') {
        const std::size_t lf = statement.find('\n');
        if (lf == std::string_view::npos || !skipped(trim(statement.substr(0, lf)))) break;
        statement = trim(statement.substr(lf + 1));
    }
    return statement;
}

// False for a statement that is nothing once its comment lines are gone.
bool StatementReader::complete(std::string_view& statement) {
    statement = withoutLeadingComments(statement);
    if (statement.empty()) return false;
    if (statement.front() == '#' && decodeHexForm(statement, decoded_)) statement = decoded_;
    return true;
}

// Adds a line to a statement too long to hold, which keeps only its head; true when the
// statement ends with the line.
bool StatementReader::skipAlong(std::string_view t, std::uint64_t length) {
    if (!skipping_) {
        skipQuotes_ = pendingQuotes();
        skipping_ = true;
        skipLine_ = pending_.empty() ? lineNumber_ : pendingLine_;
        head_.assign(pending_, 0, std::min(pending_.size(), kSkippedHead));
        skipLength_ = pending_.size();
        clearPending();
        std::string().swap(pending_);
    }
    if (head_.size() < kSkippedHead) head_.append(t.substr(0, kSkippedHead - head_.size()));
    skipLength_ += length;
    if (cutting_)
        skipQuotes_ = cut_.quotes;
    else
        skipQuotes_.over(t);
    return cutting_ ? cut_.tail == kMarker : endsWithMarker(t);
}

bool StatementReader::next(std::string_view& statement) {
    skippedLength_ = 0;
    std::string_view line;
    while (nextLine(line)) {
        std::string_view t = trim(line);
        std::uint64_t length = t.size();
        // A cut line whose text all fit in its head goes on as any other line (its Ctrl-Z
        // and comment lines already dealt with).
        const bool cut = cutting_;
        if (cutting_ && t.size() == cut_.length) cutting_ = false;
        if (cutting_) {
            length = cut_.length;
        } else if (!cut && pastCtrlZ_ && std::memchr(line.data(), kCtrlZ, line.size())) {
            // Dropped where it is damage, kept inside a quoted value.
            Quotes quotes = pendingQuotes();
            cleaned_.clear();
            for (const char c : line) {
                if (c == kCtrlZ && !quotes.open) {
                    if (!ctrlZLine_) ctrlZLine_ = lineNumber_;
                    continue;
                }
                quotes.over(std::string_view(&c, 1));
                cleaned_ += c;
            }
            t = trim(cleaned_);
            length = t.size();
        }
        // With LF line breaks a comment line and what follows it are one line here.
        if (!t.empty() && t.front() == '#' && std::memchr(t.data(), '\n', t.size())) {
            const std::size_t before = t.size();
            t = withoutLeadingComments(t);
            length -= before - t.size();
        }
        if (cutting_) {
            // Past its head only its first bytes tell a comment line.
            if (t.size() >= 6 && isCommentLine(t.substr(0, 6))) {
                if (onComment_) onComment_(t);
                continue;
            }
        } else if (skipped(t)) {
            continue;
        }
        if (cutting_ || skipping_ ||
            (!t.empty() && pending_.size() + t.size() > limit_ + kMarker.size())) {
            if (!skipAlong(t, length)) continue;
            // Reported with its head, and as long as it would have come whole.
            std::uint64_t whole = skipLength_ - kMarker.size();
            if (head_.size() > whole) head_.resize(std::size_t(whole));
            statement_.swap(head_);
            head_.clear();
            skipping_ = false;
            statement = withoutLeadingComments(statement_);
            whole -= std::size_t(statement.data() - statement_.data());
            if (statement.empty()) continue;
            if (statement.front() == '#' && statement.size() > kHexForm.size()) {
                const std::size_t digits = (statement.size() - kHexForm.size()) / 2 * 2;
                if (decodeHexForm(statement.substr(0, kHexForm.size() + digits), decoded_)) {
                    statement = decoded_;
                    whole = (whole - kHexForm.size()) / 2;
                }
            }
            statementLine_ = lineNumber_;
            skippedLength_ = whole;
            notePeak();
            return true;
        }
        if (pending_.empty()) {
            if (t.empty()) continue;
            pendingLine_ = lineNumber_;
            if (endsWithMarker(t)) {
                // The usual case, one statement on one line: no copy.
                statementLine_ = lineNumber_;
                statement = t.substr(0, t.size() - kMarker.size());
                if (!complete(statement)) continue;
                return true;
            }
        }
        pending_.append(t);
        if (endsWithMarker(t)) {
            statement_ = trim(pending_);
            statement_.resize(statement_.size() - kMarker.size());
            clearPending();
            statementLine_ = lineNumber_;
            statement = statement_;
            notePeak();
            if (!complete(statement)) continue;
            return true;
        }
    }
    if (skipping_) {
        // No marker closed it: the head stands for the text left over.
        pending_.swap(head_);
        head_.clear();
        pendingLine_ = skipLine_;
        skipping_ = false;
    }
    if (pending_.empty()) pendingLine_ = 0;
    return false;
}

}  // namespace dump
