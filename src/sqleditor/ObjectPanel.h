#pragma once

#include <QString>
#include <QTabWidget>
#include <optional>

#include "admin/ObjectDefinitions.h"
#include "admin/RoutineRun.h"
#include "sqllex/Rules.h"

class QLabel;
class QPlainTextEdit;
class QPushButton;
class QTreeWidget;
class SqlHighlighter;
class TMySQLConnection;
class TableDataView;
namespace ui {
class Prompts;
}

// The panel of a view, routine, trigger or event: its properties, its definition in a
// highlighting editor with Apply (and Run for a routine), and for a view its rows in a
// read-only "Data" tab. It shows what the object commands read and hands the editor's text
// back to them; it talks to no server itself except through the data tab.
class ObjectPanel : public QTabWidget {
    Q_OBJECT
public:
    ObjectPanel(TMySQLConnection& datasetConnection, ui::Prompts& prompts,
                QWidget* parent = nullptr);

    // Shows an object read from the server; the editor gets its text.
    void showDefinition(const admin::ObjectRef& ref, const admin::ObjectDefinition& definition);
    // Shows a starting text for a new object of `kind` in `database`.
    void showTemplate(const QString& database, admin::ObjectKind kind, const QString& text);
    // What a routine's run returned: each result set in a tab of its own, then the OUT and
    // INOUT values; the "Run" tab comes to the front.
    void showRun(const admin::RoutineRunResult& result);
    QTabWidget* RunResults() const { return results_; }
    QWidget* RunTab() const { return runTab_; }

    // Shows nothing (the object shown was dropped).
    void clear();
    // Colours the editor's text in the quoting rules of the connection's session.
    void setRules(sqllex::Rules rules);

    // The object shown; empty while a new one is being written (or nothing is shown).
    const std::optional<admin::ObjectRef>& shownObject() const { return shown_; }
    // The database and kind of what the editor holds, shown object or new one.
    const QString& database() const { return database_; }
    admin::ObjectKind kind() const { return kind_; }

    QLabel* Title() const { return title_; }
    QTreeWidget* PropertyList() const { return properties_; }
    QPlainTextEdit* Editor() const { return editor_; }
    QPushButton* ApplyButton() const { return apply_; }
    QPushButton* RunButton() const { return run_; }
    TableDataView& dataView() const { return *data_; }
    QWidget* DataTab() const { return dataTab_; }
    SqlHighlighter& highlighter() const { return *highlighter_; }

Q_SIGNALS:
    void applyClicked();
    void runClicked();

private:
    void showFor(admin::ObjectKind kind, bool existing);

    std::optional<admin::ObjectRef> shown_;
    QString database_;
    admin::ObjectKind kind_ = admin::ObjectKind::View;
    QLabel* title_ = nullptr;
    QTreeWidget* properties_ = nullptr;
    QPlainTextEdit* editor_ = nullptr;
    SqlHighlighter* highlighter_ = nullptr;
    QPushButton* apply_ = nullptr;
    QPushButton* run_ = nullptr;
    QWidget* dataTab_ = nullptr;
    TableDataView* data_ = nullptr;
    QWidget* runTab_ = nullptr;
    QTabWidget* results_ = nullptr;
};
