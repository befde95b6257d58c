#pragma once

#include <QElapsedTimer>
#include <functional>
#include <QString>
#include <atomic>
#include <thread>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "db/DbError.h"
#include "db/Result.h"
#include "db/TlsOptions.h"
#include "db/Waiter.h"
#include "sqllex/Rules.h"

struct st_mysql;

namespace db {

// How long a read from or a write to the server may wait before the connection counts as
// lost: long enough for a long ALTER TABLE, short enough that a server that stopped
// answering does not hold the program forever.
inline constexpr unsigned kDefaultNetTimeoutSeconds = 10 * 60;

// One line of SHOW WARNINGS.
struct ServerWarning {
    QString level;  // "Note", "Warning", "Error"
    unsigned code = 0;
    QString message;
};

struct ConnectParams {
    // "host", "host:port" or "[v6addr]:port" (the port wins over `port`), or the path of
    // the server's socket file ("/run/mysqld/mysqld.sock", "unix:PATH")
    QString host;
    QString user;
    QString password;
    QString database;  // empty: none selected
    unsigned port = 0;  // 0: the client library's default
    bool multiStatements = false;
    unsigned netTimeout = kDefaultNetTimeoutSeconds;  // reads and writes, seconds; 0: none
    unsigned connectTimeout = 10;  // seconds to reach the server and log in
    QString label;  // how the busy feedback names the server; empty: the host
    TlsOptions tls;
    // The session may answer LOAD DATA LOCAL INFILE (with loadLocal only). Off, the client
    // library refuses every request of the server for a file.
    bool localInfile = false;
};

// Stops the statement that session `threadId` runs (KILL QUERY), over a connection of its
// own made with `params`; the session stays. Throws DbError when that fails.
void cancelQuery(const ConnectParams& params, unsigned long threadId);

// Owns one MYSQL handle; closed by the destructor. Move-only.
// The handle is lent for each call that waits for the server (connect, query, store, next
// result, ...) to exactly one thread; a call from anywhere else while it is out - another
// thread, or the window's own thread while it waits for the call - is refused with the
// client library's "commands out of sync" error (and asserts in debug builds), never run on
// the busy handle. With a waiter (setWaiter) the call is handed to it, which may run it on
// another thread while the caller's thread goes on painting; without one, calls block.
class Connection {
public:
    Connection() = default;
    Connection(Connection&& other) noexcept;
    Connection& operator=(Connection&& other) noexcept;
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;
    ~Connection();

    // Opens a fresh handle (closing any open one first). Throws DbError carrying the
    // client library's message when the server cannot be reached or refuses the login;
    // the connection is then closed.
    void connect(const ConnectParams& params);
    void close() noexcept;
    bool isOpen() const { return mysql_ != nullptr; }

    // The waiter that runs this connection's blocking calls; null: they block the caller.
    void setWaiter(Waiter* waiter) { waiter_ = waiter; }
    Waiter* waiter() const { return waiter_; }
    // What the last connect() used; what a KILL QUERY for this session connects with.
    const ConnectParams& params() const { return params_; }
    // Asks the waiter to stop the call running on this or another connection of the window
    // (a dialog's Stop button); nothing without a waiter or a running call.
    void cancelRunning() {
        if (waiter_) waiter_->cancel();
    }
    // The last call failed because the user cancelled it (errorText() says after how long).
    bool cancelledByUser() const { return cancelled_; }
    // Runs work that takes long as one blocking call, so the window keeps painting: work
    // without the server (reading files through, flushing one to disk), or many calls of
    // this connection in a row (a script's statements), which `work` then makes directly.
    // Only the latter is `cancellable`: Cancel stops the statement running, and `work` sees
    // waiter()->cancelRequested(). Exceptions of `work` reach the caller.
    void runAside(std::string_view what, const std::function<void()>& work,
                  bool cancellable = false);
    // From any thread: gives the connection up at once, for a server that answers neither
    // the statement nor its cancel. The socket is shut down, so the call blocked on it ends
    // as a lost connection, saying the user gave up on the server; the statement may still
    // run there. Then the connection is closed like one the server dropped.
    void abandonNow();
    bool abandoned() const { return abandoned_.load(); }
    // Stops reading a streamed result before its end: the statement is stopped on the
    // server (KILL QUERY) rather than read to its last row, and the result is freed.
    void abandon(Result& result);

    // Status-returning calls: false (or an empty Result) on failure; the reason is in
    // errorNumber()/errorText(). All are safe on a closed connection.
    bool selectDb(const QString& name);
    bool query(std::string_view statement);
    Result storeResult();
    // query() and storeResult() in one wait: a statement that answers with rows is sent
    // and its rows read in a single hand-off to the waiter. Empty with errorNumber() set
    // when the statement failed; empty with none when it answered no rows.
    Result queryResult(std::string_view statement);
    // The result with at most `limit` rows kept (Result::keepFirst); the rows past them are
    // read from the server and counted, so memory stays bounded whatever the statement returns.
    Result storeResult(std::uint64_t limit);
    Result useResult();
    bool moreResults() const;
    // 0: another result follows; -1: no more results; >0: the next statement failed.
    int nextResult();
    // Reads and frees every result still pending, so the connection is ready for the
    // next statement.
    void discardResults();

    // Multi-statement support for this session, switched without reconnecting. Off unless
    // the connection was opened with it.
    bool setMultiStatements(bool on);
    bool multiStatements() const { return mysql_ && multiStatements_; }
    // The client character set for the session and for escaping ("utf8mb4").
    bool setCharacterSet(const char* name);
    // The session's SQL mode makes backslashes ordinary characters inside quotes (as last
    // reported by the server).
    bool noBackslashEscapes() const;
    // How the server reads quotes in this session now (NO_BACKSLASH_ESCAPES, ANSI_QUOTES),
    // for splitting and colouring SQL as it does. From the status the server sends with each
    // answer; a server that does not report ANSI_QUOTES there has @@sql_mode read after the
    // connect and again, here, after a statement that may have changed it - so ask once its
    // answers are read.
    sqllex::Rules sqlRules();

    // Runs a LOAD DATA LOCAL INFILE statement whose data `source` writes: it fills the
    // buffer it is given and returns the bytes written, 0 at the end of the data and -1 to
    // stop (the statement then fails). Whatever file the server asks for, it gets these
    // bytes and never a file of the client's. `source` runs on the thread that runs the
    // call. Needs a connection opened with localInfile; false as for query().
    using LocalSource = std::function<long(char* buffer, unsigned size)>;
    bool loadLocal(std::string_view statement, const LocalSource& source);

    // Throwing calls: DbError carrying the server's number, message and the statement.
    void exec(std::string_view statement);
    Result select(std::string_view statement);  // a statement that returns rows

    unsigned errorNumber() const;
    // The last call failed because the server went away (isConnectionLost).
    bool connectionLost() const { return isConnectionLost(errorNumber()); }
    QString errorText() const;
    std::string sqlState() const;
    DbError lastError(std::string_view statement = {}) const;
    std::uint64_t affectedRows() const;
    // The rows the last UPDATE matched, changed or not ("Rows matched: n" of its info);
    // affectedRows() counts only those it changed.
    std::optional<std::uint64_t> matchedRows() const;
    // The AUTO_INCREMENT value the last INSERT gave; 0 when it gave none.
    std::uint64_t insertId() const;
    // Warnings of the last statement.
    unsigned warningCount() const;
    // The last statement's warnings as the server words them (SHOW WARNINGS, which itself
    // leaves them in place); nothing when they could not be read. Send nothing in between.
    std::optional<std::vector<ServerWarning>> warnings();

    // Value escaping for this connection's character set and SQL mode; quoteValue adds the
    // single quotes. The only way user text enters a statement as a value.
    std::string escape(std::string_view bytes) const;
    std::string quoteValue(std::string_view bytes) const;
    std::string quoteValue(const QString& text) const;
    // escape() into a caller's buffer of at least 2 * bytes.size() + 1 bytes; returns the
    // length written. For loops that escape millions of values.
    std::size_t escapeTo(char* out, std::string_view bytes) const;

    Result listProcesses();
    QString serverInfo() const;
    QString hostInfo() const;
    // "TLS 1.3, TLS_AES_256_GCM_SHA384" when the connection is encrypted; empty otherwise.
    QString tlsDescription() const;
    // The server's id of this session (as SHOW PROCESSLIST lists it); 0 when closed.
    unsigned long threadId() const;

    st_mysql* handle() const { return mysql_; }

    // Debug builds assert when a call is refused because the handle is lent out: such a call
    // is a fault of the program. Tests that provoke one on purpose switch that off.
    static void setAssertOnBusyHandle(bool on);

private:
    // The handle lent to one thread for one call. take() on the thread that holds it is a
    // call inside that call (work run aside making its statements): it goes on directly.
    class Lease;
    // Takes the handle for a call; true when another call holds it.
    bool leaseBusy();
    // The refusal of a call made while the handle was lent out: kept apart from the state
    // of the call that holds it, which is still running.
    void refuseBusy() const;
    // After a call: a read that timed out is said to be one, not a plain lost connection.
    void explainTimeout();
    void beginCall(bool readsAnswer);
    template <class R, class F>
    R blocking(std::string_view what, R failed, F&& call, bool readsAnswer = false);

    st_mysql* mysql_ = nullptr;
    // Reads @@sql_mode for a server that does not report ANSI_QUOTES in its status.
    void readSqlMode();

    bool multiStatements_ = false;
    bool modeInStatus_ = true;   // the server reports ANSI_QUOTES with each answer
    bool ansiQuotes_ = false;    // otherwise: as @@sql_mode last said
    bool sqlModeStale_ = false;  // a statement since then may have changed it
    Waiter* waiter_ = nullptr;
    std::atomic<bool> lent_{false};       // a call holds the handle
    std::atomic<bool> abandoned_{false};  // abandonNow() shut the socket down
    std::atomic<std::thread::id> holder_{};  // the thread running that call, once it runs
    ConnectParams params_;
    // An error the client library did not give: a call refused or cancelled.
    unsigned ownErrorNumber_ = 0;
    QString ownErrorText_;
    bool cancelled_ = false;
    bool statementCancelled_ = false;
    QElapsedTimer statementClock_;  // since the statement being answered was sent  // the user cancelled the statement being answered
};

// "Cancelled by the user after 4.2 s."
QString cancelledText(qint64 ms);

// Identifier quoting: backticks, an embedded backtick doubled. The only way a name enters
// a statement.
std::string quoteIdentifier(std::string_view name);
std::string quoteIdentifier(const QString& name);
// `db`.`name`
std::string qualifiedName(const QString& database, const QString& name);
// UTF-8 bytes of a text, for building statements.
inline std::string utf8(const QString& text) { return text.toUtf8().toStdString(); }

}  // namespace db
