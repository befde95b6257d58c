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
    for (const QString& path : HelpFiles())
        if (opener_(QUrl::fromLocalFile(path))) return;
}

void HelpLauncher::About1Click() {
    try {
        TfrmInfor about(opener_, window_);
        prompts_.exec(&about);
    } catch (const std::exception&) {
        prompts_.message(window_, QStringLiteral("About View Error"));
    }
}
