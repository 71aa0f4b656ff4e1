#include "mesh/scene.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <map>

#include "rokconv/ring.hpp"
#include "util/compat.hpp"
#include "util/parallel.hpp"

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

// the positions of face f's corners
void gather(const Scene& scene, std::size_t f, std::vector<Vec3>& at) {
    at.clear();
    for (std::uint32_t c = scene.face_start[f]; c < scene.face_start[f + 1]; ++c)
        at.push_back(scene.positions[scene.corners[c]]);
}

// the normal of a face whose corners lie at the positions at, and its angle at each corner into
// angles: all 0 for a face without a normal
Vec3 shape(std::span<const Vec3> at, std::span<float> angles) {
    const Vec3 normal = at.size() >= 3 ? face_normal(at) : Vec3{};
    const std::size_t n = at.size();
    if (normal.x == 0.0f && normal.y == 0.0f && normal.z == 0.0f) {
        std::fill_n(angles.begin(), n, 0.0f);
    } else {
        corner_angles(at, normal, angles);
    }
    return normal;
}

// what a face may be left out as
constexpr Omission Omitted::*kFaceOmissions[] = {
    &Omitted::faces_without_area, &Omitted::faces_outside, &Omitted::faces_not_finite};

// the most corners the faces [begin, end) can make
std::size_t corner_room(const Model& model, std::size_t begin, std::size_t end) {
    std::size_t room = 0;
    for (std::size_t index = begin; index < end; ++index) {
        room +=
            static_cast<std::size_t>(std::clamp(model.faces[index].edge_count, 2, kMaxFaceEdges));
    }
    return room;
}

// The faces of a share of the faces, taken on a thread of its own: face_start holds each
// face's end, counted from the share's first corner; face_material the face's colour where it has
// a look, else -1, until every share is taken.
struct TakenShare {
    std::vector<std::uint32_t> corners;
    std::vector<std::uint32_t> face_start;
    std::vector<std::int32_t> face_material;
    std::vector<std::size_t> left_out;  // the faces not taken, ascending
    Omitted omitted;
    std::vector<std::uint32_t> point_corners;  // how many of its corners lie at each point
    std::vector<std::uint8_t> used;            // the colours with a look its faces have
};

// The faces of the faces [begin, end) into share, which holds room for them. A colour with a
// look is used by any polygon of that colour, taken or not. False when a face's edges lie
// outside the model's tables.
bool take_share(const Model& model, const Scene& scene, std::size_t begin, std::size_t end,
                TakenShare& share) {
    const auto looks = static_cast<std::int32_t>(share.used.size());
    std::vector<std::int32_t> ring;
    for (std::size_t index = begin; index < end; ++index) {
        const Face& face = model.faces[index];
        const bool has_look = face.colour >= 0 && face.colour < looks;
        if (has_look) share.used[static_cast<std::size_t>(face.colour)] = 1;
        const std::span<const std::uint32_t> refs = face_edges(model, face);
        if (face.edge_count < 0 || refs.size() != static_cast<std::size_t>(face.edge_count)) {
            return false;
        }
        if (face.edge_count == 0) {
            leave_out(share.omitted.faces_without_area, index);
            share.left_out.push_back(index);
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
                f == Fit::outside ? share.omitted.faces_outside : share.omitted.faces_not_finite,
                index);
            share.left_out.push_back(index);
            continue;
        }
        for (auto point = ring.rbegin(); point != ring.rend(); ++point) {
            const auto p = static_cast<std::uint32_t>(*point - 1);
            share.corners.push_back(p);
            ++share.point_corners[p];
        }
        share.face_start.push_back(static_cast<std::uint32_t>(share.corners.size()));
        share.face_material.push_back(has_look ? face.colour : -1);
    }
    return true;
}

}  // namespace

double linear(std::uint8_t component) {
    const double c = component / 255.0;
    return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
}

void place_points(const Model& model, Scene& scene) {
    reserve_large(scene.positions, model.points.size());
    for (const Point& p : model.points) {
        // as LWOB has them, rounded once to float, then Z negated
        scene.positions.push_back(Vec3{static_cast<float>(p.x * 8.0),
                                       static_cast<float>(p.y * -8.0),
                                       -static_cast<float>(p.z * 8.0)});
    }
}

bool take_faces(const Model& model, Scene& scene) {
    const std::span<const PaletteEntry> palette = usable_palette(model);
    // the shares of the faces, each taken on a thread of its own, then put one after another
    const auto threads =
        static_cast<unsigned>(std::clamp<std::size_t>(model.faces.size(), 1, scene.threads));
    std::vector<TakenShare> shares(threads);
    std::vector<std::uint8_t> ok(threads, 0);
    run_on(threads, [&](unsigned t) {
        const std::size_t begin = model.faces.size() * t / threads;
        const std::size_t end = model.faces.size() * (t + 1) / threads;
        TakenShare& share = shares[t];
        // room for every face and corner, so that no table is copied as it grows; the first
        // share's tables become the scene's, with room for all
        const bool first = t == 0;
        reserve_large(share.corners,
                      corner_room(model, first ? 0 : begin, first ? model.faces.size() : end));
        reserve_large(share.face_start, (first ? model.faces.size() + 1 : end - begin));
        reserve_large(share.face_material, first ? model.faces.size() : end - begin);
        reserve_large(share.point_corners, model.points.size());
        share.point_corners.assign(model.points.size(), 0);
        share.used.assign(palette.size(), 0);
        if (first) share.face_start.push_back(0);
        ok[t] = take_share(model, scene, begin, end, share);
    });
    if (std::find(ok.begin(), ok.end(), 0) != ok.end()) return false;

    // a material for each used colour with a look, in ascending order, as the LWOB surfaces are
    std::vector<std::int32_t> material_of(palette.size(), -1);
    for (const TakenShare& share : shares) {
        for (std::size_t colour = 0; colour < palette.size(); ++colour)
            if (share.used[colour] != 0) material_of[colour] = 0;
    }
    for (const Line& line : model.lines) {
        if (has_look(model, line.colour)) material_of[static_cast<std::size_t>(line.colour)] = 0;
    }
    for (std::size_t colour = 0; colour < palette.size(); ++colour) {
        if (material_of[colour] < 0) continue;
        material_of[colour] = static_cast<std::int32_t>(scene.materials.size());
        scene.materials.push_back(Material{"ROK" + std::to_string(colour),
                                           static_cast<std::int32_t>(colour),
                                           look_of(palette[colour])});
    }
    auto material = [&](std::int32_t colour) {
        return colour < 0 ? -1 : material_of[static_cast<std::size_t>(colour)];
    };
    // each share's colours made materials, and the corners at each point counted over all
    // shares, side by side
    run_on(threads, [&](unsigned t) {
        for (std::int32_t& m : shares[t].face_material)
            m = material(m);
        const std::size_t points = model.points.size();
        std::vector<std::uint32_t>& into = shares[0].point_corners;
        for (std::size_t p = points * t / threads; p < points * (t + 1) / threads; ++p) {
            for (unsigned other = 1; other < threads; ++other)
                into[p] += shares[other].point_corners[p];
        }
    });
    TakenShare& first = shares[0];
    scene.corners = std::move(first.corners);
    scene.face_start = std::move(first.face_start);
    scene.face_material = std::move(first.face_material);
    scene.left_out = std::move(first.left_out);
    scene.omitted = first.omitted;
    scene.point_corners = std::move(first.point_corners);
    for (TakenShare& share : std::span(shares).subspan(1)) {
        const auto base = static_cast<std::uint32_t>(scene.corners.size());
        scene.corners.insert(scene.corners.end(), share.corners.begin(), share.corners.end());
        for (const std::uint32_t end : share.face_start)
            scene.face_start.push_back(base + end);
        scene.face_material.insert(scene.face_material.end(), share.face_material.begin(),
                                   share.face_material.end());
        scene.left_out.insert(scene.left_out.end(), share.left_out.begin(), share.left_out.end());
        for (Omission Omitted::*kind : kFaceOmissions)
            add(scene.omitted.*kind, share.omitted.*kind);
        share = TakenShare{};
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
                                        has_look(model, line.colour) ? material(line.colour) : -1});
    }
    return true;
}

void shape_faces(Scene& scene, CornerSlots& slots, std::span<const std::uint32_t> slot_of,
                 std::span<FaceSink* const> sinks) {
    const std::size_t count = scene.face_count();
    reserve_large(scene.face_normal, count);
    scene.face_normal.resize(count);
    const std::size_t wanted = sinks.empty() ? scene.threads : sinks.size();
    const auto threads = static_cast<unsigned>(std::clamp<std::size_t>(count, 1, wanted));
    run_on(threads, [&](unsigned t) {
        const std::size_t begin = count * t / threads;
        const std::size_t end = count * (t + 1) / threads;
        FaceSink* const sink = sinks.empty() ? nullptr : sinks[t];
        if (sink != nullptr) sink->share(begin, end);
        std::vector<Vec3> at;
        std::vector<float> angles;
        for (std::size_t f = begin; f < end; ++f) {
            gather(scene, f, at);
            angles.resize(at.size());
            const Vec3 normal = shape(at, angles);
            scene.face_normal[f] = normal;
            const std::uint32_t first = scene.face_start[f];
            if (!slot_of.empty()) {
                for (std::size_t k = 0; k < angles.size(); ++k)
                    slots.slots[slot_of[first + k]].angle = angles[k];
            }
            if (sink != nullptr) sink->face(f, at, normal);
        }
    });
}

bool line_drawn(const Model& model, const Scene& scene, std::size_t i) {
    const Edge& e = model.edges[model.lines[i].edge];
    return worse(fit(scene, e.first), fit(scene, e.second)) == Fit::kept;
}

std::size_t face_of(const Scene& scene, std::size_t f) {
    // f counts the faces taken before it; each left out before it moves it on by one
    std::size_t polygon = f;
    for (const std::size_t skipped : scene.left_out) {
        if (skipped > polygon) break;
        ++polygon;
    }
    return polygon;
}

std::vector<std::uint32_t> place_corners(Scene& scene, CornerSlots& slots) {
    const std::size_t points = scene.point_corners.size();
    reserve_large(slots.start, points + 1);
    slots.start.resize(points + 1);
    slots.start[0] = 0;
    for (std::size_t p = 0; p < points; ++p)
        slots.start[p + 1] = slots.start[p] + scene.point_corners[p];
    release(scene.point_corners);
    // each slot taken in corner order, start[p] running to the end of p's, then moved back
    reserve_large(slots.slots, scene.corners.size());
    slots.slots.resize(scene.corners.size());
    std::vector<std::uint32_t> slot_of;  // filled in corner order, so never cleared first
    reserve_large(slot_of, scene.corners.size());
    for (std::uint32_t f = 0; f + 1 < scene.face_start.size(); ++f) {
        for (std::uint32_t c = scene.face_start[f]; c < scene.face_start[f + 1]; ++c) {
            const std::uint32_t s = slots.start[scene.corners[c]]++;
            slots.slots[s].ref = f;
            slot_of.push_back(s);
        }
    }
    for (std::size_t p = points; p > 0; --p)
        slots.start[p] = slots.start[p - 1];
    slots.start[0] = 0;
    return slot_of;
}

namespace {

// The vertices of a run of points, made apart from the others: numbered from 0 in the run until
// they are put after those of the points before it.
struct PointRun {
    std::size_t begin = 0;  // the points
    std::size_t end = 0;
    std::vector<Vec3> vertex_normal;
    Smoother smoother{kSmoothingAngle};
    std::vector<SmoothCorner> at;
    std::vector<Vec3> normals;  // of the corners at a point, in slot order
    std::map<std::array<std::uint32_t, 3>, std::uint32_t> many;  // for a point of many corners
};

// points in a run: enough for a thread to work a while between handing runs on
constexpr std::size_t kRunPoints = 4096;

void shade_run(const Scene& scene, CornerSlots& slots, Shading& s, PointRun& run) {
    run.vertex_normal.clear();
    std::vector<Vec3>& vertex_normal = run.vertex_normal;
    for (std::size_t p = run.begin; p < run.end; ++p) {
        const std::uint32_t begin = slots.start[p];
        const std::uint32_t count = slots.start[p + 1] - begin;
        run.at.clear();
        run.normals.assign(count, Vec3{});
        for (std::uint32_t i = 0; i < count; ++i) {
            const CornerSlots::Slot& slot = slots.slots[begin + i];
            const Vec3& n = scene.face_normal[slot.ref];
            if (n.x == 0.0f && n.y == 0.0f && n.z == 0.0f) continue;
            run.at.push_back({i, scene.face_material[slot.ref], slot.angle, n});
        }
        run.smoother.point(run.at, run.normals);

        const auto first_vertex = static_cast<std::uint32_t>(vertex_normal.size());
        s.vertex_start[p] = first_vertex;
        const bool few = count <= 16;
        run.many.clear();
        for (std::uint32_t i = 0; i < count; ++i) {
            const Vec3& n = run.normals[i];
            const auto key = compat::bit_cast<std::array<std::uint32_t, 3>>(n);
            std::uint32_t v = first_vertex;
            if (few) {
                while (v < vertex_normal.size() &&
                       compat::bit_cast<std::array<std::uint32_t, 3>>(vertex_normal[v]) != key)
                    ++v;
            } else {
                v = run.many.try_emplace(key, static_cast<std::uint32_t>(vertex_normal.size()))
                        .first->second;
            }
            if (v == vertex_normal.size()) vertex_normal.push_back(n);
            slots.slots[begin + i].ref = v;
        }
    }
}

}  // namespace

Shading shade(const Scene& scene, CornerSlots& slots) {
    Shading s;
    const std::size_t points = slots.start.size() - 1;
    reserve_large(s.vertex_start, points + 1);
    s.vertex_start.resize(points + 1);
    reserve_large(s.vertex_normal, slots.slots.size());
    // runs of points smoothed side by side, then numbered on in order
    in_order<PointRun>((points + kRunPoints - 1) / kRunPoints, scene.threads,
                       [&](std::size_t k, PointRun& run) {
                           run.begin = k * kRunPoints;
                           run.end = std::min(points, run.begin + kRunPoints);
                           shade_run(scene, slots, s, run);
                       },
                       [&](const PointRun& run) {
                           const auto base = static_cast<std::uint32_t>(s.vertex_normal.size());
                           s.vertex_normal.insert(s.vertex_normal.end(), run.vertex_normal.begin(),
                                                  run.vertex_normal.end());
                           if (base == 0) return;
                           for (std::size_t p = run.begin; p < run.end; ++p)
                               s.vertex_start[p] += base;
                           for (std::uint32_t i = slots.start[run.begin]; i < slots.start[run.end];
                                ++i)
                               slots.slots[i].ref += base;
                       });
    s.vertex_start[points] = static_cast<std::uint32_t>(s.vertex_normal.size());
    return s;
}

bool build_scene(const Model& model, unsigned threads, const PipelineHooks& hooks,
                 Pipeline& pipeline) {
    Scene& scene = pipeline.scene;
    scene.threads = threads;
    place_points(model, scene);
    if (!take_faces(model, scene)) return false;
    if (hooks.smooth) {
        const std::function<void()> place = [&] {
            pipeline.slot_of = place_corners(scene, pipeline.slots);
        };
        if (hooks.while_placing) {
            hooks.while_placing(place);
        } else {
            place();
        }
    }
    shape_faces(scene, pipeline.slots, pipeline.slot_of, hooks.sinks);
    return true;
}

void tally_omitted(const Omitted& o, const LoadReport* report, LeftOut& left_out) {
    constexpr auto faces = &LoadReport::face_line;
    constexpr auto lines = &LoadReport::line_line;
    left_out.faces_point_outside = tally(o.faces_outside, report, faces);
    left_out.lines_point_outside = tally(o.lines_outside, report, lines);
    left_out.faces_not_finite = tally(o.faces_not_finite, report, faces);
    left_out.lines_not_finite = tally(o.lines_not_finite, report, lines);
    left_out.faces_without_area = tally(o.faces_without_area, report, faces);
}

}  // namespace rokconv
