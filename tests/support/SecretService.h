#pragma once

#include <QProcess>
#include <QString>
#include <QTemporaryDir>
#include <memory>

// A Secret Service of the test's own: a private session bus (dbus-daemon) and on it
// gnome-keyring-daemon's secrets component with an unlocked login keyring. start() points
// HOME, XDG_DATA_HOME, XDG_CONFIG_HOME and XDG_RUNTIME_DIR of this process and the daemons into
// a temporary directory and DBUS_SESSION_BUS_ADDRESS at the bus: it must come before the
// process's first use of the session bus. Both daemons are killed on destruction; libsecret
// (GDBus) then ends the process with SIGTERM as soon as its event loop runs again.
class SecretService {
public:
    ~SecretService();
    // False with `error` set when the service did not come up on the bus.
    bool start(QString* error);
    // Where the daemons keep every file they write (the keyrings in .local/share/keyrings).
    QString home() const { return dir_.filePath(QStringLiteral("home")); }

private:
    QTemporaryDir dir_{QStringLiteral("/tmp/lorvex-secret-service.XXXXXX")};
    std::unique_ptr<QProcess> bus_;
    std::unique_ptr<QProcess> keyring_;
};
