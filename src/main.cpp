#include <QApplication>
#include <QDir>
#include <csignal>

#include "app/TfrmMain.h"
#include "ui/Prompts.h"

int main(int argc, char** argv) {
    // Past a file size limit (ulimit -f) a write fails and is reported; the signal would end
    // the program without a word.
    std::signal(SIGXFSZ, SIG_IGN);
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Lorvex"));
    QApplication::setApplicationDisplayName(QStringLiteral("Lorvex"));
    QApplication::setApplicationVersion(QStringLiteral(LORVEX_VERSION));

    ui::WidgetPrompts prompts;
    TfrmMain window(QApplication::applicationDirPath(), prompts);
    window.show();
    return app.exec();
}
