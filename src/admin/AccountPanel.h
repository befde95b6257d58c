#pragma once

#include <QString>

#include "admin/AccountStatements.h"
#include "ui/AccountPanelState.h"

namespace admin {

// The user and host panels as the account commands see them: the edits read as one value,
// the few changes a command makes to them, and what the panels remember between commands.
// The main window implements it over its detail panels, so account logic knows no widget.
class AccountPanel {
public:
    virtual ~AccountPanel() = default;

    // The database whose user and host tables the panels' fills read.
    virtual void setGrantsDatabase(const QString& name) = 0;

    virtual AccountRow userEdits() const = 0;
    virtual HostEntryRow hostEntryEdits() const = 0;
    // Empties the edits and checks every privilege box, ready for a new account or entry.
    virtual void clearUserEdits() = 0;
    virtual void clearHostEntryEdits() = 0;

    virtual void showUserPanel() = 0;
    virtual void showHostPanel() = 0;
    // Reads an account (or role) into the user panel and remembers its key; throws when it
    // cannot be read, and the panel then keeps what it showed.
    virtual void loadAccount(const TUserKey& key) = 0;

    virtual AccountPanelState& state() = 0;
    virtual const AccountPanelState& state() const = 0;
};

}  // namespace admin
