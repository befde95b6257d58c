#include "registry/PasswordKeyring.h"

#include <qt6keychain/keychain.h>
#include <sys/stat.h>

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QLibrary>
#include <QTimer>
#include <algorithm>
#include <memory>

namespace registry {

namespace {

const QString kService = QStringLiteral("Lorvex");
constexpr int kProbeMs = 2000;
constexpr int kDBusCallLimitMs = 24000;
const QString kOtherwise = QStringLiteral("or choose to keep the password in the server list.");

std::optional<bool>& cachedAvailability() {
    static std::optional<bool> value;
    return value;
}

QString noKeyring() {
    return QStringLiteral(
               "No desktop keyring answers on the session bus: start one (GNOME "
               "Keyring, KWallet, or KeePassXC with its Secret Service enabled) and "
               "try again, ") +
           kOtherwise;
}

QString notAnswered() {
    return QStringLiteral("The desktop keyring did not answer: unlock it and try again, ") +
           kOtherwise;
}

QString failure(const QString& verb, QKeychain::Error code, QString detail) {
    while (detail.endsWith(u'.')) detail.chop(1);
    if (code == QKeychain::NoBackendAvailable) return noKeyring();
    if (code == QKeychain::AccessDenied)
        return QStringLiteral(
                   "The desktop keyring refused to %1 the password (%2): unlock it or "
                   "allow Lorvex to use it, then try again, ")
                   .arg(verb, detail) +
               kOtherwise;
    return QStringLiteral(
               "The desktop keyring could not %1 the password: %2. Check that it is "
               "unlocked and try again, ")
               .arg(verb, detail) +
           kOtherwise;
}

// The backend QtKeychain 0.13 takes on Linux follows the desktop session, as detected here:
// KWallet's own interface in KDE 4, and in Plasma 5 when kwalletd5 answers; libsecret
// everywhere else.
enum class Desktop { Kde4, Plasma5, Other };

Desktop desktop() {
    const QByteArray version = qgetenv("KDE_SESSION_VERSION");
    const Desktop kde = version == "5"   ? Desktop::Plasma5
                        : version == "4" ? Desktop::Kde4
                                         : Desktop::Other;
    const QByteArray current = qgetenv("XDG_CURRENT_DESKTOP");
    if (current == "KDE") return kde;
    if (current == "GNOME" || current == "Unity" || current == "XFCE") return Desktop::Other;
    const QByteArray session = qgetenv("DESKTOP_SESSION");
    if (session == "kde") return kde;
    if (session == "kde4") return Desktop::Kde4;
    if (session == "gnome" || session.contains("xfce") || session == "xubuntu")
        return Desktop::Other;
    if (!qEnvironmentVariableIsEmpty("GNOME_DESKTOP_SESSION_ID")) return Desktop::Other;
    return qEnvironmentVariableIsEmpty("KDE_FULL_SESSION") ? Desktop::Other : kde;
}

// Where libdbus and GDBus find the session bus, leaving out autolaunch: transports, which
// start a bus of their own (through X11). Empty when there is no bus to try.
QString sessionBusAddress() {
    const QString variable = qEnvironmentVariable("DBUS_SESSION_BUS_ADDRESS");
    if (!variable.isEmpty()) {
        QStringList usable = variable.split(u';', Qt::SkipEmptyParts);
        usable.removeIf([](const QString& entry) { return entry.startsWith(u"autolaunch:"); });
        return usable.join(u';');
    }
    const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
    struct stat status {};
    if (runtime.isEmpty() || ::stat((runtime + "/bus").constData(), &status) != 0 ||
        !S_ISSOCK(status.st_mode))
        return {};
    return QStringLiteral("unix:path=") + QString::fromLocal8Bit(runtime + "/bus");
}

// Whether `name` has an owner on the bus or the bus can start one.
bool nameAnswers(const QDBusConnection& bus, const QString& name, const QDeadlineTimer& deadline) {
    const auto ask = [&](const char* method, const QVariantList& arguments) {
        QDBusMessage call = QDBusMessage::createMethodCall(
            QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
            QStringLiteral("org.freedesktop.DBus"), QLatin1String(method));
        call.setArguments(arguments);
        const int timeout = int(std::max<qint64>(1, deadline.remainingTime()));
        const QDBusMessage reply = bus.call(call, QDBus::Block, timeout);
        return reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty()
                   ? reply.arguments().constFirst()
                   : QVariant();
    };
    return ask("NameHasOwner", {name}).toBool() ||
           ask("ListActivatableNames", {}).toStringList().contains(name);
}

// QtKeychain loads libsecret at run time, and libsecret's replies come through the GLib main
// loop, which Qt's event loop runs only with its GLib dispatcher (not under QT_NO_GLIB).
bool libsecretUsable() {
    QLibrary library(QStringLiteral("secret-1"), 0);
    const QAbstractEventDispatcher* dispatcher =
        QCoreApplication::instance()
            ? QAbstractEventDispatcher::instance(QCoreApplication::instance()->thread())
            : nullptr;
    return dispatcher && dispatcher->inherits("QEventDispatcherGlib") && library.load();
}

// Whether the service the jobs will talk to answers on `bus`.
bool backendAnswers(const QDBusConnection& bus) {
    const QDeadlineTimer deadline(kProbeMs);
    switch (desktop()) {
        case Desktop::Kde4:
            return nameAnswers(bus, QStringLiteral("org.kde.kwalletd"), deadline);
        case Desktop::Plasma5:
            if (nameAnswers(bus, QStringLiteral("org.kde.kwalletd5"), deadline)) return true;
            break;
        case Desktop::Other:
            break;
    }
    return libsecretUsable() &&
           nameAnswers(bus, QStringLiteral("org.freedesktop.secrets"), deadline);
}

bool probe() {
    const QString address = sessionBusAddress();
    if (address.isEmpty()) return false;
    // A connection of its own, so that the probe neither fixes nor disturbs the one the jobs use.
    const QString name = QStringLiteral("lorvex-keyring-probe");
    bool answers = false;
    {
        const QDBusConnection bus = QDBusConnection::connectToBus(address, name);
        answers = bus.isConnected() && backendAnswers(bus);
    }
    QDBusConnection::disconnectFromBus(name);
    return answers;
}

// Runs the job to its end: the keyring's answer (NoError when it did what was asked), or
// std::nullopt when it did not answer in time. User input stays queued meanwhile: a click
// could otherwise start another keyring call inside this one.
std::optional<QKeychain::Error> run(std::unique_ptr<QKeychain::Job>& job) {
    job->setAutoDelete(false);
    job->setInsecureFallback(false);
    bool done = false;
    QElapsedTimer clock;
    clock.start();
    {
        QEventLoop loop;
        QObject::connect(job.get(), &QKeychain::Job::finished, &loop, [&] {
            done = true;
            loop.quit();
        });
        QTimer::singleShot(PasswordKeyring::kTimeoutMs, &loop, &QEventLoop::quit);
        job->start();
        loop.exec(QEventLoop::ExcludeUserInputEvents);
    }
    // GDBus ends a call the service leaves unanswered after 25 s, with a message in the
    // user's language that says only that: the keyring did not answer either.
    if (done) {
        const bool gaveUp =
            job->error() == QKeychain::OtherError && clock.elapsed() >= kDBusCallLimitMs;
        return gaveUp ? std::nullopt : std::optional(job->error());
    }
    // The backend still holds the job and calls it back should the keyring answer at last:
    // it lives until then, or until the application ends.
    job->setAutoDelete(true);
    job->setParent(QCoreApplication::instance());
    job.release();
    return std::nullopt;
}

void check(const QString& verb, std::unique_ptr<QKeychain::Job> job) {
    const std::optional<QKeychain::Error> code = run(job);
    if (!code) throw KeyringError(notAnswered());
    if (*code != QKeychain::NoError && !(verb == u"remove" && *code == QKeychain::EntryNotFound))
        throw KeyringError(failure(verb, *code, job->errorString()));
}

}  // namespace

KeyringError::KeyringError(const QString& text, bool unanswered)
    : std::runtime_error(text.toStdString()), text_(text), unanswered_(unanswered) {}

bool PasswordKeyring::available() {
    std::optional<bool>& cached = cachedAvailability();
    if (!cached) cached = probe();
    return *cached;
}

void PasswordKeyring::forgetAvailability() { cachedAvailability().reset(); }

std::optional<QString> PasswordKeyring::read(const QString& key) {
    if (!available()) throw KeyringError(noKeyring());
    auto reader = std::make_unique<QKeychain::ReadPasswordJob>(kService);
    reader->setKey(key);
    QKeychain::ReadPasswordJob* result = reader.get();
    std::unique_ptr<QKeychain::Job> job = std::move(reader);
    const std::optional<QKeychain::Error> code = run(job);
    if (!code) throw KeyringError(notAnswered(), true);
    if (*code == QKeychain::NoError) return result->textData();
    if (*code != QKeychain::EntryNotFound)
        throw KeyringError(failure(QStringLiteral("read"), *code, job->errorString()));
    return std::nullopt;
}

void PasswordKeyring::write(const QString& key, const QString& password) {
    // The keyring keeps C strings: a NUL would cut the password short.
    if (password.contains(QChar(0)))
        throw KeyringError(
            QStringLiteral("The desktop keyring cannot keep a password holding a "
                           "NUL character: choose another password."));
    if (!available()) throw KeyringError(noKeyring());
    auto writer = std::make_unique<QKeychain::WritePasswordJob>(kService);
    writer->setKey(key);
    writer->setTextData(password);
    check(QStringLiteral("store"), std::move(writer));
}

void PasswordKeyring::remove(const QString& key) {
    if (!available()) throw KeyringError(noKeyring());
    auto remover = std::make_unique<QKeychain::DeletePasswordJob>(kService);
    remover->setKey(key);
    check(QStringLiteral("remove"), std::move(remover));
}

}  // namespace registry
