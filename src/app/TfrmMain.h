#pragma once

#include <QMainWindow>

namespace ui {
class Prompts;
}

class TfrmMain : public QMainWindow {
    Q_OBJECT
public:
    TfrmMain(const QString& programDir, ui::Prompts& prompts, QWidget* parent = nullptr);

private:
    QString ProgramDir;
    ui::Prompts& prompts_;
};
