#include <algorithm>

#include "rokconv/model.hpp"

namespace rokconv {

std::span<const std::uint32_t> face_edges(const Model& model, const Face& polygon) {
    const std::size_t refs = model.edge_refs.size();
    if (polygon.edge_count < 0 || polygon.first_ref > refs ||
        refs - polygon.first_ref < static_cast<std::size_t>(polygon.edge_count)) {
        return {};
    }
    return {model.edge_refs.data() + polygon.first_ref,
            static_cast<std::size_t>(polygon.edge_count)};
}

std::span<const PaletteEntry> usable_palette(const Model& model) {
    const auto count = static_cast<std::size_t>(std::max(model.palette_count, 0));
    return {model.palette.data(), std::min(count, model.palette.size())};
}

}  // namespace rokconv
