#include "admin/MaintenanceCommands.h"

#include "admin/TfrmMaintenance.h"
#include "tree/ObjectTree.h"
#include "tree/ServerSession.h"
#include "tree/TableSelection.h"
#include "ui/Prompts.h"

namespace {

constexpr int kNamedInQuestion = 15;

}  // namespace

QString optimizeQuestion(const QString& database, const QStringList& tables) {
    QStringList names;
    for (qsizetype i = 0; i < tables.size() && i < kNamedInQuestion; ++i)
        names << ui::qualifiedLabel(database, tables[i]);
    if (tables.size() > kNamedInQuestion)
        names << QStringLiteral("and %1 more").arg(tables.size() - kNamedInQuestion);
    const QString question =
        tables.size() == 1
            ? QStringLiteral("Optimize rebuilds this table and locks it while it is rebuilt: "
                             "sessions that use it wait until it is done. Optimize it now?")
            : QStringLiteral("Optimize rebuilds these %1 tables one after the other and locks "
                             "each while it is rebuilt: sessions that use it wait until it is "
                             "done. Optimize them now?")
                  .arg(tables.size());
    return ui::naming(question, names.join(u'\n'));
}

MaintenanceCommands::MaintenanceCommands(ObjectTree& tree, ServerSession& session,
                                         ui::Prompts& prompts, QWidget* window)
    : tree_(tree), session_(session), prompts_(prompts), window_(window) {}

void MaintenanceCommands::MaintainClick(admin::MaintenanceOp op) {
    const SelectedTables chosen = TableSelection::around(tree_.selectedNode());
    if (chosen.tables.isEmpty()) return;
    if (op == admin::MaintenanceOp::Optimize &&
        !prompts_.okCancel(window_, optimizeQuestion(chosen.database, chosen.tables),
                           QStringLiteral("Optimize Tables")))
        return;
    TfrmMaintenance dialog(session_.MainConnection(), window_);
    dialog.SetWork(chosen.database, chosen.tables, op);
    prompts_.exec(&dialog);
}
