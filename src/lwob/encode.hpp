// Big-endian encodings of the IFF file, most significant byte first: U2 keeps the low 16 bits of
// a value, U4 all 32, F4 is the IEEE 754 single-precision bit pattern. The bytes are put in file
// order by shifts and stored as one word, so a polygon's vertex numbers cost a store each.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>
#include <vector>

#include "util/compat.hpp"

namespace rokconv {

// at out, which has room; each returns the byte after
inline unsigned char* store_u2(unsigned char* out, std::uint32_t value) {
    auto word = static_cast<std::uint16_t>(value);
    if constexpr (std::endian::native == std::endian::little) {
        word = static_cast<std::uint16_t>(word << 8 | word >> 8);
    }
    std::memcpy(out, &word, 2);
    return out + 2;
}
inline unsigned char* store_u4(unsigned char* out, std::uint32_t value) {
    if constexpr (std::endian::native == std::endian::little) {
        value = value >> 24 | (value >> 8 & 0xFF00u) | (value << 8 & 0xFF0000u) | value << 24;
    }
    std::memcpy(out, &value, 4);
    return out + 4;
}
inline unsigned char* store_f4(unsigned char* out, float value) {
    return store_u4(out, compat::bit_cast<std::uint32_t>(value));
}

// at the end of out
inline void put_u2(std::vector<unsigned char>& out, std::uint32_t value) {
    out.resize(out.size() + 2);
    store_u2(out.data() + out.size() - 2, value);
}
inline void put_u4(std::vector<unsigned char>& out, std::uint32_t value) {
    out.resize(out.size() + 4);
    store_u4(out.data() + out.size() - 4, value);
}

}  // namespace rokconv
