#include "tree/NodeImages.h"

#include <QApplication>
#include <QStyle>
#include <array>

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
