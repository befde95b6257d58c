#pragma once

#include <QWidget>

#include "registry/ServerOptions.h"

class QComboBox;
class QLabel;
class QLineEdit;
class QSpinBox;
class QToolButton;
namespace ui {
class Prompts;
}

// The part of the server dialogs beyond host, user and password: where the password is kept,
// and a compact "Advanced" section for TLS and an SSH tunnel, folded until opened (or while
// the server uses neither).
class ServerOptionsEditor : public QWidget {
    Q_OBJECT
public:
    // `keyringAvailable`: whether the keyring may be chosen; without one the editor says so
    // and keeps the password in the file.
    ServerOptionsEditor(ui::Prompts& prompts, bool keyringAvailable, QWidget* parent = nullptr);

    void setOptions(const ServerOptions& options);
    // The edited settings; the keyring id is `base`'s.
    ServerOptions options(const ServerOptions& base) const;
    PasswordStorage storage() const;
    void setStorage(PasswordStorage storage);
    // Whether the edited settings can be saved; when not, says why and puts the focus on the
    // field to fix.
    bool checkSettings();
    // A line under the choice of storage (a hint or an offer); empty hides it.
    void setStorageNote(const QString& text);

Q_SIGNALS:
    void storageChanged();

private:
    QLineEdit* fileField(const char* name, const QString& caption);
    void updateEnabled();

    ui::Prompts& prompts_;
    QComboBox* PasswordStorage_;
    QLabel* StorageNote_;
    QToolButton* Advanced_;
    QWidget* AdvancedPanel_;
    QComboBox* TlsMode_;
    QLineEdit* TlsCa_;
    QLineEdit* TlsCert_;
    QLineEdit* TlsKey_;
    QLineEdit* SshHost_;
    QSpinBox* SshPort_;
    QLineEdit* SshUser_;
    QLineEdit* SshKey_;
};
