#include "sqleditor/QueryTabs.h"

#include <QDir>
#include <QBoxLayout>
#include <QFileInfo>
#include <QLabel>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QShortcut>
#include <QTabBar>
#include <QTimer>
#include <QToolButton>
#include <algorithm>
#include <set>

#include "files/OutputFile.h"
#include "files/RegularFile.h"
#include "sqleditor/ScriptFile.h"
#include "sqleditor/SqlPanel.h"
#include "sqleditor/SqlText.h"
#include "sqleditor/TabSession.h"
#include "ui/Prompts.h"
#include "ui/ServerWait.h"

QueryTabs::QueryTabs(TMySQLConnection& connection, ui::Prompts& prompts,
                     const QString& programDir, QWidget* parent)
    : QTabWidget(parent),
      connection_(connection),
      prompts_(prompts),
      programDir_(programDir),
      openFilter_(SqlPanel::kDefaultOpenFilter),
      store_(QDir(programDir).filePath(QLatin1String(QueryTabStore::kFileName))) {
    setObjectName(QStringLiteral("QueryTabs"));
    setTabsClosable(true);
    setDocumentMode(true);
    newTabButton_ = new QToolButton(this);
    newTabButton_->setObjectName(QStringLiteral("NewQueryTab"));
    newTabButton_->setText(QStringLiteral("+"));
    newTabButton_->setToolTip(QStringLiteral("New tab [Ctrl+T]"));
    newTabButton_->setAutoRaise(true);
    setCornerWidget(newTabButton_, Qt::TopRightCorner);
    connect(newTabButton_, &QToolButton::clicked, this, [this] { NewTab(); });
    connect(this, &QTabWidget::tabCloseRequested, this, [this](int index) { CloseTab(index); });
    connect(this, &QTabWidget::currentChanged, this, [this] {
        if (!restoring_) store_.changed();
    });
    // Anywhere in the tabs, the editor included.
    auto* newTab = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_T), this);
    newTab->setContext(Qt::WidgetWithChildrenShortcut);
    connect(newTab, &QShortcut::activated, this, [this] { NewTab(); });
    auto* closeTab = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_W), this);
    closeTab->setContext(Qt::WidgetWithChildrenShortcut);
    connect(closeTab, &QShortcut::activated, this, [this] { CloseTab(currentIndex()); });
    store_.setSource([this] { return contents(); });
    runClock_ = new QTimer(this);
    runClock_->setInterval(250);
    connect(runClock_, &QTimer::timeout, this, &QueryTabs::updateRunLines);
    connect(&store_, &QueryTabStore::writeFailed, this, [this](const QString& text) {
        Q_EMIT statusMessage(text + QStringLiteral(" The editor tabs are not kept until it can."));
    });
}

QueryTabs::~QueryTabs() {
    if (store_.pending()) store_.flush();
    // The editors before the sessions whose connections they use.
    while (count() > 0) {
        QWidget* panel = widget(0);
        removeTab(0);
        delete panel;
    }
}

QStringList QueryTabs::Restore() {
    restoring_ = true;
    QStringList notes;
    QueryTabStore::Loaded loaded = store_.load();
    if (!loaded.problem.isEmpty()) notes << loaded.problem;
    for (const QueryTabStore::Tab& tab : loaded.contents.tabs) {
        SqlPanel& panel = addPanel(tab.text, tab.fileName);
        if (tab.fileName.isEmpty()) continue;
        TabState& s = state(indexOf(&panel));
        try {
            const QString onDisk = ScriptFile::load(tab.fileName);
            // A saved text reads back with a line end after its last line.
            s.baseline = ScriptFile::encode(onDisk) == ScriptFile::encode(tab.text) ? tab.text
                                                                                   : onDisk;
        } catch (const files::ReadError& e) {
            s.baseline.reset();
            notes << QStringLiteral("%1\nThe tab \"%2\" keeps the text it had at the end of the "
                                    "last run; save it to keep it in a file.")
                         .arg(e.text(), QFileInfo(tab.fileName).fileName());
        }
        updateTitle(indexOf(&panel));
    }
    if (count() == 0) addPanel({}, {});
    setCurrentIndex(std::clamp(loaded.contents.current, 0, count() - 1));
    restoring_ = false;
    return notes;
}

SqlPanel& QueryTabs::Panel(int index) const { return *static_cast<SqlPanel*>(widget(index)); }

QueryTabs::TabState& QueryTabs::state(int index) { return states_.at(widget(index)); }

const QueryTabs::TabState& QueryTabs::state(int index) const { return states_.at(widget(index)); }

QString QueryTabs::TabName(int index) const {
    const TabState& s = state(index);
    return s.fileName.isEmpty() ? QStringLiteral("Query %1").arg(s.number)
                                : QFileInfo(s.fileName).fileName();
}

QString QueryTabs::FileName(int index) const { return state(index).fileName; }

bool QueryTabs::Modified(int index) const {
    const TabState& s = state(index);
    return !s.baseline || Panel(index).MemoSQL()->toPlainText() != *s.baseline;
}

int QueryTabs::freeNumber() const {
    std::set<int> used;
    for (const auto& [widget, s] : states_)
        if (s.fileName.isEmpty()) used.insert(s.number);
    int number = 1;
    while (used.count(number)) ++number;
    return number;
}

SqlPanel& QueryTabs::addPanel(const QString& text, const QString& fileName) {
    std::shared_ptr<TabSession> session;
    if (windowTab_) session = std::make_shared<TabSession>(connection_);
    auto* panel =
        new SqlPanel(session ? session->connection() : connection_, prompts_, programDir_, this);
    if (!windowTab_) windowTab_ = panel;
    panel->SetOpenFilter(openFilter_);
    panel->MemoSQL()->setPlainText(text);
    TabState s;
    s.fileName = fileName;
    s.baseline = fileName.isEmpty() ? QString() : text;
    s.number = fileName.isEmpty() ? freeNumber() : 0;
    if (session) {
        panel->RunAsideOn(session.get());
        s.runLine = addRunLine(*panel, *session);
        s.session = session;
    }
    states_[panel] = s;
    const int index = addTab(panel, QString());
    updateTitle(index);
    connect(panel, &SqlPanel::statusMessage, this, &QueryTabs::statusMessage);
    connect(panel, &SqlPanel::reconnectRequested, this, &QueryTabs::reconnectRequested);
    connect(panel->MemoSQL()->document(), &QTextDocument::contentsChanged, this, [this, panel] {
        updateTitle(indexOf(panel));
        if (!restoring_) store_.changed();
    });
    connect(panel, &SqlPanel::fileChosen, this, [this, panel](const QString& path) {
        TabState& s = states_.at(panel);
        s.fileName = path;
        s.baseline = panel->MemoSQL()->toPlainText();
        updateTitle(indexOf(panel));
        store_.changed();
    });
    return *panel;
}

void QueryTabs::updateTitle(int index) {
    if (index < 0) return;
    const QString name = TabName(index);
    setTabText(index, Modified(index) ? name + QLatin1Char(kModifiedMark) : name);
    setTabToolTip(index, state(index).fileName.isEmpty()
                             ? QStringLiteral("Not saved to a file")
                             : QDir::toNativeSeparators(state(index).fileName));
}

SqlPanel& QueryTabs::NewTab() {
    SqlPanel& panel = addPanel({}, {});
    setCurrentWidget(&panel);
    panel.MemoSQL()->setFocus();
    store_.changed();
    return panel;
}

bool QueryTabs::CloseTab(int index) {
    if (index < 0 || index >= count()) return false;
    if (!mayClose(index)) return false;
    QWidget* panel = widget(index);
    removeTab(index);
    const std::shared_ptr<TabSession> session = states_.at(panel).session;
    states_.erase(panel);
    delete panel;  // before its session: it uses the session's connection
    if (panel == windowTab_) windowTab_ = nullptr;
    if (count() == 0) addPanel({}, {});
    Current().MemoSQL()->setFocus();
    store_.changed();
    return true;
}

QStringList QueryTabs::RunningTabs() const {
    QStringList names;
    for (int i = 0; i < count(); ++i) {
        const TabSession* session = states_.at(widget(i)).session.get();
        if (session && session->running()) names << TabName(i);
    }
    return names;
}

bool QueryTabs::mayClose(int index) {
    const TabSession* session = states_.at(widget(index)).session.get();
    if (session && session->running() &&
        !prompts_.yesNo(this,
                        QStringLiteral("A statement runs in \"%1\". Stop it and close the tab?")
                            .arg(TabName(index)),
                        QStringLiteral("Close Tab")))
        return false;
    if (!Modified(index)) return true;
    // Cancel keeps the tab: Escape and closing the box answer that too.
    QMessageBox box(QMessageBox::Question, QStringLiteral("Close Tab"),
                    QStringLiteral("The text of \"%1\" is not saved to a file. Save it before "
                                   "the tab closes?")
                        .arg(TabName(index)),
                    QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel, this);
    box.setObjectName(QStringLiteral("CloseTabQuestion"));
    box.setDefaultButton(QMessageBox::Cancel);
    prompts_.exec(&box);
    switch (box.standardButton(box.clickedButton())) {
    case QMessageBox::Yes: return saveTab(index);
    case QMessageBox::No: return true;
    default: return false;
    }
}

bool QueryTabs::saveTab(int index) {
    TabState& s = state(index);
    QString path = s.fileName;
    if (path.isEmpty()) {
        const QString chosen =
            prompts_.saveFileName(this, {}, programDir_, SqlPanel::kSaveFilter);
        if (chosen.isEmpty()) return false;
        path = resolve(chosen);
    }
    const QString text = Panel(index).MemoSQL()->toPlainText();
    try {
        ScriptFile::save(path, text);
    } catch (const files::WriteError& e) {
        prompts_.message(this, e.text());
        return false;
    }
    s.fileName = path;
    s.baseline = text;
    return true;
}

QString QueryTabs::resolve(const QString& path) const {
    return QDir::cleanPath(QDir(programDir_).absoluteFilePath(path));
}

QueryTabStore::Contents QueryTabs::contents() const {
    QueryTabStore::Contents c;
    for (int i = 0; i < count(); ++i)
        c.tabs.push_back({Panel(i).MemoSQL()->toPlainText(), state(i).fileName});
    c.current = currentIndex();
    return c;
}

void QueryTabs::SetUseDb(const QString& name) {
    Current().SetUseDb(name);
    if (TabSession* session = Session(currentIndex())) session->setDatabase(name);
    // The window's connection selects the tree's database whichever tab is current: the
    // label of the tab on it says so too.
    for (int i = 0; i < count(); ++i)
        if (widget(i) == windowTab_) Panel(i).SetUseDb(name);
}

void QueryTabs::ClearUseDb() {
    for (int i = 0; i < count(); ++i) {
        Panel(i).SetUseDb(QString());
        if (TabSession* session = Session(i)) {
            session->close();
            session->setDatabase(QString());
        }
    }
}

void QueryTabs::ForgetDatabase(const QString& name) {
    for (int i = 0; i < count(); ++i) {
        if (Panel(i).LUseDb()->text() != SqlText::useDbLabelFor(name)) continue;
        Panel(i).SetUseDb(QString());
        if (TabSession* session = Session(i)) session->setDatabase(QString());
    }
}

TabSession* QueryTabs::Session(int index) const { return state(index).session.get(); }

QWidget* QueryTabs::RunLine(int index) const { return state(index).runLine; }

QWidget* QueryTabs::addRunLine(SqlPanel& panel, TabSession& session) {
    auto* line = new QWidget(&panel);
    line->setObjectName(QStringLiteral("RunLine"));
    auto* layout = new QHBoxLayout(line);
    layout->setContentsMargins(4, 0, 4, 0);
    auto* label = new QLabel(line);
    label->setObjectName(QStringLiteral("RunText"));
    auto* cancel = new QPushButton(QStringLiteral("Cancel"), line);
    cancel->setObjectName(QStringLiteral("RunCancel"));
    cancel->setToolTip(QStringLiteral("Stop this tab's statement [Escape]"));
    layout->addWidget(label, 1);
    layout->addWidget(cancel);
    line->hide();
    if (auto* box = qobject_cast<QBoxLayout*>(panel.layout())) box->insertWidget(1, line);
    // Usable while the window waits for another call: it stops this tab's own statement.
    ui::ServerWait::allowDuringCalls(cancel);
    auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), &panel);
    escape->setContext(Qt::WidgetWithChildrenShortcut);
    escape->setEnabled(false);
    connect(cancel, &QPushButton::clicked, &session, &TabSession::cancel);
    connect(escape, &QShortcut::activated, &session, &TabSession::cancel);
    connect(&session, &TabSession::cancelFailed, this, &QueryTabs::statusMessage);
    const auto running = [line, escape, p = &panel](bool on) {
        line->setVisible(on);
        escape->setEnabled(on);
        // Only this tab's run commands wait for its statement.
        p->SpeedButton7()->setEnabled(!on);
        p->SpeedButtonScript()->setEnabled(!on);
    };
    connect(&session, &TabSession::started, line, [this, running] {
        running(true);
        updateRunLines();
        runClock_->start();
    });
    connect(&session, &TabSession::finished, line, [running] { running(false); });
    return line;
}

void QueryTabs::updateRunLines() {
    bool any = false;
    for (const auto& [panel, s] : states_) {
        if (!s.session || !s.session->running()) continue;
        any = true;
        s.runLine->findChild<QLabel*>(QStringLiteral("RunText"))
            ->setText(QStringLiteral("Running %1 s: %2")
                          .arg(s.session->runningMs() / 1000)
                          .arg(ui::shortenedStatement(db::utf8(s.session->statementText()), 80)));
    }
    if (!any) runClock_->stop();
}

void QueryTabs::ForgetNames() {
    for (int i = 0; i < count(); ++i) Panel(i).ForgetNames();
}

void QueryTabs::SetOpenFilter(const QString& filter) {
    openFilter_ = filter;
    for (int i = 0; i < count(); ++i) Panel(i).SetOpenFilter(filter);
}
