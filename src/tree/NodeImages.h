#pragma once

#include <QIcon>

// The tree's nine 16x16 images, by index: 0 server, 1 databases folder, 2 database,
// 3 folder / account / host entry, 4 table, 5 table folders, 6 accounts folder, 7 column,
// 8 host entries folder.
class NodeImages {
public:
    static constexpr int Count = 9;
    static QIcon icon(int index);
    // A view among the tables: a table's place, another picture.
    static QIcon viewIcon();
    // Views, procedures, functions, triggers and events each have a picture of their own, so
    // a routine's kind shows without opening it; null for every other level.
    static QIcon objectIcon(quint8 level);
};
