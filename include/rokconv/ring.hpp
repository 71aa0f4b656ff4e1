// A face's edges ordered into a ring of points, the topology every output format needs.
#pragma once

#include <cstdint>
#include <span>

#include "rokconv/model.hpp"

namespace rokconv {

// Writes the face's ring into ring, which holds exactly face.edge_count point numbers: 1-based
// and as the edges hold them. The ring starts at the first point of the first listed edge and
// follows that edge's direction; at each point it goes on over the lowest-listed other edge of
// the face that meets it. Where no other edge meets the point before the ring is complete, the
// walk resumes at the first entry of the edge list not yet walked, taken in its listed direction;
// so the ring always has as many points as the face has edges. Returns false, writing nothing,
// when ring has another size or the face's edges do not lie within the model's tables.
[[nodiscard]] bool face_ring(const Model& model, const Face& face, std::span<std::int32_t> ring);

}  // namespace rokconv
