#pragma once

#include <QObject>

class DetailPanels;
class QAction;
class QMenu;
class QPoint;
class QTreeWidgetItem;
class QWidget;
class ServerSession;
namespace ui {
class Prompts;
}

// The process panel's context menu: "Kill Query" stops the statement a connection runs,
// "Kill Connection" ends the connection; each after a question naming its Id and user. The
// list is read again afterwards.
class ProcessCommands : public QObject {
    Q_OBJECT
public:
    ProcessCommands(DetailPanels& panels, ServerSession& session, ui::Prompts& prompts,
                    QWidget* window);

    QMenu* Menu() const { return menu_; }
    QAction* KillQuery() const { return killQuery_; }
    QAction* KillConnection() const { return killConnection_; }

    // Acts on the current item of the process list.
    void KillQueryClick();
    void KillConnectionClick();

private:
    void kill(bool connection);
    void popup(const QPoint& pos);

    DetailPanels& panels_;
    ServerSession& session_;
    ui::Prompts& prompts_;
    QWidget* window_;
    QMenu* menu_;
    QAction* killQuery_;
    QAction* killConnection_;
};
