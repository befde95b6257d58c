#pragma once

#include <stdexcept>
#include <string>

namespace db {

// The session is gone: 2006 "server has gone away" (found when sending) and 2013 "lost
// connection during query" (found when reading). What it had not committed is gone with it,
// and only a new connection helps.
inline bool isConnectionLost(unsigned code) { return code == 2006 || code == 2013; }

// The one error type of the server layer: the server's (or client library's) error
// number, SQLSTATE and message, and the statement that failed, if any.
class DbError : public std::runtime_error {
public:
    DbError(unsigned code, std::string sqlState, std::string message, std::string statement = {})
        : std::runtime_error(message),
          code_(code),
          sqlState_(std::move(sqlState)),
          statement_(std::move(statement)) {}

    unsigned code() const noexcept { return code_; }
    const std::string& sqlState() const noexcept { return sqlState_; }
    const std::string& statement() const noexcept { return statement_; }

    bool connectionLost() const noexcept { return isConnectionLost(code_); }

private:
    unsigned code_;
    std::string sqlState_;
    std::string statement_;
};

}  // namespace db
