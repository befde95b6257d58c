#include "dataset/RowPager.h"

#include <algorithm>

#include "db/Connection.h"

namespace {

// Where the server's comparison of a column does not follow its ORDER BY (ENUM and SET sort
// by their index; long texts and blobs by their first max_sort_length bytes), a window
// cannot start from its neighbour's values.
bool sortsAsItCompares(const QString& base) {
    static const QStringList unsortable = {
        QStringLiteral("enum"),       QStringLiteral("set"),        QStringLiteral("json"),
        QStringLiteral("geometry"),   QStringLiteral("point"),      QStringLiteral("linestring"),
        QStringLiteral("polygon"),    QStringLiteral("multipoint"), QStringLiteral("multilinestring"),
        QStringLiteral("multipolygon"), QStringLiteral("geometrycollection")};
    return !unsortable.contains(base) && !base.endsWith(QLatin1String("text")) &&
           !base.endsWith(QLatin1String("blob"));
}

}  // namespace

RowPager::RowPager(TableShape shape, std::function<std::string(std::string_view)> quote)
    : shape_(std::move(shape)), quote_(std::move(quote)) {
    setSort(-1, false);
}

void RowPager::setSort(int column, bool descending) {
    sortColumn_ = column >= 0 && column < int(shape_.columns.size()) ? column : -1;
    descending_ = sortColumn_ >= 0 && descending;
    order_.clear();
    if (sortColumn_ >= 0) order_.push_back(sortColumn_);
    for (int k : shape_.key)
        if (std::find(order_.begin(), order_.end(), k) == order_.end()) order_.push_back(k);
}

bool RowPager::seeks() const {
    if (!shape_.hasKey()) return false;
    return std::all_of(order_.begin(), order_.end(), [&](int column) {
        return sortsAsItCompares(shape_.columns[std::size_t(column)].baseType());
    });
}

bool RowPager::descendingAt(std::size_t orderIndex) const {
    return orderIndex == 0 && sortColumn_ >= 0 && descending_;
}

std::string RowPager::select() const {
    std::string s = "SELECT ";
    for (std::size_t i = 0; i < shape_.columns.size(); ++i) {
        if (i) s += ", ";
        s += db::quoteIdentifier(shape_.columns[i].name);
    }
    s += " FROM " + db::qualifiedName(shape_.database, shape_.table);
    return s;
}

std::string RowPager::where(const std::string& seek) const {
    std::string condition;
    if (!filter_.trimmed().isEmpty()) condition = "(" + filter_.toStdString() + ")";
    if (!seek.empty()) condition += (condition.empty() ? "" : " AND ") + seek;
    return condition.empty() ? std::string() : " WHERE " + condition;
}

std::string RowPager::orderBy(bool reversed) const {
    if (order_.empty()) return {};
    std::string s = " ORDER BY ";
    for (std::size_t i = 0; i < order_.size(); ++i) {
        if (i) s += ", ";
        s += db::quoteIdentifier(shape_.columns[std::size_t(order_[i])].name);
        if (descendingAt(i) != reversed) s += " DESC";
    }
    return s;
}

std::string RowPager::literal(int column, const std::string& bytes) const {
    // Key values came from the server: numbers are written as it wrote them.
    return shape_.literal(column, bytes, quote_, true);
}

// Lexicographic "beyond these values" in the order's directions: NULL sorts first going up
// and last going down, as the server sorts it.
std::string RowPager::seek(const std::vector<Value>& values, bool forward) const {
    std::string any;
    std::string equalSoFar;
    for (std::size_t i = 0; i < order_.size() && i < values.size(); ++i) {
        const int column = order_[i];
        const std::string name = db::quoteIdentifier(shape_.columns[std::size_t(column)].name);
        const bool up = descendingAt(i) != forward;
        const Value& v = values[i];
        std::string beyond;
        if (!v) {
            beyond = up ? name + " IS NOT NULL" : std::string();
        } else {
            beyond = name + (up ? " > " : " < ") + literal(column, *v);
            if (!up && shape_.columns[std::size_t(column)].nullable)
                beyond = "(" + beyond + " OR " + name + " IS NULL)";
        }
        if (!beyond.empty()) {
            const std::string term = equalSoFar.empty() ? beyond : "(" + equalSoFar + " AND " + beyond + ")";
            any += (any.empty() ? "" : " OR ") + term;
        }
        const std::string equal = v ? name + " = " + literal(column, *v) : name + " IS NULL";
        equalSoFar += (equalSoFar.empty() ? "" : " AND ") + equal;
    }
    return any.empty() ? std::string("FALSE") : "(" + any + ")";
}

std::string RowPager::between(const std::vector<Value>* low, const std::vector<Value>* high,
                             int rows, bool fromHigh) const {
    std::string bounds;
    if (low) bounds = seek(*low, true);
    if (high) bounds += (bounds.empty() ? "" : " AND ") + seek(*high, false);
    return select() + where(bounds) + orderBy(fromHigh) + " LIMIT " + std::to_string(rows);
}

std::string RowPager::atOffset(std::uint64_t offset, int rows) const {
    return select() + where({}) + orderBy(false) + " LIMIT " + std::to_string(rows) + " OFFSET " +
           std::to_string(offset);
}

std::string RowPager::orderAtOffset(std::uint64_t offset) const {
    std::string s = "SELECT ";
    for (std::size_t i = 0; i < order_.size(); ++i) {
        if (i) s += ", ";
        s += db::quoteIdentifier(shape_.columns[std::size_t(order_[i])].name);
    }
    return s + " FROM " + db::qualifiedName(shape_.database, shape_.table) + where({}) +
           orderBy(false) + " LIMIT 1 OFFSET " + std::to_string(offset);
}

std::string RowPager::count() const {
    return "SELECT COUNT(*) FROM " + db::qualifiedName(shape_.database, shape_.table) + where({});
}
