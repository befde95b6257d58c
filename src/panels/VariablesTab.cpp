#include "panels/VariablesTab.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "dataset/TMySQLConnection.h"
#include "db/Connection.h"
#include "tree/ServerSession.h"
#include "ui/BusyCursor.h"
#include "ui/Named.h"
#include "ui/Prompts.h"

using admin::ServerVariable;

namespace {

QString shownValue(const ServerVariable& v, bool global) {
    return (global ? v.hasGlobal() : v.hasSession()) ? v.value(global) : QString();
}

}  // namespace

VariablesTab::VariablesTab(ServerSession& session, ui::Prompts& prompts, QWidget* parent)
    : QWidget(parent), session_(session), prompts_(prompts) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(2, 2, 2, 2);
    auto* bar = new QHBoxLayout;
    layout->addLayout(bar);
    filter_ = ui::named(new QLineEdit(this), "VariableFilter");
    filter_->setPlaceholderText(QStringLiteral("Filter by name"));
    filter_->setClearButtonEnabled(true);
    auto* label = new QLabel(QStringLiteral("&Filter:"), this);
    label->setBuddy(filter_);
    refresh_ = ui::named(new QPushButton(QStringLiteral("Refresh"), this), "VariableRefresh");
    bar->addWidget(label);
    bar->addWidget(filter_, 1);
    bar->addWidget(refresh_);

    list_ = ui::named(new QTreeWidget(this), "VariableList");
    list_->setRootIsDecorated(false);
    list_->setUniformRowHeights(true);
    list_->setAllColumnsShowFocus(true);
    list_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    list_->setHeaderLabels({QStringLiteral("Variable"), QStringLiteral("Session value"),
                            QStringLiteral("Global value"), QStringLiteral("Note")});
    list_->headerItem()->setToolTip(colSession,
                                    QStringLiteral("The session of the SQL panel's connection"));
    list_->header()->resizeSection(colName, 260);
    list_->header()->resizeSection(colSession, 220);
    list_->header()->resizeSection(colGlobal, 220);
    list_->setToolTip(QStringLiteral("Double-click a session or global value to change it"));
    layout->addWidget(list_, 1);

    connect(filter_, &QLineEdit::textChanged, this, &VariablesTab::SetFilter);
    connect(refresh_, &QPushButton::clicked, this, &VariablesTab::Load);
    connect(
        list_, &QTreeWidget::itemDoubleClicked, this, [this](QTreeWidgetItem* item, int column) {
            const qsizetype index = item->data(colName, Qt::UserRole).toLongLong();
            if (index < 0 || std::size_t(index) >= variables_.size()) return;
            const ServerVariable& v = variables_[std::size_t(index)];
            // The name and note columns change the value where the variable has one to change.
            const bool global = column == colGlobal || (column != colSession && !v.hasSession());
            Edit(v.name, global);
        });
}

void VariablesTab::Load() {
    ui::BusyCursor busy;
    std::vector<ServerVariable> read;
    try {
        read = admin::ServerVariables(session_.DatasetConnection().connection()).readAll();
    } catch (const std::exception& error) {
        reportFailure(error, QStringLiteral("The server variables could not be read."));
        return;
    }
    variables_ = std::move(read);
    list_->clear();
    QList<QTreeWidgetItem*> items;
    items.reserve(qsizetype(variables_.size()));
    for (std::size_t i = 0; i < variables_.size(); ++i) {
        auto* item = new QTreeWidgetItem;
        item->setData(colName, Qt::UserRole, qlonglong(i));
        show(item, variables_[i]);
        items << item;
    }
    list_->addTopLevelItems(items);
    for (QTreeWidgetItem* item : items) applyFilter(item);
}

void VariablesTab::show(QTreeWidgetItem* item, const ServerVariable& v) {
    item->setText(colName, v.name);
    item->setText(colSession, shownValue(v, false));
    item->setText(colGlobal, shownValue(v, true));
    item->setText(colNote, admin::scopeNote(v));
    item->setToolTip(colSession, item->text(colSession));
    item->setToolTip(colGlobal, item->text(colGlobal));
    const QVariant grey = v.readOnly ? QVariant(QColor(Qt::gray)) : QVariant();
    for (int c = colName; c <= colNote; ++c) item->setData(c, Qt::ForegroundRole, grey);
}

void VariablesTab::applyFilter(QTreeWidgetItem* item) {
    const QString text = filter_->text().trimmed();
    item->setHidden(!text.isEmpty() && !item->text(colName).contains(text, Qt::CaseInsensitive));
}

void VariablesTab::SetFilter(const QString& text) {
    if (filter_->text() != text) filter_->setText(text);  // comes back here through textChanged
    for (int i = 0; i < list_->topLevelItemCount(); ++i) applyFilter(list_->topLevelItem(i));
}

QTreeWidgetItem* VariablesTab::itemOf(const QString& name) const {
    for (int i = 0; i < list_->topLevelItemCount(); ++i)
        if (list_->topLevelItem(i)->text(colName) == name) return list_->topLevelItem(i);
    return nullptr;
}

ServerVariable* VariablesTab::find(const QString& name) {
    for (ServerVariable& v : variables_)
        if (v.name == name) return &v;
    return nullptr;
}

void VariablesTab::Edit(const QString& name, bool global) {
    ServerVariable* variable = find(name);
    QTreeWidgetItem* item = itemOf(name);
    if (!variable || !item) return;
    const QString where = global ? QStringLiteral("globally") : QStringLiteral("for the session");
    if (variable->readOnly) {
        prompts_.message(window(), QStringLiteral("%1 is read-only: the server sets it at start "
                                                  "(from its options or configuration file).")
                                       .arg(name));
        return;
    }
    if (!variable->settable(global)) {
        prompts_.message(
            window(),
            QStringLiteral("%1 cannot be set %2; it has only a %3 value.")
                .arg(name, where, global ? QStringLiteral("session") : QStringLiteral("global")));
        return;
    }
    const QString old = variable->value(global);
    QString prompt =
        QStringLiteral("New value of %1 %2 (DEFAULT for the server's default):").arg(name, where);
    if (!variable->allowedValues.isEmpty())
        prompt += QStringLiteral("\nOne of: ") + variable->allowedValues.join(QStringLiteral(", "));
    const QString value = prompts_.inputBox(window(), QStringLiteral("Set Variable"), prompt, old);
    if (value == old) return;  // cancelled, or nothing changed
    if (!prompts_.yesNo(window(), admin::setQuestion(*variable, global, value),
                        QStringLiteral("Set Variable")))
        return;

    ui::BusyCursor busy;
    admin::ServerVariables variables(session_.DatasetConnection().connection());
    try {
        *variable = variables.set(*variable, global, value);
    } catch (const std::exception& error) {
        reportFailure(error, QStringLiteral("%1 was not changed.").arg(name));
        // Shown as the server has it, whatever it was shown as before.
        try {
            if (std::optional<ServerVariable> now = variables.read(name)) *variable = *now;
        } catch (const std::exception&) {
            // The failure is said already; the list keeps what it showed.
        }
    }
    show(item, *variable);
}

void VariablesTab::reportFailure(const std::exception& error, const QString& what) {
    const auto* dbError = dynamic_cast<const db::DbError*>(&error);
    const QString reason = QString::fromUtf8(error.what());
    prompts_.message(window(), dbError && dbError->connectionLost() ? lostConnectionMessage(reason)
                                                                    : ui::withReason(what, reason));
}
