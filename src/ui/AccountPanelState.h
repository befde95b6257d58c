#pragma once

#include <QString>
#include <array>

// What the account and host panels remember between a fill and the next command: the key
// of the row they were loaded from (updates and deletes address the row by it, never by
// the edits) and whether the next Save inserts. AddMode is shared by both panels, so the
// last fill or command of either decides what the next Save does.
struct AccountPanelState {
    int AddMode = 0;  // 1: Save inserts a new row; any other value: Save updates
    QString OldUser, OldUHost, OldUPass, OldHHost, OldHDb;
    bool OldURole = false;  // the loaded account is a role, named by OldUser alone
    // The privilege boxes as loaded, so a Save can tell which of its changes it made.
    std::array<bool, 14> OldUPrivileges{};
};
