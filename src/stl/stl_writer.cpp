#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

#include "format/counts.hpp"
#include "mesh/triangles.hpp"
#include "rokconv/stl.hpp"
#include "util/compat.hpp"
#include "util/guarded.hpp"
#include "util/memory.hpp"
#include "util/parallel.hpp"

namespace rokconv {

namespace {

// Binary STL: an 80-byte header, which must not begin with "solid" (a reader would take the
// file for text), the U4 count of facets, then per facet its normal and three vertices as
// little-endian F4s and a U2 of attributes, 0. 50 bytes a facet.
constexpr char kHeader[] = "binary STL written by rokconv";
constexpr std::size_t kHeaderSize = 80;
constexpr std::size_t kFacetSize = 50;
constexpr std::size_t kBlockFacets = 4096;

unsigned char* store_u4(unsigned char* at, std::uint32_t value) {
    for (int i = 0; i < 4; ++i)
        *at++ = static_cast<unsigned char>(value >> (8 * i));
    return at;
}

unsigned char* store_f4(unsigned char* at, float value) {
    return store_u4(at, compat::bit_cast<std::uint32_t>(value));
}

// glTF's frame, Y up, turned to STL's, Z up: (x, y, z) becomes (x, -z, y)
Vec3 z_up(const Vec3& v) {
    return Vec3{v.x, -v.z, v.y};
}

// the unit normal of a triangle by the right hand, from its stored corners; zero for one
// without area
Vec3 facet_normal(const Vec3& a, const Vec3& b, const Vec3& c) {
    const double u[3] = {double{b.x} - a.x, double{b.y} - a.y, double{b.z} - a.z};
    const double v[3] = {double{c.x} - a.x, double{c.y} - a.y, double{c.z} - a.z};
    const double n[3] = {u[1] * v[2] - u[2] * v[1], u[2] * v[0] - u[0] * v[2],
                         u[0] * v[1] - u[1] * v[0]};
    const double length = std::sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]);
    if (!(length > 0.0)) return Vec3{};
    return Vec3{static_cast<float>(n[0] / length), static_cast<float>(n[1] / length),
                static_cast<float>(n[2] / length)};
}

// The scene's faces cut into triangles as glTF cuts them, and what is left out: what glTF
// leaves out, and every line it draws.
struct Facets {
    Pipeline pipeline;
    std::vector<ColourLists> shares;
};

SaveStatus cut(const Model& model, const SaveOptions& options, Facets& facets, LeftOut* left_out) {
    Scene& scene = facets.pipeline.scene;
    if (!cut_faces(model, threads_for(model.points.size(), options.threads), facets.pipeline,
                   facets.shares)) {
        return SaveStatus::invalid_model;
    }
    if (left_out == nullptr) return SaveStatus::ok;
    tally_omitted(scene.omitted, options.report, *left_out);
    // the lines glTF draws are those it does not leave out: the first is the first of the
    // model's lines that is neither outside nor not finite
    Omission lines{scene.lines.size(), 0};
    for (std::size_t i = 0; lines.count > 0 && i < model.lines.size(); ++i) {
        if (line_drawn(model, scene, i)) {
            lines.first = i;
            break;
        }
    }
    left_out->lines_not_held = tally(lines, options.report, &LoadReport::line_line);
    return SaveStatus::ok;
}

SaveStatus write(const Model& model, const Output& output, const SaveOptions& options,
                 LeftOut* left_out) {
    Facets facets;
    if (const SaveStatus s = cut(model, options, facets, left_out); s != SaveStatus::ok) return s;
    const Scene& scene = facets.pipeline.scene;
    // the triangles in glTF's order: each material's, then those without one, each share's in turn
    std::vector<const std::vector<std::uint32_t>*> lists;
    for (const Material& material : scene.materials) {
        for (const ColourLists& share : facets.shares)
            lists.push_back(&share[static_cast<std::size_t>(material.colour)]);
    }
    for (const ColourLists& share : facets.shares)
        lists.push_back(&share[kNoColour]);
    std::uint64_t count = 0;
    for (const std::vector<std::uint32_t>* list : lists)
        count += list->size() / 3;
    if (count > std::numeric_limits<std::uint32_t>::max()) return SaveStatus::too_large;

    const std::uint64_t total = kHeaderSize + 4 + kFacetSize * count;
    if (output.file.bytes != nullptr)
        reserve_large(*output.file.bytes, output.file.bytes->size() + total);
    std::vector<unsigned char> block(std::max(kHeaderSize + 4, kFacetSize * kBlockFacets));
    std::memcpy(block.data(), kHeader, sizeof kHeader - 1);
    std::memset(block.data() + sizeof kHeader - 1, 0, kHeaderSize - (sizeof kHeader - 1));
    store_u4(block.data() + kHeaderSize, static_cast<std::uint32_t>(count));
    put(output.file, {block.data(), kHeaderSize + 4});
    unsigned char* at = block.data();
    for (const std::vector<std::uint32_t>* list : lists) {
        for (std::size_t i = 0; i + 2 < list->size(); i += 3) {
            Vec3 v[3];
            for (int k = 0; k < 3; ++k)
                v[k] =
                    z_up(scene.positions[scene.corners[(*list)[i + static_cast<std::size_t>(k)]]]);
            const Vec3 n = facet_normal(v[0], v[1], v[2]);
            for (const Vec3& x : {n, v[0], v[1], v[2]}) {
                at = store_f4(at, x.x);
                at = store_f4(at, x.y);
                at = store_f4(at, x.z);
            }
            *at++ = 0;
            *at++ = 0;
            if (at == block.data() + block.size()) {
                put(output.file, block);
                at = block.data();
            }
        }
    }
    put(output.file, {block.data(), static_cast<std::size_t>(at - block.data())});
    return SaveStatus::ok;
}

}  // namespace

SaveStatus save_stl(const Model& model, const Output& output, const SaveOptions& options,
                    LeftOut* left_out) {
    return guarded(output, [&] { return write(model, output, options, left_out); });
}

SaveStatus count_stl(const Model& model, const SaveOptions& options, LeftOut& left_out) {
    return guarded(Output{}, [&] {
        Facets facets;
        return cut(model, options, facets, &left_out);
    });
}

}  // namespace rokconv
