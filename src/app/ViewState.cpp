#include "app/ViewState.h"

#include "app/IniFile.h"

#include <optional>

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

void ViewState::WriteConnectServer(const QString& name) {
    settings_.WriteString(kConnectServer, kConnectServer, name);
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

int ViewState::ReadShowPanel() const {
    return settings_.ReadInteger(kShowPanel, QStringLiteral("Panel"), 0);
}

void ViewState::Save(const Geometry& g, const ExpansionLists& expansion, int shownPanel,
                     const QString& selectedDb) {
    // Every key gets its chance: one value the file cannot hold must not cost the others.
    std::optional<IniFileError> firstError;
    auto attempt = [&](const auto& write) {
        try {
            write();
        } catch (const IniFileError& error) {
            if (!firstError) firstError = error;
        }
    };
    auto integer = [&](const QString& section, const char* key, int value) {
        attempt([&] { settings_.WriteInteger(section, QString::fromLatin1(key), value); });
    };
    auto text = [&](const QString& section, const char* key, const QString& value) {
        attempt([&] { settings_.WriteString(section, QString::fromLatin1(key), value); });
    };
    integer(kWindows, "left", g.left);
    integer(kWindows, "top", g.top);
    integer(kWindows, "width", g.width);
    integer(kWindows, "height", g.height);
    integer(kPanelTree, "width", g.treeWidth);
    integer(kPanelTree, "height", g.treeHeight);
    // Deleted first so that the keys are written afresh, as the last keys of their sections.
    for (const char* key : {"level1", "level2", "level3", "level4"})
        attempt([&] { settings_.DeleteKey(kExpand, QString::fromLatin1(key)); });
    attempt([&] { settings_.DeleteKey(kShowPanel, QStringLiteral("Panel")); });
    attempt([&] { settings_.DeleteKey(kSelectDb, QStringLiteral("DB")); });
    text(kExpand, "level1", expansion.level1);
    text(kExpand, "level2", expansion.level2);
    text(kExpand, "level3", expansion.level3);
    text(kExpand, "level4", expansion.level4);
    integer(kShowPanel, "Panel", shownPanel);
    text(kSelectDb, "DB", selectedDb);
    if (firstError) throw *firstError;
}
