#pragma once

#include <array>

// Privilege columns of the grant tables user and host of the old layout, in the order of the
// account and host panels' check boxes and of every statement that reads or writes them.
// Kept with the client layer, so that the panels that read them and the account commands
// that write them share one list.
namespace db {

inline constexpr std::array<const char*, 14> kUserPrivilegeColumns{
    "Select_priv", "Insert_priv",     "Update_priv",   "Delete_priv",  "Create_priv",
    "Drop_priv",   "Reload_priv",     "Shutdown_priv", "Process_priv", "File_priv",
    "Grant_priv",  "References_priv", "Index_priv",    "Alter_priv"};
inline constexpr std::array<const char*, 10> kHostPrivilegeColumns{
    "Select_priv", "Insert_priv", "Update_priv",     "Delete_priv", "Create_priv",
    "Drop_priv",   "Grant_priv",  "References_priv", "Index_priv",  "Alter_priv"};

}  // namespace db
