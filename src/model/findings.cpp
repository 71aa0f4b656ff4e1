// examine(): what a model holds that its outputs cannot show as it is.
#include <algorithm>
#include <new>
#include <stdexcept>
#include <utility>

#include "model/look.hpp"
#include "rokconv/report.hpp"
#include "rokconv/ring.hpp"

namespace rokconv {

namespace {

void note(Tally& tally, std::uint64_t line) {
    if (tally.count++ == 0) tally.first_line = line;
}

// the line the report gives for entry i of a table, else 0
std::uint64_t line_of(const std::vector<std::uint64_t>* lines, std::size_t i) {
    return lines != nullptr && i < lines->size() ? (*lines)[i] : 0;
}

bool point_outside(const Model& model, std::int32_t point) {
    return static_cast<std::uint64_t>(std::int64_t{point} - 1) >= model.points.size();
}

// a side of a ring or an edge, whichever way it runs, as one value
std::uint64_t join(std::int32_t a, std::int32_t b) {
    if (a > b) std::swap(a, b);
    return std::uint64_t{static_cast<std::uint32_t>(a)} << 32 | static_cast<std::uint32_t>(b);
}

struct Scratch {
    std::vector<std::int32_t> points;
    std::vector<std::uint64_t> sides;
    std::vector<std::uint64_t> edges;
};

// The points the outputs draw a face with, into s.points: the ring walk's, or for a face of one
// edge its edge's two points. False when the face does not lie within the model's tables.
bool drawn_points(const Model& model, const Polygon& face, Scratch& s) {
    s.points.clear();
    const std::span<const std::uint32_t> refs = polygon_edges(model, face);
    if (face.edge_count < 0 || refs.size() != static_cast<std::size_t>(face.edge_count)) {
        return false;
    }
    if (refs.size() == 1) {
        if (refs[0] >= model.edges.size()) return false;
        s.points = {model.edges[refs[0]].first, model.edges[refs[0]].second};
        return true;
    }
    s.points.resize(refs.size());
    return face_ring(model, face, s.points);
}

// Whether the ring drawn for a face (its points in s.points, the last joined back to the first)
// runs along the face's own edges, each once. A face of one edge is drawn as a line, which
// needs no ring; one of no edges has none to close. A face of two edges closes only when both
// join the same two points.
bool open_ring(const Model& model, const Polygon& face, Scratch& s) {
    const std::span<const std::uint32_t> refs = polygon_edges(model, face);
    if (refs.size() == 1) return false;
    if (refs.empty()) return true;
    s.sides.clear();
    s.edges.clear();
    for (std::size_t i = 0; i + 1 < s.points.size(); ++i)
        s.sides.push_back(join(s.points[i], s.points[i + 1]));
    s.sides.push_back(join(s.points.back(), s.points.front()));
    for (const std::uint32_t ref : refs)
        s.edges.push_back(join(model.edges[ref].first, model.edges[ref].second));
    if (refs.size() <= 32) {
        // a small face: each side takes an edge not yet taken, without sorting
        std::uint32_t taken = 0;
        for (const std::uint64_t side : s.sides) {
            std::uint32_t k = 0;
            while (k < refs.size() && ((taken >> k & 1u) != 0 || s.edges[k] != side))
                ++k;
            if (k == refs.size()) return true;
            taken |= 1u << k;
        }
        return false;
    }
    std::sort(s.sides.begin(), s.sides.end());
    std::sort(s.edges.begin(), s.edges.end());
    return s.sides != s.edges;
}

void examine_into(Findings& f, const Model& model, const LoadReport* report) {
    const auto* face_lines = report != nullptr ? &report->face_line : nullptr;
    const auto* line_lines = report != nullptr ? &report->line_line : nullptr;
    // the colours 0-15 by a flag each, any other as met
    bool slot[kPaletteEntries] = {};
    auto use = [&](std::int32_t colour) {
        if (colour >= 0 && colour < kPaletteEntries) {
            slot[colour] = true;
        } else {
            f.colours.push_back(colour);
        }
    };

    Scratch s;
    for (std::size_t i = 0; i < model.polygons.size(); ++i) {
        const Polygon& face = model.polygons[i];
        const std::uint64_t line = line_of(face_lines, i);
        use(face.colour);
        if (!has_look(model, face.colour)) note(f.faces_no_surface, line);
        if (!drawn_points(model, face, s)) {
            // edges outside the model's tables: nothing can be drawn of it
            note(f.faces_open_ring, line);
            note(f.faces_point_outside, line);
            continue;
        }
        if (open_ring(model, face, s)) note(f.faces_open_ring, line);
        if (std::any_of(s.points.begin(), s.points.end(),
                        [&](std::int32_t p) { return point_outside(model, p); })) {
            note(f.faces_point_outside, line);
        }
    }
    for (std::size_t i = 0; i < model.lines.size(); ++i) {
        const Line& l = model.lines[i];
        const std::uint64_t line = line_of(line_lines, i);
        use(l.colour);
        if (!has_look(model, l.colour)) note(f.lines_no_surface, line);
        if (l.edge >= model.edges.size() || point_outside(model, model.edges[l.edge].first) ||
            point_outside(model, model.edges[l.edge].second)) {
            note(f.lines_point_outside, line);
        }
    }
    for (std::int32_t c = 0; c < kPaletteEntries; ++c) {
        if (slot[c]) f.colours.push_back(c);
    }
    std::sort(f.colours.begin(), f.colours.end());
    f.colours.erase(std::unique(f.colours.begin(), f.colours.end()), f.colours.end());
}

}  // namespace

Findings examine(const Model& model, const LoadReport* report) {
    Findings f;
    try {
        examine_into(f, model, report);
    } catch (const std::bad_alloc&) {
        f.complete = false;
    } catch (const std::length_error&) {
        f.complete = false;
    }
    return f;
}

}  // namespace rokconv
