#pragma once

#include <QString>

namespace db {

// A registry host field split into the host the client library connects to and a port.
// Accepted forms: "host", "host:port", "[v6addr]:port", "[v6addr]", and a bare IPv6
// address (more than one colon, no brackets), which carries no port. A field that starts
// with "/" or "unix:" names the server's local socket file.
struct HostPort {
    QString host;
    QString socket;  // the socket file's path; host is then empty
    unsigned port = 0;  // 0: the client library's default port (3306)
    bool valid = true;  // false when a port is given but is not a number from 1 to 65535
};

HostPort parseHostPort(const QString& field);

}  // namespace db
