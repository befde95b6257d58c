#include "support/TestServer.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <QRegularExpression>
#include <atomic>

namespace testserver {

bool available() {
    return !qEnvironmentVariableIsEmpty("LORVEX_TEST_PORT") &&
           !qEnvironmentVariableIsEmpty("LORVEX_TEST_USER");
}

QString hostField() {
    const QString host = qEnvironmentVariable("LORVEX_TEST_HOST", QStringLiteral("127.0.0.1"));
    return host + u':' + qEnvironmentVariable("LORVEX_TEST_PORT");
}

QString user() { return qEnvironmentVariable("LORVEX_TEST_USER"); }
QString password() { return qEnvironmentVariable("LORVEX_TEST_PASSWORD"); }

db::ConnectParams params() {
    if (!available())
        ADD_FAILURE() << "No test server: LORVEX_TEST_PORT and LORVEX_TEST_USER are not set. "
                         "Run the tests through scripts/test.";
    db::ConnectParams p;
    p.host = hostField();
    p.user = user();
    p.password = password();
    return p;
}

TServerEntry serverEntry() {
    TServerEntry entry;
    entry.IP = hostField();
    entry.USERID = user();
    entry.PASSWD = password();
    return entry;
}

db::Connection connect() {
    db::Connection c;
    c.connect(params());
    return c;
}

QString firstValue(db::Connection& connection, const std::string& query, unsigned column) {
    db::Result r = connection.select(query);
    return r.next() ? r.text(column) : QString();
}

}  // namespace testserver

namespace {
std::atomic<int> scratchCounter{0};
}

ScratchDatabase::ScratchDatabase(const QString& hint) {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    QString test = info ? QString::fromLatin1(info->name()) : QStringLiteral("x");
    test.replace(QRegularExpression(QStringLiteral("[^A-Za-z0-9]")), QStringLiteral("_"));
    name_ = QStringLiteral("lvx_%1_%2_%3_%4")
                .arg(hint, test.left(24))
                .arg(::getpid())
                .arg(scratchCounter++);
    admin_ = testserver::connect();
    admin_.exec("DROP DATABASE IF EXISTS " + db::quoteIdentifier(name_));
    admin_.exec("CREATE DATABASE " + db::quoteIdentifier(name_) +
                " CHARACTER SET utf8mb4 COLLATE utf8mb4_bin");
    if (!admin_.selectDb(name_)) throw admin_.lastError("USE " + db::utf8(name_));
}

ScratchDatabase::~ScratchDatabase() {
    if (admin_.isOpen()) admin_.query("DROP DATABASE IF EXISTS " + db::quoteIdentifier(name_));
}

void ScratchDatabase::exec(const std::string& statement) { admin_.exec(statement); }

QString ScratchDatabase::scalar(const std::string& query) {
    return testserver::firstValue(admin_, query);
}
