#pragma once

#include <QWidget>
#include <vector>

#include "admin/ServerVariables.h"

class QLineEdit;
class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;
class ServerSession;
namespace ui {
class Prompts;
}

// The "Variables" tab: every server variable with its session value (the SQL panel's
// session, where the user's statements run) and its global value side by side, filtered by
// name; read-only ones greyed and not editable. A double click on a value changes it after
// a question naming the old and the new value. Call from the user-interface thread only.
class VariablesTab : public QWidget {
    Q_OBJECT
public:
    enum Column { colName = 0, colSession = 1, colGlobal = 2, colNote = 3 };

    VariablesTab(ServerSession& session, ui::Prompts& prompts, QWidget* parent = nullptr);

    // Reads every variable again; a failure is said and the list keeps what it showed.
    void Load();
    // Asks for a new value of `name` for the session or globally, asks to confirm it, sets
    // it and shows what the server then has. A refusal shows the server's reason, and the
    // list shows the value as the server still has it.
    void Edit(const QString& name, bool global);
    // Shows only the variables whose name holds `text`, in any letter case.
    void SetFilter(const QString& text);

    QLineEdit* filter() const { return filter_; }
    QTreeWidget* list() const { return list_; }
    QPushButton* refresh() const { return refresh_; }
    // The item of a variable, or null.
    QTreeWidgetItem* itemOf(const QString& name) const;

private:
    void show(QTreeWidgetItem* item, const admin::ServerVariable& variable);
    void applyFilter(QTreeWidgetItem* item);
    // The variable as read last, or null.
    admin::ServerVariable* find(const QString& name);
    void reportFailure(const std::exception& error, const QString& what);

    ServerSession& session_;
    ui::Prompts& prompts_;
    QLineEdit* filter_ = nullptr;
    QPushButton* refresh_ = nullptr;
    QTreeWidget* list_ = nullptr;
    std::vector<admin::ServerVariable> variables_;  // in the list's order
};
