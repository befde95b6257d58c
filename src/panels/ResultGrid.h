#pragma once

#include <QTableView>

class EditableRows;
class GridEditing;
class TMySQLDataSet;
namespace ui {
class Prompts;
}

// A read-only grid on a dataset: after each open the columns fit their content (sampled
// from the first rows, capped) and the first record is current; a header click sorts the
// stored rows; a double click shows the whole value of a cell.
class ResultGrid : public QTableView {
    Q_OBJECT
public:
    static constexpr int kSampledRows = 100;
    static constexpr int kMaxColumnWidth = 320;

    ResultGrid(TMySQLDataSet& dataSet, ui::Prompts& prompts, QWidget* parent = nullptr);

    // Shows the dataset's rows through a model that edits them: a double click opens the
    // cell's value there, and the context menu gains the editing commands.
    void editThrough(EditableRows& rows, GridEditing& editing);

    // The value viewer on one cell.
    void ShowValue(const QModelIndex& index);
    // The selected cells to the clipboard as tab-separated text (Ctrl+C).
    void CopySelection();
    // Asks for a file and writes every row to it: CSV, TSV, JSON or INSERT statements, by
    // the file's suffix (".csv" when it has none).
    void ExportRows();

    static const QString kExportFilter;

private:
    void afterOpen();

    TMySQLDataSet& dataSet_;
    ui::Prompts& prompts_;
};
