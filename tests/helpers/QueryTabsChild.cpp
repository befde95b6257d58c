// The editor tabs in a process of their own, driven line by line from stdin, so a test can
// kill it the hard way and see what the next start restores. Each command is answered "ok":
//   type TEXT    types TEXT into the current tab's editor, key by key
//   new          Ctrl+T in the editor
//   open PATH    the Open button, the file dialog answering PATH
//   select N     makes tab N current
#include <QApplication>
#include <QPlainTextEdit>
#include <QSocketNotifier>
#include <QTest>
#include <cstdio>
#include <iostream>
#include <string>

#include "dataset/TMySQLConnection.h"
#include "sqleditor/QueryTabs.h"
#include "sqleditor/SqlPanel.h"
#include "support/ScriptedPrompts.h"

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s PROGRAM_DIR\n", argv[0]);
        return 2;
    }
    TMySQLConnection connection;
    ScriptedPrompts prompts;
    QueryTabs tabs(connection, prompts, QString::fromLocal8Bit(argv[1]));
    tabs.Restore();
    tabs.resize(800, 600);
    tabs.show();
    QApplication::setActiveWindow(&tabs);

    QSocketNotifier input(0, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, [&] {
        std::string line;
        if (!std::getline(std::cin, line)) {
            app.quit();
            return;
        }
        const QString command = QString::fromStdString(line);
        const QString word = command.section(u' ', 0, 0);
        const QString rest = command.section(u' ', 1);
        QPlainTextEdit* editor = tabs.Current().MemoSQL();
        if (word == QLatin1String("type")) {
            QTest::keyClicks(editor, rest);
        } else if (word == QLatin1String("new")) {
            QTest::keyClick(editor, Qt::Key_T, Qt::ControlModifier);
        } else if (word == QLatin1String("open")) {
            prompts.answerFile(rest);
            tabs.Current().SpeedButton8Click();
        } else if (word == QLatin1String("select")) {
            tabs.setCurrentIndex(rest.toInt());
        }
        std::cout << "ok" << std::endl;
    });
    return app.exec();
}
