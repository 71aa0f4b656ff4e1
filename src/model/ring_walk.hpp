// The face-ring walk, for the writers that want each point as it is found rather than the
// whole ring first (face_ring gives it whole). The walk itself is described at face_ring.
#pragma once

#include <bit>
#include <cstdint>
#include <limits>
#include <memory>
#include <span>
#include <vector>

#include "rokconv/model.hpp"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace rokconv {

namespace ring_walk {

inline constexpr std::uint32_t kNone = std::numeric_limits<std::uint32_t>::max();

// The walk looks, at each joint, for the lowest-listed edge other than the current one that has
// the joint as an end point. Small faces search their few edges directly. Larger ones index
// their edges by point number, keeping for each point the two lowest-listed edges that meet it:
// whichever of those is not the current edge is the one the search would find, so each step
// costs the same whatever the face's size.
inline constexpr std::uint32_t kDirectSearchEdges = 16;

// Which of W edges (W a multiple of 4) meet a point: bit k of starts is set when first[k] is the
// point, bit k of ends when second[k] is. The walk's search, for all W edges at once.
template <std::uint32_t W>
inline void joint_masks(const std::int32_t* first, const std::int32_t* second, std::int32_t point,
                        std::uint32_t& starts, std::uint32_t& ends) {
    static_assert(W % 4 == 0);
    starts = 0;
    ends = 0;
#if defined(__SSE2__)
    // four edges to a compare where the processor has them
    const __m128i points = _mm_set1_epi32(point);
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
    for (std::uint32_t k = 0; k < W; ++k) {
        starts |= static_cast<std::uint32_t>(first[k] == point) << k;
        ends |= static_cast<std::uint32_t>(second[k] == point) << k;
    }
#endif
}

// The walk of a face of up to W edges: each search tests all W slots at once, as bits of a mask,
// so the walk takes no branch on which edge matches and its compares can run side by side. Slots
// past the face's n edges are masked out. False, writing nothing, when an edge is past the table.
template <std::uint32_t W, bool Checked, class Put>
bool small_ring(Put& put, std::span<const Edge> edges, const std::uint32_t* refs, std::uint32_t n,
                bool* closed) {
    std::int32_t first[W] = {};
    std::int32_t second[W] = {};
    std::int32_t ends[W][2] = {};  // an edge's points by index, so the walk takes no branch on them
    for (std::uint32_t k = 0; k < n; ++k) {
        if (Checked && refs[k] >= edges.size()) return false;
        const Edge& e = edges[refs[k]];
        first[k] = ends[k][0] = e.first;
        second[k] = ends[k][1] = e.second;
    }
    const std::uint32_t all = (std::uint32_t{1} << n) - 1u;
    std::uint32_t unvisited = all;
    std::uint32_t current = 0;
    std::uint32_t forward = 1;  // the walk leaves the edge by its second point
    for (std::uint32_t written = 0;;) {
        unvisited &= ~(std::uint32_t{1} << current);
        put(ends[current][1 - forward]);
        if (++written == n) {
            // a search after the last point would find nothing needed
            if (closed != nullptr) *closed = *closed && ends[current][forward] == first[0];
            return true;
        }

        const std::int32_t joint = ends[current][forward];
        std::uint32_t starts;
        std::uint32_t meets;
        joint_masks<W>(first, second, joint, starts, meets);
        meets = (meets | starts) & all & ~(std::uint32_t{1} << current);
        // the lowest-listed edge other than the current one, its first point tested first; or,
        // where the ring is broken, the lowest-listed edge not yet visited, taken forward
        const std::uint32_t next = meets != 0 ? meets : unvisited;
        current = static_cast<std::uint32_t>(std::countr_zero(next));
        // a ring that resumes, or comes back to an edge it has walked, does not close
        if (closed != nullptr && (meets == 0 || (unvisited >> current & 1u) == 0)) *closed = false;
        forward = meets != 0 ? (starts >> current) & 1u : 1u;
    }
}

struct PointSlot {
    std::int32_t point = 0;
    std::uint32_t lowest = kNone;  // kNone marks a free slot
    std::uint32_t next_lowest = kNone;
};

class JointIndex {
  public:
    JointIndex(const Edge* edges, const std::uint32_t* refs, std::uint32_t n)
        : mask_(std::bit_ceil(std::size_t{4} * n) - 1u), slots_(mask_ + 1u) {
        for (std::uint32_t k = 0; k < n; ++k) {
            add(edges[refs[k]].first, k);
            add(edges[refs[k]].second, k);
        }
    }

    // the lowest-listed edge other than current that meets point, or kNone
    std::uint32_t find(std::int32_t point, std::uint32_t current) const {
        const PointSlot& slot = slots_[locate(point)];
        if (slot.lowest == kNone) return kNone;
        return slot.lowest != current ? slot.lowest : slot.next_lowest;
    }

  private:
    std::size_t locate(std::int32_t point) const {
        // Fibonacci hashing; linear probing ends at the point's slot or a free one, as the table
        // is at most half full
        std::size_t i = (static_cast<std::uint32_t>(point) * 2654435769u) & mask_;
        while (slots_[i].lowest != kNone && slots_[i].point != point)
            i = (i + 1) & mask_;
        return i;
    }

    // edges come in ascending order, so the first two distinct ones to arrive are the lowest
    void add(std::int32_t point, std::uint32_t k) {
        PointSlot& slot = slots_[locate(point)];
        if (slot.lowest == kNone) {
            slot.point = point;
            slot.lowest = k;
        } else if (slot.lowest != k && slot.next_lowest == kNone) {
            slot.next_lowest = k;
        }
    }

    std::size_t mask_;
    std::vector<PointSlot> slots_;
};

template <class Put>
void large_ring(Put& put, const Edge* edges, const std::uint32_t* refs, std::uint32_t n,
                bool* closed) {
    const JointIndex index(edges, refs, n);
    const std::unique_ptr<bool[]> visited(new bool[n]());
    std::uint32_t lowest_unvisited = 0;
    std::uint32_t current = 0;
    bool forward = true;
    for (std::uint32_t written = 0;;) {
        const Edge& e = edges[refs[current]];
        visited[current] = true;
        put(forward ? e.first : e.second);
        if (++written == n) {
            const std::int32_t far = forward ? e.second : e.first;
            if (closed != nullptr) *closed = *closed && far == edges[refs[0]].first;
            return;
        }

        const std::int32_t joint = forward ? e.second : e.first;
        std::uint32_t k = index.find(joint, current);
        if (k != kNone) {
            if (closed != nullptr && visited[k]) *closed = false;
            // for each edge the first point is tested before the second
            forward = edges[refs[k]].first == joint;
        } else {
            // the ring is broken: resume at the lowest-listed edge not yet visited; fewer than
            // n edges have been visited, so there is one
            if (closed != nullptr) *closed = false;
            while (visited[lowest_unvisited])
                ++lowest_unvisited;
            k = lowest_unvisited;
            forward = true;
        }
        current = k;
    }
}

}  // namespace ring_walk

// Walks the face's ring, calling put(point) for each of its edge_count points in ring order.
// Returns false, calling put for none, when the face's edges do not lie within the model's
// tables. Unchecked, it takes them to lie within, as a caller that has made sure of it for every
// face at once may. closed, if given, is set to whether the ring runs along the face's edges
// each once, its last point joined back to the first: the walk never had to resume, and the
// last edge ends where the first began (a face of no edges has no ring).
template <bool Checked = true, class Put>
[[gnu::always_inline]] inline bool walk_ring(const Model& model, const Face& face, Put put,
                                             bool* closed = nullptr) {
    if (closed != nullptr) *closed = face.edge_count > 0;
    const auto n = static_cast<std::size_t>(face.edge_count);
    if (Checked && face_edges(model, face).size() != n) return false;
    const std::uint32_t* refs = model.edge_refs.data() + face.first_ref;
    const auto count = static_cast<std::uint32_t>(n);
    if (count == 0) return true;
    if (count <= 4) {
        return ring_walk::small_ring<4, Checked>(put, model.edges, refs, count, closed);
    }
    if (count <= ring_walk::kDirectSearchEdges) {
        return ring_walk::small_ring<ring_walk::kDirectSearchEdges, Checked>(put, model.edges, refs,
                                                                             count, closed);
    }
    // one compare an edge, and no branch on it
    bool in_table = true;
    for (std::size_t k = 0; Checked && k < n; ++k)
        in_table &= refs[k] < model.edges.size();
    if (in_table) ring_walk::large_ring(put, model.edges.data(), refs, count, closed);
    return in_table;
}

}  // namespace rokconv
