#include "sqleditor/SqlPanel.h"

#include <QApplication>
#include <QCoreApplication>
#include <QCheckBox>
#include <QCompleter>
#include <QStringListModel>
#include <QDir>
#include <QDateTime>
#include <QElapsedTimer>
#include <QEvent>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QPlainTextEdit>
#include <QSpinBox>
#include <QSplitter>
#include <QStyle>
#include <QTabWidget>
#include <QScrollBar>
#include <QTableView>
#include <QToolButton>
#include <QVBoxLayout>
#include <deque>
#include <exception>
#include <optional>

#include "dataset/ResultRows.h"
#include "dataset/TMySQLConnection.h"
#include "dataset/TMySQLDataSet.h"
#include "panels/GridEditing.h"
#include "files/OutputFile.h"
#include "files/RegularFile.h"
#include "panels/ResultGrid.h"
#include "sqleditor/ResultFile.h"
#include "sqleditor/ResultFooter.h"
#include "sqleditor/ScriptFile.h"
#include "sqleditor/EditorCompletion.h"
#include "sqleditor/HistoryPane.h"
#include "sqleditor/QueryHistory.h"
#include "sqleditor/RunReport.h"
#include "sqleditor/ScriptRun.h"
#include "sqleditor/SqlHighlighter.h"
#include "sqleditor/SqlText.h"
#include "sqleditor/TabSession.h"
#include "ui/BusyCursor.h"
#include "ui/Counted.h"
#include "ui/ElidedLabel.h"
#include "ui/ServerWait.h"
#include "ui/Prompts.h"

const QString SqlPanel::kDefaultOpenFilter = QStringLiteral("SQL files (*.sql);;All files (*.*)");
const QString SqlPanel::kSaveFilter = QStringLiteral("SQL files (*.sql);;All Files (*.*)");

namespace {

constexpr int kCheckBoxRightMargin = 15;

QToolButton* makeButton(QWidget* parent, const char* name, const QString& toolTip) {
    auto* button = new QToolButton(parent);
    button->setObjectName(QLatin1String(name));
    button->setToolTip(toolTip);
    button->setAutoRaise(true);
    button->setFocusPolicy(Qt::NoFocus);
    return button;
}

QString commandOutcome(const ExecOutcome& outcome) {
    if (!outcome.ok) {
        return outcome.errorText.isEmpty() ? QStringLiteral("The server refused the statement.")
                                           : outcome.errorText;
    }
    return QStringLiteral("Query OK, %1 affected").arg(ui::counted(outcome.affectedRows, "row"));
}

// The label after a USE the server accepted: the database the server now uses, as the
// server names it, rather than the statement's text ("use `a``b`" uses a`b).
QString usedDatabaseLabel(TMySQLConnection& connection, const SqlText& sql) {
    db::Connection& c = connection.connection();
    if (c.query("SELECT DATABASE()")) {
        db::Result current = c.storeResult();
        if (current && current.next() && !current.value(0).isNull())
            return SqlText::useDbLabelFor(current.text(0));
    }
    return sql.useDbLabel();
}

}  // namespace

SqlPanel::SqlPanel(TMySQLConnection& datasetConnection, ui::Prompts& prompts,
                   const QString& programDir, QWidget* parent)
    : QWidget(parent),
      connection_(datasetConnection),
      prompts_(prompts),
      programDir_(programDir),
      openFilter_(kDefaultOpenFilter) {
    setObjectName(QStringLiteral("PanelSQL_content"));
    MySQLDataSet2_ = new TMySQLDataSet(this);
    MySQLDataSet2_->setObjectName(QStringLiteral("MySQLDataSet2"));
    MySQLDataSet2_->SetConnection(&connection_);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(2);

    Panel6_ = new QWidget(this);
    Panel6_->setObjectName(QStringLiteral("Panel6"));
    auto* strip = new QHBoxLayout(Panel6_);
    strip->setContentsMargins(2, 2, 2, 2);
    SpeedButton7_ = makeButton(Panel6_, "SpeedButton7", QStringLiteral("Execute [Ctrl+E]"));
    SpeedButton7_->setText(QStringLiteral("Exec"));
    SpeedButton8_ = makeButton(Panel6_, "SpeedButton8", QStringLiteral("Open [Ctrl+O]"));
    SpeedButton8_->setIcon(style()->standardIcon(QStyle::SP_DialogOpenButton));
    SpeedButton9_ = makeButton(Panel6_, "SpeedButton9", QStringLiteral("Save [Ctrl+S]"));
    SpeedButton9_->setIcon(style()->standardIcon(QStyle::SP_DialogSaveButton));
    LUseDb_ = new ui::ElidedLabel(Panel6_);
    LUseDb_->setObjectName(QStringLiteral("LUseDb"));
    LUseDb_->setFullText(SqlText::useDbLabelFor({}));
    SpeedButtonScript_ =
        makeButton(Panel6_, "SpeedButtonScript", QStringLiteral("Run script [Ctrl+Shift+E]"));
    SpeedButtonScript_->setText(QStringLiteral("Script"));
    CheckBoxStopAtError_ = new QCheckBox(QStringLiteral("Stop at error"), Panel6_);
    CheckBoxStopAtError_->setObjectName(QStringLiteral("CheckBoxStopAtError"));
    CheckBoxStopAtError_->setChecked(true);
    CheckBoxStopAtError_->setFocusPolicy(Qt::NoFocus);
    strip->addWidget(SpeedButton7_);
    strip->addWidget(SpeedButtonScript_);
    strip->addWidget(SpeedButton8_);
    strip->addWidget(SpeedButton9_);
    strip->addWidget(CheckBoxStopAtError_);
    strip->addSpacing(8);
    strip->addWidget(LUseDb_, 1);
    // Outside the strip's layout: Panel6ConstrainedResize places it.
    CheckBox1_ = new QCheckBox(QStringLiteral("Query Result Save"), Panel6_);
    CheckBox1_->setObjectName(QStringLiteral("CheckBox1"));
    CheckBox1_->resize(CheckBox1_->sizeHint());
    strip->addSpacing(CheckBox1_->width() + kCheckBoxRightMargin);
    Panel6_->installEventFilter(this);
    layout->addWidget(Panel6_);

    Splitter2_ = new QSplitter(Qt::Vertical, this);
    Splitter2_->setObjectName(QStringLiteral("Splitter2"));
    Splitter2_->setChildrenCollapsible(false);
    auto* editorSplitter = new QSplitter(Qt::Horizontal, Splitter2_);
    editorSplitter->setObjectName(QStringLiteral("SplitterEditor"));
    editorSplitter->setChildrenCollapsible(false);
    MemoSQL_ = new QPlainTextEdit(editorSplitter);
    MemoSQL_->setObjectName(QStringLiteral("MemoSQL"));
    MemoSQL_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    MemoSQL_->setLineWrapMode(QPlainTextEdit::NoWrap);
    MemoSQL_->installEventFilter(this);
    highlighter_ = new SqlHighlighter(MemoSQL_->document());
    // After the panel's filter: the list's keys are taken before the panel's shortcuts.
    completion_ = new EditorCompletion(connection_.connection(), *MemoSQL_, this);
    completion_->setKeywords(SqlHighlighter::builtInKeywords());

    auto* resultArea = new QWidget(Splitter2_);
    resultArea->setObjectName(QStringLiteral("ResultArea"));
    auto* resultLayout = new QVBoxLayout(resultArea);
    resultLayout->setContentsMargins(0, 0, 0, 0);
    MemoResult_ = new QPlainTextEdit(resultArea);
    MemoResult_->setObjectName(QStringLiteral("MemoResult"));
    MemoResult_->setReadOnly(true);
    DBGrid2_ = new ResultGrid(*MySQLDataSet2_, prompts_, resultArea);
    DBGrid2_->setObjectName(QStringLiteral("DBGrid2"));
    DBGrid2_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    DBGrid2_->verticalHeader()->setDefaultSectionSize(
        DBGrid2_->fontMetrics().height() + 6);
    resultRows_ = new ResultRows(*MySQLDataSet2_, this);
    resultRows_->setObjectName(QStringLiteral("ResultRows"));
    resultRows_->setConnection(&connection_.connection());
    resultEditing_ = new GridEditing(*resultRows_, *DBGrid2_, prompts_);
    DBGrid2_->editThrough(*resultRows_, *resultEditing_);
    DBGrid2_->hide();
    footer_ = new ResultFooter(*resultRows_, *resultEditing_, resultArea);
    footer_->hide();
    MySQLDataSet2_->SetRowLimit(footer_->rowLimit());
    connect(&footer_->RowLimit(), &QSpinBox::valueChanged, this,
            [this](int rows) { MySQLDataSet2_->SetRowLimit(std::uint64_t(rows)); });
    ScriptResults_ = new QTabWidget(resultArea);
    ScriptResults_->setObjectName(QStringLiteral("ScriptResults"));
    MemoLog_ = new QPlainTextEdit(ScriptResults_);
    MemoLog_->setObjectName(QStringLiteral("MemoLog"));
    MemoLog_->setReadOnly(true);
    MemoLog_->setLineWrapMode(QPlainTextEdit::NoWrap);
    MemoLog_->setMaximumBlockCount(kMaxLogLines);  // a long script's log stays small
    ScriptResults_->addTab(MemoLog_, QStringLiteral("Messages"));
    ScriptResults_->hide();
    resultLayout->addWidget(MemoResult_);
    resultLayout->addWidget(DBGrid2_);
    resultLayout->addWidget(footer_);
    resultLayout->addWidget(ScriptResults_);
    history_ = std::make_unique<QueryHistory>(
        QDir(programDir_).filePath(QLatin1String(kHistoryFile)));
    historyPane_ = new HistoryPane(*history_, editorSplitter);
    historyPane_->hide();
    connect(historyPane_, &HistoryPane::StatementChosen, this, [this](const QString& statement) {
        MemoSQL_->setPlainText(statement);
        MemoSQL_->setFocus();
    });
    editorSplitter->addWidget(MemoSQL_);
    editorSplitter->addWidget(historyPane_);
    editorSplitter->setStretchFactor(0, 3);
    editorSplitter->setStretchFactor(1, 1);
    Splitter2_->addWidget(editorSplitter);
    Splitter2_->addWidget(resultArea);
    Splitter2_->setStretchFactor(0, 1);
    Splitter2_->setStretchFactor(1, 2);
    layout->addWidget(Splitter2_, 1);

    connect(SpeedButton7_, &QToolButton::clicked, this, &SqlPanel::SpeedButton7Click);
    connect(SpeedButton8_, &QToolButton::clicked, this, &SqlPanel::SpeedButton8Click);
    connect(SpeedButton9_, &QToolButton::clicked, this, &SqlPanel::SpeedButton9Click);
    connect(SpeedButtonScript_, &QToolButton::clicked, this, &SqlPanel::RunScriptClick);
    connect(ScriptResults_, &QTabWidget::currentChanged, this,
            [this](int index) { showResultGrid(ScriptResults_->widget(index)); });
    // The server's own keyword list, read once per connect.
    connect(&connection_, &TMySQLConnection::AfterConnect, this, [this] {
        const QStringList words = SqlHighlighter::serverKeywords(connection_.connection());
        highlighter_->setKeywords(words);
        completion_->setKeywords(words);
        completion_->clear();
        refreshRules();
    });
}

void SqlPanel::refreshRules() {
    const sqllex::Rules rules = connection_.connection().sqlRules();
    highlighter_->setRules(rules);
    completion_->setRules(rules);
}

SqlPanel::~SqlPanel() = default;

QLabel* SqlPanel::LUseDb() const { return LUseDb_; }

void SqlPanel::SetUseDb(const QString& name) { LUseDb_->setFullText(SqlText::useDbLabelFor(name)); }

void SqlPanel::ForgetNames() { completion_->clear(); }

QCompleter* SqlPanel::Completer() const { return completion_->completer(); }

void SqlPanel::ShowCompletions() { completion_->show(); }

bool SqlPanel::eventFilter(QObject* watched, QEvent* event) {
    const QEvent::Type type = event->type();
    // The completion list has had the keys it takes (EditorCompletion).
    if (watched == MemoSQL_ && type == QEvent::KeyPress && !forwardingKey_) {
        auto* key = static_cast<QKeyEvent*>(event);
        MemoSQLKeyDown(*key);
        // Ctrl with a keypad key still carries the key's character, which the editor would
        // insert; the editor gets the key without it.
        if ((key->modifiers() & Qt::ControlModifier) && (key->modifiers() & Qt::KeypadModifier) &&
            !key->text().isEmpty()) {
            QKeyEvent withoutText(key->type(), key->key(), key->modifiers(), QString(),
                                  key->isAutoRepeat(), ushort(key->count()));
            forwardingKey_ = true;
            QCoreApplication::sendEvent(MemoSQL_, &withoutText);
            forwardingKey_ = false;
            return true;
        }
    } else if (watched == Panel6_ && type == QEvent::Resize)
        Panel6ConstrainedResize();
    return QWidget::eventFilter(watched, event);
}

void SqlPanel::MemoSQLKeyDown(const QKeyEvent& event) {
    if (!(event.modifiers() & Qt::ControlModifier)) return;
    const bool keypad = event.modifiers() & Qt::KeypadModifier;
    switch (event.key()) {
    case Qt::Key_E:
        if (event.modifiers() & Qt::ShiftModifier)
            RunScriptClick();
        else
            SpeedButton7Click();
        break;
    case Qt::Key_U:
        SpeedButton7Click();
        break;
    case Qt::Key_R:
        historyPane_->Start();
        break;
    case Qt::Key_O:
        SpeedButton8Click();
        break;
    case Qt::Key_S:
        SpeedButton9Click();
        break;
    case Qt::Key_9:
        if (keypad) SpeedButton8Click();
        break;
    case Qt::Key_Minus:
        if (keypad) SpeedButton9Click();
        break;
    default:
        break;
    }
}

void SqlPanel::Panel6ConstrainedResize() {
    const int x = Panel6_->width() - CheckBox1_->width() - kCheckBoxRightMargin;
    const int y = (Panel6_->height() - CheckBox1_->height()) / 2;
    CheckBox1_->move(x, y);
}

void SqlPanel::showGrid(bool grid) {
    ScriptResults_->hide();
    MemoResult_->setVisible(!grid);
    DBGrid2_->setVisible(grid);
    footer_->setVisible(grid);
}

void SqlPanel::showScriptResults() {
    MemoResult_->hide();
    DBGrid2_->hide();
    footer_->hide();
    ScriptResults_->show();
}

QString SqlPanel::editorText() const {
    const QTextCursor cursor = MemoSQL_->textCursor();
    if (!cursor.hasSelection()) return MemoSQL_->toPlainText();
    // A selection separates its lines with U+2029.
    return cursor.selectedText().replace(QChar::ParagraphSeparator, u'\n');
}

void SqlPanel::addResultTab(db::Result result, qint64 line, int number) {
    auto* page = new QWidget(ScriptResults_);
    auto* pageLayout = new QVBoxLayout(page);
    pageLayout->setContentsMargins(0, 0, 0, 0);
    auto* rows = new TMySQLDataSet(page);
    rows->OpenOn(std::move(result));
    ScriptResults_->addTab(page, QStringLiteral("Result %1 (line %2)").arg(number).arg(line));
    // The oldest result goes first; the log stays.
    while (ScriptResults_->count() > kMaxResultTabs + 1) {
        QWidget* oldest = ScriptResults_->widget(1);
        ScriptResults_->removeTab(1);
        delete oldest;
    }
}

void SqlPanel::showResultGrid(QWidget* page) {
    // A tab gets its grid when it is first shown: most of a long script's tabs never are.
    if (!page || page == MemoLog_ || page->findChild<ResultGrid*>()) return;
    auto* rows = page->findChild<TMySQLDataSet*>();
    if (!rows) return;
    auto* grid = new ResultGrid(*rows, prompts_, page);
    grid->setEditTriggers(QAbstractItemView::NoEditTriggers);
    grid->verticalHeader()->setDefaultSectionSize(grid->fontMetrics().height() + 6);
    page->layout()->addWidget(grid);
    Q_EMIT rows->AfterOpen();  // the grid fits its columns to the rows
}

void SqlPanel::RunScriptClick() {
    if (session_ && session_->running()) return;
    const QString text = editorText();
    if (SqlText::trimmed(text).isEmpty()) return;
    if (session_) {
        try {
            session_->openNow();
        } catch (const db::DbError& e) {
            prompts_.message(this, QString::fromUtf8(e.what()));
            return;
        }
    }
    ui::BusyCursor busy;
    while (ScriptResults_->count() > 1) {
        QWidget* page = ScriptResults_->widget(1);
        ScriptResults_->removeTab(1);
        delete page;
    }
    MemoLog_->clear();
    showScriptResults();
    QElapsedTimer clock;
    clock.start();
    struct Answer {
        db::Result rows;
        qint64 line;
        int number;
    };
    std::deque<Answer> answers;  // only the last ones get a tab
    int results = 0;
    QStringList pendingLog;
    // Each append scrolls the log to its end, which lays out and paints its last page
    // again: done for every slice of statements, that would cost the window more than the
    // lines themselves, so the log catches up at most every kLogCatchUpMs.
    QElapsedTimer sinceAppend;
    sinceAppend.start();
    const auto appendPending = [&] {
        if (pendingLog.isEmpty()) return;
        MemoLog_->appendPlainText(pendingLog.join(u'\n'));
        pendingLog.clear();
        sinceAppend.restart();
    };
    qint64 serverMs = 0;
    int logLines = 0;  // a statement's warnings take lines of their own
    const ScriptRun::Totals totals = ScriptRun::run(
        connection_.connection(), db::utf8(text), CheckBoxStopAtError_->isChecked(),
        [&](const ScriptStep& step, const std::string& /*statement*/, std::vector<db::Result>& sets) {
            pendingLog << RunReport::logLine(step);
            logLines += 1 + int(step.warningList.size());
            for (db::Result& r : sets) {
                answers.push_back({std::move(r), step.line, ++results});
                if (answers.size() > std::size_t(kMaxResultTabs)) answers.pop_front();
            }
            serverMs += step.ms;
            return true;
        },
        [&] {
            if (sinceAppend.elapsed() >= kLogCatchUpMs) appendPending();
        },
        footer_->rowLimit());
    appendPending();
    for (Answer& a : answers) addResultTab(std::move(a.rows), a.line, a.number);
    // What no longer fits is said, not dropped silently.
    const bool tabsDropped = results > kMaxResultTabs;
    if (tabsDropped)
        MemoLog_->appendPlainText(
            QStringLiteral("%1 without a tab: only the last %2 result sets are kept.")
                .arg(ui::counted(std::uint64_t(results - kMaxResultTabs), "earlier result set"))
                .arg(kMaxResultTabs));
    // A line for each statement and each of its warnings, the notes and the closing line.
    const int lines = logLines + (tabsDropped ? 1 : 0) + 2;
    if (lines > kMaxLogLines)
        MemoLog_->appendPlainText(
            QStringLiteral("%1 no longer in this log: it keeps its last %2 lines.")
                .arg(ui::counted(std::uint64_t(lines - kMaxLogLines), "earlier line"))
                .arg(kMaxLogLines));
    // The script is one entry: however many statements it holds, one run never pushes
    // the rest of the history out.
    if (totals.statements > 0) {
        history_->record(historyEntry(
            SqlText::trimmed(text), serverMs, -1,
            QStringLiteral("%1, %2 failed%3")
                .arg(ui::counted(std::uint64_t(totals.statements), "statement"))
                .arg(totals.failures)
                .arg(totals.stopped ? QStringLiteral(", stopped") : QString())));
    }
    refreshRules();  // the script may have changed the SQL mode
    if (historyPane_->isVisible()) historyPane_->Refresh();
    MemoLog_->appendPlainText(QStringLiteral("%1, %2 failed, %3 ms%4")
                                  .arg(ui::counted(std::uint64_t(totals.statements), "statement"))
                                  .arg(totals.failures)
                                  .arg(clock.elapsed())
                                  .arg(totals.stopped ? QStringLiteral(", stopped") : QString()));
    ScriptResults_->setCurrentIndex(ScriptResults_->count() - 1);
    // A cancel is the user's choice, not a fault: the status line says how far the run got,
    // with nothing to confirm.
    if (totals.cancelled)
        Q_EMIT statusMessage(RunReport::cancelled(totals.completed, totals.inScript));
    if (!totals.cancelled) offerReconnect(connection_.connection().errorText());
    // A USE in the script moves the session: the label follows the server.
    if (connection_.connection().isOpen())
        LUseDb_->setFullText(usedDatabaseLabel(connection_, SqlText(QString())));
}

QString SqlPanel::resolve(const QString& path) const {
    return QDir::cleanPath(QDir(programDir_).absoluteFilePath(path));
}

HistoryEntry SqlPanel::historyEntry(QString statement, qint64 ms, qint64 rows,
                                    QString outcome) const {
    HistoryEntry e;
    e.server = connection_.connection().params().label;
    e.database = connection_.DB();
    e.started = QDateTime::currentDateTimeUtc().addMSecs(-ms);
    e.durationMs = ms;
    e.rows = rows;
    e.outcome = std::move(outcome);
    e.statement = std::move(statement);
    e.rules = highlighter_->rules();  // those the statement was written in
    return e;
}

void SqlPanel::remember(const QString& statement, qint64 ms, qint64 rows, const QString& outcome) {
    history_->record(historyEntry(statement, ms, rows, outcome));
    refreshRules();  // the statement may have changed the SQL mode
    if (historyPane_->isVisible()) historyPane_->Refresh();
}

void SqlPanel::SpeedButton7Click() {
    if (session_ && session_->running()) return;  // one statement at a time per tab
    if (!resultEditing_->editsMayGo()) return;
    std::optional<ui::BusyCursor> busy(std::in_place);
    try {
        const SqlText sql(editorText());
        showGrid(sql.isQuery());
        if (!sql.isQuery()) MemoResult_->clear();
        if (!sql.isQuery() && sql.isEmpty()) return finishExec(sql, {}, busy);
        // Run on the dataset, on the same connection: a statement that answers with rows
        // shows them whatever its first word, and nothing is sent twice.
        MySQLDataSet2_->SetSQL(sql.lines());
        if (session_) {
            asideText_ = editorText();
            MySQLDataSet2_->Close();
            session_->start(MySQLDataSet2_->SQL().join(QStringLiteral("\r\n")), footer_->rowLimit());
            return;
        }
        finishExec(sql, MySQLDataSet2_->Run(), busy);
    } catch (const std::exception& e) {
        busy.reset();
        prompts_.message(this, QString::fromUtf8(e.what()));
    }
}

void SqlPanel::RunAsideOn(TabSession* session) {
    session_ = session;
    connect(session_, &TabSession::started, this, [this] { completion_->setPaused(true); });
    connect(session_, &TabSession::finished, this, [this] {
        completion_->setPaused(false);
        std::optional<ui::BusyCursor> none;
        try {
            finishExec(SqlText(asideText_), MySQLDataSet2_->Take(session_->takeAnswer()), none);
        } catch (const std::exception& e) {
            prompts_.message(this, QString::fromUtf8(e.what()));
        }
    });
}

void SqlPanel::finishExec(const SqlText& sql, const ExecOutcome& ran,
                          std::optional<ui::BusyCursor>& busy) {
    // The history keeps the server's time, not the time a message about it stayed open.
    if (!sql.isQuery()) {
        const ExecOutcome outcome = showCommand(sql, ran);
        reportDroppedResults();
        if (!outcome.ok && !outcome.cancelled) offerReconnect(outcome.errorText);
        if (outcome.sent)
            remember(sql.statement(), MySQLDataSet2_->ElapsedMs(),
                     outcome.returnedRows ? MySQLDataSet2_->rowCount() : qint64(outcome.affectedRows),
                     outcome.returnedRows ? ui::counted(std::uint64_t(MySQLDataSet2_->rowCount()), "row")
                                          : commandOutcome(outcome));
        return;
    }
    const bool opened = showQuery(ran);
    reportDroppedResults();
    remember(sql.statement(), MySQLDataSet2_->ElapsedMs(), opened ? MySQLDataSet2_->rowCount() : -1,
             opened ? ui::counted(std::uint64_t(MySQLDataSet2_->rowCount()), "row")
                    : connection_.connection().errorText());
    if (!opened || !sql.isSelect() || !CheckBox1_->isChecked()) return;
    // The questions and the file dialog are the user's time, not the server's.
    busy.reset();
    saveResult();
}

void SqlPanel::reportDroppedResults() {
    const int dropped = MySQLDataSet2_->DroppedResultSets();
    if (dropped == 0) return;
    Q_EMIT statusMessage(
        QStringLiteral("%1 not shown: Exec shows the first one only. Run the statement with "
                       "Script to see every result set.")
            .arg(dropped == 1 ? QStringLiteral("1 more result set was")
                              : QStringLiteral("%1 more result sets were").arg(dropped)));
}

bool SqlPanel::showQuery(const ExecOutcome& outcome) {
    if (outcome.cancelled) {
        reportCancel(outcome);
        return false;
    }
    // A refused statement is shown with the server's text, and the grid stays shown, empty.
    if (!outcome.ok) {
        if (!offerReconnect(outcome.errorText)) prompts_.message(this, outcome.errorText);
    }
    else if (!outcome.returnedRows)
        prompts_.message(this, TMySQLDataSet::noResultSetText());
    if (!outcome.returnedRows) return false;
    const QString warnings = serverWarnings();
    if (!warnings.isEmpty()) Q_EMIT statusMessage(QString(warnings).replace(u'\n', u' '));
    resultRows_->readTable();
    return true;
}

bool SqlPanel::offerReconnect(const QString& reason) {
    const db::Connection& c = connection_.connection();
    if (!c.isOpen() || !c.connectionLost() || c.cancelledByUser()) return false;
    // Never sent again on its own: the statement may have run before the connection went.
    if (prompts_.yesNo(this,
                       QStringLiteral("The connection to the server was lost: %1\n\nConnect "
                                      "again now? The statement is not sent again: it may "
                                      "have run on the server.")
                           .arg(reason),
                       QStringLiteral("Connection Lost")))
        Q_EMIT reconnectRequested();
    return true;
}

void SqlPanel::reportCancel(const ExecOutcome& outcome) {
    // The memo keeps how long it ran; the status line tells without a box to confirm.
    showGrid(false);
    MemoResult_->setPlainText(outcome.errorText);
    Q_EMIT statusMessage(RunReport::cancelled(0, 1));
}

// The server's warnings about the statement just run ("1 warning:" and a line for each), so
// that a value the server changed (CAST('abc' AS INT) gives 0) does not pass unnoticed.
QString SqlPanel::serverWarnings() {
    db::Connection& c = connection_.connection();
    const unsigned count = c.warningCount();
    if (count == 0) return {};
    return RunReport::warnings(count, c.warnings().value_or(std::vector<db::ServerWarning>{}));
}

ExecOutcome SqlPanel::showCommand(const SqlText& sql, const ExecOutcome& outcome) {
    if (!outcome.sent) return outcome;
    if (outcome.cancelled) {
        reportCancel(outcome);
        return outcome;
    }
    // Read before anything else is sent: the next statement replaces them.
    const QString warnings = outcome.ok ? serverWarnings() : QString();
    // Only a USE the server accepted changes the database the label names.
    if (outcome.ok && sql.isUse()) LUseDb_->setFullText(usedDatabaseLabel(connection_, sql));
    if (outcome.returnedRows) {
        showGrid(true);
        if (!warnings.isEmpty()) Q_EMIT statusMessage(QString(warnings).replace(u'\n', u' '));
        resultRows_->readTable();
        return outcome;
    }
    MemoResult_->setPlainText(warnings.isEmpty() ? commandOutcome(outcome)
                                                 : commandOutcome(outcome) + u'\n' + warnings);
    return outcome;
}

void SqlPanel::saveResult() {
    if (!prompts_.yesNo(this, QStringLiteral("Query 결과를 파일로 저장하시겠습니까?"),
                        QStringLiteral("Confirm")))
        return;
    const QString chosen = prompts_.saveFileName(this, {}, programDir_, kSaveFilter);
    if (chosen.isEmpty()) return;
    const QString path = resolve(chosen);
    prompts_.message(this, QDir::toNativeSeparators(path));
    try {
        ui::BusyCursor busy;
        ResultFile::write(path, *MySQLDataSet2_);
    } catch (const files::WriteError& e) {
        prompts_.message(this, e.text());
    }
}

void SqlPanel::SpeedButton8Click() {
    const QString chosen = prompts_.openFileName(this, {}, programDir_, openFilter_);
    if (chosen.isEmpty()) return;
    QString text;
    try {
        text = ScriptFile::load(resolve(chosen));
    } catch (const files::ReadError& e) {
        prompts_.message(this, e.text());
        return;
    }
    MemoSQL_->setPlainText(text);
    Q_EMIT fileChosen(resolve(chosen));
}

void SqlPanel::SpeedButton9Click() {
    const QString text = MemoSQL_->toPlainText();
    if (SqlText::trimmed(text).isEmpty()) return;
    const QString chosen = prompts_.saveFileName(this, {}, programDir_, kSaveFilter);
    if (chosen.isEmpty()) return;
    try {
        ScriptFile::save(resolve(chosen), text);
        Q_EMIT fileChosen(resolve(chosen));
    } catch (const files::WriteError& e) {
        prompts_.message(this, e.text());
    }
}
