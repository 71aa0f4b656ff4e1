// examine(): what a model holds that its outputs cannot show as it is.
#include <algorithm>
#include <new>
#include <stdexcept>
#include <utility>

#include "model/look.hpp"
#include "model/ring_walk.hpp"
#include "rokconv/report.hpp"

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

    for (std::size_t i = 0; i < model.polygons.size(); ++i) {
        const Polygon& face = model.polygons[i];
        const std::uint64_t line = line_of(face_lines, i);
        use(face.colour);
        if (!has_look(model, face.colour)) note(f.faces_no_surface, line);
        // The points the outputs draw the face with: its ring, or for a face of one edge, drawn
        // as a line, that edge's two points. Only a ring can be open.
        bool outside = false;
        bool closed = true;
        const std::span<const std::uint32_t> refs = polygon_edges(model, face);
        bool drawn =
            face.edge_count >= 0 && refs.size() == static_cast<std::size_t>(face.edge_count);
        if (drawn && refs.size() == 1) {
            drawn = refs[0] < model.edges.size();
            if (drawn) {
                const Edge& e = model.edges[refs[0]];
                outside = point_outside(model, e.first) || point_outside(model, e.second);
            }
        } else if (drawn) {
            drawn = walk_ring(
                model, face, [&](std::int32_t p) { outside = outside || point_outside(model, p); },
                &closed);
        }
        if (!drawn) {
            // edges outside the model's tables: nothing can be drawn of it
            closed = false;
            outside = true;
        }
        if (!closed) note(f.faces_open_ring, line);
        if (outside) note(f.faces_point_outside, line);
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
