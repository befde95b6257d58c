#include <gtest/gtest.h>

#include "db/HostPort.h"

namespace {

struct HostPortCase {
    const char* name;
    const char* field;
    const char* host;
    unsigned port;
    bool valid;
};

class HostPortTest : public ::testing::TestWithParam<HostPortCase> {};

TEST_P(HostPortTest, Splits) {
    const HostPortCase& c = GetParam();
    const db::HostPort hp = db::parseHostPort(QString::fromUtf8(c.field));
    EXPECT_EQ(hp.valid, c.valid);
    if (c.valid) {
        // A socket file is spelled "socket:PATH" in the table.
        const QString where = hp.socket.isEmpty() ? hp.host : "socket:" + hp.socket;
        EXPECT_EQ(where.toStdString(), c.host);
        EXPECT_EQ(hp.port, c.port);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Fields, HostPortTest,
    ::testing::Values(HostPortCase{"PlainName", "db.example.org", "db.example.org", 0, true},
                      HostPortCase{"PlainAddress", "10.0.0.5", "10.0.0.5", 0, true},
                      HostPortCase{"NameWithPort", "localhost:3307", "localhost", 3307, true},
                      HostPortCase{"AddressWithPort", "127.0.0.1:65535", "127.0.0.1", 65535, true},
                      HostPortCase{"BracketedV6WithPort", "[::1]:3310", "::1", 3310, true},
                      HostPortCase{"BracketedV6", "[fe80::1]", "fe80::1", 0, true},
                      HostPortCase{"BareV6", "fe80::1:2", "fe80::1:2", 0, true},
                      HostPortCase{"Empty", "", "", 0, true},
                      HostPortCase{"PortZero", "h:0", "", 0, false},
                      HostPortCase{"PortTooLarge", "h:65536", "", 0, false},
                      HostPortCase{"PortNotNumber", "h:33o6", "", 0, false},
                      HostPortCase{"EmptyPort", "h:", "", 0, false},
                      HostPortCase{"SignedPort", "h:+80", "", 0, false},
                      HostPortCase{"UnclosedBracket", "[::1:3306", "", 0, false},
                      HostPortCase{"JunkAfterBracket", "[::1]x3306", "", 0, false},
                      HostPortCase{"SocketPath", "/run/mysqld/mysqld.sock",
                                   "socket:/run/mysqld/mysqld.sock", 0, true},
                      HostPortCase{"UnixPrefix", "unix:/tmp/my sock", "socket:/tmp/my sock", 0,
                                   true},
                      HostPortCase{"RelativeUnixPath", "unix:mysqld.sock", "socket:mysqld.sock",
                                   0, true},
                      HostPortCase{"EmptyUnixPath", "unix:", "", 0, false}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
