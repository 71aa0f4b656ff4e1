// How a palette colour looks on a surface, for every output that describes its surfaces.
#pragma once

#include <cstdint>

#include "rokconv/model.hpp"

namespace rokconv {

// The colour is the mean of the entry's two RGB triples, each component keeping its low 8 bits.
// The specular level (256 is 100 %) grows with how much brighter the first triple is than the
// second; it is 0 to 64 for components within 0-255, and 64 where components past 255 leave no
// headroom above the mean. Glossiness is always 0.
struct Look {
    std::uint8_t colour[3] = {};
    std::int64_t specular = 0;
};

Look look_of(const PaletteEntry& entry);

// the palette colours that have a look: 0-15, within the usable palette
bool has_look(const Model& model, std::int32_t colour);

}  // namespace rokconv
