#include "app/ViewState.h"

#include "app/IniFile.h"
#include "db/Connection.h"

namespace {
const QString kWindows = QStringLiteral("Windows");
const QString kPanelTree = QStringLiteral("PanelTree");
const QString kConnectServer = QStringLiteral("ConnectServer");
const QString kExpand = QStringLiteral("Expand");
const QString kShowPanel = QStringLiteral("ShowPanel");
const QString kSelectDb = QStringLiteral("SelectDB");
}  // namespace

ViewState::Geometry ViewState::ReadGeometry() const {
    const Geometry d;
    Geometry g;
    g.left = settings_.ReadInteger(kWindows, QStringLiteral("left"), d.left);
    g.top = settings_.ReadInteger(kWindows, QStringLiteral("top"), d.top);
    g.width = settings_.ReadInteger(kWindows, QStringLiteral("width"), d.width);
    g.height = settings_.ReadInteger(kWindows, QStringLiteral("height"), d.height);
    g.treeWidth = settings_.ReadInteger(kPanelTree, QStringLiteral("width"), d.treeWidth);
    g.treeHeight = settings_.ReadInteger(kPanelTree, QStringLiteral("height"), d.treeHeight);
    return g;
}

QString ViewState::ReadConnectServer() const {
    return settings_.ReadString(kConnectServer, kConnectServer, QStringLiteral("None"));
}

QString ViewState::ReadConnectHost() const {
    return settings_.ReadString(kConnectServer, QStringLiteral("Host"), QString());
}

QString ViewState::ReadConnectUser() const {
    return settings_.ReadString(kConnectServer, QStringLiteral("User"), QString());
}

void ViewState::WriteConnectServer(const QString& name, const QString& host, const QString& user) {
    // Older versions read the name alone and pass over the other keys.
    settings_.Apply({{kConnectServer, kConnectServer, name},
                     {kConnectServer, QStringLiteral("Host"), host},
                     {kConnectServer, QStringLiteral("User"), user}});
}

ExpansionLists ViewState::ReadExpansion() const {
    return {settings_.ReadString(kExpand, QStringLiteral("level1"), QStringLiteral("None")),
            settings_.ReadString(kExpand, QStringLiteral("level2"), QStringLiteral("NoneBD")),
            settings_.ReadString(kExpand, QStringLiteral("level3"), QStringLiteral("NoneBD")),
            settings_.ReadString(kExpand, QStringLiteral("level4"), QStringLiteral("NoneBD"))};
}

QString ViewState::ReadSelectDb() const {
    return settings_.ReadString(kSelectDb, QStringLiteral("DB"), QStringLiteral("NoneBD"));
}

bool ViewState::ReadWarnReadableServerList() const {
    return settings_.ReadInteger(QStringLiteral("ServerList"), QStringLiteral("WarnReadable"), 1) != 0;
}

void ViewState::WriteWarnReadableServerList(bool warn) {
    settings_.WriteInteger(QStringLiteral("ServerList"), QStringLiteral("WarnReadable"), warn ? 1 : 0);
}

unsigned ViewState::ReadNetTimeout() const {
    const int seconds = settings_.ReadInteger(QStringLiteral("Connection"), QStringLiteral("Timeout"),
                                              int(db::kDefaultNetTimeoutSeconds));
    return seconds < 0 ? db::kDefaultNetTimeoutSeconds : unsigned(seconds);
}

int ViewState::ReadShowPanel() const {
    return settings_.ReadInteger(kShowPanel, QStringLiteral("Panel"), 0);
}

void ViewState::Save(const Geometry& g, const ExpansionLists& expansion, int shownPanel,
                     const QString& selectedDb) {
    // One rewrite of the file for the whole state; a value the file cannot hold does not
    // cost the others. The keys below are deleted first so that they are written afresh, as
    // the last keys of their sections.
    const auto number = [](int value) { return std::optional<QString>(QString::number(value)); };
    settings_.Apply({
        {kWindows, QStringLiteral("left"), number(g.left)},
        {kWindows, QStringLiteral("top"), number(g.top)},
        {kWindows, QStringLiteral("width"), number(g.width)},
        {kWindows, QStringLiteral("height"), number(g.height)},
        {kPanelTree, QStringLiteral("width"), number(g.treeWidth)},
        {kPanelTree, QStringLiteral("height"), number(g.treeHeight)},
        {kExpand, QStringLiteral("level1"), std::nullopt},
        {kExpand, QStringLiteral("level2"), std::nullopt},
        {kExpand, QStringLiteral("level3"), std::nullopt},
        {kExpand, QStringLiteral("level4"), std::nullopt},
        {kShowPanel, QStringLiteral("Panel"), std::nullopt},
        {kSelectDb, QStringLiteral("DB"), std::nullopt},
        {kExpand, QStringLiteral("level1"), expansion.level1},
        {kExpand, QStringLiteral("level2"), expansion.level2},
        {kExpand, QStringLiteral("level3"), expansion.level3},
        {kExpand, QStringLiteral("level4"), expansion.level4},
        {kShowPanel, QStringLiteral("Panel"), number(shownPanel)},
        {kSelectDb, QStringLiteral("DB"), selectedDb},
    });
}
