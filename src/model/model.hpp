// The in-memory model: what the ROK reader fills and the LWOB writer reads.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace rokconv {

// one vertex position, in ROK model units
struct Point {
    double x = 0.0;
    double y = 0.0;
    double z = 0.0;
};

// point numbers are 1-based and stored as read; nothing checks them against the point table,
// because the writer only copies them into the output
struct Edge {
    std::int32_t first = 0;
    std::int32_t second = 0;
    std::int16_t line_flag = 0;  // low 16 bits of the record's fourth value; 0 lets LINE2 use it
};

// a face, or a two-point line (edge_count 1), as an unordered ring of edges; its edge references
// are edge_count 0-based Edge indices starting at Model::edge_refs[first_ref]
struct Polygon {
    std::size_t first_ref = 0;
    std::int32_t edge_count = 0;
    std::int32_t colour = 0;  // 0-based palette index
};

// two RGB triples; components are nominally 0-255 but stored as read
struct PaletteEntry {
    std::int32_t c[6] = {};
};

// the writer has one surface slot per colour 0-15, so palette entries past these are never read
inline constexpr std::int32_t kColourSlots = 16;

struct Model {
    std::vector<Point> points;
    std::vector<Edge> edges;
    std::vector<Polygon> polygons;
    std::vector<std::uint32_t> edge_refs;  // every polygon's edge references, back to back
    // the count as read, which may be negative (no usable entries) or larger than the stored
    // entries: only the first kColourSlots entries are kept
    std::int32_t palette_count = 0;
    std::vector<PaletteEntry> palette;
};

// a polygon's edge references; valid until the next polygon is appended
inline const std::uint32_t* polygon_edges(const Model& model, const Polygon& polygon) {
    return model.edge_refs.data() + polygon.first_ref;
}

// number of palette entries the writer may use: the count, clamped to what is stored
inline std::int32_t usable_palette(const Model& model) {
    std::int32_t stored = static_cast<std::int32_t>(model.palette.size());
    return model.palette_count < stored ? (model.palette_count < 0 ? 0 : model.palette_count)
                                        : stored;
}

}  // namespace rokconv
