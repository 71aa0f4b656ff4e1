// The model's tables as the reader fills them: sized from the input, so that a large model is
// copied once or twice as it grows rather than at every step.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <new>
#include <vector>

#include "rok/line_reader.hpp"
#include "util/memory.hpp"

namespace rokconv::rok {

// Appends to a model table. A block's tables are sized from the input: once a table is full,
// the bytes its records took so far tell how many records the rest of the input could hold if it
// were all of this block, and the table makes room for that many at once. A model is thereby
// copied at most once or twice as it grows, instead of at every step; the room not used is
// address space, not memory. Where that guess is no good (too large to reserve, or the input's
// size is not known), a full table grows to four times its size.
struct Block {
    std::uint64_t start = 0;  // the bytes remaining where the block began; 0 when not sized
};

template <class T>
[[gnu::noinline]] void grow(std::vector<T>& table, const Block& block, std::uint64_t rest) {
    const std::size_t records = table.size();
    std::size_t room = std::max<std::size_t>(4 * records, 256);
    if (records >= 256 && block.start > rest) {
        // an eighth more, for records that come out shorter than those so far
        const double guess =
            static_cast<double>(records) *
            (1.0 + static_cast<double>(rest) / static_cast<double>(block.start - rest)) * 1.125;
        if (guess > static_cast<double>(room) && guess < static_cast<double>(table.max_size())) {
            try {
                table.reserve(static_cast<std::size_t>(guess));
                // fewer page faults as it fills; what it does not fill is handed back at the
                // block's end
                advise_huge_pages(table.data(), table.capacity() * sizeof(T));
                return;
            } catch (const std::bad_alloc&) {
                // too much to set aside at once: grow step by step
            }
        }
    }
    table.reserve(room);
}

// the input's position tells how much of it is left when the table must grow
template <class T>
[[gnu::always_inline]] inline void append(std::vector<T>& table, const T& value, const Block& block,
                                          const ByteStream& in) {
    if (table.size() == table.capacity()) grow(table, block, stream_remaining(in));
    table.push_back(value);
}

}  // namespace rokconv::rok
