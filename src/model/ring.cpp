#include "rokconv/ring.hpp"
#include "model/ring_walk.hpp"

namespace rokconv {

bool face_ring(const Model& model, const Face& face, std::span<std::int32_t> ring) {
    if (face.edge_count < 0 || ring.size() != static_cast<std::size_t>(face.edge_count)) {
        return false;
    }
    std::int32_t* out = ring.data();
    return walk_ring(model, face, [&out](std::int32_t point) { *out++ = point; });
}

}  // namespace rokconv
