#pragma once

#include <QString>
#include <cstdint>
#include <string>
#include <string_view>

#include "db/DbError.h"
#include "db/Result.h"

struct st_mysql;

namespace db {

struct ConnectParams {
    QString host;  // "host", "host:port" or "[v6addr]:port"; the port wins over `port`
    QString user;
    QString password;
    QString database;  // empty: none selected
    unsigned port = 0;  // 0: the client library's default
    bool multiStatements = false;
};

// Owns one MYSQL handle; closed by the destructor. Move-only.
// Call from the thread that created it only.
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

    // Status-returning calls: false (or an empty Result) on failure; the reason is in
    // errorNumber()/errorText(). All are safe on a closed connection.
    bool selectDb(const QString& name);
    bool query(std::string_view statement);
    Result storeResult();
    Result useResult();
    bool moreResults() const;
    // 0: another result follows; -1: no more results; >0: the next statement failed.
    int nextResult();
    // Reads and frees every result still pending, so the connection is ready for the
    // next statement.
    void discardResults();

    // Throwing calls: DbError carrying the server's number, message and the statement.
    void exec(std::string_view statement);
    Result select(std::string_view statement);  // a statement that returns rows

    unsigned errorNumber() const;
    QString errorText() const;
    std::string sqlState() const;
    DbError lastError(std::string_view statement = {}) const;
    std::uint64_t affectedRows() const;

    // Value escaping for this connection's character set and SQL mode; quoteValue adds the
    // single quotes. The only way user text enters a statement as a value.
    std::string escape(std::string_view bytes) const;
    std::string quoteValue(std::string_view bytes) const;
    std::string quoteValue(const QString& text) const;

    Result listProcesses();
    QString serverInfo() const;
    QString hostInfo() const;

    st_mysql* handle() const { return mysql_; }

private:
    st_mysql* mysql_ = nullptr;
};

// Identifier quoting: backticks, an embedded backtick doubled. The only way a name enters
// a statement.
std::string quoteIdentifier(std::string_view name);
std::string quoteIdentifier(const QString& name);
// `db`.`name`
std::string qualifiedName(const QString& database, const QString& name);
// UTF-8 bytes of a text, for building statements.
inline std::string utf8(const QString& text) { return text.toUtf8().toStdString(); }

}  // namespace db
