#pragma once

#include <QString>
#include <optional>
#include <stdexcept>

namespace registry {

// A password the desktop keyring could not store, read or remove. text() is meant for the
// user: what failed and what to do; it never holds the password.
class KeyringError : public std::runtime_error {
public:
    explicit KeyringError(const QString& text, bool unanswered = false);
    QString text() const { return text_; }
    // The keyring did not answer in time, as one does while its own unlock prompt waits
    // for the user.
    bool unanswered() const { return unanswered_; }

private:
    QString text_;
    bool unanswered_ = false;
};

// Passwords in the desktop keyring under the service "Lorvex", one entry per key (such as
// "server/<uuid>" or "ssh/<uuid>"), through QtKeychain. On Linux that is the Secret Service
// of the session D-Bus (GNOME Keyring, KWallet's, KeePassXC's), reached through libsecret,
// or KWallet's own interface in a Plasma 5 session. Nothing is ever written to a clear-text
// file instead.
//
// Every call blocks until the keyring answers, running a local event loop that leaves user
// input queued; it must be made on the thread of the QCoreApplication. The keyring may ask
// the user to unlock it, so a call gives up only after kTimeoutMs.
class PasswordKeyring {
public:
    static constexpr int kTimeoutMs = 30000;

    // Whether a keyring answers on the session bus. Without a session bus this is decided at
    // once, without starting one; with one, within about two seconds. The answer is kept for
    // the process: forgetAvailability() asks again on the next call.
    static bool available();
    static void forgetAvailability();

    // The password stored under `key`; std::nullopt when there is no entry. Throws
    // KeyringError when the keyring failed (KeyringError::unanswered() when it did not
    // answer in time).
    static std::optional<QString> read(const QString& key);
    // Stores `password` under `key`, replacing any earlier one; throws KeyringError.
    static void write(const QString& key, const QString& password);
    // Removes the entry under `key`; one that does not exist is no error. Throws KeyringError.
    static void remove(const QString& key);
};

}  // namespace registry
