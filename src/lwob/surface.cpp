#include <cstdio>

#include "lwob/encode.hpp"
#include "lwob/writer.hpp"
#include "model/look.hpp"

namespace rokconv {

namespace {

// maximum smoothing angle: 44.5 degrees in radians, as its exact F4 bit pattern
constexpr std::uint32_t kSmoothingAngleBits = 0x3F46D3F2;
// FLAG bits: 0x0004 smoothing, 0x0100 double-sided
constexpr std::uint32_t kSurfaceFlags = 0x0104;

// a SURF sub-chunk: tag, U2 length of the data, data
void sub_chunk(std::vector<unsigned char>& out, const char (&tag)[5], std::uint32_t length) {
    out.insert(out.end(), tag, tag + 4);
    put_u2(out, length);
}

void sub_chunk_u2(std::vector<unsigned char>& out, const char (&tag)[5], std::uint32_t value) {
    sub_chunk(out, tag, 2);
    put_u2(out, value);
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

    const Look look = look_of(entry);
    sub_chunk(out, "COLR", 4);
    out.insert(out.end(), look.colour, look.colour + 3);
    out.push_back(0);

    sub_chunk_u2(out, "FLAG", kSurfaceFlags);
    sub_chunk(out, "SMAN", 4);
    put_u4(out, kSmoothingAngleBits);
    sub_chunk_u2(out, "DIFF", 256);
    sub_chunk_u2(out, "TRAN", 0);
    sub_chunk_u2(out, "SPEC", static_cast<std::uint32_t>(look.specular));
    sub_chunk_u2(out, "GLOS", 0);
    return chunk_close(child);
}

}  // namespace rokconv
