// Big-endian encodings of the IFF file, most significant byte first: U2 keeps the low 16 bits of
// a value, U4 all 32, F4 is the IEEE 754 single-precision bit pattern. Bytes are formed by
// shifts, so the host's byte order never shows.
#pragma once

#include <bit>
#include <cstdint>
#include <vector>

namespace rokconv {

// at out, which has room; each returns the byte after
inline unsigned char* store_u2(unsigned char* out, std::uint32_t value) {
    out[0] = static_cast<unsigned char>(value >> 8);
    out[1] = static_cast<unsigned char>(value);
    return out + 2;
}
inline unsigned char* store_u4(unsigned char* out, std::uint32_t value) {
    return store_u2(store_u2(out, value >> 16), value);
}
inline unsigned char* store_f4(unsigned char* out, float value) {
    return store_u4(out, std::bit_cast<std::uint32_t>(value));
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
