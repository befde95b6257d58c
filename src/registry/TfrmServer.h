#pragma once

#include <QDialog>
#include <QString>
#include <functional>
#include <optional>

#include "registry/ServerRegistry.h"

class QLineEdit;
class QPushButton;
class ServerOptionsEditor;
namespace ui {
class Prompts;
}

// The Properties dialog of a registered server: saves the edited values over the server's
// record, or deletes the record. Accepted after Save or Delete, rejected by Close; the
// caller then learns from Saved() whether the record now holds the dialog's values.
class TfrmServer : public QDialog {
    Q_OBJECT
public:
    // `oldName` and `oldEntry` are the server's values before editing; the record is found
    // by both.
    // `keyringAvailable`: the password may be moved into the desktop keyring.
    TfrmServer(ServerRegistry& registry, ui::Prompts& prompts, const QString& oldName,
               const TServerEntry& oldEntry, bool keyringAvailable, QWidget* parent = nullptr);

    // Asked before Save with the edited name; false keeps the dialog open.
    void setNameCheck(std::function<bool(const QString&)> check) { nameCheck_ = std::move(check); }

    bool Saved() const { return saved_; }
    const QString& OldName() const { return oldName_; }
    const TServerEntry& OldEntry() const { return oldEntry_; }

    // The edited values as they are saved: trimmed, but for the password, which PASSWD
    // holds only when it is kept in the file. After Save, the record as written.
    QString ServerName() const;
    TServerEntry Entry() const;

public Q_SLOTS:
    // Save: rewrites the server's record, then accepts. A record changed since it was read
    // (another window) is reported, and the dialog stays open.
    void BitBtn1Click();
    // Delete: removes the server's record without asking, then accepts; a record changed
    // since it was read is reported, and the dialog stays open.
    void BitBtn2Click();
    // Close: rejects.
    void BitBtn3Click();

private:
    void showError(const std::exception& error);
    // The record Save writes, with its password put where the dialog says: into the
    // keyring (written now) or the file. Throws registry::KeyringError.
    TServerEntry placePassword() const;

    ServerRegistry& registry_;
    ui::Prompts& prompts_;
    QString oldName_;
    TServerEntry oldEntry_;
    bool saved_ = false;
    std::function<bool(const QString&)> nameCheck_;

    QLineEdit* Edit1;  // display name
    QLineEdit* Edit2;  // host
    QLineEdit* Edit3;  // user id
    QLineEdit* Edit4;  // password
    ServerOptionsEditor* Options;
    std::optional<TServerEntry> written_;
    QPushButton* BitBtn1;
    QPushButton* BitBtn2;
    QPushButton* BitBtn3;
};
