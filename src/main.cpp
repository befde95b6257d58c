#include <QApplication>
#include <QDir>

#include "app/TfrmMain.h"
#include "ui/Prompts.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Lorvex"));
    QApplication::setApplicationDisplayName(QStringLiteral("Lorvex"));
    QApplication::setApplicationVersion(QStringLiteral(LORVEX_VERSION));

    ui::WidgetPrompts prompts;
    TfrmMain window(QApplication::applicationDirPath(), prompts);
    window.show();
    return app.exec();
}
