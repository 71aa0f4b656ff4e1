#include <cstdio>

#include "lwob/encode.hpp"
#include "lwob/writer.hpp"

namespace rokconv {

namespace {

// maximum smoothing angle: 44.5 degrees in radians, as its exact F4 bit pattern
constexpr std::uint32_t kSmoothingAngleBits = 0x3F46D3F2;
// FLAG bits: 0x0004 smoothing, 0x0100 double-sided
constexpr std::uint32_t kSurfaceFlags = 0x0104;
// brightness of white with red weighted 2, green 4 and blue 1
constexpr std::int64_t kFullBrightness = 7 * 255;
// the specular level the formula tends to as the headroom above the mean vanishes
constexpr std::int64_t kFullSpecular = 64;

// a SURF sub-chunk: tag, U2 length of the data, data
void sub_chunk(std::vector<unsigned char>& out, const char (&tag)[5], std::uint32_t length) {
    out.insert(out.end(), tag, tag + 4);
    put_u2(out, length);
}

void sub_chunk_u2(std::vector<unsigned char>& out, const char (&tag)[5], std::uint32_t value) {
    sub_chunk(out, tag, 2);
    put_u2(out, value);
}

// Components are meant to be 0-255 but are stored as read, so the sums are formed in 64 bits,
// where they cannot overflow; divisions truncate toward zero.
std::int64_t specular_level(const PaletteEntry& entry) {
    const std::int64_t l1 =
        2 * std::int64_t{entry.c[0]} + 4 * std::int64_t{entry.c[1]} + std::int64_t{entry.c[2]};
    const std::int64_t l2 =
        2 * std::int64_t{entry.c[3]} + 4 * std::int64_t{entry.c[4]} + std::int64_t{entry.c[5]};
    if (l2 >= l1) return 0;
    const std::int64_t mean = (l1 + l2) / 2;
    const std::int64_t headroom = kFullBrightness - mean;
    // only components above 255 leave no headroom; avoid the division by zero or a negative
    // level and write the full level instead
    if (headroom <= 0) return kFullSpecular;
    return (l1 - mean) * 256 / headroom / 4;
}

std::uint8_t mean_component(std::int32_t a, std::int32_t b) {
    return static_cast<std::uint8_t>((std::int64_t{a} + std::int64_t{b}) / 2);
}

}  // namespace

void append_surface_name(std::vector<unsigned char>& out, int index) {
    char name[16];
    const int len = std::snprintf(name, sizeof name, "ROK%d", index);
    out.insert(out.end(), name, name + len);
    out.push_back(0);
    if ((len + 1) % 2 != 0) out.push_back(0);
}

bool write_surface(Chunk& form, Chunk& child, int index, const PaletteEntry& entry) {
    chunk_open_child(child, "SURF", form);
    std::vector<unsigned char>& out = child.buffer;
    append_surface_name(out, index);

    sub_chunk(out, "COLR", 4);
    out.push_back(mean_component(entry.c[0], entry.c[3]));
    out.push_back(mean_component(entry.c[1], entry.c[4]));
    out.push_back(mean_component(entry.c[2], entry.c[5]));
    out.push_back(0);

    sub_chunk_u2(out, "FLAG", kSurfaceFlags);
    sub_chunk(out, "SMAN", 4);
    put_u4(out, kSmoothingAngleBits);
    sub_chunk_u2(out, "DIFF", 256);
    sub_chunk_u2(out, "TRAN", 0);
    sub_chunk_u2(out, "SPEC", static_cast<std::uint32_t>(specular_level(entry)));
    sub_chunk_u2(out, "GLOS", 0);
    return chunk_close(child);
}

}  // namespace rokconv
