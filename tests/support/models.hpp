// Small models for the writers' tests, as a ROK file would give them.
#pragma once

#include <cstdint>
#include <vector>

#include "rokconv/model.hpp"
#include "rokconv/report.hpp"

namespace rokconv {

// The points and edges (of 1-based point numbers) given; each face lists 1-based edge numbers
// and has colour 0; one palette entry, pure red.
inline Model model_of(std::vector<Point> points, std::vector<Edge> edges,
                      const std::vector<std::vector<std::uint32_t>>& faces,
                      std::vector<Line> lines = {}) {
    Model m;
    m.points = std::move(points);
    m.edges = std::move(edges);
    for (const auto& face : faces) {
        m.faces.push_back(Face{m.edge_refs.size(), static_cast<std::int32_t>(face.size()), 0});
        for (const std::uint32_t e : face)
            m.edge_refs.push_back(e - 1);
    }
    m.lines = std::move(lines);
    m.palette_count = 1;
    m.palette.push_back(PaletteEntry{{255, 0, 0, 255, 0, 0}});
    return m;
}

// A report that places face i at line 100 + i and line i at line 200 + i, so that a writer's
// tally names its first by index.
inline LoadReport numbered_lines(const Model& m) {
    LoadReport r;
    for (std::size_t i = 0; i < m.faces.size(); ++i)
        r.face_line.push_back(100 + i);
    for (std::size_t i = 0; i < m.lines.size(); ++i)
        r.line_line.push_back(200 + i);
    return r;
}

}  // namespace rokconv
