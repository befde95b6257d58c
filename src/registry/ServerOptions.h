#pragma once

#include <QString>

#include "db/TlsOptions.h"

// Where a server's password is kept.
enum class PasswordStorage {
    File,     // in the record's PASSWD, as every older version keeps it
    Keyring,  // in the desktop keyring; PASSWD stays empty
    Ask,      // nowhere: asked at every connect
};

// The SSH server a server is reached through; none when `host` is empty. The password, if
// one is needed, is kept as the server's own (keyring, or asked).
struct SshSettings {
    QString host;
    unsigned port = 22;
    QString user;
    QString keyFile;  // empty: the agent, then a password

    bool enabled() const { return !host.isEmpty(); }
    friend bool operator==(const SshSettings&, const SshSettings&) = default;
};

// A server's connection settings beyond host, user and password. Stored in a child of the
// record that older readers pass over; a record with the defaults has no such child.
struct ServerOptions {
    PasswordStorage password = PasswordStorage::File;
    // Names the server's keyring entries; made when the password first goes there, kept
    // across renames and edits.
    QString keyringId;
    db::TlsOptions tls;
    SshSettings ssh;

    bool isDefault() const { return *this == ServerOptions{}; }
    friend bool operator==(const ServerOptions&, const ServerOptions&) = default;
};
