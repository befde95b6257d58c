#pragma once

#include <QDialog>
#include <QString>

#include "registry/ServerRegistry.h"

class QLineEdit;
class QPushButton;
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
    TfrmServer(ServerRegistry& registry, ui::Prompts& prompts, const QString& oldName,
               const TServerEntry& oldEntry, QWidget* parent = nullptr);

    bool Saved() const { return saved_; }
    const QString& OldName() const { return oldName_; }
    const TServerEntry& OldEntry() const { return oldEntry_; }

    // The edited values as they are saved: trimmed, but for the password.
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

    ServerRegistry& registry_;
    ui::Prompts& prompts_;
    QString oldName_;
    TServerEntry oldEntry_;
    bool saved_ = false;

    QLineEdit* Edit1;  // display name
    QLineEdit* Edit2;  // host
    QLineEdit* Edit3;  // user id
    QLineEdit* Edit4;  // password
    QPushButton* BitBtn1;
    QPushButton* BitBtn2;
    QPushButton* BitBtn3;
};
