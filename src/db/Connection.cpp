#include "db/Connection.h"

#include <cstdio>

#include <mysql.h>

#include <QFile>
#include <sys/socket.h>

#include <cstdio>
#include <exception>
#include <optional>
#include <utility>

#include "db/HostPort.h"

namespace db {

namespace {

// Without a limit, an address that drops packets blocks the window for minutes.
constexpr unsigned kConnectTimeoutSeconds = 10;
constexpr unsigned kCancelTimeoutSeconds = 2;
constexpr unsigned kServerLost = 2013;  // the client library's CR_SERVER_LOST

constexpr unsigned kCommandsOutOfSync = 2014;  // the client library's CR_COMMANDS_OUT_OF_SYNC

// Sets the handle's TLS options (the client library keeps copies); nothing when TLS is off.
void applyTls(MYSQL* handle, const TlsOptions& tls) {
    if (tls.mode == TlsMode::Off) return;
    const my_bool enforce = 1;
    mysql_optionsv(handle, MYSQL_OPT_SSL_ENFORCE, &enforce);
    // The client library checks the chain whenever it has a CA file; the host name only
    // with this flag.
    const my_bool verifyHost = tls.mode == TlsMode::VerifyIdentity;
    mysql_optionsv(handle, MYSQL_OPT_SSL_VERIFY_SERVER_CERT, &verifyHost);
    const auto setPath = [handle](mysql_option option, const QString& path) {
        if (!path.isEmpty()) mysql_optionsv(handle, option, QFile::encodeName(path).constData());
    };
    if (tls.mode != TlsMode::Required) setPath(MYSQL_OPT_SSL_CA, tls.caFile);
    setPath(MYSQL_OPT_SSL_CERT, tls.certFile);
    setPath(MYSQL_OPT_SSL_KEY, tls.keyFile);
}

// The name the messages give the server: the caller's label, else the host field.
QString serverName(const ConnectParams& params) {
    return params.label.isEmpty() ? params.host : params.label;
}

QString refusedText() {
    return QStringLiteral(
        "Another command is still running on this server: wait for it to end, or cancel it.");
}

std::atomic<bool> assertOnBusyHandle{true};
// The connection whose last call on this thread was refused because its handle was lent out.
thread_local const Connection* refusedHere = nullptr;

}  // namespace

// Gives the handle back when the call that took it ends, also by an exception.
class Connection::Lease {
public:
    explicit Lease(Connection& c) : c_(c) {}
    ~Lease() {
        c_.holder_.store(std::thread::id());
        c_.lent_.store(false);
    }
    Lease(const Lease&) = delete;
    Lease& operator=(const Lease&) = delete;
    // Marks the running thread as the holder: calls it makes inside the call go on directly.
    void hold() { c_.holder_.store(std::this_thread::get_id()); }
    void release() { c_.holder_.store(std::thread::id()); }

private:
    Connection& c_;
};

void Connection::setAssertOnBusyHandle(bool on) { assertOnBusyHandle.store(on); }

bool Connection::leaseBusy() {
    bool expected = false;
    return !lent_.compare_exchange_strong(expected, true);
}

void Connection::refuseBusy() const {
    refusedHere = this;
    Q_ASSERT_X(!assertOnBusyHandle.load(), "db::Connection",
               "a call was made while the handle is lent to another call");
}

Connection::Connection(Connection&& other) noexcept
    : mysql_(std::exchange(other.mysql_, nullptr)),
      multiStatements_(std::exchange(other.multiStatements_, false)),
      modeInStatus_(other.modeInStatus_),
      ansiQuotes_(other.ansiQuotes_),
      sqlModeStale_(other.sqlModeStale_),
      waiter_(std::exchange(other.waiter_, nullptr)),
      params_(std::move(other.params_)) {}

Connection& Connection::operator=(Connection&& other) noexcept {
    if (this != &other) {
        close();
        mysql_ = std::exchange(other.mysql_, nullptr);
        multiStatements_ = std::exchange(other.multiStatements_, false);
        modeInStatus_ = other.modeInStatus_;
        ansiQuotes_ = other.ansiQuotes_;
        sqlModeStale_ = other.sqlModeStale_;
        waiter_ = std::exchange(other.waiter_, nullptr);
        params_ = std::move(other.params_);
    }
    return *this;
}

// Every call that waits for the server comes through here. `failed` is what the call
// returns when the waiter refuses it because another call is running. `readsAnswer`: the
// call reads the answer of the statement sent before (results, rows), where a cancel of
// that statement often shows: the server may send the columns, then the interruption.
// A call starts with no error of its own; one that sends a statement starts its clock.
void Connection::beginCall(bool readsAnswer) {
    ownErrorNumber_ = 0;
    ownErrorText_.clear();
    cancelled_ = false;
    if (!readsAnswer) {
        statementCancelled_ = false;
        statementClock_.start();
    }
}

template <class R, class F>
R Connection::blocking(std::string_view what, R failed, F&& call, bool readsAnswer) {
    // A statement that ended on its own before the cancel arrived keeps its outcome.
    const auto noteCancel = [this] {
        if (statementCancelled_ && mysql_ && mysql_errno(mysql_) != 0 &&
            !isConnectionLost(mysql_errno(mysql_))) {
            cancelled_ = true;
            ownErrorNumber_ = mysql_errno(mysql_);
            ownErrorText_ = cancelledText(statementClock_.elapsed());
        }
    };
    // A call inside the call that holds the handle, on its thread (work run aside): made
    // here, with no hand-off of its own. A cancel of that work stops the statement running
    // now, which then reads as the user's cancel, as a call of its own would.
    if (holder_.load() == std::this_thread::get_id()) {
        beginCall(readsAnswer);
        R out = call();
        if (waiter_ && waiter_->cancelRequested()) statementCancelled_ = true;
        noteCancel();
        return out;
    }
    if (leaseBusy()) {
        refuseBusy();
        return failed;
    }
    Lease lease(*this);
    if (refusedHere == this) refusedHere = nullptr;
    beginCall(readsAnswer);
    R out = std::move(failed);
    const auto leased = [&] {
        lease.hold();
        out = call();
        lease.release();
    };
    if (!waiter_) {
        leased();
        explainTimeout();
        return out;
    }
    const Waiter::Outcome outcome = waiter_->run(*this, what, leased, true);
    // A call refused while this one ran said so to its caller; this one keeps its outcome.
    if (refusedHere == this) refusedHere = nullptr;
    if (abandoned_.load()) {
        ownErrorNumber_ = kServerLost;
        ownErrorText_ = QStringLiteral(
            "Disconnected: the server answered neither the statement nor the cancel, so the "
            "connection was given up. The statement may still be running there, or may have "
            "been applied; connect again to go on.");
        return out;
    }
    if (outcome == Waiter::Outcome::Refused) {
        ownErrorNumber_ = kCommandsOutOfSync;
        ownErrorText_ = refusedText();
        return out;
    }
    if (outcome == Waiter::Outcome::Cancelled) statementCancelled_ = true;
    noteCancel();
    explainTimeout();
    return out;
}

void Connection::explainTimeout() {
    if (!mysql_ || ownErrorNumber_ || mysql_errno(mysql_) != kServerLost || params_.netTimeout == 0)
        return;
    // The client library words a read that timed out as a lost connection, which reads as
    // "nothing happened" - a write may well have gone through.
    if (statementClock_.elapsed() + 500 < qint64(params_.netTimeout) * 1000) return;
    ownErrorNumber_ = kServerLost;
    ownErrorText_ = QStringLiteral("No answer from the server within %1 s; the statement may "
                                   "still be running or may have been applied.")
                        .arg(params_.netTimeout);
}

Connection::~Connection() { close(); }

void Connection::connect(const ConnectParams& params) {
    close();
    MYSQL* handle = mysql_init(nullptr);
    if (!handle) throw DbError(2008, "HY000", "The client library ran out of memory.");

    const HostPort hp = parseHostPort(params.host);
    if (!hp.valid) {
        mysql_close(handle);
        if (params.host.startsWith(QLatin1String("unix:")))
            throw DbError(2005, "HY000",
                          "No socket file after \"unix:\": write unix:/path/to/mysqld.sock.");
        throw DbError(2005, "HY000",
                      "Invalid port in host \"" + utf8(params.host) +
                          "\": use host, host:port or [address]:port with a port from 1 to "
                          "65535.");
    }
    if (const QString problem = tlsSettingsProblem(params.tls); !problem.isEmpty()) {
        mysql_close(handle);
        throw DbError(2026, "HY000",
                      utf8(QStringLiteral("Not connected to %1: %2").arg(serverName(params), problem)));
    }
    mysql_optionsv(handle, MYSQL_SET_CHARSET_NAME, "utf8mb4");
    applyTls(handle, params.tls);
    const std::string socket = QFile::encodeName(hp.socket).toStdString();
    if (!socket.empty()) {
        unsigned protocol = MYSQL_PROTOCOL_SOCKET;
        mysql_optionsv(handle, MYSQL_OPT_PROTOCOL, &protocol);
    }
    // The client library sends "localhost" to its local socket whatever the port; a port in
    // the host field means that port, over TCP.
    if (hp.port && hp.host.compare(QLatin1String("localhost"), Qt::CaseInsensitive) == 0) {
        unsigned protocol = MYSQL_PROTOCOL_TCP;
        mysql_optionsv(handle, MYSQL_OPT_PROTOCOL, &protocol);
    }
    // The client library's default may answer a server's request for any file; only the
    // connections that ask for it answer, and then only with the data loadLocal gives.
    unsigned localInfile = params.localInfile ? 1 : 0;
    mysql_optionsv(handle, MYSQL_OPT_LOCAL_INFILE, &localInfile);
    unsigned timeout = params.connectTimeout ? params.connectTimeout : kConnectTimeoutSeconds;
    mysql_optionsv(handle, MYSQL_OPT_CONNECT_TIMEOUT, &timeout);
    if (params.netTimeout > 0) {
        unsigned net = params.netTimeout;
        mysql_optionsv(handle, MYSQL_OPT_READ_TIMEOUT, &net);
        mysql_optionsv(handle, MYSQL_OPT_WRITE_TIMEOUT, &net);
    }

    const std::string host = utf8(hp.host);
    const std::string user = utf8(params.user);
    const std::string password = utf8(params.password);
    const std::string database = utf8(params.database);
    const unsigned port = hp.port ? hp.port : params.port;
    const unsigned long flags = params.multiStatements ? CLIENT_MULTI_STATEMENTS : 0;

    params_ = params;
    const bool connected = blocking("Connecting", false, [&] {
        return mysql_real_connect(handle, socket.empty() ? host.c_str() : "localhost",
                                  user.c_str(), password.c_str(),
                                  database.empty() ? nullptr : database.c_str(), port,
                                  socket.empty() ? nullptr : socket.c_str(), flags) != nullptr;
    });
    if (!connected) {
        DbError error = ownErrorNumber_ ? DbError(ownErrorNumber_, "HY000", utf8(ownErrorText_))
                                        : DbError(mysql_errno(handle), mysql_sqlstate(handle),
                                                  mysql_error(handle));
        mysql_close(handle);
        throw error;
    }
    // The client library enforces TLS only when it also verifies the server's certificate:
    // in the other modes a server without TLS is answered in clear text. Check the result,
    // not the option.
    if (params.tls.mode != TlsMode::Off && !mysql_get_ssl_cipher(handle)) {
        mysql_close(handle);
        throw DbError(
            2026, "HY000",
            utf8(QStringLiteral("The connection to %1 is not encrypted, but its TLS setting is "
                                "\"%2\": the server offers no TLS. Enable TLS on the server, "
                                "or choose another TLS setting in the server's properties.")
                     .arg(serverName(params), tlsModeName(params.tls.mode))));
    }
    mysql_ = handle;
    multiStatements_ = params.multiStatements;
    // MariaDB sends ANSI_QUOTES in the status of every answer; MySQL does not.
    modeInStatus_ = mariadb_connection(handle);
    sqlModeStale_ = !modeInStatus_;
    ansiQuotes_ = false;
    if (sqlModeStale_) readSqlMode();
}

void Connection::readSqlMode() {
    sqlModeStale_ = false;
    if (!query("SELECT @@SESSION.sql_mode")) return;
    Result r = storeResult();
    if (r && r.next()) ansiQuotes_ = sqllex::rulesOfSqlMode(r.text(0).toStdString()).ansiQuotes;
}

sqllex::Rules Connection::sqlRules() {
    unsigned status = 0;
    if (mysql_) mariadb_get_infov(mysql_, MARIADB_CONNECTION_SERVER_STATUS, &status);
    sqllex::Rules rules;
    rules.backslashEscapes = (status & SERVER_STATUS_NO_BACKSLASH_ESCAPES) == 0;
    if (modeInStatus_) {
        rules.ansiQuotes = (status & SERVER_STATUS_ANSI_QUOTES) != 0;
        return rules;
    }
    if (sqlModeStale_ && mysql_) readSqlMode();
    rules.ansiQuotes = ansiQuotes_;
    return rules;
}

void Connection::abandonNow() {
    if (!lent_.load() || abandoned_.exchange(true)) return;
    // The handle stays with the blocked call; only its socket is cut under it.
    if (st_mysql* handle = mysql_) {
        const my_socket fd = mysql_get_socket(handle);
        if (fd != MARIADB_INVALID_SOCKET) ::shutdown(fd, SHUT_RDWR);
    }
}

void Connection::close() noexcept {
    if (refusedHere == this) refusedHere = nullptr;
    abandoned_.store(false);
    if (mysql_) mysql_close(mysql_);
    mysql_ = nullptr;
    ownErrorNumber_ = 0;
    cancelled_ = false;
}

bool Connection::selectDb(const QString& name) {
    if (!mysql_) return false;
    const std::string bytes = utf8(name);
    return blocking("USE " + quoteIdentifier(bytes), false,
                    [&] { return mysql_select_db(mysql_, bytes.c_str()) == 0; });
}

bool Connection::query(std::string_view statement) {
    if (!mysql_) return false;
    if (!modeInStatus_ && sqllex::maySetSqlMode(statement)) sqlModeStale_ = true;
    return blocking(statement, false, [&] {
        return mysql_real_query(mysql_, statement.data(), statement.size()) == 0;
    });
}

namespace {

// The client library's callbacks for the data of one LOAD DATA LOCAL INFILE.
struct LocalLoad {
    const Connection::LocalSource* source;
    bool failed = false;
};

int localInit(void** state, const char* /*requested*/, void* userdata) {
    *state = userdata;  // the file name the server asked for is never opened
    return 0;
}

int localRead(void* state, char* buffer, unsigned size) {
    auto* load = static_cast<LocalLoad*>(state);
    const long n = (*load->source)(buffer, size);
    if (n < 0) load->failed = true;
    return int(n);
}

void localEnd(void*) {}

int localError(void* /*state*/, char* message, unsigned size) {
    std::snprintf(message, size, "The import stopped sending the file.");
    return 2000;  // the client library's CR_UNKNOWN_ERROR
}

}  // namespace

bool Connection::loadLocal(std::string_view statement, const LocalSource& source) {
    if (!mysql_) return false;
    LocalLoad load{&source};
    mysql_set_local_infile_handler(mysql_, localInit, localRead, localEnd, localError, &load);
    const bool ok = query(statement);
    mysql_set_local_infile_default(mysql_);
    return ok && !load.failed;
}

Result Connection::storeResult() {
    if (!mysql_) return {};
    return blocking(
        "Reading the rows", Result(), [&] { return Result(mysql_store_result(mysql_), true); },
        true);
}

Result Connection::queryResult(std::string_view statement) {
    if (!mysql_) return {};
    if (!modeInStatus_ && sqllex::maySetSqlMode(statement)) sqlModeStale_ = true;
    return blocking(statement, Result(), [&] {
        if (mysql_real_query(mysql_, statement.data(), statement.size()) != 0) return Result();
        return Result(mysql_store_result(mysql_), true);
    });
}

Result Connection::storeResult(std::uint64_t limit) {
    if (!mysql_) return {};
    return blocking(
        "Reading the rows", Result(),
        [&] {
            Result r(mysql_use_result(mysql_), false);
            return r.keepFirst(limit) ? std::move(r) : Result();
        },
        true);
}

Result Connection::useResult() {
    if (!mysql_) return {};
    return Result(mysql_use_result(mysql_), false);
}

bool Connection::moreResults() const { return mysql_ && mysql_more_results(mysql_); }

int Connection::nextResult() {
    if (!mysql_) return -1;
    return blocking(
        "Reading the next result", 1, [&] { return mysql_next_result(mysql_); }, true);
}

void Connection::discardResults() {
    if (!mysql_) return;
    blocking(
        "Reading the results", false,
        [&] {
            do {
                if (MYSQL_RES* res = mysql_store_result(mysql_)) mysql_free_result(res);
            } while (mysql_next_result(mysql_) == 0);
            return true;
        },
        true);
}

void Connection::runAside(std::string_view what, const std::function<void()>& work,
                          bool cancellable) {
    // Inside a call that holds the handle, or while one does: `work` runs here, and any
    // call it makes of this connection is refused on its own.
    if (holder_.load() == std::this_thread::get_id() || leaseBusy()) return work();
    std::exception_ptr failure;
    std::optional<Waiter::Outcome> outcome;
    {
        Lease lease(*this);
        const auto leased = [&] {
            lease.hold();
            try {
                work();
            } catch (...) {
                failure = std::current_exception();
            }
            lease.release();
        };
        if (waiter_)
            outcome = waiter_->run(*this, what, leased, cancellable);
        else
            leased();
    }
    if (refusedHere == this) refusedHere = nullptr;
    if (outcome == Waiter::Outcome::Refused) return work();  // no statement to wait for
    if (failure) std::rethrow_exception(failure);
}

void Connection::abandon(Result& result) {
    if (!result) return;
    if (!mysql_ || result.isStored()) {
        result = Result();
        return;
    }
    blocking(
        "Stopping the statement", false,
        [&] {
            try {
                cancelQuery(params_, mysql_thread_id(mysql_));
            } catch (const DbError&) {
                // Not stopped: freeing the result then reads it to its end.
            }
            result = Result();  // reads what the server sent before it stopped
            return true;
        },
        true);
}

bool Connection::setMultiStatements(bool on) {
    if (!mysql_) return false;
    const auto option = on ? MYSQL_OPTION_MULTI_STATEMENTS_ON : MYSQL_OPTION_MULTI_STATEMENTS_OFF;
    if (!blocking("Switching multiple statements", false,
                  [&] { return mysql_set_server_option(mysql_, option) == 0; }))
        return false;
    multiStatements_ = on;
    return true;
}

bool Connection::setCharacterSet(const char* name) {
    return mysql_ && blocking(std::string("SET NAMES ") + name, false,
                              [&] { return mysql_set_character_set(mysql_, name) == 0; });
}

bool Connection::noBackslashEscapes() const {
    unsigned status = 0;
    if (mysql_) mariadb_get_infov(mysql_, MARIADB_CONNECTION_SERVER_STATUS, &status);
    return (status & SERVER_STATUS_NO_BACKSLASH_ESCAPES) != 0;
}

void Connection::exec(std::string_view statement) {
    if (!query(statement)) throw lastError(statement);
    discardResults();
}

Result Connection::select(std::string_view statement) {
    Result result = queryResult(statement);
    if (!result && errorNumber() != 0) throw lastError(statement);
    if (!result)
        throw DbError(0, "HY000", "The statement returned no rows.", std::string(statement));
    return result;
}

unsigned Connection::errorNumber() const {
    if (refusedHere == this) return kCommandsOutOfSync;
    if (ownErrorNumber_) return ownErrorNumber_;
    return mysql_ ? mysql_errno(mysql_) : 2006;
}

QString Connection::errorText() const {
    if (refusedHere == this) return refusedText();
    if (ownErrorNumber_) return ownErrorText_;
    return mysql_ ? QString::fromUtf8(mysql_error(mysql_))
                  : QStringLiteral("Not connected to a server.");
}

std::string Connection::sqlState() const {
    if (refusedHere == this) return "HY000";
    if (ownErrorNumber_) return cancelled_ ? "70100" : "HY000";
    return mysql_ ? mysql_sqlstate(mysql_) : "HY000";
}

DbError Connection::lastError(std::string_view statement) const {
    return DbError(errorNumber(), sqlState(), utf8(errorText()), std::string(statement));
}

unsigned Connection::warningCount() const { return mysql_ ? mysql_warning_count(mysql_) : 0; }

std::optional<std::vector<ServerWarning>> Connection::warnings() {
    if (!query("SHOW WARNINGS")) return std::nullopt;
    std::vector<ServerWarning> out;
    Result rows = storeResult();
    while (rows && rows.next()) out.push_back({rows.text(0), rows.text(1).toUInt(), rows.text(2)});
    return out;
}

std::uint64_t Connection::affectedRows() const {
    return mysql_ ? mysql_affected_rows(mysql_) : 0;
}

std::uint64_t Connection::insertId() const { return mysql_ ? mysql_insert_id(mysql_) : 0; }

std::optional<std::uint64_t> Connection::matchedRows() const {
    const char* info = mysql_ ? mysql_info(mysql_) : nullptr;
    if (!info) return std::nullopt;
    unsigned long long matched = 0;
    if (std::sscanf(info, "Rows matched: %llu", &matched) != 1) return std::nullopt;
    return matched;
}

std::string Connection::escape(std::string_view bytes) const {
    std::string out(bytes.size() * 2 + 1, '\0');
    unsigned long n;
    if (mysql_) {
        n = mysql_real_escape_string(mysql_, out.data(), bytes.data(), bytes.size());
    } else {
        // No connection to ask: escape every byte the server treats specially, which is
        // safe for UTF-8 and single-byte character sets.
        n = mysql_escape_string(out.data(), bytes.data(), bytes.size());
    }
    out.resize(n);
    return out;
}

std::size_t Connection::escapeTo(char* out, std::string_view bytes) const {
    return mysql_ ? mysql_real_escape_string(mysql_, out, bytes.data(), bytes.size())
                  : mysql_escape_string(out, bytes.data(), bytes.size());
}

std::string Connection::quoteValue(std::string_view bytes) const {
    std::string out(bytes.size() * 2 + 2, '\0');
    out[0] = '\'';
    const std::size_t n = escapeTo(out.data() + 1, bytes);
    out[n + 1] = '\'';
    out.resize(n + 2);
    return out;
}

std::string Connection::quoteValue(const QString& text) const {
    return quoteValue(std::string_view(utf8(text)));
}

Result Connection::listProcesses() {
    if (!mysql_) return {};
    return blocking("SHOW PROCESSLIST", Result(),
                    [&] { return Result(mysql_list_processes(mysql_), true); });
}

QString Connection::serverInfo() const {
    return mysql_ ? QString::fromUtf8(mysql_get_server_info(mysql_)) : QString();
}

unsigned long Connection::threadId() const { return mysql_ ? mysql_thread_id(mysql_) : 0; }

QString Connection::hostInfo() const {
    return mysql_ ? QString::fromUtf8(mysql_get_host_info(mysql_)) : QString();
}

QString Connection::tlsDescription() const {
    const char* cipher = mysql_ ? mysql_get_ssl_cipher(mysql_) : nullptr;
    if (!cipher) return {};
    const char* version = nullptr;
    mariadb_get_infov(mysql_, MARIADB_CONNECTION_TLS_VERSION, &version);
    return version ? QStringLiteral("%1, %2").arg(QString::fromUtf8(version), QString::fromUtf8(cipher))
                   : QString::fromUtf8(cipher);
}

QString tlsModeName(TlsMode mode) {
    switch (mode) {
    case TlsMode::Off: return QStringLiteral("Off");
    case TlsMode::Required: return QStringLiteral("Required");
    case TlsMode::VerifyCa: return QStringLiteral("Verify the CA");
    case TlsMode::VerifyIdentity: break;
    }
    return QStringLiteral("Verify the CA and the host name");
}

QString tlsSettingsProblem(const TlsOptions& tls) {
    if (tls.mode == TlsMode::VerifyCa && tls.caFile.isEmpty())
        return QStringLiteral(
            "the TLS setting \"Verify the CA\" needs a CA file to verify the server's "
            "certificate against: choose the file of the CA that signed it, or the setting "
            "\"Required\" to encrypt without verifying.");
    return {};
}

void cancelQuery(const ConnectParams& params, unsigned long threadId) {
    ConnectParams own = params;
    own.database.clear();
    own.multiStatements = false;
    // A server that does not answer the cancel either is said so within a few seconds,
    // so that the user can give it up.
    own.netTimeout = kCancelTimeoutSeconds;
    own.connectTimeout = kCancelTimeoutSeconds;
    Connection c;
    c.connect(own);
    c.exec("KILL QUERY " + std::to_string(threadId));
}

QString cancelledText(qint64 ms) {
    return QStringLiteral("Cancelled by the user after %1 s.").arg(double(ms) / 1000.0, 0, 'f', 1);
}

std::string quoteIdentifier(std::string_view name) {
    std::string out;
    out.reserve(name.size() + 2);
    out += '`';
    for (char c : name) {
        if (c == '`') out += '`';
        out += c;
    }
    out += '`';
    return out;
}

std::string quoteIdentifier(const QString& name) { return quoteIdentifier(utf8(name)); }

std::string qualifiedName(const QString& database, const QString& name) {
    return quoteIdentifier(database) + "." + quoteIdentifier(name);
}

}  // namespace db
