#pragma once

#include <algorithm>
#include <cstddef>
#include <string>

// How the readers of large SQL files hold their input.
namespace sqllex {

// The readers read their input in pieces of this size.
inline constexpr std::size_t kReadPiece = std::size_t(1) << 20;

// Before a reader's buffer grows to `needed`: past a few pieces, room for a statement at
// `limit` is taken at once, so that growing never copies what the buffer holds (holding it
// twice on the way); room not yet written costs no memory.
inline void reserveFor(std::string& buffer, std::size_t needed, std::size_t limit) {
    if (buffer.capacity() >= needed || needed <= 4 * kReadPiece) return;
    buffer.reserve(std::max(needed, std::min(limit, std::size_t(1) << 40) + 3 * kReadPiece));
}
// What they keep of a statement they skip as longer than their limit: enough to name the
// table of an INSERT and to show how the statement starts.
inline constexpr std::size_t kSkippedHead = 4096;

}  // namespace sqllex
