#include "app/CommandWiring.h"

#include <QAction>
#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <array>

#include "admin/AccountCommands.h"
#include "admin/AccountPanel.h"
#include "admin/DatabaseCommands.h"
#include "admin/MaintenanceCommands.h"
#include "panels/DetailPanels.h"
#include "panels/TreeMenus.h"

namespace {

template <std::size_t N>
std::array<bool, N> checkedBoxes(const std::array<QCheckBox*, N>& boxes) {
    std::array<bool, N> checked{};
    for (std::size_t i = 0; i < N; ++i) checked[i] = boxes[i]->isChecked();
    return checked;
}

template <std::size_t N>
void checkAll(const std::array<QCheckBox*, N>& boxes) {
    for (QCheckBox* box : boxes) box->setChecked(true);
}

class DetailAccountPanel final : public admin::AccountPanel {
public:
    explicit DetailAccountPanel(DetailPanels& panels) : panels_(panels) {}

    void setGrantsDatabase(const QString& name) override { panels_.setGrantsDatabase(name); }

    admin::AccountRow userEdits() const override {
        return {panels_.EditUUser()->text(), panels_.EditUHost()->text(),
                panels_.EditUPass()->text(), checkedBoxes(panels_.userPrivilegeBoxes())};
    }
    admin::HostEntryRow hostEntryEdits() const override {
        return {panels_.EditHHost()->text(), panels_.EditHDb()->text(),
                checkedBoxes(panels_.hostPrivilegeBoxes())};
    }
    void clearUserEdits() override {
        panels_.EditUUser()->clear();
        panels_.EditUHost()->clear();
        panels_.EditUPass()->clear();
        checkAll(panels_.userPrivilegeBoxes());
    }
    void clearHostEntryEdits() override {
        panels_.EditHHost()->clear();
        panels_.EditHDb()->clear();
        checkAll(panels_.hostPrivilegeBoxes());
    }

    void showUserPanel() override { panels_.SwitchPanel(DetailPanels::pnUser); }
    void showHostPanel() override { panels_.SwitchPanel(DetailPanels::pnHost); }
    void loadAccount(const TUserKey& key) override { panels_.LoadAccount(key); }

    AccountPanelState& state() override { return panels_.accountState(); }
    const AccountPanelState& state() const override { return panels_.accountState(); }

private:
    DetailPanels& panels_;
};

}  // namespace

std::unique_ptr<AccountCommands> accountCommandsOn(ObjectTree& tree, DetailPanels& panels,
                                                   ServerSession& session, ui::Prompts& prompts,
                                                   QWidget* window, QString grantsDb) {
    auto commands = std::make_unique<AccountCommands>(
        tree, std::make_unique<DetailAccountPanel>(panels), session, prompts, window,
        std::move(grantsDb));
    AccountCommands* c = commands.get();
    QObject::connect(panels.SpeedButton1(), &QPushButton::clicked, c,
                     &AccountCommands::SpeedButton1Click);
    QObject::connect(panels.SpeedButton2(), &QPushButton::clicked, c,
                     &AccountCommands::SpeedButton2Click);
    QObject::connect(panels.SpeedButton3(), &QPushButton::clicked, c,
                     &AccountCommands::SpeedButton3Click);
    QObject::connect(panels.SpeedButton4(), &QPushButton::clicked, c,
                     &AccountCommands::SpeedButton4Click);
    QObject::connect(panels.SpeedButton5(), &QPushButton::clicked, c,
                     &AccountCommands::SpeedButton5Click);
    QObject::connect(panels.SpeedButton6(), &QPushButton::clicked, c,
                     &AccountCommands::SpeedButton6Click);
    return commands;
}

void connectAccountMenus(AccountCommands& commands, TreeMenus& menus) {
    AccountCommands* c = &commands;
    QObject::connect(menus.Add2, &QAction::triggered, c, &AccountCommands::Add2Click);
    QObject::connect(menus.Refresh2, &QAction::triggered, c, &AccountCommands::Refresh2Click);
    QObject::connect(menus.Add1, &QAction::triggered, c, &AccountCommands::Add1Click);
    QObject::connect(menus.Delete2, &QAction::triggered, c, &AccountCommands::Delete2Click);
    QObject::connect(menus.Add3, &QAction::triggered, c, &AccountCommands::Add3Click);
    QObject::connect(menus.Refresh3, &QAction::triggered, c, &AccountCommands::Refresh3Click);
    QObject::connect(menus.Add4, &QAction::triggered, c, &AccountCommands::Add4Click);
    QObject::connect(menus.Delete1, &QAction::triggered, c, &AccountCommands::Delete1Click);
}

void connectDatabaseMenus(DatabaseCommands& commands, TreeMenus& menus, QString& contextDb,
                          QString& contextTable) {
    DatabaseCommands* c = &commands;
    QObject::connect(menus.Add5, &QAction::triggered, c, [c] { c->Add5Click(); });
    QObject::connect(menus.Drop1, &QAction::triggered, c,
                     [c, &contextDb] { c->Drop1Click(contextDb); });
    QObject::connect(menus.NewTable1, &QAction::triggered, c, [c] { c->NewTable1Click(); });
    QObject::connect(menus.TableInformation1, &QAction::triggered, c,
                     [c] { c->TableInformation1Click(); });
    QObject::connect(menus.TableRename1, &QAction::triggered, c, [c] { c->TableRename1Click(); });
    QObject::connect(menus.Drop2, &QAction::triggered, c,
                     [c, &contextTable] { c->Drop2Click(contextTable); });
}

void connectMaintenanceMenus(MaintenanceCommands& commands, TreeMenus& menus) {
    using Op = admin::MaintenanceOp;
    const std::pair<QAction*, Op> items[] = {{menus.CheckTable1, Op::Check},
                                             {menus.AnalyzeTable1, Op::Analyze},
                                             {menus.OptimizeTable1, Op::Optimize},
                                             {menus.RepairTable1, Op::Repair},
                                             {menus.ChecksumTable1, Op::Checksum}};
    MaintenanceCommands* c = &commands;
    for (const auto& [action, op] : items)
        QObject::connect(action, &QAction::triggered, c, [c, op = op] { c->MaintainClick(op); });
}
