// The in-memory model of a ROK file: what the reader fills and every writer reads.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace rokconv {

// one vertex position, in ROK model units
struct Point {
    double x = 0.0;
    double y = 0.0;
    double z = 0.0;
    friend bool operator==(const Point&, const Point&) = default;
};

// A straight connection between two points. Point numbers are 1-based and stored as read:
// nothing checks them against the point table.
struct Edge {
    std::int32_t first = 0;
    std::int32_t second = 0;
    std::int16_t line_flag = 0;  // low 16 bits of the record's fourth value; 0 lets LINE2 use it
    friend bool operator==(const Edge&, const Edge&) = default;
};

// A face: an unordered list of edges, edge_count 0-based edge indices starting at
// Model::edge_refs[first_ref]. face_ring (ring.hpp) orders them into a ring of points.
struct Face {
    std::size_t first_ref = 0;
    std::int32_t edge_count = 0;
    std::int32_t colour = 0;  // 0-based palette index
};

// a free-standing line from the LINE2 block: one edge, drawn from its first point to its second
struct Line {
    std::uint32_t edge = 0;  // 0-based edge index
    std::int32_t colour = 0;
    friend bool operator==(const Line&, const Line&) = default;
};

// two RGB triples; components are nominally 0-255 but stored as read
struct PaletteEntry {
    std::int32_t c[6] = {};
};

// ROK palettes hold 16 colours: entries past them are read past and not kept
inline constexpr std::int32_t kPaletteEntries = 16;

// the most edges a face may have; the reader leaves out faces with more (or a negative count)
inline constexpr std::int32_t kMaxFaceEdges = 65535;

struct Model {
    std::vector<Point> points;
    std::vector<Edge> edges;
    std::vector<Face> faces;               // the faces, in file order
    std::vector<std::uint32_t> edge_refs;  // every face's edge indices, back to back
    std::vector<Line> lines;               // in file order
    // the count as read, which may be negative (no usable entries) or larger than the stored
    // entries: only the first kPaletteEntries are kept
    std::int32_t palette_count = 0;
    std::vector<PaletteEntry> palette;
};

// A face's edge indices. Empty when they do not lie within Model::edge_refs (a model built by
// hand may be inconsistent; the reader's never is).
std::span<const std::uint32_t> face_edges(const Model& model, const Face& polygon);

// the palette entries the count makes usable: the count, clamped to what is stored
std::span<const PaletteEntry> usable_palette(const Model& model);

}  // namespace rokconv
