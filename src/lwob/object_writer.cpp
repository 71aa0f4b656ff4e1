#include <bit>
#include <cstring>
#include <limits>
#include <memory>

#include "lwob/lwob.hpp"

namespace rokconv {

namespace {

constexpr std::uint32_t kNone = std::numeric_limits<std::uint32_t>::max();

// U2 and U4 at out, which has room for them, each as one store; they return the byte after
unsigned char* store_u2(unsigned char* out, std::uint32_t value) {
    auto bytes = static_cast<std::uint16_t>(value);
    if constexpr (std::endian::native == std::endian::little) {
        bytes = static_cast<std::uint16_t>((bytes >> 8) | (bytes << 8));
    }
    std::memcpy(out, &bytes, 2);
    return out + 2;
}

unsigned char* store_u4(unsigned char* out, std::uint32_t value) {
    if constexpr (std::endian::native == std::endian::little) {
        value =
            (value >> 24) | ((value >> 8) & 0xFF00u) | ((value << 8) & 0xFF0000u) | (value << 24);
    }
    std::memcpy(out, &value, 4);
    return out + 4;
}

// a vertex number: the 0-based point number, of which U2 keeps the low 16 bits
unsigned char* store_vertex(unsigned char* out, std::int32_t point) {
    return store_u2(out, static_cast<std::uint32_t>(point) - 1u);
}

// The ring walk looks, at each joint, for the lowest-listed edge other than the current one that
// has the joint as an end point. Small faces search their few edges directly. Larger ones index
// their edges by point number, keeping for each point the two lowest-listed edges that meet it:
// whichever of those is not the current edge is the one the search would find, so each step
// costs the same whatever the face's size.
constexpr std::uint32_t kDirectSearchEdges = 16;

struct PointSlot {
    std::int32_t point = 0;
    std::uint32_t lowest = kNone;  // kNone marks a free slot
    std::uint32_t next_lowest = kNone;
};

class JointIndex {
  public:
    JointIndex(const Edge* const* edges, std::uint32_t n)
        : mask_(std::bit_ceil(4u * n) - 1u), slots_(mask_ + 1u) {
        for (std::uint32_t k = 0; k < n; ++k) {
            add(edges[k]->first, k);
            add(edges[k]->second, k);
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

// Writes the n vertex numbers of the ring; find(joint, current) is the search.
template <class Find>
void walk_ring(unsigned char* out, const Edge* const* edges, std::uint32_t n, bool* visited,
               Find find) {
    std::uint32_t lowest_unvisited = 0;
    std::uint32_t current = 0;
    bool forward = true;
    for (std::uint32_t written = 0;;) {
        const Edge& e = *edges[current];
        visited[current] = true;
        out = store_vertex(out, forward ? e.first : e.second);
        if (++written == n) return;  // a search after the last vertex would find nothing needed

        const std::int32_t joint = forward ? e.second : e.first;
        std::uint32_t k = find(joint, current);
        if (k != kNone) {
            // for each edge the first point is tested before the second
            forward = edges[k]->first == joint;
        } else {
            // the ring is broken: resume at the lowest-listed edge not yet visited; fewer than
            // n edges have been visited, so there is one
            while (visited[lowest_unvisited])
                ++lowest_unvisited;
            k = lowest_unvisited;
            forward = true;
        }
        current = k;
    }
}

// The walk of a face of up to W edges: each search tests all W slots at once, as bits of a mask,
// so the walk takes no branch on which edge matches and its compares can run side by side. Slots
// past the face's n edges are masked out.
template <std::uint32_t W>
void store_small_ring(unsigned char* out, const Model& model, const std::uint32_t* refs,
                      std::uint32_t n) {
    std::int32_t first[W] = {};
    std::int32_t second[W] = {};
    std::int32_t ends[W][2] = {};  // an edge's points by index, so the walk takes no branch on them
    for (std::uint32_t k = 0; k < n; ++k) {
        const Edge& e = model.edges[refs[k]];
        first[k] = ends[k][0] = e.first;
        second[k] = ends[k][1] = e.second;
    }
    const std::uint32_t edges = (std::uint32_t{1} << n) - 1u;
    std::uint32_t unvisited = edges;
    std::uint32_t current = 0;
    std::uint32_t forward = 1;  // the walk leaves the edge by its second point
    for (std::uint32_t written = 0;;) {
        unvisited &= ~(std::uint32_t{1} << current);
        out = store_vertex(out, ends[current][1 - forward]);
        if (++written == n) return;

        const std::int32_t joint = ends[current][forward];
        std::uint32_t starts;
        std::uint32_t meets;
        detail::joint_masks<W>(first, second, joint, starts, meets);
        meets = (meets | starts) & edges & ~(std::uint32_t{1} << current);
        // the lowest-listed edge other than the current one, its first point tested first; or,
        // where the ring is broken, the lowest-listed edge not yet visited, taken forward
        const std::uint32_t next = meets != 0 ? meets : unvisited;
        current = static_cast<std::uint32_t>(std::countr_zero(next));
        forward = meets != 0 ? (starts >> current) & 1u : 1u;
    }
}

// the n vertex numbers of a polygon of n > 0 edges, written at out
void store_ring(unsigned char* out, const Model& model, const Polygon& polygon) {
    const auto n = static_cast<std::uint32_t>(polygon.edge_count);
    const std::uint32_t* refs = polygon_edges(model, polygon);
    if (n <= 4) {
        store_small_ring<4>(out, model, refs, n);
        return;
    }
    if (n <= kDirectSearchEdges) {
        store_small_ring<kDirectSearchEdges>(out, model, refs, n);
        return;
    }
    std::vector<const Edge*> edges(n);
    for (std::uint32_t k = 0; k < n; ++k)
        edges[k] = &model.edges[refs[k]];
    const JointIndex index(edges.data(), n);
    std::unique_ptr<bool[]> visited(new bool[n]());
    walk_ring(out, edges.data(), n, visited.get(), [&](std::int32_t joint, std::uint32_t current) {
        return index.find(joint, current);
    });
}

}  // namespace

void append_ring(std::vector<unsigned char>& out, const Model& model, const Polygon& polygon) {
    if (polygon.edge_count <= 0) return;
    const std::size_t at = out.size();
    out.resize(at + 2 * static_cast<std::size_t>(polygon.edge_count));
    store_ring(out.data() + at, model, polygon);
}

SurfaceTable number_surfaces(const Model& model) {
    SurfaceTable table;
    bool unslotted = false;
    for (const Polygon& polygon : model.polygons) {
        if (polygon.colour >= 0 && polygon.colour < kColourSlots) {
            table.colour_used[polygon.colour] = true;
        } else {
            unslotted = true;
        }
    }
    std::uint16_t counter = 0;
    for (int i = 0; i < kColourSlots; ++i) {
        if (table.colour_used[i]) table.surface_number[i] = ++counter;
    }
    if (unslotted) table.unslotted_surface = ++counter;
    return table;
}

int save_lwob(const Model& model, ByteSink& out) {
    // Every size is known from the model, so the FORM's buffer is made large enough at once
    // and never copied to grow: PNTS holds 12 bytes a point, POLS a count, the
    // vertex numbers (two for a line) and a surface number, each 2 bytes.
    std::size_t pols = 0;
    for (const Polygon& polygon : model.polygons) {
        pols += 4 + 2 * static_cast<std::size_t>(polygon.edge_count == 1 ? 2 : polygon.edge_count);
    }
    constexpr std::size_t kNames = kColourSlots * 8;                // at most "ROK15" and a zero
    constexpr std::size_t kSurfaces = kColourSlots * (8 + 8 + 60);  // tag, length, name, contents
    const std::size_t form_size = 4 + 3 * 8 + kNames + 12 * model.points.size() + pols + kSurfaces;

    Chunk form;
    chunk_open_top(form, "FORM", out);
    form.buffer.reserve(form_size + 8);  // room to put the FORM's tag and length in front
    (void)chunk_append(form, "LWOB", 4);
    const SurfaceTable surfaces = number_surfaces(model);
    // only colours with a palette entry get a name and a SURF chunk
    const int named = usable_palette(model);

    int status = 0;
    Chunk child;
    chunk_open_child(child, "SRFS", form);
    for (int i = 0; i < named; ++i) {
        if (surfaces.colour_used[i]) append_surface_name(child.buffer, i);
    }
    status |= chunk_close(child);

    // scaled by 8 with the second axis reversed; each product is formed in double and rounded
    // to the nearest float
    // PNTS and POLS are written in place in the FORM, as their lengths are known
    unsigned char* w = chunk_place_child(form, "PNTS", 12 * model.points.size());
    if (w == nullptr) return -1;
    for (const Point& p : model.points) {
        for (double v : {p.x * 8.0, p.y * -8.0, p.z * 8.0}) {
            w = store_u4(w, std::bit_cast<std::uint32_t>(static_cast<float>(v)));
        }
    }

    // each polygon: U2 vertex count, the U2 vertex numbers, U2 surface number
    w = chunk_place_child(form, "POLS", pols);
    if (w == nullptr) return -1;
    for (const Polygon& polygon : model.polygons) {
        if (polygon.edge_count == 1) {
            // a line: its one edge gives both vertices
            const Edge& e = model.edges[polygon_edges(model, polygon)[0]];
            w = store_vertex(store_vertex(store_u2(w, 2), e.first), e.second);
        } else {
            w = store_u2(w, static_cast<std::uint32_t>(polygon.edge_count));
            if (polygon.edge_count > 0) store_ring(w, model, polygon);
            w += 2 * static_cast<std::size_t>(polygon.edge_count);
        }
        const bool slotted = polygon.colour >= 0 && polygon.colour < kColourSlots;
        w = store_u2(
            w, slotted ? surfaces.surface_number[polygon.colour] : surfaces.unslotted_surface);
    }

    for (int i = 0; i < named; ++i) {
        if (surfaces.colour_used[i]) {
            status |= write_surface(form, child, i, model.palette[static_cast<std::size_t>(i)]);
        }
    }
    status |= chunk_close(form);
    return status == 0 ? 0 : -1;
}

}  // namespace rokconv
