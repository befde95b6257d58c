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
        columns_.push_back(Column{std::string(f.name, f.name_length), unsigned(f.type), f.length,
                                  f.flags, f.charsetnr, f.decimals});
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

}  // namespace db
