#include "sqleditor/ObjectCommands.h"

#include <QPlainTextEdit>
#include <algorithm>
#include <QSet>
#include <QTreeWidget>

#include "db/Connection.h"
#include "admin/RoutineRun.h"
#include "sqleditor/ObjectPanel.h"
#include "panels/RoutineRunForm.h"
#include "panels/TableDataView.h"
#include "tree/ObjectListings.h"
#include "tree/ObjectTree.h"
#include "tree/ServerSession.h"
#include "ui/BusyCursor.h"
#include "ui/Prompts.h"

using admin::ObjectDefinitions;
using admin::ObjectKind;

namespace {

TNodeLevel folderLevelOf(ObjectKind kind) {
    switch (kind) {
        case ObjectKind::View: return nlViewsFolder;
        case ObjectKind::Procedure:
        case ObjectKind::Function: return nlRoutinesFolder;
        case ObjectKind::Trigger: return nlTriggersFolder;
        case ObjectKind::Event: return nlEventsFolder;
    }
    return nlViewsFolder;
}

std::optional<ObjectKind> kindOfLevel(TNodeLevel level) {
    switch (level) {
        case nlView: return ObjectKind::View;
        case nlProcedure: return ObjectKind::Procedure;
        case nlFunction: return ObjectKind::Function;
        case nlTrigger: return ObjectKind::Trigger;
        case nlEvent: return ObjectKind::Event;
        default: return std::nullopt;
    }
}

QString nodeKey(TNodeLevel level, const QString& name) {
    return QString::number(level) + u':' + name;
}

QString capitalized(QString text) {
    if (!text.isEmpty()) text[0] = text[0].toUpper();
    return text;
}

}  // namespace

ObjectCommands::ObjectCommands(ObjectTree& tree, ObjectPanel& panel, ServerSession& session,
                               ui::Prompts& prompts, QWidget* window)
    : QObject(window), tree_(tree), panel_(panel), session_(session), prompts_(prompts),
      window_(window) {
    connect(&panel_, &ObjectPanel::applyClicked, this, [this] { Apply(); });
    connect(&panel_, &ObjectPanel::runClicked, this, [this] { RunRoutine(true); });
    connect(&panel_, &QTabWidget::currentChanged, this, [this] { loadViewRowsIfShown(); });
}

std::optional<admin::ObjectRef> ObjectCommands::objectOf(TreeNode* node) {
    if (!node) return std::nullopt;
    const std::optional<ObjectKind> kind = kindOfLevel(node->level());
    TreeNode* database = node->databaseNode();
    if (!kind || !database) return std::nullopt;
    return admin::ObjectRef{*kind, database->text(), node->text()};
}

void ObjectCommands::report(const std::exception& error, const QString& what) {
    if (const auto* dbError = dynamic_cast<const db::DbError*>(&error);
        dbError && dbError->connectionLost()) {
        prompts_.message(window_, lostConnectionMessage(QString::fromUtf8(error.what())));
    } else if (const auto* objectError = dynamic_cast<const admin::ObjectError*>(&error)) {
        prompts_.message(window_, objectError->text());
    } else {
        prompts_.message(window_, ui::withReason(what, QString::fromUtf8(error.what())));
    }
}

void ObjectCommands::ShowObject(TreeNode* node) {
    const std::optional<admin::ObjectRef> ref = objectOf(node);
    if (!ref) return;
    try {
        ui::BusyCursor busy;
        db::Connection& c = session_.MainConnection();
        const admin::ObjectDefinition definition = ObjectDefinitions(c).read(*ref);
        panel_.setRules(c.sqlRules());
        panel_.showDefinition(*ref, definition);
    } catch (const std::exception& error) {
        report(error, QStringLiteral("%1 could not be read.").arg(capitalized(admin::objectLabel(*ref))));
        return;
    }
    viewRowsPending_ = ref->kind == ObjectKind::View;
    loadViewRowsIfShown();
}

void ObjectCommands::loadViewRowsIfShown() {
    if (!viewRowsPending_ || panel_.currentWidget() != panel_.DataTab()) return;
    const std::optional<admin::ObjectRef>& ref = panel_.shownObject();
    if (!ref) return;
    viewRowsPending_ = false;
    // The grid says itself why a view's rows cannot be changed, and reports its failures.
    panel_.dataView().LoadTable(ref->database, ref->name);
}

void ObjectCommands::Apply() {
    const QString text = panel_.Editor()->toPlainText();
    const std::optional<admin::ObjectRef> ref = panel_.shownObject();
    const QString database = panel_.database();
    if (database.isEmpty()) return;
    try {
        ObjectDefinitions definitions(session_.MainConnection());
        admin::ApplyOutcome outcome;
        if (ref) {
            if (ObjectDefinitions::replacesByDropping(ref->kind) &&
                !prompts_.yesNo(
                    window_,
                    QStringLiteral("The server replaces %1 by dropping it before it stores the "
                                   "new text, so a text it refuses at that point would leave "
                                   "it dropped. Lorvex then creates the old definition again."
                                   "\n\nReplace it now?")
                        .arg(admin::objectLabel(*ref)),
                    QStringLiteral("Replace %1").arg(capitalized(admin::kindNoun(ref->kind)))))
                return;
            {
                ui::BusyCursor busy;
                outcome = definitions.apply(*ref, text);
            }
            // The text as the server keeps it now; a text that named another object made
            // that one, and the folder shows it.
            if (std::optional<admin::ObjectDefinition> now = definitions.find(*ref))
                panel_.showDefinition(*ref, *now);
            relist(ref->database, folderLevelOf(ref->kind), ref->name);
        } else {
            const TNodeLevel folder = folderLevelOf(panel_.kind());
            QSet<QString> before;
            {
                ui::BusyCursor busy;
                before = contents(database, folder);
                outcome = definitions.create(database, text);
            }
            // The new object is shown as the server keeps it, so that a second Apply
            // replaces it instead of creating it again.
            if (TreeNode* created = relist(database, folder, {}, &before)) ShowObject(created);
        }
        if (!outcome.note.isEmpty()) prompts_.message(window_, outcome.note);
    } catch (const std::exception& error) {
        report(error, QStringLiteral("The definition could not be applied."));
    }
}

void ObjectCommands::NewObject(bool function) {
    TreeNode* node = tree_.selectedNode();
    TreeNode* database = node ? node->databaseNode() : nullptr;
    if (!node || !database) return;
    const TNodeLevel folder = objects::folderOf(node->level());
    ObjectKind kind;
    switch (folder) {
        case nlViewsFolder: kind = ObjectKind::View; break;
        case nlRoutinesFolder: kind = function ? ObjectKind::Function : ObjectKind::Procedure; break;
        case nlTriggersFolder: kind = ObjectKind::Trigger; break;
        case nlEventsFolder: kind = ObjectKind::Event; break;
        default: return;
    }
    QString table;
    if (kind == ObjectKind::Trigger) {
        try {
            ui::BusyCursor busy;
            table = ObjectDefinitions(session_.MainConnection()).firstTable(database->text());
        } catch (const std::exception& error) {
            report(error, QStringLiteral("The tables of the database could not be read."));
            return;
        }
    }
    panel_.setRules(session_.MainConnection().sqlRules());
    panel_.showTemplate(database->text(), kind, ObjectDefinitions::templateFor(kind, table));
    Q_EMIT panelWanted();
}

void ObjectCommands::RunRoutine(bool shownInPanel) {
    std::optional<admin::ObjectRef> ref =
        shownInPanel ? panel_.shownObject() : objectOf(tree_.selectedNode());
    if (!ref || (ref->kind != ObjectKind::Procedure && ref->kind != ObjectKind::Function)) return;
    try {
        admin::RoutineRun run(session_.MainConnection());
        std::vector<admin::RoutineParameter> params;
        {
            ui::BusyCursor busy;
            params = run.parameters(*ref);
        }
        std::vector<admin::ArgumentValue> values;
        if (std::any_of(params.begin(), params.end(),
                        [](const admin::RoutineParameter& p) { return p.takesValue(); })) {
            RoutineRunForm form(QStringLiteral("Run %1").arg(admin::objectLabel(*ref)), params,
                                window_);
            if (prompts_.exec(&form) != QDialog::Accepted) return;
            values = form.values();
        }
        admin::RoutineRunResult result;
        {
            ui::BusyCursor busy;
            result = run.run(*ref, params, values);
        }
        if (!shownInPanel) ShowObject(tree_.selectedNode());
        panel_.showRun(result);
        Q_EMIT panelWanted();
    } catch (const std::exception& error) {
        report(error, QStringLiteral("Running %1 failed.").arg(admin::objectLabel(*ref)));
    }
}

void ObjectCommands::DropObject() {
    TreeNode* node = tree_.selectedNode();
    const std::optional<admin::ObjectRef> ref = objectOf(node);
    if (!ref) return;
    const QString question = QStringLiteral("Drop the %1 %2?")
                                 .arg(admin::kindNoun(ref->kind),
                                      ui::qualifiedLabel(ref->database, ref->name));
    if (!prompts_.yesNo(window_, question, QStringLiteral("Drop Notice"))) return;
    try {
        {
            ui::BusyCursor busy;
            ObjectDefinitions(session_.MainConnection()).drop(*ref);
        }
        if (panel_.shownObject() && panel_.shownObject()->kind == ref->kind &&
            panel_.shownObject()->database == ref->database &&
            panel_.shownObject()->name == ref->name)
            panel_.clear();
        relist(ref->database, folderLevelOf(ref->kind));
    } catch (const std::exception& error) {
        report(error, QStringLiteral("Dropping %1 failed.").arg(admin::objectLabel(*ref)));
    }
}

TreeNode* ObjectCommands::folderNode(const QString& database, TNodeLevel folder) const {
    TreeNode* server = tree_.connectedNode();
    for (int i = 0; server && i < server->childCount(); ++i) {
        TreeNode* dbFolder = TreeNode::cast(server->child(i));
        if (!dbFolder || dbFolder->level() != nlDbFolder) continue;
        for (int j = 0; j < dbFolder->childCount(); ++j) {
            TreeNode* node = TreeNode::cast(dbFolder->child(j));
            if (!node || node->text() != database) continue;
            for (int k = 0; k < node->childCount(); ++k) {
                TreeNode* child = TreeNode::cast(node->child(k));
                if (child && child->level() == folder) return child;
            }
        }
    }
    return nullptr;
}

QSet<QString> ObjectCommands::contents(const QString& database, TNodeLevel folderLevel) {
    QSet<QString> keys;
    TreeNode* folder = folderNode(database, folderLevel);
    if (!folder) return keys;
    for (int i = 0; i < folder->childCount(); ++i)
        if (TreeNode* node = TreeNode::cast(folder->child(i)))
            keys.insert(nodeKey(node->level(), node->text()));
    if (!keys.isEmpty()) return keys;
    // Not listed, or listed when it was empty: an object made since by another session must
    // not pass for the new one.
    db::Connection& c = session_.MainConnection();
    db::Result rows = c.select(objects::listingStatement(c, folderLevel, database));
    while (rows.next()) keys.insert(nodeKey(objects::objectLevel(folderLevel, rows), rows.text(0)));
    return keys;
}

TreeNode* ObjectCommands::relist(const QString& database, TNodeLevel folderLevel,
                                 const QString& select, const QSet<QString>* before) {
    TreeNode* folder = folderNode(database, folderLevel);
    if (!folder) return nullptr;
    {
        ui::BusyCursor busy;
        tree_.ListObjectFolder(folder);
    }
    // The node to select: the one named, else the one the change added.
    TreeNode* chosen = nullptr;
    for (int i = 0; i < folder->childCount() && !chosen; ++i) {
        TreeNode* child = TreeNode::cast(folder->child(i));
        if (!child) continue;
        if (select.isEmpty() ? before && !before->contains(nodeKey(child->level(), child->text()))
                             : child->text() == select)
            chosen = child;
    }
    if (chosen) tree_.widget().setCurrentItem(chosen);
    return chosen;
}
