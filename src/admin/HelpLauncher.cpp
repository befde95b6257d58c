#include "admin/HelpLauncher.h"

#include <QDesktopServices>
#include <QFileInfo>

#include "admin/TfrmInfor.h"
#include "ui/Prompts.h"

HelpLauncher::HelpLauncher(QString programDir, ui::Prompts& prompts, QWidget* window, Opener opener)
    : programDir_(std::move(programDir)),
      prompts_(prompts),
      window_(window),
      opener_(opener ? std::move(opener)
                     : Opener([](const QUrl& url) { return QDesktopServices::openUrl(url); })) {}

QStringList HelpLauncher::HelpFiles() const {
    QStringList files;
    for (const QString& name : {HelpFileName(), GuideFileName()}) {
        const QString path = programDir_ + name;
        if (QFileInfo(path).isFile()) files << path;
    }
    return files;
}

void HelpLauncher::Help2Click() {
    // A compiled help file needs a viewer most desktops lack: fall back to the guide.
    const QStringList files = HelpFiles();
    for (const QString& path : files)
        if (opener_(QUrl::fromLocalFile(path))) return;
    // Nothing opened: say where the guide is, so it can be opened by hand.
    const QString guide = programDir_ + GuideFileName();
    if (files.isEmpty()) {
        prompts_.message(window_,
                         QStringLiteral("The help file was not found. It belongs beside the "
                                        "program:\n%1").arg(guide),
                         QStringLiteral("Help"));
    } else {
        prompts_.message(window_,
                         QStringLiteral("No program is set up to open the help file. Open it "
                                        "in a web browser:\n%1")
                             .arg(files.contains(guide) ? guide : files.first()),
                         QStringLiteral("Help"));
    }
}

void HelpLauncher::About1Click() {
    try {
        TfrmInfor about(opener_, window_);
        prompts_.exec(&about);
    } catch (const std::exception&) {
        prompts_.message(window_, QStringLiteral("About View Error"));
    }
}
