#include "sqleditor/ObjectPanel.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSplitter>
#include <QTableWidget>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "db/Connection.h"
#include "panels/TableDataView.h"
#include "sqleditor/SqlHighlighter.h"
#include "ui/Named.h"
#include "ui/Prompts.h"

ObjectPanel::ObjectPanel(TMySQLConnection& datasetConnection, ui::Prompts& prompts,
                         QWidget* parent)
    : QTabWidget(parent) {
    setObjectName(QStringLiteral("PObject"));
    auto* definition = ui::named(new QWidget(this), "ObjectDefinitionTab");
    auto* layout = new QVBoxLayout(definition);
    layout->setContentsMargins(4, 4, 4, 4);
    title_ = ui::named(new QLabel(definition), "ObjectTitle");
    title_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(title_);

    auto* split = new QSplitter(Qt::Vertical, definition);
    split->setChildrenCollapsible(false);
    properties_ = ui::named(new QTreeWidget(split), "ObjectProperties");
    properties_->setColumnCount(2);
    properties_->setHeaderHidden(true);
    properties_->setRootIsDecorated(false);
    properties_->header()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
    editor_ = ui::named(new QPlainTextEdit(split), "ObjectEditor");
    editor_->setLineWrapMode(QPlainTextEdit::NoWrap);
    highlighter_ = new SqlHighlighter(editor_->document());
    split->addWidget(properties_);
    split->addWidget(editor_);
    split->setStretchFactor(1, 3);
    layout->addWidget(split, 1);

    auto* buttons = new QHBoxLayout;
    apply_ = ui::named(new QPushButton(QStringLiteral("Apply"), definition), "ObjectApply");
    run_ = ui::named(new QPushButton(QStringLiteral("Run..."), definition), "ObjectRun");
    buttons->addWidget(apply_);
    buttons->addWidget(run_);
    buttons->addStretch();
    layout->addLayout(buttons);
    connect(apply_, &QPushButton::clicked, this, &ObjectPanel::applyClicked);
    connect(run_, &QPushButton::clicked, this, &ObjectPanel::runClicked);
    addTab(definition, QStringLiteral("Definition"));

    dataTab_ = ui::named(new QWidget(this), "ObjectDataTab");
    auto* dataLayout = new QVBoxLayout(dataTab_);
    dataLayout->setContentsMargins(0, 0, 0, 0);
    data_ = new TableDataView(datasetConnection, prompts, dataTab_);
    dataLayout->addWidget(data_);
    addTab(dataTab_, QStringLiteral("Data"));

    runTab_ = ui::named(new QWidget(this), "ObjectRunTab");
    auto* runLayout = new QVBoxLayout(runTab_);
    runLayout->setContentsMargins(0, 0, 0, 0);
    results_ = ui::named(new QTabWidget(runTab_), "RunResults");
    runLayout->addWidget(results_);
    addTab(runTab_, QStringLiteral("Run"));
    showFor(admin::ObjectKind::View, false);
}

void ObjectPanel::showFor(admin::ObjectKind kind, bool existing) {
    kind_ = kind;
    const bool routine = kind == admin::ObjectKind::Procedure || kind == admin::ObjectKind::Function;
    run_->setVisible(routine && existing);
    // Only a view has rows; the tab goes for the other kinds rather than showing nothing.
    setTabVisible(indexOf(dataTab_), kind == admin::ObjectKind::View && existing);
    // A run's results belong to the routine that ran.
    while (results_->count() > 0) delete results_->widget(0);
    setTabVisible(indexOf(runTab_), false);
    if (!isTabVisible(currentIndex())) setCurrentIndex(0);
}

void ObjectPanel::showDefinition(const admin::ObjectRef& ref,
                                 const admin::ObjectDefinition& definition) {
    shown_ = ref;
    database_ = ref.database;
    showFor(ref.kind, true);
    QString title = admin::objectLabel(ref);
    title[0] = title[0].toUpper();
    title_->setText(title);
    properties_->clear();
    QList<QTreeWidgetItem*> items;
    for (const auto& [caption, value] : definition.properties)
        items << new QTreeWidgetItem(QStringList{caption, value});
    properties_->addTopLevelItems(items);
    editor_->setReadOnly(!definition.readable);
    editor_->setPlainText(definition.readable
                              ? definition.text
                              : QStringLiteral("-- This account may not read the text of %1.")
                                    .arg(admin::objectLabel(ref)));
    apply_->setEnabled(definition.readable);
}

void ObjectPanel::showTemplate(const QString& database, admin::ObjectKind kind,
                               const QString& text) {
    shown_.reset();
    database_ = database;
    showFor(kind, false);
    title_->setText(QStringLiteral("New %1 in %2")
                        .arg(admin::kindNoun(kind), QString::fromStdString(db::quoteIdentifier(database))));
    properties_->clear();
    editor_->setReadOnly(false);
    editor_->setPlainText(text);
    apply_->setEnabled(true);
    setCurrentIndex(0);
    editor_->setFocus();
}

void ObjectPanel::setRules(sqllex::Rules rules) { highlighter_->setRules(rules); }

void ObjectPanel::clear() {
    shown_.reset();
    database_.clear();
    showFor(admin::ObjectKind::View, false);
    title_->clear();
    properties_->clear();
    editor_->clear();
    apply_->setEnabled(false);
}

namespace {

QTableWidget* resultTable(QWidget* parent, const QStringList& columns,
                          const std::vector<std::vector<std::optional<QString>>>& rows) {
    auto* table = new QTableWidget(int(rows.size()), int(columns.size()), parent);
    table->setHorizontalHeaderLabels(columns);
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    for (std::size_t r = 0; r < rows.size(); ++r)
        for (std::size_t c = 0; c < rows[r].size(); ++c) {
            auto* item = new QTableWidgetItem(rows[r][c].value_or(QStringLiteral("NULL")));
            if (!rows[r][c]) item->setForeground(Qt::gray);  // NULL, not the text "NULL"
            table->setItem(int(r), int(c), item);
        }
    table->resizeColumnsToContents();
    return table;
}

}  // namespace

void ObjectPanel::showRun(const admin::RoutineRunResult& result) {
    while (results_->count() > 0) delete results_->widget(0);
    for (std::size_t i = 0; i < result.sets.size(); ++i)
        results_->addTab(resultTable(results_, result.sets[i].columns, result.sets[i].rows),
                         QStringLiteral("Result %1").arg(i + 1));
    if (!result.outValues.empty()) {
        std::vector<std::vector<std::optional<QString>>> rows;
        for (const auto& [name, value] : result.outValues) rows.push_back({name, value});
        results_->addTab(resultTable(results_, {QStringLiteral("Parameter"), QStringLiteral("Value")},
                                     rows),
                         QStringLiteral("OUT values"));
    }
    if (results_->count() == 0) {
        auto* none = new QLabel(QStringLiteral("The routine ran and returned no rows."), results_);
        results_->addTab(none, QStringLiteral("Result"));
    }
    setTabVisible(indexOf(runTab_), true);
    setCurrentWidget(runTab_);
}
