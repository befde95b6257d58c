#pragma once

#include <QTreeWidget>

// The tree widget of the main window. Moving with the keyboard is announced, so that the
// detail panel follows the current node as it follows a click, and Enter is announced as
// the double click it stands for.
class ObjectTreeView : public QTreeWidget {
    Q_OBJECT
public:
    explicit ObjectTreeView(QWidget* parent = nullptr) : QTreeWidget(parent) {}

Q_SIGNALS:
    // A key made another node current.
    void currentMovedByKey();
    // Enter or Return on the current node.
    void enterPressed();

protected:
    void keyPressEvent(QKeyEvent* event) override;
};
