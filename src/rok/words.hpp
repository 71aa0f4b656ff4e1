// Eight bytes at a time: the word loads and bit scans that the line maps and the digit
// conversions share.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>

namespace rokconv::detail {

inline constexpr std::uint64_t kOnes = 0x0101010101010101u;

// the eight bytes at p as a word whose lowest byte is p[0]
inline std::uint64_t load_word(const unsigned char* p) {
    std::uint64_t x;
    std::memcpy(&x, p, 8);
    if constexpr (std::endian::native == std::endian::big) {
        std::uint64_t swapped = 0;
        for (int i = 0; i < 8; ++i)
            swapped |= ((x >> (8 * i)) & 0xFF) << (56 - 8 * i);
        x = swapped;
    }
    return x;
}

// The index of the lowest set bit of x, which is not 0. Where the compiler has it, this leaves
// out the test for 0 that std::countr_zero makes on processors without a bit count instruction.
[[gnu::always_inline]] inline int lowest_bit(std::uint64_t x) {
#if defined(__GNUC__)
    return __builtin_ctzll(x);
#else
    return std::countr_zero(x);
#endif
}

}  // namespace rokconv::detail
