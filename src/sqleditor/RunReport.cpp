#include "sqleditor/RunReport.h"

#include <QStringList>

#include "sqleditor/ScriptRun.h"
#include "ui/Counted.h"

QString RunReport::warningLine(const db::ServerWarning& warning) {
    return QStringLiteral("%1 %2: %3").arg(warning.level).arg(warning.code).arg(warning.message);
}

QString RunReport::warnings(unsigned count, const std::vector<db::ServerWarning>& read) {
    if (count == 0) return {};
    QStringList lines{ui::counted(count, "warning") + u':'};
    for (const db::ServerWarning& w : read) lines << warningLine(w);
    return lines.join(u'\n');
}

QString RunReport::error(unsigned code, const QString& text) {
    if (code == 0) return text;  // no number to show
    return QStringLiteral("Error %1: %2").arg(code).arg(text);
}

QString RunReport::logLine(const ScriptStep& step) {
    // A cancel is the user's doing, not the server's error: it keeps its own words.
    const QString outcome =
        step.ok || step.cancelled ? step.outcome : error(step.errorCode, step.outcome);
    // One pass: a % in the server's text or the statement is never taken for a place.
    QString line =
        QStringLiteral("Line %1: %2, %3, %4 ms: %5")
            .arg(QString::number(step.line), outcome, ui::counted(step.warnings, "warning"),
                 QString::number(step.ms), step.statement);
    for (const db::ServerWarning& w : step.warningList)
        line += QStringLiteral("\n  ") + warningLine(w);
    return line;
}

QString RunReport::cancelled(int ran, int total) {
    return QStringLiteral("Cancelled: %1 of %2 ran.")
        .arg(ran)
        .arg(ui::counted(std::uint64_t(total), "statement"));
}
