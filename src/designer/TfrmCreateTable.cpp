#include "designer/TfrmCreateTable.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalBlocker>
#include <QTableWidget>
#include <QScreen>
#include <QScrollBar>
#include <QVBoxLayout>
#include <array>
#include <map>
#include <optional>

#include "db/Connection.h"
#include "designer/FieldType.h"
#include "ui/BusyCursor.h"
#include "ui/Named.h"
#include "ui/Prompts.h"

namespace {

enum GridColumn { cKey, cField, cType, cSize, cDefault, cNull, cAuto, cColumnCount };

const QString kYes = QStringLiteral("YES");
const QString kPri = QStringLiteral("PRI");

const QString kIndexNotNull = QStringLiteral("Index Key는 Null값을 허용하지 않습니다.");
const QString kAutoNotNull = QStringLiteral("자동증가값은 Null값을 허용하지 않습니다.");
const QString kAutoRefused = QStringLiteral("자동증가로 설정할 수 없습니다.");
const QString kNullNotAuto =
    QStringLiteral("Null이 허용된 Field는 \r\n자동증가값으로 설정할 수 없습니다.");
const QString kAutoOnePerTable = QStringLiteral("자동증가는 Table당 한 필드만 적용됩니다.");
const QString kAddKeyNotice =
    QStringLiteral("Table에 이미 Primary Key가 있다면,\r\nPrimary Key로 지정되지 않습니다.");
const QString kChangeKeyNotice = QStringLiteral(
    "Table에 이미 Primary Key가 있다면,\r\nPrimary Key로 지정되지 않습니다.\r\n"
    "또한 Data가 Unique하지 않아도 지정되지 않습니다.");

QLabel* makeLabel(QWidget* parent, const QString& text) { return new QLabel(text, parent); }

QPushButton* makeButton(QWidget* parent, const char* name, const QString& text) {
    auto* button = new QPushButton(text, parent);
    button->setObjectName(QLatin1String(name));
    button->setAutoDefault(false);
    return button;
}

}  // namespace

TfrmCreateTable::TfrmCreateTable(db::Connection& connection, ui::Prompts& prompts, bool alterMode,
                                 const QString& database, const QString& table, QWidget* parent)
    : QDialog(parent),
      connection_(connection),
      prompts_(prompts),
      alterMode_(alterMode),
      statements_(connection, database, table) {
    setObjectName(QStringLiteral("frmCreateTable"));
    setWindowTitle(QStringLiteral("Tables"));

    LTable = ui::named(new QLabel(QStringLiteral("Table Name : ") + table, this), "LTable");
    QFont bold = LTable->font();
    bold.setBold(true);
    LTable->setFont(bold);

    EdField = ui::named(new QLineEdit(this), "EdField");
    ChkIndex = ui::named(new QCheckBox(QStringLiteral("Index Key"), this), "ChkIndex");
    ComboBox1 = ui::named(new QComboBox(this), "ComboBox1");
    ComboBox1->setEditable(true);
    ComboBox1->setInsertPolicy(QComboBox::NoInsert);
    ComboBox1->addItems(FieldTypeNames());
    ComboBox1->setCurrentIndex(-1);
    ComboBox1->setEditText(QString());
    EdLength = ui::named(new QLineEdit(this), "EdLength");
    EdDefault = ui::named(new QLineEdit(this), "EdDefault");
    ChkAuto = ui::named(new QCheckBox(QStringLiteral("Auto Increment"), this), "ChkAuto");
    ChkNull = ui::named(new QCheckBox(QStringLiteral("Null"), this), "ChkNull");

    NewField = makeButton(this, "NewField", QStringLiteral("New Field"));
    Edit = makeButton(this, "Edit", QStringLiteral("Edit"));
    Delete = makeButton(this, "Delete", QStringLiteral("Delete"));
    Save = makeButton(this, "Save", QStringLiteral("CreateTable"));
    Cancel = makeButton(this, "Cancel", QStringLiteral("Cancel"));
    // Enter on the focused New Field button, reached by Enter from the last editor, adds.
    NewField->setAutoDefault(true);

    StrGrid = ui::named(new QTableWidget(1, cColumnCount, this), "StrGrid");
    StrGrid->setSelectionBehavior(QAbstractItemView::SelectRows);
    StrGrid->setSelectionMode(QAbstractItemView::SingleSelection);
    StrGrid->setEditTriggers(QAbstractItemView::NoEditTriggers);
    StrGrid->verticalHeader()->hide();
    StrGrid->horizontalHeader()->setStretchLastSection(true);

    auto* editors = new QGridLayout;
    editors->addWidget(makeLabel(this, QStringLiteral(" Field")), 0, 0);
    editors->addWidget(EdField, 0, 1);
    editors->addWidget(ChkIndex, 0, 2);
    editors->addWidget(makeLabel(this, QStringLiteral("Type")), 1, 0);
    editors->addWidget(ComboBox1, 1, 1);
    editors->addWidget(makeLabel(this, QStringLiteral("Length")), 1, 2);
    editors->addWidget(EdLength, 1, 3);
    editors->addWidget(makeLabel(this, QStringLiteral("Default")), 2, 0);
    editors->addWidget(EdDefault, 2, 1);
    editors->addWidget(ChkAuto, 2, 2);
    editors->addWidget(ChkNull, 2, 3);

    auto* buttons = new QHBoxLayout;
    for (QPushButton* b : {NewField, Edit, Delete, Save}) buttons->addWidget(b);
    buttons->addStretch();
    buttons->addWidget(Cancel);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(LTable);
    layout->addLayout(editors);
    layout->addLayout(buttons);
    layout->addWidget(StrGrid, 1);
    resize(640, 420);

    for (QWidget* w : std::initializer_list<QWidget*>{EdField, ChkIndex, ComboBox1, EdLength,
                                                      EdDefault, ChkAuto, ChkNull})
        w->installEventFilter(this);
    if (ComboBox1->lineEdit()) ComboBox1->lineEdit()->installEventFilter(this);

    if (alterMode_) {
        Save->hide();
        NewField->setText(QStringLiteral("Add Field"));
        Edit->setText(QStringLiteral("Edit Save"));
        Delete->setText(QStringLiteral("Drop Save"));
        Cancel->setText(QStringLiteral("Close"));
    }

    connect(NewField, &QPushButton::clicked, this, [this] { NewFieldClick(); });
    connect(Edit, &QPushButton::clicked, this, [this] { EditClick(); });
    connect(Delete, &QPushButton::clicked, this, [this] { DeleteClick(); });
    connect(Save, &QPushButton::clicked, this, [this] { SaveClick(); });
    connect(Cancel, &QPushButton::clicked, this, [this] { CancelClick(); });
    connect(ChkIndex, &QCheckBox::toggled, this, [this](bool on) { ChkIndexClick(on); });
    connect(ChkNull, &QCheckBox::toggled, this, [this](bool on) { ChkNullClick(on); });
    connect(ChkAuto, &QCheckBox::toggled, this, [this](bool on) { ChkAutoClick(on); });
    connect(StrGrid, &QTableWidget::currentCellChanged, this, [this](int row, int, int, int) {
        if (row >= 0) StrGridSelectCell(row);
    });
}

void TfrmCreateTable::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    FormActivate();
}

void TfrmCreateTable::FormActivate() {
    if (activated_) return;
    activated_ = true;
    EdField->setFocus();
    EnableRowButtons(false);
    StrGrid->setHorizontalHeaderLabels({QStringLiteral("Index Key"), QStringLiteral("Field"),
                                        QStringLiteral("Type"), QStringLiteral("Size"),
                                        QStringLiteral("Default"), QStringLiteral("Null"),
                                        QStringLiteral("Auto Increment")});
    firstRowFree_ = true;
    if (alterMode_) {
        modified_ = false;
        LoadColumns();
    }
    fitGridColumns();
}

void TfrmCreateTable::fitGridColumns() {
    // Every column of the grid in sight, as far as the screen allows.
    StrGrid->resizeColumnsToContents();
    int needed = StrGrid->verticalHeader()->width() + 2 * StrGrid->frameWidth() +
                 StrGrid->verticalScrollBar()->sizeHint().width();
    for (int c = 0; c < StrGrid->columnCount(); ++c) needed += StrGrid->columnWidth(c);
    const QMargins margins = layout()->contentsMargins();
    int wanted = needed + margins.left() + margins.right();
    if (const QScreen* s = screen()) wanted = std::min(wanted, s->availableGeometry().width());
    if (wanted > width()) resize(wanted, height());
}

bool TfrmCreateTable::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            QWidget* const order[] = {EdField,   ChkIndex, ComboBox1, EdLength,
                                      EdDefault, ChkAuto,  ChkNull,   NewField};
            const QObject* from = watched == ComboBox1->lineEdit() ? ComboBox1 : watched;
            for (std::size_t i = 0; i + 1 < std::size(order); ++i) {
                if (order[i] == from) {
                    order[i + 1]->setFocus(Qt::TabFocusReason);
                    return true;
                }
            }
        }
    }
    return QDialog::eventFilter(watched, event);
}

// --- grid ---------------------------------------------------------------------------------

int TfrmCreateTable::RowCount() const { return StrGrid->rowCount(); }

QString TfrmCreateTable::cell(int row, int column) const {
    const QTableWidgetItem* item = StrGrid->item(row, column);
    return item ? item->text() : QString();
}

void TfrmCreateTable::setCell(int row, int column, const QString& text) {
    QTableWidgetItem* item = StrGrid->item(row, column);
    if (!item) {
        item = new QTableWidgetItem;
        StrGrid->setItem(row, column, item);
    }
    item->setText(text);
}

FieldRow TfrmCreateTable::Row(int row) const {
    FieldRow r;
    if (row < 0 || row >= StrGrid->rowCount()) return r;
    r.key = cell(row, cKey);
    r.field = cell(row, cField);
    r.type = cell(row, cType);
    r.size = cell(row, cSize);
    r.defaultValue = cell(row, cDefault);
    r.null = cell(row, cNull);
    r.autoIncrement = cell(row, cAuto);
    if (const QTableWidgetItem* item = StrGrid->item(row, cType))
        r.typeArgs = item->data(Qt::UserRole).toString();
    if (const QTableWidgetItem* item = StrGrid->item(row, cField);
        item && item->data(Qt::UserRole).canConvert<KeptColumn>())
        r.kept = item->data(Qt::UserRole).value<KeptColumn>();
    return r;
}

std::vector<FieldRow> TfrmCreateTable::Rows() const {
    std::vector<FieldRow> rows;
    for (int i = 0; i < StrGrid->rowCount(); ++i) rows.push_back(Row(i));
    return rows;
}

void TfrmCreateTable::writeRow(int row, bool editing) {
    const QString type = ComboBox1->currentText().trimmed();
    const FieldRow before = Row(row);
    if (ChkIndex->isChecked()) {
        setCell(row, cKey, kPri);
    } else if (editing && !alterMode_) {
        // The key of the create mode's own making goes with the box; in alter mode the key
        // cell follows the server and changes only with the key statements.
        setCell(row, cKey, QString());
    }
    setCell(row, cField, EdField->text().trimmed());
    setCell(row, cType, type);
    // The size follows the type now in the box, not the type classified last.
    setCell(row, cSize, ClassifyType(type).takesLength ? EdLength->text().trimmed() : QString());
    setCell(row, cDefault, EdDefault->text());
    setCell(row, cAuto, ChkAuto->isChecked() ? kYes : QString());
    setCell(row, cNull, ChkNull->isChecked() ? kYes : QString());
    // Arguments of a loaded type are kept only while the type stays the same.
    const bool sameType = editing && before.type.trimmed() == type;
    StrGrid->item(row, cType)->setData(Qt::UserRole, sameType ? before.typeArgs : QString());
}

// --- editors ------------------------------------------------------------------------------

void TfrmCreateTable::ClearEditors() {
    EdField->clear();
    ComboBox1->setCurrentIndex(-1);
    ComboBox1->setEditText(QString());
    EdLength->clear();
    EdDefault->clear();
    ChkIndex->setChecked(false);
    ChkAuto->setChecked(false);
    ChkNull->setChecked(false);
}

void TfrmCreateTable::EnableRowButtons(bool on) {
    Edit->setEnabled(on);
    Delete->setEnabled(on);
}

bool TfrmCreateTable::checkEditors() {
    if (EdField->text().trimmed().isEmpty()) {
        prompts_.message(this, QStringLiteral("Field Name을 입력하세요."));
        return false;
    }
    const QString type = ComboBox1->currentText().trimmed();
    if (type.isEmpty()) {
        prompts_.message(this, QStringLiteral("Type을 선택하세요."));
        return false;
    }
    // Type and size are written into the statement as SQL syntax; refuse anything else.
    if (!TableStatements::isValidType(type)) {
        prompts_.message(this, QStringLiteral("Type 값이 올바르지 않습니다."));
        return false;
    }
    if (ClassifyType(type).takesLength && !TableStatements::isValidSize(EdLength->text())) {
        prompts_.message(this, QStringLiteral("Length 값이 올바르지 않습니다."));
        return false;
    }
    return true;
}

void TfrmCreateTable::ChkIndexClick(bool checked) {
    if (!checked) return;
    if (ChkNull->isChecked()) {
        prompts_.message(this, kIndexNotNull);
        ChkIndex->setChecked(false);
    }
}

void TfrmCreateTable::ChkNullClick(bool checked) {
    if (!checked) return;
    if (ChkIndex->isChecked()) {
        prompts_.message(this, kIndexNotNull);
        ChkNull->setChecked(false);
    } else if (ChkAuto->isChecked()) {
        prompts_.message(this, kAutoNotNull);
        ChkNull->setChecked(false);
    }
}

void TfrmCreateTable::ChkAutoClick(bool checked) {
    if (!checked) return;
    const FieldType type = ClassifyType(ComboBox1->currentText().trimmed());
    if (!type.takesLength || type.isCharacter) {
        prompts_.message(this, kAutoRefused);
        ChkAuto->setChecked(false);
    } else if (ChkNull->isChecked()) {
        prompts_.message(this, kNullNotAuto);
        ChkAuto->setChecked(false);
    }
}

// --- buttons ------------------------------------------------------------------------------

void TfrmCreateTable::NewFieldClick() {
    try {
        if (!checkEditors()) return;
        int row;
        if (firstRowFree_ && StrGrid->rowCount() > 0) {
            row = StrGrid->rowCount() - 1;
            firstRowFree_ = false;
        } else {
            const QSignalBlocker block(StrGrid);
            row = StrGrid->rowCount();
            StrGrid->insertRow(row);
            firstRowFree_ = false;
        }
        writeRow(row, false);
        if (alterMode_) addOnServer(row);
        ClearEditors();
        EdField->setFocus();
    } catch (const std::exception&) {
        prompts_.message(this, QStringLiteral("New Field Add Error"));
    }
}

void TfrmCreateTable::StrGridSelectCell(int row) {
    try {
        const FieldRow r = Row(row);
        ClearEditors();
        // The empty row shown selected is what Edit and Drop would act on: nothing.
        if (r.field.trimmed().isEmpty()) {
            selectedRow_ = -1;
            EnableRowButtons(false);
            return;
        }
        wasPrimary_ = r.key == kPri;
        if (wasPrimary_) ChkIndex->setChecked(true);
        EdField->setText(r.field);
        oldFieldName_ = r.field;
        ComboBox1->setEditText(r.type);
        EdLength->setText(r.size);
        EdDefault->setText(r.defaultValue);
        if (r.allowsNull()) ChkNull->setChecked(true);
        if (r.isAutoIncrement()) ChkAuto->setChecked(true);
        selectedRow_ = row;
        EnableRowButtons(true);
    } catch (const std::exception&) {
        prompts_.message(this, QStringLiteral("Field View Error!"));
    }
}

void TfrmCreateTable::EditClick() {
    const int row = selectedRow_;
    if (row < 0 || row >= StrGrid->rowCount()) return;
    try {
        if (!checkEditors()) return;
        const bool keyChecked = ChkIndex->isChecked();
        writeRow(row, true);
        EnableRowButtons(false);
        selectedRow_ = -1;
        {
            // So that selecting the same row again shows it again.
            const QSignalBlocker block(StrGrid);
            StrGrid->setCurrentCell(-1, -1);
        }
        if (alterMode_) changeOnServer(row, wasPrimary_, keyChecked);
        ClearEditors();
    } catch (const std::exception&) {
        prompts_.message(this, QStringLiteral("Column Edit Error"));
    }
}

void TfrmCreateTable::DeleteClick() {
    const int row = selectedRow_;
    if (row < 0 || row >= StrGrid->rowCount()) return;
    try {
        // A dropped column takes its data with it: ask first.
        if (alterMode_ &&
            !prompts_.okCancel(this, ui::naming(QStringLiteral("Field를 삭제하시겠습니까?"), oldFieldName_),
                               QStringLiteral("Drop Notice")))
            return;
        {
            const QSignalBlocker block(StrGrid);
            StrGrid->removeRow(row);
            StrGrid->setCurrentCell(-1, -1);
        }
        EnableRowButtons(false);
        selectedRow_ = -1;
        if (alterMode_) dropOnServer(oldFieldName_, wasPrimary_);
        ClearEditors();
    } catch (const std::exception&) {
        reportRefused(QStringLiteral("Drop Column Error"));
    }
}

void TfrmCreateTable::SaveClick() {
    try {
        if (!send(statements_.createTable(Rows()))) {
            prompts_.message(this, ui::withReason(QStringLiteral("Table Create 실패!"),
                                                  connection_.errorText()));
            return;
        }
        prompts_.message(this, QStringLiteral("Table Create 성공!"));
        accept();
    } catch (const std::exception&) {
        prompts_.message(this, QStringLiteral("Table Create Error_Save!"));
    }
}

void TfrmCreateTable::CancelClick() {
    bool leave = true;
    if (!alterMode_)
        leave = prompts_.okCancel(this, QStringLiteral("Table Create를 취소하시겠습니까?"),
                                  QStringLiteral("Cancel Msg"));
    else if (modified_)
        leave = prompts_.okCancel(this, QStringLiteral("작업을 종료하시겠습니까?"),
                                  QStringLiteral("Close Msg"));
    if (leave)
        QDialog::reject();
    else
        EdField->setFocus();
}

void TfrmCreateTable::reject() { CancelClick(); }

// --- server -------------------------------------------------------------------------------

void TfrmCreateTable::reportRefused(const QString& message) {
    prompts_.message(this, ui::withReason(message, connection_.errorText()));
}

bool TfrmCreateTable::send(const std::string& statement) {
    ui::BusyCursor busy;
    return connection_.query(statement);
}

bool TfrmCreateTable::hasPrimaryKey() {
    ui::BusyCursor busy;
    if (!connection_.query(statements_.primaryKeyColumns())) return true;
    const db::Result keys = connection_.storeResult();
    return !keys || keys.rowCount() > 0;
}

void TfrmCreateTable::LoadColumns() {
    const QSignalBlocker block(StrGrid);
    StrGrid->setRowCount(0);
    {
        ui::BusyCursor busy;
        // What the grid does not show of each column, carried into its alterations.
        std::map<QString, std::array<std::optional<QString>, 6>> extras;
        db::Result keptRows;
        if (connection_.query(statements_.keptColumnsStatement()))
            keptRows = connection_.storeResult();
        while (keptRows && keptRows.next()) {
            std::array<std::optional<QString>, 6>& values = extras[keptRows.text(0)];
            for (unsigned c = 0; c < values.size(); ++c)
                if (!keptRows.value(c + 1).isNull()) values[c] = keptRows.text(c + 1);
        }
        const bool defaultsAsSql = connection_.serverInfo().contains(QLatin1String("MariaDB"));
        if (connection_.query(statements_.describe())) {
            db::Result columns = connection_.storeResult();
            while (columns && columns.next()) {
                const FieldRow r =
                    TableStatements::rowFromDesc(columns.text(0), columns.text(1), columns.text(2),
                                                 columns.text(3), columns.text(4), columns.text(5));
                const int row = StrGrid->rowCount();
                StrGrid->insertRow(row);
                setCell(row, cKey, r.key);
                setCell(row, cField, r.field);
                if (const auto found = extras.find(r.field); found != extras.end()) {
                    const auto& v = found->second;
                    StrGrid->item(row, cField)
                        ->setData(Qt::UserRole,
                                  QVariant::fromValue(statements_.keptFrom(
                                      r, v[0].value_or(QString()), v[1].value_or(QString()),
                                      v[2].value_or(QString()), v[3].value_or(QString()), v[4],
                                      defaultsAsSql, v[5].value_or(QString()))));
                }
                setCell(row, cType, r.type);
                StrGrid->item(row, cType)->setData(Qt::UserRole, r.typeArgs);
                setCell(row, cSize, r.size);
                setCell(row, cDefault, r.defaultValue);
                setCell(row, cNull, r.null);
                setCell(row, cAuto, r.autoIncrement);
            }
        }
    }
    StrGrid->insertRow(StrGrid->rowCount());
    StrGrid->setCurrentCell(-1, -1);
    firstRowFree_ = true;
    selectedRow_ = -1;
    EnableRowButtons(false);
}

void TfrmCreateTable::addOnServer(int row) {
    const FieldRow r = Row(row);
    // An auto-increment column must be a key when it is created, so it gets its key in the
    // same statement; any other column is added first and keyed after.
    const bool keyWithColumn = r.isPrimary() && r.isAutoIncrement();
    if (r.isAutoIncrement()) prompts_.message(this, kAutoOnePerTable);
    if (keyWithColumn) prompts_.message(this, kAddKeyNotice);
    if (!send(statements_.addColumn(r, keyWithColumn)))
        reportRefused(QStringLiteral("Column Add Error"));
    if (r.isPrimary() && !keyWithColumn) {
        prompts_.message(this, kAddKeyNotice);
        if (!send(statements_.addPrimaryKey(r.field)))
            reportRefused(QStringLiteral("Add Primary Key Error"));
    }
    modified_ = true;
    LoadColumns();
}

void TfrmCreateTable::changeOnServer(int row, bool wasPrimary, bool keyChecked) {
    const FieldRow r = Row(row);
    const bool addKey = !wasPrimary && keyChecked;
    const bool keyWithColumn = addKey && r.isAutoIncrement();
    if (r.isAutoIncrement()) prompts_.message(this, kAutoOnePerTable);
    if (keyWithColumn) prompts_.message(this, kChangeKeyNotice);
    if (!send(statements_.changeColumn(oldFieldName_, r, keyWithColumn)))
        reportRefused(QStringLiteral("Column Edit Error"));

    if (wasPrimary && !keyChecked) {
        if (prompts_.okCancel(this, QStringLiteral("Primary Key를 삭제하시겠습니까?"),
                              QStringLiteral("Drop Notice")) &&
            !send(statements_.dropPrimaryKey()))
            reportRefused(QStringLiteral("Drop Primary Key Error"));
    } else if (addKey && !keyWithColumn) {
        prompts_.message(this, kChangeKeyNotice);
        if (!send(statements_.addPrimaryKey(r.field)))
            reportRefused(QStringLiteral("Add Primary Key Error"));
    }
    modified_ = true;
    LoadColumns();
}

void TfrmCreateTable::dropOnServer(const QString& field, bool wasPrimary) {
    if (!send(statements_.dropColumn(field))) {
        // The column and its key are still there.
        reportRefused(QStringLiteral("Drop Column Error"));
    } else if (wasPrimary && hasPrimaryKey()) {
        // The server removes a one-column key with its column; what is left of a key over
        // several columns is dropped as the key of the dropped column.
        if (!send(statements_.dropPrimaryKey()))
            reportRefused(QStringLiteral("Drop Primary Key Error"));
    }
    modified_ = true;
    LoadColumns();
}
