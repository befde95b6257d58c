#include "db/Result.h"

#include <mysql.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <utility>

namespace db {

// Rows copied out of a streamed result, each laid out as the client library lays out a
// stored row (values back to back, each followed by a zero byte, and one pointer past the
// last), so that StoredRows reads them the same way. Allocated in large blocks: a row costs
// its bytes and its pointers, nothing per value.
struct Result::Copies {
    static constexpr std::size_t kBlock = std::size_t(1) << 20;
    std::vector<std::unique_ptr<char[]>> blocks;
    std::size_t used = kBlock;  // of the last block
    std::size_t blockSize = kBlock;
    std::vector<char**> rows;
    std::vector<unsigned long*> lengths;

    char* take(std::size_t bytes) {
        bytes = (bytes + alignof(std::max_align_t) - 1) & ~(alignof(std::max_align_t) - 1);
        if (used + bytes > blockSize) {
            blockSize = std::max(kBlock, bytes);
            blocks.push_back(std::make_unique<char[]>(blockSize));
            used = 0;
        }
        char* at = blocks.back().get() + used;
        used += bytes;
        return at;
    }

    void add(char** row, const unsigned long* length, unsigned columns) {
        std::size_t data = 0;
        for (unsigned i = 0; i < columns; ++i)
            if (row[i]) data += length[i] + 1;
        char* at = take(sizeof(unsigned long) * columns + sizeof(char*) * (columns + 1) + data);
        auto* lengthsCopy = reinterpret_cast<unsigned long*>(at);
        auto* values = reinterpret_cast<char**>(at + sizeof(unsigned long) * columns);
        char* bytes = reinterpret_cast<char*>(values + columns + 1);
        for (unsigned i = 0; i < columns; ++i) {
            lengthsCopy[i] = row[i] ? length[i] : 0;
            if (!row[i]) {
                values[i] = nullptr;
                continue;
            }
            values[i] = bytes;
            std::memcpy(bytes, row[i], length[i]);
            bytes[length[i]] = '\0';
            bytes += length[i] + 1;
        }
        values[columns] = bytes;
        rows.push_back(values);
        lengths.push_back(lengthsCopy);
    }
};

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
                                  std::string(f.db ? f.db : "", f.db_length),
                                  std::string(f.org_name ? f.org_name : "", f.org_name_length),
                                  std::string(f.table ? f.table : "", f.table_length)});
    }
}

Result::Result(Result&& other) noexcept
    : res_(std::exchange(other.res_, nullptr)),
      stored_(other.stored_),
      row_(std::exchange(other.row_, nullptr)),
      lengths_(std::exchange(other.lengths_, nullptr)),
      columns_(std::move(other.columns_)),
      copies_(std::move(other.copies_)),
      nextCopy_(other.nextCopy_),
      notRead_(other.notRead_),
      notReadKnown_(other.notReadKnown_) {}

Result& Result::operator=(Result&& other) noexcept {
    if (this != &other) {
        reset();
        res_ = std::exchange(other.res_, nullptr);
        stored_ = other.stored_;
        row_ = std::exchange(other.row_, nullptr);
        lengths_ = std::exchange(other.lengths_, nullptr);
        columns_ = std::move(other.columns_);
        copies_ = std::move(other.copies_);
        nextCopy_ = other.nextCopy_;
        notRead_ = other.notRead_;
        notReadKnown_ = other.notReadKnown_;
    }
    return *this;
}

Result::~Result() { reset(); }

void Result::reset() noexcept {
    if (res_) mysql_free_result(res_);
    res_ = nullptr;
    row_ = nullptr;
    lengths_ = nullptr;
    copies_.reset();
    nextCopy_ = 0;
    notRead_ = 0;
    notReadKnown_ = true;
}

std::uint64_t Result::rowCount() const {
    if (copies_) return copies_->rows.size();
    return res_ ? mysql_num_rows(res_) : 0;
}

bool Result::keepFirst(std::uint64_t limit) {
    if (!res_ || stored_) return res_ != nullptr;
    MYSQL* handle = res_->handle;
    auto copies = std::make_shared<Copies>();
    const unsigned columns = columnCount();
    while (MYSQL_ROW row = mysql_fetch_row(res_)) {
        if (copies->rows.size() < limit)
            copies->add(row, mysql_fetch_lengths(res_), columns);
        else
            ++notRead_;
    }
    // A fetch that ends with an error ends the rows early: the stream broke or was stopped.
    const bool failed = handle && mysql_errno(handle) != 0;
    if (failed && copies->rows.size() < limit) return false;
    notReadKnown_ = !failed;
    copies_ = std::move(copies);
    stored_ = true;
    row_ = nullptr;
    lengths_ = nullptr;
    return true;
}

bool Result::next() {
    if (copies_) {
        if (nextCopy_ >= copies_->rows.size()) {
            row_ = nullptr;
            lengths_ = nullptr;
            return false;
        }
        row_ = copies_->rows[nextCopy_];
        lengths_ = copies_->lengths[nextCopy_];
        ++nextCopy_;
        return true;
    }
    if (!res_) return false;
    row_ = mysql_fetch_row(res_);
    lengths_ = row_ ? mysql_fetch_lengths(res_) : nullptr;
    return row_ != nullptr;
}

void Result::seek(std::uint64_t row) {
    if (copies_) {
        nextCopy_ = std::size_t(std::min<std::uint64_t>(row, copies_->rows.size()));
        row_ = nullptr;
        lengths_ = nullptr;
        return;
    }
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
    if (result.copies_) {
        columns_ = result.columnCount();
        rows_ = result.copies_->rows;
        count_ = rows_.size();
        return;
    }
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
