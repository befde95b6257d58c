#pragma once

#include <QDialog>
#include <QElapsedTimer>
#include <QString>
#include <atomic>
#include <cstdint>
#include <vector>

#include "files/CsvReader.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QTableWidget;
class QTimer;
namespace db {
class Connection;
}
namespace ui {
class Prompts;
}

// "Import CSV...": a file's format (detected, adjustable), a preview of its first rows, the
// table column each file column fills, and the import with its progress and outcome. The
// reading and loading are dump::CsvImport's; this dialog only connects the controls to it.
class TfrmCsvImport : public QDialog {
    Q_OBJECT
public:
    TfrmCsvImport(db::Connection& connection, ui::Prompts& prompts, QWidget* parent = nullptr);

    // The table the file goes into; reads its columns (throws dump::CsvImportError).
    void SetTable(const QString& database, const QString& table);
    // Detects the file's format and shows its first rows; throws files::CsvError or
    // dump::CsvImportError when it cannot be read.
    void LoadFile(const QString& path);

    static constexpr int kPreviewRows = 20;

    files::CsvFormat format() const;
    void setFormat(const files::CsvFormat& format);
    // For each file column, the table column it fills (-1: skip).
    std::vector<int> mapping() const;
    QTableWidget* preview() const { return preview_; }
    QTableWidget* mappingGrid() const { return mapping_; }
    QCheckBox* keepLoaded() const { return keepLoaded_; }
    QPlainTextEdit* outcome() const { return outcome_; }
    QPushButton* importButton() const { return import_; }
    QPushButton* cancelButton() const { return cancel_; }
    QProgressBar* progressBar() const { return bar_; }

public Q_SLOTS:
    void ImportClick();
    void CancelClick();

private:
    void refresh();  // the preview and the mapping for the format shown
    void showProgress();

    db::Connection& connection_;
    ui::Prompts& prompts_;
    QString database_, table_, path_;
    std::vector<QString> columns_;
    bool loading_ = false;  // the controls are being set, not changed by the user

    QLabel* fileLabel_ = nullptr;
    QComboBox* delimiter_ = nullptr;
    QComboBox* quote_ = nullptr;
    QComboBox* encoding_ = nullptr;
    QComboBox* null_ = nullptr;
    QComboBox* lineEnd_ = nullptr;
    QCheckBox* header_ = nullptr;
    QCheckBox* escapes_ = nullptr;
    QCheckBox* keepLoaded_ = nullptr;
    QTableWidget* preview_ = nullptr;
    QTableWidget* mapping_ = nullptr;
    QProgressBar* bar_ = nullptr;
    QLabel* status_ = nullptr;
    QPlainTextEdit* outcome_ = nullptr;
    QPushButton* import_ = nullptr;
    QPushButton* cancel_ = nullptr;
    QPushButton* close_ = nullptr;
    QTimer* timer_ = nullptr;
    QElapsedTimer clock_;
    std::atomic<std::uint64_t> bytes_{0}, total_{0};
};
