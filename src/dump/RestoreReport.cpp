// What a restore says to the user about a run: its running status, the time left and the
// report of what did not go as the file says (declared with the engine in RestoreEngine.h).
#include <QStringList>
#include <algorithm>

#include "dump/DumpFormat.h"
#include "dump/RestoreEngine.h"
#include "ui/Counted.h"

namespace dump {

QString runningStatus(const QString& prefix, const RestoreProgress& p) {
    QString text = prefix + p.status;
    if (p.failures) text += QStringLiteral("  - %1 failed").arg(p.failures);
    return text;
}

QString timeLeft(qint64 elapsedMs, qint64 done, qint64 size) {
    if (done <= 0 || size <= done || elapsedMs < 1000) return {};
    const qint64 seconds = elapsedMs * (size - done) / done / 1000;
    if (seconds < 60) return QStringLiteral("about %1 s left").arg(std::max<qint64>(seconds, 1));
    if (seconds < 3600) return QStringLiteral("about %1 min left").arg((seconds + 30) / 60);
    return QStringLiteral("about %1 h %2 min left").arg(seconds / 3600).arg(seconds % 3600 / 60);
}

QString failureReport(const RestoreRun& run, const QString& fileName) {
    QStringList lines;
    // The first statements of a kind with the server's words, and how many more there were.
    auto listStatements = [&lines](const std::vector<RestoreFailure>& first, std::uint64_t count) {
        for (const RestoreFailure& f : first) {
            lines << (f.code ? QStringLiteral("line %1: %2 (%3)").arg(f.line).arg(f.message).arg(f.code)
                             : QStringLiteral("line %1: %2").arg(f.line).arg(f.message));
            lines << QStringLiteral("    ") + QString::fromUtf8(f.statement).simplified();
        }
        if (count > first.size()) lines << QStringLiteral("and %1 more.").arg(count - first.size());
    };
    if (run.failures) {
        lines << QStringLiteral("%1: %2 of %3 statements failed:")
                     .arg(fileName)
                     .arg(run.failures)
                     .arg(run.statements);
        listStatements(run.firstFailures, run.failures);
    }
    if (run.warnedCount) {
        lines << QStringLiteral("%1: the server warned on %2; their values may be "
                                "stored other than the file says (an incorrect or truncated "
                                "value):")
                     .arg(fileName, ui::counted(run.warnedCount, "statement"));
        listStatements(run.warned, run.warnedCount);
    }
    if (run.oversizedCount) {
        lines << QStringLiteral("%1: %2 statements are larger than the server accepts "
                                "(max_allowed_packet = %3 bytes) and were skipped:")
                     .arg(fileName)
                     .arg(run.oversizedCount)
                     .arg(run.packetLimit);
        std::uint64_t largest = 0;
        for (const OversizedStatement& o : run.oversized) {
            lines << QStringLiteral("line %1: %2 bytes").arg(o.line).arg(o.bytes);
            largest = std::max(largest, o.bytes);
        }
        // The server's limit is a multiple of 1 KiB up to 1 GiB.
        const std::uint64_t needed = std::min<std::uint64_t>(((largest + 1024) / 1024 + 1) * 1024,
                                                             std::uint64_t(1) << 30);
        lines << QStringLiteral("Raise max_allowed_packet on the server to at least %1 (for "
                                "example SET GLOBAL max_allowed_packet = %1, then connect "
                                "again) and restore again.")
                     .arg(needed);
    }
    if (run.commentedCount) {
        lines << QStringLiteral("%1: %2 statements began with a comment and did nothing: a line "
                                "that is no comment line of a dump (a note?) joined the statement "
                                "after it. They were not run:")
                     .arg(fileName)
                     .arg(run.commentedCount);
        for (const RestoreFailure& f : run.commented)
            lines << QStringLiteral("line %1: %2").arg(f.line).arg(QString::fromUtf8(f.statement));
    }
    auto definers = [&](const std::vector<DefinerNote>& notes) {
        for (const DefinerNote& n : notes)
            lines << QStringLiteral("line %1: DEFINER=%2: %3").arg(n.line).arg(n.definer, n.reason);
    };
    if (run.definersLeftOut) {
        lines << QStringLiteral("%1: the server refused the DEFINER of %2 objects; they were "
                                "created without it and belong to the restoring account now:")
                     .arg(fileName)
                     .arg(run.definersLeftOut);
        definers(run.leftOut);
    }
    if (run.definersMissing) {
        lines << QStringLiteral("%1: the DEFINER of %2 objects does not exist on this server; "
                                "they were created as the file says and work once that account "
                                "exists (or dump again with the DEFINER left out):")
                     .arg(fileName)
                     .arg(run.definersMissing);
        definers(run.missing);
    }
    if (run.usesSkipped)
        lines << QStringLiteral("%1: %2 USE statements were not run: the restore stays in its "
                                "target database.")
                     .arg(fileName)
                     .arg(run.usesSkipped);
    if (run.ctrlZLine)
        lines << QStringLiteral("%1: line %2 holds a Ctrl-Z, the end-of-file mark of old tools; "
                                "the restore went on after it.")
                     .arg(fileName)
                     .arg(run.ctrlZLine);
    if (run.leftoverLine)
        lines << QStringLiteral(
                     "%1: the text from line %2 on has no end marker \"%3\" and was "
                     "not executed.")
                     .arg(fileName)
                     .arg(run.leftoverLine)
                     .arg(QLatin1String(kMarker.data(), qsizetype(kMarker.size())));
    return lines.join(u'\n');
}

}  // namespace dump
