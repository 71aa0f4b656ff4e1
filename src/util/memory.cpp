#include "util/memory.hpp"

#include <cstdint>

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace rokconv {

namespace {

// below this, a table is not worth a call
[[maybe_unused]] constexpr std::uintptr_t kLarge = std::uintptr_t{4} << 20;
[[maybe_unused]] constexpr std::uintptr_t kPage = 4096;

}  // namespace

void advise_huge_pages([[maybe_unused]] const void* data, [[maybe_unused]] std::size_t bytes) {
#if defined(__linux__) && defined(MADV_HUGEPAGE)
    const auto begin = (reinterpret_cast<std::uintptr_t>(data) + kPage - 1) & ~(kPage - 1);
    const auto end = (reinterpret_cast<std::uintptr_t>(data) + bytes) & ~(kPage - 1);
    // a hint: where it is refused, the table has ordinary pages
    if (end > begin && end - begin >= kLarge)
        madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
#endif
}

void release_tail([[maybe_unused]] const void* data, [[maybe_unused]] std::size_t used,
                  [[maybe_unused]] std::size_t room) {
#if defined(__linux__)
    const auto at = reinterpret_cast<std::uintptr_t>(data);
    const auto begin = (at + used + kPage - 1) & ~(kPage - 1);
    const auto end = (at + room) & ~(kPage - 1);
    // the pages wholly past the last element, their contents unused
    if (room >= kLarge && end > begin)
        madvise(reinterpret_cast<void*>(begin), end - begin, MADV_DONTNEED);
#endif
}

}  // namespace rokconv
