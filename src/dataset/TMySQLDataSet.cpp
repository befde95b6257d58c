#include "dataset/TMySQLDataSet.h"

#include <QBrush>
#include <QElapsedTimer>
#include <QLoggingCategory>
#include <algorithm>
#include <climits>
#include <cstdlib>
#include <numeric>

#include "dataset/TMySQLConnection.h"

namespace {

// The dataset's trace, off unless enabled ("lorvex.dataset.debug=true"). It names
// operations, counts and types only: statement text, column names (which repeat the
// expressions of the statement) and values may hold passwords and never appear.
Q_LOGGING_CATEGORY(lcDataSet, "lorvex.dataset", QtWarningMsg)

// Decimal integers as the server sends them: a sign, then digits. Compared exactly, also
// beyond the 53 bits a double holds.
int compareIntegers(std::string_view a, std::string_view b) {
    const bool negativeA = !a.empty() && a.front() == '-';
    const bool negativeB = !b.empty() && b.front() == '-';
    if (negativeA != negativeB) return negativeA ? -1 : 1;
    const auto digits = [](std::string_view v) {
        if (!v.empty() && (v.front() == '-' || v.front() == '+')) v.remove_prefix(1);
        while (v.size() > 1 && v.front() == '0') v.remove_prefix(1);
        return v;
    };
    a = digits(a);
    b = digits(b);
    int c = a.size() == b.size() ? a.compare(b) : (a.size() < b.size() ? -1 : 1);
    c = c < 0 ? -1 : (c > 0 ? 1 : 0);
    return negativeA ? -c : c;
}

int compareBytes(std::string_view a, std::string_view b) {
    const int c = a.compare(b);
    return c < 0 ? -1 : (c > 0 ? 1 : 0);
}

bool comparedAsNumber(FieldType type) {
    return type == FieldType::Decimal || type == FieldType::Float || type == FieldType::Year;
}

bool comparedAsText(FieldType type) {
    return type == FieldType::String || type == FieldType::Text || type == FieldType::Json ||
           type == FieldType::Unknown;
}

}  // namespace

const QString& TMySQLDataSet::noResultSetText() {
    static const QString text = QStringLiteral("The statement returned no result set.");
    return text;
}

TMySQLDataSet::TMySQLDataSet(QObject* parent) : QAbstractTableModel(parent) {}

TMySQLDataSet::~TMySQLDataSet() = default;

void TMySQLDataSet::SetActive(bool value) {
    if (value)
        Open();
    else
        Close();
}

TMySQLDataSet::Answer TMySQLDataSet::Execute(db::Connection& c, std::string_view statement,
                                             std::uint64_t rowLimit) {
    QElapsedTimer clock;
    clock.start();
    Answer done;
    // Stopped on every way out, before anything is reported to the user.
    struct Stop {
        QElapsedTimer& clock;
        qint64& ms;
        ~Stop() { ms = clock.elapsed(); }
    } stop{clock, done.ms};
    const auto fail = [&] {
        done.errorCode = c.errorNumber();
        done.failure = c.errorText();
        done.cancelled = c.cancelledByUser();
    };
    if (!c.query(statement)) {
        qCDebug(lcDataSet) << "Open failed: error" << c.errorNumber();
        fail();
        return done;
    }
    done.result = rowLimit > 0 ? c.storeResult(rowLimit) : c.storeResult();
    if (!done.result && c.errorNumber() != 0) {
        fail();
        return done;
    }
    if (!done.result) done.affectedRows = c.affectedRows();
    // CALL ends with a status result, and a procedure may return several sets: read them all
    // so that the connection is ready for its next statement. Only the first set is kept; a
    // later statement's error is still reported.
    while (c.moreResults()) {
        const int next = c.nextResult();
        if (next > 0 && done.failure.isEmpty()) fail();
        if (next != 0) break;
        // Dropped unread: counted through, never held whole.
        if (c.storeResult(0)) ++done.droppedSets;
    }
    if (!done.failure.isEmpty()) qCDebug(lcDataSet) << "Open: a later result failed";
    return done;
}

TMySQLDataSet::Answer TMySQLDataSet::ExecuteHere() {
    Answer done;
    if (!connection_) {
        qCDebug(lcDataSet) << "Open failed: no connection";
        done.failure = QStringLiteral("The dataset has no connection.");
    } else {
        done = Execute(connection_->connection(), db::utf8(sql_.join(QStringLiteral("\r\n"))),
                       rowLimit_);
    }
    elapsedMs_ = done.ms;
    droppedSets_ = done.droppedSets;
    return done;
}

bool TMySQLDataSet::Open() {
    lastError_.clear();
    if (active_) return true;
    qCDebug(lcDataSet) << "Open";
    Q_EMIT BeforeOpen();
    Answer done = ExecuteHere();
    if (!done.result && done.failure.isEmpty()) done.failure = noResultSetText();
    lastError_ = done.failure;
    if (!done.result) return false;
    Adopt(std::move(done.result));
    return true;
}

void TMySQLDataSet::OpenOn(db::Result result) {
    Close();
    Q_EMIT BeforeOpen();
    Adopt(std::move(result));
}

ExecOutcome TMySQLDataSet::Run() {
    Close();
    if (sql_.join(QString()).isEmpty()) return {};
    qCDebug(lcDataSet) << "Run";
    Q_EMIT BeforeOpen();
    return adoptAnswer(ExecuteHere());
}

ExecOutcome TMySQLDataSet::Take(Answer answer) {
    Close();
    Q_EMIT BeforeOpen();
    elapsedMs_ = answer.ms;
    droppedSets_ = answer.droppedSets;
    return adoptAnswer(std::move(answer));
}

ExecOutcome TMySQLDataSet::adoptAnswer(Answer done) {
    ExecOutcome outcome;
    outcome.sent = true;
    outcome.ok = done.failure.isEmpty();
    outcome.errorCode = done.errorCode;
    outcome.errorText = done.failure;
    outcome.cancelled = done.cancelled;
    outcome.affectedRows = done.affectedRows;
    outcome.returnedRows = bool(done.result);
    if (done.result) Adopt(std::move(done.result));
    return outcome;
}

void TMySQLDataSet::Adopt(db::Result result) {
    // Index first: the row pointers stay valid when the result moves into the dataset.
    db::StoredRows rows(result);

    beginResetModel();
    order_.clear();
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
}

void TMySQLDataSet::Close() {
    if (!active_) return;
    qCDebug(lcDataSet) << "Close";
    Q_EMIT BeforeClose();
    beginResetModel();
    rows_ = {};
    order_.clear();
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
    fields_ = fieldDefsOf(result_.columns());
    for (const FieldDef& field : fields_)
        qCDebug(lcDataSet).nospace() << "BuildFieldDefs: field " << field.fieldNo << ' '
                                     << CellFormat::typeName(field.type) << ' ' << field.size;
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

std::size_t TMySQLDataSet::storedRow(int row) const {
    return order_.empty() ? std::size_t(row) : std::size_t(order_[std::size_t(row)]);
}

db::Value TMySQLDataSet::cell(int row, int column) const {
    if (row < 0 || column < 0 || row >= rowCount_) return {};
    return rows_.value(storedRow(row), unsigned(column));
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
    return cellRoleData(fields_[std::size_t(index.column())], cell(index.row(), index.column()),
                        role, IsNullRole);
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

void TMySQLDataSet::sort(int column, Qt::SortOrder order) {
    if (!active_ || column >= columnCount() || (column < 0 && order_.empty())) return;
    qCDebug(lcDataSet) << "Sort";
    Q_EMIT layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    // Whatever the views hold on to (current cell, selection) and the record cursor keep
    // their records.
    const QModelIndexList persistent = persistentIndexList();
    std::vector<int> heldRows;
    heldRows.reserve(std::size_t(persistent.size()));
    for (const QModelIndex& index : persistent) heldRows.push_back(int(storedRow(index.row())));
    const int currentRow = current_ >= 0 ? int(storedRow(current_)) : -1;

    std::vector<int> shown(static_cast<std::size_t>(rowCount_));
    std::iota(shown.begin(), shown.end(), 0);
    if (column >= 0) {
        const unsigned c = unsigned(column);
        const FieldType type = fields_[std::size_t(column)].type;
        // Numbers and text get their keys once, not per comparison: text is compared
        // without regard to case, decimals and floats as numbers.
        std::vector<QString> keys;
        std::vector<double> numbers;
        if (comparedAsText(type) || comparedAsNumber(type)) {
            for (int r = 0; r < rowCount_; ++r) {
                const db::Value v = rows_.value(std::size_t(r), c);
                if (comparedAsText(type))
                    keys.push_back(v.text());
                else
                    numbers.push_back(std::strtod(std::string(v.view()).c_str(), nullptr));
            }
        }
        const auto compare = [&](int a, int b) {
            const db::Value x = rows_.value(std::size_t(a), c);
            const db::Value y = rows_.value(std::size_t(b), c);
            if (x.isNull() || y.isNull()) return int(y.isNull()) - int(x.isNull());
            if (type == FieldType::Integer) return compareIntegers(x.view(), y.view());
            if (!numbers.empty()) {
                const double p = numbers[std::size_t(a)], q = numbers[std::size_t(b)];
                return p < q ? -1 : (p > q ? 1 : 0);
            }
            if (!keys.empty()) {
                if (const int k = keys[std::size_t(a)].compare(keys[std::size_t(b)],
                                                               Qt::CaseInsensitive))
                    return k < 0 ? -1 : 1;
            }
            return compareBytes(x.view(), y.view());
        };
        const bool ascending = order == Qt::AscendingOrder;
        std::stable_sort(shown.begin(), shown.end(), [&](int a, int b) {
            const int c = compare(a, b);
            return ascending ? c < 0 : c > 0;
        });
        order_ = std::move(shown);
    } else {
        order_.clear();
    }

    std::vector<int> shownAt(static_cast<std::size_t>(rowCount_));
    for (int r = 0; r < rowCount_; ++r) shownAt[storedRow(r)] = r;
    for (qsizetype i = 0; i < persistent.size(); ++i)
        changePersistentIndex(persistent[i],
                              index(shownAt[std::size_t(heldRows[std::size_t(i)])],
                                    persistent[i].column()));
    if (currentRow >= 0) current_ = shownAt[std::size_t(currentRow)];
    Q_EMIT layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}
