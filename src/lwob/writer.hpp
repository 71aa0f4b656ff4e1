// The LWOB writer's pieces: the IFF chunk builder, surface numbering and the SURF chunks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "model/omission.hpp"
#include "rokconv/lwob.hpp"

namespace rokconv {

// The faces and lines that LWOB draws between other points than the model's: a vertex number is
// a U2, which keeps only the low 16 bits of one past 65,535.
struct LwobWrapped {
    Omission faces;
    Omission lines;
};

// the output file as it is built
using ByteSink = std::vector<unsigned char>;

// Builds one IFF chunk's contents in memory, so that its length is known when it is emitted.
// A top-level chunk emits into a sink, a child into its parent's buffer; while the chunk is open
// exactly one of parent and stream is set. Its tag must already be in place when it is opened.
// The buffer holds the contents without tag and length; its size is the chunk's length.
struct Chunk {
    std::vector<unsigned char> buffer;
    Chunk* parent = nullptr;
    ByteSink* stream = nullptr;
};

// writes the 4-byte tag to the sink and opens chunk on it
void chunk_open_top(Chunk& chunk, const char (&tag)[5], ByteSink& stream);
// appends the 4-byte tag to parent and opens chunk as its child
void chunk_open_child(Chunk& chunk, const char (&tag)[5], Chunk& parent);

void chunk_append(Chunk& chunk, const void* bytes, std::size_t n);
// A child whose length n is known before its contents: appends the tag and the length to parent
// and returns where the n bytes of contents go, for the caller to fill before anything else is
// added to parent. Returns nullptr, appending nothing, for a length a U4 cannot state.
unsigned char* chunk_place_child(Chunk& parent, const char (&tag)[5], std::size_t n);
// Emits the length as U4 and the contents, then resets the chunk for reuse. Returns false,
// emitting nothing, for contents longer than a U4 length can state.
[[nodiscard]] bool chunk_close(Chunk& chunk);

// the writer's surface slots: one per palette colour 0-15
inline constexpr std::int32_t kColourSlots = 16;

// Surface numbers are 1, 2, ... over the used slots in ascending colour order. Faces and lines
// whose colour has no slot share the surface number after the last used slot, which no SRFS name
// describes.
struct SurfaceTable {
    bool colour_used[kColourSlots] = {};
    std::uint16_t surface_number[kColourSlots] = {};
    std::uint16_t unslotted_surface = 0;
};

SurfaceTable number_surfaces(const Model& model);

// the surface number of a colour
inline std::uint16_t surface_of(const SurfaceTable& table, std::int32_t colour) {
    return colour >= 0 && colour < kColourSlots ? table.surface_number[colour]
                                                : table.unslotted_surface;
}

// "ROK" and the index in decimal, zero-terminated and padded to an even length
void append_surface_name(std::vector<unsigned char>& out, int index);

// the SURF chunk for palette index i, built in child and closed into form
[[nodiscard]] bool write_surface(Chunk& form, Chunk& child, int index, const PaletteEntry& entry);

}  // namespace rokconv
