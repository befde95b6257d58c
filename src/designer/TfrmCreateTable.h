#pragma once

#include <QDialog>
#include <QString>
#include <string>
#include <vector>

#include "designer/FieldRow.h"
#include "designer/TableStatements.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTableWidget;
namespace db {
class Connection;
}
namespace ui {
class Prompts;
}

// The table designer "Tables". Create mode collects fields in the grid and creates the table
// with one statement; alter mode loads an existing table's columns and changes the table on
// the server at once, one column per action, reloading the grid from the server afterwards
// so that it always shows what the table is.
class TfrmCreateTable : public QDialog {
    Q_OBJECT
public:
    TfrmCreateTable(db::Connection& connection, ui::Prompts& prompts, bool alterMode,
                    const QString& database, const QString& table, QWidget* parent = nullptr);

    bool AlterMode() const { return alterMode_; }
    const QString& DatabaseName() const { return statements_.database(); }
    const QString& TableName() const { return statements_.table(); }
    const TableStatements& Statements() const { return statements_; }
    // A column was changed on the server since the dialog opened.
    bool Modified() const { return modified_; }
    // The grid row being edited (0 is the first row below the header), or -1.
    int SelectedRow() const { return selectedRow_; }

    int RowCount() const;
    FieldRow Row(int row) const;
    std::vector<FieldRow> Rows() const;

    // Set-up when the dialog first becomes active: headers, captions of the mode, and in
    // alter mode the table's columns. Later calls do nothing.
    void FormActivate();

    void NewFieldClick();
    void EditClick();
    void DeleteClick();
    void SaveClick();
    void CancelClick();
    // A grid row became selected: show it in the editors.
    void StrGridSelectCell(int row);
    void ClearEditors();

    QLabel* LTable;
    QLineEdit* EdField;
    QCheckBox* ChkIndex;
    QComboBox* ComboBox1;
    QLineEdit* EdLength;
    QLineEdit* EdDefault;
    QCheckBox* ChkAuto;
    QCheckBox* ChkNull;
    QPushButton* NewField;
    QPushButton* Edit;
    QPushButton* Delete;
    QPushButton* Save;
    QPushButton* Cancel;
    QTableWidget* StrGrid;

public Q_SLOTS:
    // Escape and the close box leave through the same question as Cancel.
    void reject() override;

protected:
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void ChkIndexClick(bool checked);
    void ChkNullClick(bool checked);
    void ChkAutoClick(bool checked);
    void EnableRowButtons(bool on);
    // False, after its message, when the editors cannot make a column.
    bool checkEditors();
    // Writes the editors into a grid row: a new one, or the row being edited.
    void writeRow(int row, bool editing);
    void setCell(int row, int column, const QString& text);
    QString cell(int row, int column) const;
    void LoadColumns();
    void addOnServer(int row);
    void changeOnServer(int row, bool wasPrimary, bool keyChecked);
    void dropOnServer(const QString& field, bool wasPrimary);
    bool send(const std::string& statement);
    // A refused statement: the fixed message and the server's reason under it.
    void reportRefused(const QString& message);
    // Widens the dialog until every grid column is in sight.
    void fitGridColumns();
    bool hasPrimaryKey();

    db::Connection& connection_;
    ui::Prompts& prompts_;
    const bool alterMode_;
    TableStatements statements_;
    bool activated_ = false;
    bool firstRowFree_ = true;
    bool wasPrimary_ = false;
    bool modified_ = false;
    int selectedRow_ = -1;
    QString oldFieldName_;
};
