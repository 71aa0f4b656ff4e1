// The memory of a large model's tables: huge pages where the system offers them, and memory
// handed back as soon as a table no longer needs it.
#pragma once

#include <cstddef>
#include <vector>

namespace rokconv {

// Asks the system to back a large table with huge pages where it offers them on request (Linux's
// transparent huge pages): a page fault for each 2 MiB rather than each 4 KiB first written,
// which for the tables of a large model is much of the time of reading and writing them.
// Nothing elsewhere.
void advise_huge_pages(const void* data, std::size_t bytes);

// Hands back to the system the memory of a large table past its last element, which a huge page
// may have taken in whole: the room stays the table's, and is given memory again once written.
void release_tail(const void* data, std::size_t used, std::size_t room);

template <class T>
void release_tail(const std::vector<T>& v) {
    release_tail(v.data(), v.size() * sizeof(T), v.capacity() * sizeof(T));
}

// room for n, backed by huge pages where the table is large
template <class T>
void reserve_large(std::vector<T>& v, std::size_t n) {
    v.reserve(n);
    advise_huge_pages(v.data(), v.capacity() * sizeof(T));
}

// a vector's memory handed back at once, as soon as its last use is done
template <class T>
void release(std::vector<T>& v) {
    std::vector<T>().swap(v);
}

}  // namespace rokconv
