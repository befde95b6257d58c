#include <gtest/gtest.h>

#include "db/Connection.h"
#include "db/HostPort.h"
#include "support/TestServer.h"

namespace {

TEST(QuoteIdentifier, DoublesBackticksAndKeepsEverythingElse) {
    EXPECT_EQ(db::quoteIdentifier(std::string_view("t1")), "`t1`");
    EXPECT_EQ(db::quoteIdentifier(std::string_view("a`b")), "`a``b`");
    EXPECT_EQ(db::quoteIdentifier(std::string_view("``")), "``````");
    EXPECT_EQ(db::quoteIdentifier(QStringLiteral("my db.x'y")), "`my db.x'y`");
    EXPECT_EQ(db::qualifiedName(QStringLiteral("d"), QStringLiteral("t`")), "`d`.`t```");
}

}  // namespace
