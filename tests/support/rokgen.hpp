// rokgen: makes ROK models for the tests, the fuzz corpus and the benchmarks. Everything is
// deterministic given the seed: the same arguments always give the same bytes.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace rokgen {

// the line end the whole file uses
enum class Eol { crlf, lf, lfcr, cr };

struct Style {
    Eol eol = Eol::lf;
    bool preamble = false;  // 128 bytes, the first of them 0, before the magic
};

std::optional<Eol> parse_eol(std::string_view name);

// a model in the ROK file's own terms: point and edge numbers are 1-based
struct Edge {
    std::int32_t first = 0;
    std::int32_t second = 0;
    std::int16_t line_flag = 1;  // 0 lets a LINE2 record turn the edge into a line
};

struct LineRecord {
    std::int32_t edge = 0;
    std::int32_t colour = 0;
};

struct Mesh {
    // x, y, z of each point in millionths of a unit, so that "%.6f" prints them exactly
    std::vector<std::int64_t> coords;
    std::vector<Edge> edges;
    std::vector<std::int32_t> face_colours;
    // face f lists face_edges[face_starts[f] .. face_starts[f + 1]), in file order
    std::vector<std::size_t> face_starts{0};
    std::vector<std::int32_t> face_edges;
    std::vector<LineRecord> lines;  // the LINE2 block
    std::vector<std::array<std::int32_t, 6>> palette;

    std::size_t points() const { return coords.size() / 3; }
    std::size_t faces() const { return face_colours.size(); }
};

// A grid of side * side points, side = ceil(sqrt(points)) and at least 2, with one quad per
// cell. Each quad lists its four edges in shuffled order; every edge has a random direction and
// is shared with the neighbouring quad, so a quad walks some of its edges backwards. Quads take
// their colours from patches of a 16-colour palette. The top row's edges and a few others have
// line flag 0 and most are named in the LINE2 block, which also names some flag-1 edges.
Mesh make_grid(std::size_t points, std::uint64_t seed);

// One face of n >= 3 edges around a circle of n points, its edges listed in shuffled order with
// random directions.
Mesh make_ring(std::size_t n, std::uint64_t seed);

// Face f's points in ring order, starting with the first point of its first listed edge and
// following that edge's direction. Meant for the generator's own faces, which are closed rings.
std::vector<std::int32_t> face_ring(const Mesh& mesh, std::size_t face);

// Where the records of one block lie in the text: what a cut at some byte leaves of them.
struct Section {
    std::vector<std::size_t> starts;  // first byte of each record
    std::vector<std::size_t> ends;    // end of each record's last line, before its line end
    std::vector<bool> adds_polygon;   // faces and LINE2 only: the complete record adds one
    std::size_t close = 0;            // first byte of the block's closing keyword line
};

struct Layout {
    std::size_t eol_bytes = 2;
    std::size_t magic = 0;  // where "ROKU4" starts
    std::size_t point_keyword = 0;
    Section points, edges, faces, lines;
    std::size_t palette_keyword = std::numeric_limits<std::size_t>::max();
    std::size_t palette_count_end = 0;  // end of the count line's text
    std::int32_t palette_count = 0;
    std::vector<std::size_t> line_ends;  // where each line's line end ends: the next line begins
};

// The text of a ROK file: header, points, edges, faces, then the palette, background, light,
// view and LINE2 blocks. Numbers are written as "%d" and "%.6f" would write them. When layout
// is given, it receives where the blocks and records lie.
void write_rok(std::string& out, const Mesh& mesh, const Style& style = {},
               Layout* layout = nullptr);

// The same model as Wavefront OBJ: "v x y z" lines, then one "f" line per face with its 1-based
// points in ring order (face_ring). Lines are left out.
void write_obj(std::string& out, const Mesh& mesh);

// The grid whose ROK text is closest in size to bytes.
std::size_t grid_points_for_size(std::size_t bytes, std::uint64_t seed, const Style& style);

// What reading a file should leave in the model: the counts of points, edges and polygons (faces
// and line polygons), and the palette count as read. Ranges cover what depends on bytes a cut
// has split. A face is expected only when an output polygon can hold it: a count from 0 to
// 65535 and every edge number within the edge table. A LINE2 record adds a line only when it
// names an edge of the table whose line flag is 0.
struct Range {
    std::int64_t lo = 0;
    std::int64_t hi = 0;
    bool holds(std::int64_t value) const { return lo <= value && value <= hi; }
};

struct Expect {
    bool rok = true;  // false: the magic is missing and nothing is read
    Range points, edges, polygons, palette_count;
};

inline Range exactly(std::int64_t value) {
    return Range{value, value};
}

// for a complete file of mesh
Expect expect(const Mesh& mesh);

// for the first cut bytes of a file laid out as layout says
Expect expect_truncated(const Layout& layout, std::size_t cut);

// Damaged files, each made from a small grid.
enum class Damage {
    truncated,       // cut at a given byte
    huge_face,       // a face announces 2147483647 edges, lists a few, and the file ends
    huge_palette,    // a palette announces 2147483647 entries, holds three, and the file ends
    negative_count,  // faces with edge counts -5 and -2147483648 among valid faces
    edge_range,      // edge numbers 0, negative and past the edge table in faces and LINE2
};

std::span<const Damage> damages();
const char* damage_name(Damage damage);
std::optional<Damage> parse_damage(std::string_view name);

struct Damaged {
    std::string text;
    Expect expect;
};

// cut is the number of bytes a truncated file keeps (the default keeps half); other kinds
// ignore it
Damaged make_damaged(Damage damage, std::uint64_t seed, const Style& style = {},
                     std::size_t cut = std::numeric_limits<std::size_t>::max());

}  // namespace rokgen
