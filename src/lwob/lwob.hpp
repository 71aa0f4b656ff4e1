// Writing LightWave objects: the IFF chunk builder, the object writer and the surface chunks.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "model/model.hpp"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace rokconv {

// the output file as it is built; the driver writes it out
using ByteSink = std::vector<unsigned char>;

// Builds one IFF chunk's contents in memory, so that its length is known when it is emitted.
// A top-level chunk emits into a sink, a child into its parent's buffer; while the chunk is open
// exactly one of parent and stream is set. Its tag must already be in place when it is opened.
// The buffer holds the contents without tag and length; its size is the chunk's length. The
// put_ encodings below may write to it directly.
struct Chunk {
    std::vector<unsigned char> buffer;
    Chunk* parent = nullptr;
    ByteSink* stream = nullptr;
};

// big-endian encodings, most significant byte first: U2 keeps the low 16 bits, U4 all 32, F4 is
// the IEEE 754 single-precision bit pattern
inline void put_u2(std::vector<unsigned char>& out, std::uint32_t value) {
    out.push_back(static_cast<unsigned char>(value >> 8));
    out.push_back(static_cast<unsigned char>(value));
}
inline void put_u4(std::vector<unsigned char>& out, std::uint32_t value) {
    put_u2(out, value >> 16);
    put_u2(out, value);
}
inline void put_f4(std::vector<unsigned char>& out, float value) {
    put_u4(out, std::bit_cast<std::uint32_t>(value));
}

// writes the 4-byte tag to the sink and opens chunk on it
void chunk_open_top(Chunk& chunk, const char (&tag)[5], ByteSink& stream);
// appends the 4-byte tag to parent and opens chunk as its child
void chunk_open_child(Chunk& chunk, const char (&tag)[5], Chunk& parent);

int chunk_append(Chunk& chunk, const void* bytes, std::size_t n);
// A child whose length n is known before its contents: appends the tag and the length to parent
// and returns where the n bytes of contents go, for the caller to fill before anything else is
// added to parent. Returns nullptr, appending nothing, for a length a U4 cannot state.
unsigned char* chunk_place_child(Chunk& parent, const char (&tag)[5], std::size_t n);
// Emits the length as U4 and the contents, then resets the chunk for reuse. Returns -1, emitting
// nothing, for contents longer than a U4 length can state.
[[nodiscard]] int chunk_close(Chunk& chunk);

// The writer's surface slots: one per palette colour 0-15. Surface numbers are 1, 2, ... over
// the used slots in ascending colour order. Polygons whose colour has no slot share the
// surface number after the last used slot, which no SRFS name describes.
struct SurfaceTable {
    bool colour_used[kColourSlots] = {};
    std::uint16_t surface_number[kColourSlots] = {};
    std::uint16_t unslotted_surface = 0;
};

SurfaceTable number_surfaces(const Model& model);

// "ROK" and the index in decimal, zero-terminated and padded to an even length
void append_surface_name(std::vector<unsigned char>& out, int index);

// the SURF chunk for palette index i, built in child and closed into form
[[nodiscard]] int write_surface(Chunk& form, Chunk& child, int index, const PaletteEntry& entry);

// Orders a face's edges into its vertex ring: writes exactly edge_count U2 vertex numbers.
// The ring starts at the first point of the first listed edge and follows its direction; from
// each joint it goes on over the lowest-listed other edge that meets it. Where no edge meets
// the joint before the ring is complete, the walk resumes at the first entry of the edge list it
// has not yet walked, taken forward.
void append_ring(std::vector<unsigned char>& out, const Model& model, const Polygon& polygon);

namespace detail {

// Which of W edges (W a multiple of 4) meet a point: bit k of starts is set when first[k] is the
// point, bit k of ends when second[k] is. The ring walk's search, for all W edges at once.
template <std::uint32_t W>
inline void joint_masks_portable(const std::int32_t* first, const std::int32_t* second,
                                 std::int32_t point, std::uint32_t& starts, std::uint32_t& ends) {
    starts = 0;
    ends = 0;
    for (std::uint32_t k = 0; k < W; ++k) {
        starts |= static_cast<std::uint32_t>(first[k] == point) << k;
        ends |= static_cast<std::uint32_t>(second[k] == point) << k;
    }
}

template <std::uint32_t W>
inline void joint_masks(const std::int32_t* first, const std::int32_t* second, std::int32_t point,
                        std::uint32_t& starts, std::uint32_t& ends) {
    static_assert(W % 4 == 0);
#if defined(__SSE2__)
    // four edges to a compare where the processor has them
    const __m128i points = _mm_set1_epi32(point);
    starts = 0;
    ends = 0;
    for (std::uint32_t k = 0; k < W; k += 4) {
        const __m128i f = _mm_loadu_si128(reinterpret_cast<const __m128i*>(first + k));
        const __m128i s = _mm_loadu_si128(reinterpret_cast<const __m128i*>(second + k));
        starts |= static_cast<std::uint32_t>(
                      _mm_movemask_ps(_mm_castsi128_ps(_mm_cmpeq_epi32(f, points))))
                  << k;
        ends |= static_cast<std::uint32_t>(
                    _mm_movemask_ps(_mm_castsi128_ps(_mm_cmpeq_epi32(s, points))))
                << k;
    }
#else
    joint_masks_portable<W>(first, second, point, starts, ends);
#endif
}

}  // namespace detail

// the whole FORM LWOB for model, appended to out
// Returns 0, or -1 if a chunk grew past what a U4 length can state.
[[nodiscard]] int save_lwob(const Model& model, ByteSink& out);

}  // namespace rokconv
