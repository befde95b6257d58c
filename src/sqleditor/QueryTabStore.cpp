#include "sqleditor/QueryTabStore.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include "files/OutputFile.h"
#include "files/PrivateFile.h"

namespace {

constexpr int kFormat = 1;
// Far more than any editor holds: a file this large is not ours.
constexpr qint64 kMaxBytes = 256LL * 1024 * 1024;

}  // namespace

QueryTabStore::QueryTabStore(const QString& path, QObject* parent) : QObject(parent), path_(path) {
    timer_.setSingleShot(true);
    timer_.setInterval(kDelayMs);
    connect(&timer_, &QTimer::timeout, this, &QueryTabStore::flush);
}

QueryTabStore::~QueryTabStore() = default;

QByteArray QueryTabStore::encode(const Contents& contents) {
    QJsonArray tabs;
    for (const Tab& tab : contents.tabs)
        tabs.append(QJsonObject{{QStringLiteral("text"), tab.text},
                                {QStringLiteral("file"), tab.fileName}});
    const QJsonObject root{{QStringLiteral("format"), kFormat},
                           {QStringLiteral("current"), contents.current},
                           {QStringLiteral("tabs"), tabs}};
    return QJsonDocument(root).toJson(QJsonDocument::Indented);
}

bool QueryTabStore::decode(const QByteArray& bytes, Contents* contents) {
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(bytes, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject()) return false;
    const QJsonObject root = document.object();
    if (root.value(QStringLiteral("format")).toInt() != kFormat) return false;
    const QJsonValue tabs = root.value(QStringLiteral("tabs"));
    const QJsonValue current = root.value(QStringLiteral("current"));
    if (!tabs.isArray() || !current.isDouble()) return false;
    Contents read;
    for (const QJsonValue& value : tabs.toArray()) {
        const QJsonValue text = value.toObject().value(QStringLiteral("text"));
        const QJsonValue file = value.toObject().value(QStringLiteral("file"));
        if (!text.isString() || !file.isString()) return false;
        read.tabs.push_back({text.toString(), file.toString()});
    }
    read.current = current.toInt();
    if (read.current < 0 || read.current >= int(read.tabs.size())) read.current = 0;
    *contents = std::move(read);
    return true;
}

QueryTabStore::Loaded QueryTabStore::load() {
    Loaded loaded;
    QFile file(path_);
    if (!file.exists()) return loaded;
    QString reason;
    if (file.size() > kMaxBytes)
        reason = QStringLiteral("it is far too large");
    else if (!file.open(QIODevice::ReadOnly))
        reason = file.errorString();
    else if (!decode(file.readAll(), &loaded.contents))
        reason = QStringLiteral("it is damaged");
    file.close();
    if (reason.isEmpty()) return loaded;
    loaded.contents = {};
    // Kept for the user to look into: the next write would put one empty tab over it.
    const QString aside =
        path_ + QStringLiteral(".bad-") +
        QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    if (QFile::rename(path_, aside)) {
        loaded.problem = QStringLiteral("The editor tabs of the last run could not be read from "
                                        "%1 (%2). That file was moved to %3; the editor starts "
                                        "with one empty tab.")
                             .arg(QDir::toNativeSeparators(path_), reason,
                                  QDir::toNativeSeparators(aside));
    } else {
        disabled_ = true;
        loaded.problem = QStringLiteral("The editor tabs of the last run could not be read from "
                                        "%1 (%2), and the file could not be moved aside. It is "
                                        "left as it is, and the tabs of this run are not kept: "
                                        "move the file away before the next start.")
                             .arg(QDir::toNativeSeparators(path_), reason);
    }
    return loaded;
}

void QueryTabStore::save(const Contents& contents) {
    if (disabled_) return;
    files::writePrivateFile(path_, encode(contents));
}

void QueryTabStore::changed() {
    if (!timer_.isActive()) timer_.start();
}

void QueryTabStore::flush() {
    timer_.stop();
    if (!source_) return;
    try {
        save(source_());
        failing_ = false;
    } catch (const files::WriteError& e) {
        if (!failing_) Q_EMIT writeFailed(e.text());
        failing_ = true;
    }
}
