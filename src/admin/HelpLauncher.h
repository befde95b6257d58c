#pragma once

#include <QString>
#include <QUrl>
#include <functional>

class QWidget;
namespace ui {
class Prompts;
}

// The Help menu: "Help" opens the help file beside the executable with the desktop's
// default handler, "About" shows the about box. Files and addresses are opened through
// `opener`, so tests see what would be opened without launching anything.
class HelpLauncher {
public:
    using Opener = std::function<bool(const QUrl&)>;

    // `programDir` ends with a separator. Without an opener, QDesktopServices::openUrl.
    HelpLauncher(QString programDir, ui::Prompts& prompts, QWidget* window, Opener opener = {});

    static QString HelpFileName() { return QStringLiteral("Lorvex Help.chm"); }
    // The HTML user guide shipped beside the executable.
    static QString GuideFileName() { return QStringLiteral("Lorvex Help.html"); }

    // The files "Help" tries, in order: the compiled help file, then the HTML guide. Only
    // files that exist are listed.
    QStringList HelpFiles() const;

    // Opens the first help file that a program accepts. When none opens (no viewer, or no
    // file), a message gives the guide's path to open by hand.
    void Help2Click();
    // Shows the about box modally; "About View Error" when it cannot be shown.
    void About1Click();

    const Opener& opener() const { return opener_; }

private:
    QString programDir_;
    ui::Prompts& prompts_;
    QWidget* window_;
    Opener opener_;
};
