#pragma once

#include <QString>
#include <cstdint>
#include <string>
#include <string_view>

namespace dump {

enum class RunKind {
    Script,  // the schema file: "SQL Exec"
    Data,    // the data file: "Data Insert Exec"
};

// The status text of the last statement of a run: "Insert Ok! - t[3]", "Drop Ok! - t",
// "Crerate Ok! - `t`", "Qurey OK!" or, for a refused script statement, "Restore Error -
// Exec". Inserts are numbered per table, restarting whenever the table changes. The text is
// built only when asked for, so a run of a million statements builds few.
class RestoreStatus {
public:
    explicit RestoreStatus(RunKind kind) : kind_(kind) {}

    // Notes the outcome of the next statement.
    void note(std::string_view statement, bool accepted);
    QString text() const;

    // The name a status shows for an object: a back-quoted name whole (blanks and all),
    // otherwise up to the first blank or parenthesis.
    static std::string_view nameAt(std::string_view text);

private:
    enum class Shown { Nothing, Error, Insert, Drop, Create, Query };

    RunKind kind_;
    Shown shown_ = Shown::Nothing;
    std::string name_;
    std::string lastInsert_;
    std::uint64_t counter_ = 1;
    std::uint64_t shownCounter_ = 0;
};

}  // namespace dump
