#include "app/TfrmMain.h"

#include <QDir>

TfrmMain::TfrmMain(const QString& programDir, ui::Prompts& prompts, QWidget* parent)
    : QMainWindow(parent), ProgramDir(QDir(programDir).absolutePath() + u'/'), prompts_(prompts) {
    setWindowTitle(QStringLiteral("Lorvex"));
}
