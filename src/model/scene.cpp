#include "model/scene.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <map>

#include "rokconv/ring.hpp"

namespace rokconv {

namespace {

// how a face or line fares: kept, or why it is left out
enum class Fit { kept, outside, not_finite };

Fit fit(const Scene& scene, std::int32_t point) {
    if (point < 1 || static_cast<std::size_t>(point) > scene.positions.size()) return Fit::outside;
    const Vec3& p = scene.positions[static_cast<std::size_t>(point - 1)];
    return std::isfinite(p.x) && std::isfinite(p.y) && std::isfinite(p.z) ? Fit::kept
                                                                          : Fit::not_finite;
}

// the worse of two
Fit worse(Fit a, Fit b) {
    return a == Fit::kept ? b : a;
}

}  // namespace

double linear(std::uint8_t component) {
    const double c = component / 255.0;
    return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
}

bool build_scene(const Model& model, Scene& scene) {
    scene.positions.reserve(model.points.size());
    for (const Point& p : model.points) {
        // as LWOB has them, rounded once to float, then Z negated
        scene.positions.push_back(Vec3{static_cast<float>(p.x * 8.0),
                                       static_cast<float>(p.y * -8.0),
                                       -static_cast<float>(p.z * 8.0)});
    }
    // a material for each used colour with a look, in ascending order, as the LWOB surfaces are
    const std::span<const PaletteEntry> palette = usable_palette(model);
    std::vector<std::int32_t> material_of(palette.size(), -1);
    for (const Polygon& face : model.polygons) {
        if (has_look(model, face.colour)) material_of[static_cast<std::size_t>(face.colour)] = 0;
    }
    for (const Line& line : model.lines) {
        if (has_look(model, line.colour)) material_of[static_cast<std::size_t>(line.colour)] = 0;
    }
    for (std::size_t colour = 0; colour < palette.size(); ++colour) {
        if (material_of[colour] < 0) continue;
        material_of[colour] = static_cast<std::int32_t>(scene.materials.size());
        scene.materials.push_back(
            Material{"ROK" + std::to_string(colour), look_of(palette[colour])});
    }
    auto material = [&](std::int32_t colour) {
        return has_look(model, colour) ? material_of[static_cast<std::size_t>(colour)] : -1;
    };

    std::vector<std::int32_t> ring;
    for (std::size_t index = 0; index < model.polygons.size(); ++index) {
        const Polygon& face = model.polygons[index];
        const std::span<const std::uint32_t> refs = polygon_edges(model, face);
        if (face.edge_count < 0 || refs.size() != static_cast<std::size_t>(face.edge_count)) {
            return false;
        }
        if (face.edge_count == 0) {
            leave_out(scene.omitted.faces_without_area, index);
            continue;
        }
        if (face.edge_count == 1) {
            // drawn as LWOB draws it: from its edge's first point to its second
            if (refs[0] >= model.edges.size()) return false;
            ring.assign({model.edges[refs[0]].first, model.edges[refs[0]].second});
        } else {
            ring.resize(static_cast<std::size_t>(face.edge_count));
            if (!face_ring(model, face, ring)) return false;
        }
        Fit f = Fit::kept;
        for (const std::int32_t point : ring)
            f = worse(f, fit(scene, point));
        if (f != Fit::kept) {
            leave_out(
                f == Fit::outside ? scene.omitted.faces_outside : scene.omitted.faces_not_finite,
                index);
            continue;
        }
        const auto first = static_cast<std::uint32_t>(scene.corners.size());
        for (auto point = ring.rbegin(); point != ring.rend(); ++point)
            scene.corners.push_back(static_cast<std::uint32_t>(*point - 1));
        scene.faces.push_back(SceneFace{first, static_cast<std::uint32_t>(ring.size()),
                                        material(face.colour), static_cast<std::uint32_t>(index)});
    }
    for (std::size_t index = 0; index < model.lines.size(); ++index) {
        const Line& line = model.lines[index];
        if (line.edge >= model.edges.size()) return false;
        const Edge& e = model.edges[line.edge];
        const Fit f = worse(fit(scene, e.first), fit(scene, e.second));
        if (f != Fit::kept) {
            leave_out(
                f == Fit::outside ? scene.omitted.lines_outside : scene.omitted.lines_not_finite,
                index);
            continue;
        }
        scene.lines.push_back(SceneLine{static_cast<std::uint32_t>(e.first - 1),
                                        static_cast<std::uint32_t>(e.second - 1),
                                        material(line.colour)});
    }
    return true;
}

Shading shade(const Scene& scene) {
    Shading s;
    s.face_normal.resize(scene.faces.size());
    std::vector<ShadedFace> shaded;
    std::vector<Vec3> ring;
    for (std::size_t f = 0; f < scene.faces.size(); ++f) {
        const SceneFace& face = scene.faces[f];
        if (face.count < 3) continue;
        ring.clear();
        for (std::uint32_t k = 0; k < face.count; ++k)
            ring.push_back(scene.positions[scene.corners[face.first + k]]);
        s.face_normal[f] = face_normal(ring);
        shaded.push_back(ShadedFace{face.first, face.count, face.material, s.face_normal[f]});
    }
    // the corners of each point: for the smoothing, and so that a point's distinct normals are
    // found among its few corners
    const CornerIndex index = index_corners(scene.corners, scene.positions.size());
    std::vector<Vec3> normals =
        smooth_normals(shaded, scene.corners, scene.positions, kSmoothingAngle, index);

    const std::size_t points = scene.positions.size();
    s.vertex_of.resize(scene.corners.size());
    std::map<std::array<std::uint32_t, 3>, std::uint32_t> many;  // for a point of many corners
    for (std::size_t p = 0; p < points; ++p) {
        const auto first_vertex = static_cast<std::uint32_t>(s.vertex_point.size());
        const bool few = index.start[p + 1] - index.start[p] <= 16;
        many.clear();
        for (std::uint32_t i = index.start[p]; i < index.start[p + 1]; ++i) {
            const std::uint32_t c = index.corners[i];
            const Vec3& n = normals[c];
            const auto key = std::bit_cast<std::array<std::uint32_t, 3>>(n);
            std::uint32_t v = first_vertex;
            if (few) {
                while (v < s.vertex_point.size() &&
                       std::bit_cast<std::array<std::uint32_t, 3>>(s.vertex_normal[v]) != key)
                    ++v;
            } else {
                v = many.try_emplace(key, static_cast<std::uint32_t>(s.vertex_point.size()))
                        .first->second;
            }
            if (v == s.vertex_point.size()) {
                s.vertex_point.push_back(static_cast<std::uint32_t>(p));
                s.vertex_normal.push_back(n);
            }
            s.vertex_of[c] = v;
        }
    }
    return s;
}

}  // namespace rokconv
