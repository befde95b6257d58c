#include "db/Result.h"

#include <mysql.h>

#include <utility>

namespace db {

Result::Result(st_mysql_res* res, bool stored) : res_(res), stored_(stored) {
    if (!res_) return;
    const unsigned count = mysql_num_fields(res_);
    MYSQL_FIELD* fields = mysql_fetch_fields(res_);
    columns_.reserve(count);
    for (unsigned i = 0; i < count; ++i) {
        const MYSQL_FIELD& f = fields[i];
        MARIADB_CONST_STRING format{nullptr, 0};
        mariadb_field_attr(&format, &f, MARIADB_FIELD_ATTR_FORMAT_NAME);
        columns_.push_back(Column{std::string(f.name, f.name_length), unsigned(f.type), f.length,
                                  f.flags, f.charsetnr, f.decimals,
                                  format.str ? std::string(format.str, format.length)
                                             : std::string(),
                                  std::string(f.org_table ? f.org_table : "", f.org_table_length),
                                  std::string(f.db ? f.db : "", f.db_length)});
    }
}

Result::Result(Result&& other) noexcept
    : res_(std::exchange(other.res_, nullptr)),
      stored_(other.stored_),
      row_(std::exchange(other.row_, nullptr)),
      lengths_(std::exchange(other.lengths_, nullptr)),
      columns_(std::move(other.columns_)) {}

Result& Result::operator=(Result&& other) noexcept {
    if (this != &other) {
        reset();
        res_ = std::exchange(other.res_, nullptr);
        stored_ = other.stored_;
        row_ = std::exchange(other.row_, nullptr);
        lengths_ = std::exchange(other.lengths_, nullptr);
        columns_ = std::move(other.columns_);
    }
    return *this;
}

Result::~Result() { reset(); }

void Result::reset() noexcept {
    if (res_) mysql_free_result(res_);
    res_ = nullptr;
    row_ = nullptr;
    lengths_ = nullptr;
}

std::uint64_t Result::rowCount() const { return res_ ? mysql_num_rows(res_) : 0; }

bool Result::next() {
    if (!res_) return false;
    row_ = mysql_fetch_row(res_);
    lengths_ = row_ ? mysql_fetch_lengths(res_) : nullptr;
    return row_ != nullptr;
}

void Result::seek(std::uint64_t row) {
    if (!res_ || !stored_) return;
    mysql_data_seek(res_, row);
    row_ = nullptr;
    lengths_ = nullptr;
}

Value Result::value(unsigned column) const {
    if (!row_ || column >= columns_.size()) return {};
    return Value{row_[column], lengths_[column]};
}

StoredRows::StoredRows(const Result& result) {
    if (!result.res_ || !result.stored_ || !result.res_->data) return;
    columns_ = result.columnCount();
    count_ = std::size_t(mysql_num_rows(result.res_));
    unwalked_ = result.res_->data->data;
    // Reserved, not touched: the pages are committed only as far as the walk goes, and
    // the array never reallocates.
    rows_.reserve(count_);
}

char* const* StoredRows::row(std::size_t index) const {
    while (rows_.size() <= index && unwalked_) {
        rows_.push_back(unwalked_->data);
        unwalked_ = unwalked_->next;
    }
    return index < rows_.size() ? rows_[index] : nullptr;
}

Value StoredRows::value(std::size_t row, unsigned column) const {
    if (row >= count_ || column >= columns_) return {};
    char* const* values = this->row(row);
    if (!values) return {};
    const char* start = values[column];
    if (!start) return {};
    // A stored row keeps its values back to back, each followed by a zero byte, and one
    // extra pointer past the last value: a length is the distance to the next non-NULL
    // value (the rule mysql_fetch_lengths applies to stored rows).
    unsigned next = column + 1;
    while (next < columns_ && !values[next]) ++next;
    return Value{start, static_cast<unsigned long>(values[next] - start - 1)};
}

}  // namespace db
