#pragma once

#include <QByteArray>
#include <QDialog>
#include <QString>
#include <atomic>

#include "dump/DumpFormat.h"

class QCheckBox;
class QLabel;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QRadioButton;
namespace db {
class Connection;
}
namespace ui {
class Prompts;
}

// "Scehma / Dump": shows the schema text of a table or a database and saves it as the
// schema file and, with "Data Include", the rows as the data file beside it.
class TfrmSchema : public QDialog {
    Q_OBJECT
public:
    enum { ScopeNone = 0, ScopeTable = 1, ScopeDatabase = 2 };

    TfrmSchema(db::Connection& connection, ui::Prompts& prompts, QWidget* parent = nullptr);

    // Set by the opening command before the dialog is shown.
    void SetState(int scope, const QString& database, const QString& table,
                  const QString& initialDir);
    int Scope() const { return scope_; }
    // The schema text as Save writes it (the memo shows it).
    const QByteArray& SchemaText() const { return text_; }
    bool Busy() const { return busy_; }

public Q_SLOTS:
    // Builds the schema text from the server (scope 1 or 2), then applies the case option.
    void FormShow();
    void BitBtn1Click();  // Save
    void BitBtn2Click();  // Close
    void BitBtn3Click();  // Stop
    void CheckBox2Click();
    void RadioButton1Click() { FormShow(); }
    void RadioButton2Click() { FormShow(); }
    void RadioButton3Click() { FormShow(); }

protected:
    void showEvent(QShowEvent* event) override;
    void reject() override;

private:
    dump::LetterCase letterCase() const;
    void setRunning(bool running);
    void setProgress(std::uint64_t rows, std::uint64_t expected);

    db::Connection& connection_;
    ui::Prompts& prompts_;
    int scope_ = ScopeNone;
    QString database_;
    QString table_;
    QString initialDir_;
    QString proposedPath_;  // the save dialog's proposal after a data dump
    bool drop_ = false;
    bool busy_ = false;
    std::atomic_bool stopRequested_ = false;  // read by the dump off the window's thread
    QByteArray text_;

    QPlainTextEdit* MemoSchema;
    QPushButton* BitBtn1;
    QPushButton* BitBtn2;
    QPushButton* BitBtn3;
    QCheckBox* CheckBox1;
    QCheckBox* CheckBox2;
    QCheckBox* chkRoutines;
    QCheckBox* chkTriggers;
    QCheckBox* chkEvents;
    QCheckBox* chkDefiner;
    QRadioButton* RadioButton1;
    QRadioButton* RadioButton2;
    QRadioButton* RadioButton3;
    QProgressBar* ProgressBar1;
    QLabel* lblStatus;
};
