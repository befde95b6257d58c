#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "sqllex/Rules.h"

namespace sqllex {

// Follows the session's SQL mode through a script without a server, as far as its SET
// statements say it literally: SET [SESSION] sql_mode = '...', and the user variables that
// save and restore it as mysqldump does (SET @OLD_SQL_MODE=@@SQL_MODE, SQL_MODE='...', then
// SET SQL_MODE=@OLD_SQL_MODE). Anything else (an expression, the global mode) leaves the
// rules as they were.
class SqlModeFollower {
public:
    explicit SqlModeFollower(Rules start) : rules_(start) {}

    // The rules for the next statement.
    const Rules& rules() const { return rules_; }
    // After each statement of the script.
    void after(std::string_view statement);

private:
    Rules rules_;
    std::vector<std::pair<std::string, Rules>> saved_;  // user variable (upper case) -> rules
};

}  // namespace sqllex
