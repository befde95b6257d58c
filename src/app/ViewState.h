#pragma once

#include <QString>

#include "tree/ObjectTree.h"

class IniFile;

// The window's state kept in the settings file between runs: sections and keys, their
// defaults, and what is written when.
class ViewState {
public:
    struct Geometry {
        int left = 230;
        int top = 160;
        int width = 714;
        int height = 636;
        // Wide enough for a database, table and column name below each other.
        int treeWidth = 260;
        int treeHeight = 505;
    };

    explicit ViewState(IniFile& settings) : settings_(settings) {}

    Geometry ReadGeometry() const;
    // Display name of the server to reconnect at start-up; "None" when none.
    QString ReadConnectServer() const;
    // Written at once after each successful connection, with the host and user of its record,
    // which tell two servers of one name apart. Throws IniFileError.
    void WriteConnectServer(const QString& name, const QString& host = {}, const QString& user = {});
    // The host and user written with the server's name; empty in files of older versions.
    QString ReadConnectHost() const;
    QString ReadConnectUser() const;
    ExpansionLists ReadExpansion() const;
    // "NoneBD" when no database was saved.
    QString ReadSelectDb() const;
    int ReadShowPanel() const;
    // Whether to warn at start-up that others may read the server list; false once the user
    // declined to make it private. The write throws IniFileError.
    bool ReadWarnReadableServerList() const;
    void WriteWarnReadableServerList(bool warn);
    // Seconds a read or write may wait for the server; the settings' [Connection] Timeout,
    // 0 for no limit.
    unsigned ReadNetTimeout() const;

    // The close step: geometry, expansion lists, shown panel and selected database.
    // Throws IniFileError.
    void Save(const Geometry& geometry, const ExpansionLists& expansion, int shownPanel,
              const QString& selectedDb);

private:
    IniFile& settings_;
};
