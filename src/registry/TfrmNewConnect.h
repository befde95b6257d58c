#pragma once

#include <QDialog>
#include <QString>
#include <functional>

#include "registry/ServerRegistry.h"

class QLineEdit;
class QPushButton;
class ServerOptionsEditor;
namespace ui {
class Prompts;
}

// Removes leading and trailing blanks and control characters, as the server fields are
// taken when a server is registered.
QString TrimServerField(const QString& text);

// The connect dialog of New Server: asks for the display name, host, user id and password
// of a server to register. Accepted only with a name, a host and a user id.
class TfrmNewConnect : public QDialog {
    Q_OBJECT
public:
    // `keyringAvailable`: the password may go to the desktop keyring (then the default).
    TfrmNewConnect(ui::Prompts& prompts, bool keyringAvailable, QWidget* parent = nullptr);

    // Asked on OK, once the required fields are filled, with the trimmed display name;
    // false keeps the dialog open with the focus on the name.
    void setNameCheck(std::function<bool(const QString&)> check) { nameCheck_ = std::move(check); }
    // Asked last on OK, to do what may still fail (keep the password in the keyring); false
    // keeps the dialog open with everything typed.
    void setAcceptCheck(std::function<bool()> check) { acceptCheck_ = std::move(check); }

    // The fields as they are registered: trimmed, but for the password.
    QString ServerName() const;
    QString IP() const;
    QString USERID() const;
    QString PASSWD() const;
    // The record to register: PASSWD holds the password only when it is kept in the file.
    TServerEntry Entry() const;

public Q_SLOTS:
    // OK: moves the focus to the first required field that is empty, or accepts.
    void BitBtn1Click();
    // Cancel.
    void BitBtn2Click();

protected:
    void showEvent(QShowEvent* event) override;

private:
    std::function<bool(const QString&)> nameCheck_;
    std::function<bool()> acceptCheck_;
    QLineEdit* Edit4;  // display name
    QLineEdit* Edit1;  // host
    QLineEdit* Edit2;  // user id
    QLineEdit* Edit3;  // password
    ServerOptionsEditor* Options;
    QPushButton* BitBtn1;
    QPushButton* BitBtn2;
};
