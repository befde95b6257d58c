#include "dataset/TMySQLDataSet.h"

#include <QApplication>
#include <QBrush>
#include <QLoggingCategory>
#include <climits>

#include "dataset/TMySQLConnection.h"
#include "ui/Prompts.h"

namespace {

// The dataset's trace, off unless enabled ("lorvex.dataset.debug=true"). It names
// operations, counts and types only: statement text, column names (which repeat the
// expressions of the statement) and values may hold passwords and never appear.
Q_LOGGING_CATEGORY(lcDataSet, "lorvex.dataset", QtWarningMsg)

const QString& noResultSetText() {
    static const QString text = QStringLiteral("The statement returned no result set.");
    return text;
}

}  // namespace

TMySQLDataSet::TMySQLDataSet(ui::Prompts& prompts, QObject* parent)
    : QAbstractTableModel(parent), prompts_(prompts) {}

TMySQLDataSet::~TMySQLDataSet() = default;

void TMySQLDataSet::SetActive(bool value) {
    if (value)
        Open();
    else
        Close();
}

void TMySQLDataSet::Report(const QString& text) {
    prompts_.message(QApplication::activeWindow(), text);
}

bool TMySQLDataSet::Execute(db::Result& result) {
    if (!connection_) {
        qCDebug(lcDataSet) << "Open failed: no connection";
        Report(QStringLiteral("The dataset has no connection."));
        return false;
    }
    db::Connection& c = connection_->connection();
    if (!c.query(db::utf8(sql_.join(QStringLiteral("\r\n"))))) {
        qCDebug(lcDataSet) << "Open failed: error" << c.errorNumber();
        Report(c.errorText());
        return false;
    }
    result = c.storeResult();
    QString failure;
    if (!result && c.errorNumber() != 0) {
        failure = c.errorText();
    } else {
        if (!result) failure = noResultSetText();
        // CALL ends with a status result, and a procedure may return several sets: read
        // them all so that the connection is ready for its next statement. Only the first
        // set is kept; a later statement's error is still reported.
        while (c.moreResults()) {
            const int next = c.nextResult();
            if (next > 0 && failure.isEmpty()) failure = c.errorText();
            if (next != 0) break;
            c.storeResult();
        }
    }
    if (!failure.isEmpty()) {
        qCDebug(lcDataSet) << "Open:" << (result ? "a later result failed" : "no result set");
        Report(failure);
    }
    return bool(result);
}

bool TMySQLDataSet::Open() {
    if (active_) return true;
    qCDebug(lcDataSet) << "Open";
    Q_EMIT BeforeOpen();
    db::Result result;
    if (!Execute(result)) return false;
    // Index first: the row pointers stay valid when the result moves into the dataset.
    db::StoredRows rows(result);

    beginResetModel();
    result_ = std::move(result);
    rows_ = std::move(rows);
    rowCount_ = int(std::min<std::size_t>(rows_.size(), INT_MAX));
    BuildFieldDefs();
    ++generation_;
    active_ = true;
    current_ = rowCount_ > 0 ? 0 : -1;
    bof_ = true;
    eof_ = rowCount_ == 0;
    endResetModel();
    qCDebug(lcDataSet) << "Open:" << rowCount_ << "rows," << fields_.size() << "columns";
    Q_EMIT AfterOpen();
    return true;
}

void TMySQLDataSet::Close() {
    if (!active_) return;
    qCDebug(lcDataSet) << "Close";
    Q_EMIT BeforeClose();
    beginResetModel();
    rows_ = {};
    result_ = {};
    fields_.clear();
    rowCount_ = 0;
    current_ = -1;
    bof_ = eof_ = true;
    active_ = false;
    endResetModel();
    Q_EMIT AfterClose();
}

void TMySQLDataSet::BuildFieldDefs() {
    fields_.clear();
    const std::vector<db::Column>& columns = result_.columns();
    fields_.reserve(columns.size());
    for (std::size_t i = 0; i < columns.size(); ++i) {
        const db::Column& column = columns[i];
        FieldDef field{QString::fromUtf8(column.name.data(), qsizetype(column.name.size())),
                       CellFormat::typeOf(column), column.length, int(i) + 1};
        qCDebug(lcDataSet).nospace() << "BuildFieldDefs: field " << field.fieldNo << ' '
                                     << CellFormat::typeName(field.type) << ' ' << field.size;
        fields_.push_back(std::move(field));
    }
}

bool TMySQLDataSet::GetCanModify() const {
    qCDebug(lcDataSet) << "GetCanModify";
    return false;
}

int TMySQLDataSet::RecordCount() const { return rowCount_; }

void TMySQLDataSet::MoveTo(int row, bool bof, bool eof) {
    const bool moved = row != current_;
    current_ = row;
    bof_ = bof;
    eof_ = eof;
    if (moved) Q_EMIT AfterScroll();
}

void TMySQLDataSet::First() {
    qCDebug(lcDataSet) << "First";
    if (rowCount_ > 0) MoveTo(0, true, false);
}

void TMySQLDataSet::Next() {
    qCDebug(lcDataSet) << "Next";
    if (eof_) return;
    if (current_ < rowCount_ - 1)
        MoveTo(current_ + 1, false, false);
    else
        MoveTo(current_, false, true);
}

void TMySQLDataSet::Prior() {
    qCDebug(lcDataSet) << "Prior";
    if (bof_) return;
    if (current_ > 0)
        MoveTo(current_ - 1, false, false);
    else
        MoveTo(current_, true, false);
}

void TMySQLDataSet::Last() {
    qCDebug(lcDataSet) << "Last";
    if (rowCount_ > 0) MoveTo(rowCount_ - 1, false, true);
}

int TMySQLDataSet::RecNo() const { return current_ + 1; }

void TMySQLDataSet::SetRecNo(int n) {
    qCDebug(lcDataSet) << "SetRecNo";
    if (n >= 1 && n <= rowCount_) MoveTo(n - 1, false, false);
}

TBookmark TMySQLDataSet::GetBookmark() const {
    qCDebug(lcDataSet) << "GetBookmark";
    return {current_, generation_};
}

bool TMySQLDataSet::BookmarkValid(const TBookmark& bookmark) const {
    return active_ && bookmark.generation == generation_ && bookmark.row >= 0 &&
           bookmark.row < rowCount_;
}

bool TMySQLDataSet::GotoBookmark(const TBookmark& bookmark) {
    qCDebug(lcDataSet) << "GotoBookmark";
    if (!BookmarkValid(bookmark)) return false;
    MoveTo(bookmark.row, false, false);
    return true;
}

db::Value TMySQLDataSet::cell(int row, int column) const {
    if (row < 0 || column < 0) return {};
    return rows_.value(std::size_t(row), unsigned(column));
}

QByteArray TMySQLDataSet::rawValue(int row, int column, bool* isNull) const {
    const db::Value value = cell(row, column);
    if (isNull) *isNull = value.isNull();
    return value.isNull() ? QByteArray() : value.bytes();
}

int TMySQLDataSet::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : rowCount_;
}

int TMySQLDataSet::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : int(fields_.size());
}

QVariant TMySQLDataSet::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount_ || index.column() >= columnCount())
        return {};
    const FieldDef& field = fields_[std::size_t(index.column())];
    switch (role) {
    case Qt::DisplayRole: {
        const db::Value value = cell(index.row(), index.column());
        if (value.isNull()) return QStringLiteral("NULL");
        return CellFormat::displayText(field.type, value.view(), field.size);
    }
    case Qt::TextAlignmentRole:
        if (CellFormat::isNumeric(field.type))
            return (Qt::AlignRight | Qt::AlignVCenter).toInt();
        return {};
    case Qt::ForegroundRole:
        if (cell(index.row(), index.column()).isNull()) return QBrush(Qt::gray);
        return {};
    case IsNullRole:
        return cell(index.row(), index.column()).isNull();
    default:
        return {};
    }
}

QVariant TMySQLDataSet::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation == Qt::Horizontal && role == Qt::DisplayRole && section >= 0 &&
        section < columnCount())
        return fields_[std::size_t(section)].name;
    return QAbstractTableModel::headerData(section, orientation, role);
}

Qt::ItemFlags TMySQLDataSet::flags(const QModelIndex& index) const {
    if (!index.isValid()) return Qt::NoItemFlags;
    return Qt::ItemIsSelectable | Qt::ItemIsEnabled | Qt::ItemNeverHasChildren;
}

bool TMySQLDataSet::setData(const QModelIndex&, const QVariant&, int) {
    qCDebug(lcDataSet) << "SetFieldData";
    return false;
}
