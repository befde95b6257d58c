#pragma once

#include <QWidget>

class QLabel;
class QLineEdit;
class QListWidget;
class QueryHistory;

// The statements sent before, newest first, narrowed as the search text is typed. A double
// click (or Enter) hands the statement back to the editor.
class HistoryPane : public QWidget {
    Q_OBJECT

public:
    static constexpr int kShown = 500;

    // `history` may be off (isOpen() false): the pane then says why.
    HistoryPane(QueryHistory& history, QWidget* parent = nullptr);

    QLineEdit* Search() const { return search_; }
    QListWidget* List() const { return list_; }
    // Shows the pane with the search field focused.
    void Start();
    // Reads the entries again for the current search text.
    void Refresh();

Q_SIGNALS:
    void StatementChosen(const QString& statement);

private:
    QueryHistory& history_;
    QLineEdit* search_ = nullptr;
    QListWidget* list_ = nullptr;
    QLabel* status_ = nullptr;
};
