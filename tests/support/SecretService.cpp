#include "support/SecretService.h"


#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QThread>
#include <QtDBus/QDBusConnection>
#include <QtDBus/QDBusConnectionInterface>

#include "support/Daemons.h"

namespace {

constexpr int kStartMs = 10000;

// Starts `program` with its error output in `log`, outside the daemons' HOME.
std::unique_ptr<QProcess> launch(const QString& program, const QStringList& arguments,
                                 const QString& log) {
    auto process = std::make_unique<QProcess>();
    process->setStandardErrorFile(log);
    // The daemons must not outlive a test process that crashed or was killed.
    endWithTest(*process);
    process->start(program, arguments);
    return process;
}

QString tailOf(const QString& log) {
    QFile file(log);
    return file.open(QIODevice::ReadOnly) ? QString::fromLocal8Bit(file.readAll().right(2000))
                                          : QString();
}

void stop(std::unique_ptr<QProcess>& process) {
    if (!process) return;
    process->kill();
    process->waitForFinished(5000);
}

}  // namespace

SecretService::~SecretService() {
    stop(keyring_);
    stop(bus_);
}

bool SecretService::start(QString* error) {
    const QString run = dir_.filePath(QStringLiteral("run"));
    if (!dir_.isValid() || !QDir().mkpath(home() + "/.local/share") || !QDir().mkpath(run) ||
        !QFile::setPermissions(
            run, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner)) {
        *error = QStringLiteral("cannot create the directories in ") + dir_.path();
        return false;
    }
    qputenv("HOME", home().toLocal8Bit());
    qputenv("XDG_DATA_HOME", (home() + "/.local/share").toLocal8Bit());
    qputenv("XDG_CONFIG_HOME", (home() + "/.config").toLocal8Bit());
    qputenv("XDG_RUNTIME_DIR", run.toLocal8Bit());
    // QtKeychain would look for KWallet in a KDE session instead of this service.
    for (const char* name : {"XDG_CURRENT_DESKTOP", "DESKTOP_SESSION", "KDE_FULL_SESSION",
                             "KDE_SESSION_VERSION", "GNOME_DESKTOP_SESSION_ID"})
        qunsetenv(name);

    bus_ = launch(QStringLiteral("dbus-daemon"),
                  {QStringLiteral("--session"), QStringLiteral("--nofork"),
                   QStringLiteral("--address=unix:path=") + run + "/bus",
                   QStringLiteral("--print-address=1")},
                  dir_.filePath(QStringLiteral("dbus.log")));
    const QDeadlineTimer deadline(kStartMs);
    while (!bus_->canReadLine() && bus_->state() != QProcess::NotRunning && !deadline.hasExpired())
        bus_->waitForReadyRead(100);
    const QByteArray address = bus_->readLine().trimmed();
    if (address.isEmpty()) {
        *error = QStringLiteral("dbus-daemon did not start: ") + bus_->errorString() + u'\n' +
                 tailOf(dir_.filePath(QStringLiteral("dbus.log")));
        return false;
    }
    qputenv("DBUS_SESSION_BUS_ADDRESS", address);

    // --unlock creates the login keyring with the password read from stdin up to its end.
    keyring_ = launch(QStringLiteral("gnome-keyring-daemon"),
                      {QStringLiteral("--foreground"), QStringLiteral("--unlock"),
                       QStringLiteral("--components=secrets")},
                      dir_.filePath(QStringLiteral("keyring.log")));
    keyring_->write("lorvex-login");
    keyring_->waitForBytesWritten(kStartMs);
    keyring_->closeWriteChannel();
    const QString connection = QStringLiteral("lorvex-test-secret-service");
    const QString secrets = QStringLiteral("org.freedesktop.secrets");
    bool ready = false;
    {
        const QDBusConnection bus =
            QDBusConnection::connectToBus(QString::fromLocal8Bit(address), connection);
        while (!ready && bus.isConnected() && keyring_->state() == QProcess::Running &&
               !deadline.hasExpired()) {
            ready = bus.interface()->isServiceRegistered(secrets);
            if (!ready) QThread::msleep(50);
        }
    }
    QDBusConnection::disconnectFromBus(connection);
    if (!ready)
        *error =
            QStringLiteral("gnome-keyring-daemon did not offer a Secret Service on the bus: ") +
            keyring_->errorString() + u'\n' + tailOf(dir_.filePath(QStringLiteral("keyring.log")));
    return ready;
}
