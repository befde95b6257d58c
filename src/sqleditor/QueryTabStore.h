#pragma once

#include <QObject>
#include <QString>
#include <QTimer>
#include <functional>
#include <vector>

// The editor tabs of the SQL panel kept across runs, and across a crash: each tab's text
// (saved to a file or not), its file name, and which tab was current, in a small JSON file
// beside the settings file. The file is owner-only (it holds whatever the user typed,
// passwords too) and replaced whole (files::writePrivateFile), so a crash mid-write leaves
// the last good copy. A change is written within kDelayMs of the first change after the last
// write, not on every key: typing without a pause still reaches the disk.
// No widgets: the tab widget hands over what it holds through the source callback.
class QueryTabStore : public QObject {
    Q_OBJECT
public:
    static constexpr const char* kFileName = "QueryTabs.json";
    static constexpr int kDelayMs = 1500;

    struct Tab {
        QString text;
        QString fileName;  // empty: never saved or opened
        bool operator==(const Tab&) const = default;
    };
    struct Contents {
        std::vector<Tab> tabs;
        int current = 0;
        bool operator==(const Contents&) const = default;
    };
    // What the last run left. A file that cannot be read or is not a store is moved aside
    // (never written over) and `problem` says so and where it went; `tabs` is then empty.
    struct Loaded {
        Contents contents;
        QString problem;
    };

    explicit QueryTabStore(const QString& path, QObject* parent = nullptr);
    ~QueryTabStore() override;

    const QString& path() const { return path_; }
    Loaded load();
    // Writes now; throws files::WriteError.
    void save(const Contents& contents);

    // What changed() and flush() write.
    void setSource(std::function<Contents()> source) { source_ = std::move(source); }
    // Something changed: it is written within kDelayMs.
    void changed();
    bool pending() const { return timer_.isActive(); }
    // Writes what the source holds now (the delay's end, closing the program). A failure is
    // reported through writeFailed, never thrown: it runs from timers and close handlers.
    void flush();

    // Bytes of a store, and back: false for bytes that are not one.
    static QByteArray encode(const Contents& contents);
    static bool decode(const QByteArray& bytes, Contents* contents);

Q_SIGNALS:
    // A write failed; said once until a write succeeds again.
    void writeFailed(const QString& text);

private:
    QString path_;
    QTimer timer_;
    std::function<Contents()> source_;
    bool disabled_ = false;  // a bad file could not be moved aside: it is never written over
    bool failing_ = false;
};
