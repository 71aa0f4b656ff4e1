// The reader's way in beside load_rok, for the tests: a window and a split size of their choosing.
#pragma once

#include <cstddef>
#include <cstdint>

#include "rokconv/rok.hpp"

namespace rokconv {

// An input of at least this many bytes that can be read at any offset is read by two threads.
inline constexpr std::uint64_t kSplitBytes = std::uint64_t{8} << 20;

// load_rok through a window of the given size onto input, an input with read_at of split_bytes
// or more being read by two threads where the options allow; the window's size and split_bytes
// matter only to the tests, which make them small so that the window's edge falls at every place
// in a record and every input is read in two parts
[[nodiscard]] LoadStatus load_rok_windowed(const RokInput& input, std::size_t window,
                                           std::uint64_t split_bytes, Model& model,
                                           const LoadOptions& options = {});

}  // namespace rokconv
