#include "tree/NodeImages.h"

#include <QApplication>
#include <QStyle>
#include <array>

#include "tree/TreeNode.h"

QIcon NodeImages::icon(int index) {
    static const std::array<QStyle::StandardPixmap, Count> kinds = {
        QStyle::SP_ComputerIcon,             // server
        QStyle::SP_DriveNetIcon,             // "DB"
        QStyle::SP_DriveHDIcon,              // database
        QStyle::SP_DirClosedIcon,            // folders, accounts, host entries
        QStyle::SP_FileDialogDetailedView,   // table
        QStyle::SP_DirOpenIcon,              // "Fields", "Index Key", "Validity Checks"
        QStyle::SP_DirHomeIcon,              // "USER"
        QStyle::SP_FileIcon,                 // column
        QStyle::SP_DirLinkIcon,              // "HOST"
    };
    if (index < 0 || index >= Count || !qApp) return {};
    // Fetched once: a listing of thousands of tables shares the same nine icons.
    static std::array<QIcon, Count> cache;
    QIcon& icon = cache[size_t(index)];
    if (icon.isNull()) icon = QApplication::style()->standardIcon(kinds[size_t(index)]);
    return icon;
}

QIcon NodeImages::viewIcon() {
    if (!qApp) return {};
    static QIcon icon;
    if (icon.isNull()) icon = QApplication::style()->standardIcon(QStyle::SP_FileLinkIcon);
    return icon;
}

QIcon NodeImages::objectIcon(quint8 level) {
    if (!qApp) return {};
    QStyle::StandardPixmap kind;
    std::size_t slot;
    switch (level) {
        case nlView: return viewIcon();
        case nlProcedure: kind = QStyle::SP_MediaPlay, slot = 0; break;
        case nlFunction: kind = QStyle::SP_CommandLink, slot = 1; break;
        case nlTrigger: kind = QStyle::SP_BrowserReload, slot = 2; break;
        case nlEvent: kind = QStyle::SP_MessageBoxInformation, slot = 3; break;
        default: return {};
    }
    static std::array<QIcon, 4> cache;
    QIcon& icon = cache[slot];
    if (icon.isNull()) icon = QApplication::style()->standardIcon(kind);
    return icon;
}
