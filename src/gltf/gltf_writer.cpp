#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <functional>
#include <limits>
#include <nlohmann/json.hpp>

#include "model/guarded.hpp"
#include "model/scene.hpp"
#include "rokconv/gltf.hpp"

namespace rokconv {

namespace {

using Json = nlohmann::ordered_json;

// glTF's numbers for what the buffer holds and how it is used
constexpr int kFloat = 5126;
constexpr int kUnsignedShort = 5123;
constexpr int kUnsignedInt = 5125;
constexpr int kArrayBuffer = 34962;
constexpr int kElementArrayBuffer = 34963;
constexpr int kLines = 1;
constexpr int kTriangles = 4;
// 65,535 is the primitive restart value, which an index may not take
constexpr std::uint32_t kMaxShortIndex = 65534;

// The JSON and the layout of the binary buffer, planned before any byte of it is written, so that
// the data goes straight to where the file holds it. The buffer holds little-endian floats and
// indices, each view at a 4-byte boundary.
struct Piece {
    std::size_t offset = 0;
    std::size_t size = 0;
    std::function<void(unsigned char*)> fill;
};

struct Builder {
    std::vector<Piece> pieces;
    std::size_t size = 0;
    Json buffer_views = Json::array();
    Json accessors = Json::array();

    int view(std::size_t bytes, int target, std::function<void(unsigned char*)> fill) {
        const std::size_t offset = (size + 3) & ~std::size_t{3};
        pieces.push_back(Piece{offset, bytes, std::move(fill)});
        size = offset + bytes;
        buffer_views.push_back(
            {{"buffer", 0}, {"byteOffset", offset}, {"byteLength", bytes}, {"target", target}});
        return static_cast<int>(buffer_views.size() - 1);
    }

    // count vectors of three floats, each given by get(i); positions carry their bounds, taken
    // from the floats as stored
    template <class Get>
    int vec3(std::size_t count, bool bounds, Get get) {
        static_assert(std::endian::native == std::endian::little, "the buffer is little-endian");
        Json accessor = {{"bufferView", view(count * 12, kArrayBuffer,
                                             [count, get](unsigned char* out) {
                                                 for (std::size_t i = 0; i < count; ++i) {
                                                     const Vec3 v = get(i);
                                                     std::memcpy(out + 12 * i, &v, 12);
                                                 }
                                             })},
                         {"componentType", kFloat},
                         {"count", count},
                         {"type", "VEC3"}};
        if (bounds) {
            Vec3 lo = get(0);
            Vec3 hi = lo;
            for (std::size_t i = 1; i < count; ++i) {
                const Vec3 v = get(i);
                lo = Vec3{std::min(lo.x, v.x), std::min(lo.y, v.y), std::min(lo.z, v.z)};
                hi = Vec3{std::max(hi.x, v.x), std::max(hi.y, v.y), std::max(hi.z, v.z)};
            }
            accessor["min"] = {lo.x, lo.y, lo.z};
            accessor["max"] = {hi.x, hi.y, hi.z};
        }
        accessors.push_back(accessor);
        return static_cast<int>(accessors.size() - 1);
    }

    // indices as uint16 where every one fits, else uint32; values must outlive the writing
    int indices(const std::vector<std::uint32_t>& values) {
        const std::uint32_t top =
            values.empty() ? 0 : *std::max_element(values.begin(), values.end());
        const bool narrow = top <= kMaxShortIndex;
        const int view_index = view(values.size() * (narrow ? 2 : 4), kElementArrayBuffer,
                                    [&values, narrow](unsigned char* out) {
                                        if (!narrow) {
                                            std::memcpy(out, values.data(), values.size() * 4);
                                            return;
                                        }
                                        for (std::size_t i = 0; i < values.size(); ++i) {
                                            const auto v = static_cast<std::uint16_t>(values[i]);
                                            std::memcpy(out + 2 * i, &v, 2);
                                        }
                                    });
        accessors.push_back({{"bufferView", view_index},
                             {"componentType", narrow ? kUnsignedShort : kUnsignedInt},
                             {"count", values.size()},
                             {"type", "SCALAR"}});
        return static_cast<int>(accessors.size() - 1);
    }

    // the buffer's bytes, padded with zeros to a multiple of 4, at out
    std::size_t padded() const { return (size + 3) & ~std::size_t{3}; }
    void write(unsigned char* out) const {
        std::memset(out, 0, padded());
        for (const Piece& piece : pieces)
            piece.fill(out + piece.offset);
    }
};

// A surface's material: the colour in linear light as the base colour, not metallic; roughness
// from the Phong exponent that glossiness 0 stands for (4, as in the MTL file), by
// sqrt(2 / (exponent + 2)); the specular level scaled so that LightWave's full 64 is glTF's
// default specular. Every surface is double-sided.
Json material(const Material& m) {
    const double specular = std::clamp(static_cast<double>(m.look.specular) / 64.0, 0.0, 1.0);
    return {{"name", m.name},
            {"pbrMetallicRoughness",
             {{"baseColorFactor",
               {linear(m.look.colour[0]), linear(m.look.colour[1]), linear(m.look.colour[2]), 1.0}},
              {"metallicFactor", 0.0},
              {"roughnessFactor", std::sqrt(2.0 / (4.0 + 2.0))}}},
            {"extensions", {{"KHR_materials_specular", {{"specularFactor", specular}}}}},
            {"doubleSided", true}};
}

// What a glTF file holds: its JSON and the plan of its buffer, with the lists the buffer's
// pieces are filled from.
struct Document {
    Json json;
    Builder buffer;
    Scene scene;
    Shading shading;
    std::vector<std::uint32_t> vertex_of_used;  // the vertices the triangles use, in order
    std::vector<std::vector<std::uint32_t>> triangles;
    std::vector<std::vector<std::uint32_t>> lines;
    std::vector<std::uint32_t> line_points;
};

// Faces are triangulated within their rings; their vertices carry the smoothed normals, and a
// point is split only where its normals differ. Lines use vertices of their own, without
// normals. One primitive for each material's triangles and one for its lines, in material
// order, those without a material last.
SaveStatus build(const Model& model, Document& d, Omitted* omitted) {
    Scene& scene = d.scene;
    if (!build_scene(model, scene)) return SaveStatus::invalid_model;
    d.shading = shade(scene);
    const Shading& shading = d.shading;

    const std::size_t groups = scene.materials.size() + 1;  // the last: no material
    auto group = [&](std::int32_t material) {
        return material < 0 ? groups - 1 : static_cast<std::size_t>(material);
    };
    d.triangles.resize(groups);
    std::vector<Vec3> ring;
    std::vector<std::uint32_t> cut;
    for (std::size_t f = 0; f < scene.faces.size(); ++f) {
        const SceneFace& face = scene.faces[f];
        ring.clear();
        for (std::uint32_t c = face.first; c < face.first + face.count; ++c)
            ring.push_back(scene.positions[scene.corners[c]]);
        cut.clear();
        // a face of 2 corners, or one without area, has no normal and gets no triangles
        if (!triangulate_ring(ring, shading.face_normal[f], cut)) {
            leave_out(scene.omitted.faces_without_area, face.polygon);
            continue;
        }
        std::vector<std::uint32_t>& out = d.triangles[group(face.material)];
        for (const std::uint32_t k : cut)
            out.push_back(shading.vertex_of[face.first + k]);
    }
    if (omitted != nullptr) *omitted = scene.omitted;

    // the vertices the triangles use, renumbered in order
    constexpr std::uint32_t kUnused = std::numeric_limits<std::uint32_t>::max();
    std::vector<std::uint32_t> renumber(shading.vertex_point.size(), kUnused);
    for (const auto& list : d.triangles) {
        for (const std::uint32_t v : list)
            renumber[v] = 0;
    }
    for (std::size_t v = 0; v < renumber.size(); ++v) {
        if (renumber[v] == kUnused) continue;
        renumber[v] = static_cast<std::uint32_t>(d.vertex_of_used.size());
        d.vertex_of_used.push_back(static_cast<std::uint32_t>(v));
    }
    for (auto& list : d.triangles) {
        for (std::uint32_t& v : list)
            v = renumber[v];
    }

    // the lines' points, each once, in order of first use
    d.lines.resize(groups);
    std::vector<std::uint32_t> line_vertex(scene.positions.size(), kUnused);
    auto line_point = [&](std::uint32_t p) {
        if (line_vertex[p] == kUnused) {
            line_vertex[p] = static_cast<std::uint32_t>(d.line_points.size());
            d.line_points.push_back(p);
        }
        return line_vertex[p];
    };
    for (const SceneLine& line : scene.lines) {
        auto& list = d.lines[group(line.material)];
        list.push_back(line_point(line.from));
        list.push_back(line_point(line.to));
    }

    Builder& b = d.buffer;
    Json primitives = Json::array();
    auto add = [&](const std::vector<std::vector<std::uint32_t>>& lists, const Json& attributes,
                   int mode) {
        for (std::size_t g = 0; g < groups; ++g) {
            if (lists[g].empty()) continue;
            Json primitive = {
                {"attributes", attributes}, {"indices", b.indices(lists[g])}, {"mode", mode}};
            if (g + 1 < groups) primitive["material"] = g;
            primitives.push_back(primitive);
        }
    };
    const Document& doc = d;
    if (!d.vertex_of_used.empty()) {
        const std::size_t count = d.vertex_of_used.size();
        const int position = b.vec3(count, true, [&doc](std::size_t i) {
            return doc.scene.positions[doc.shading.vertex_point[doc.vertex_of_used[i]]];
        });
        const int normal = b.vec3(count, false, [&doc](std::size_t i) {
            return doc.shading.vertex_normal[doc.vertex_of_used[i]];
        });
        add(d.triangles, {{"POSITION", position}, {"NORMAL", normal}}, kTriangles);
    }
    if (!d.line_points.empty()) {
        const int position = b.vec3(d.line_points.size(), true, [&doc](std::size_t i) {
            return doc.scene.positions[doc.line_points[i]];
        });
        add(d.lines, {{"POSITION", position}}, kLines);
    }

    Json& gltf = d.json;
    gltf = {{"asset", {{"version", "2.0"}, {"generator", "rokconv"}}}};
    if (!scene.materials.empty()) gltf["extensionsUsed"] = {"KHR_materials_specular"};
    gltf["scene"] = 0;
    if (primitives.empty()) {
        gltf["scenes"] = Json::array({Json::object()});
    } else {
        gltf["scenes"] = {{{"nodes", {0}}}};
        gltf["nodes"] = {{{"mesh", 0}}};
        gltf["meshes"] = {{{"primitives", primitives}}};
    }
    if (!scene.materials.empty()) {
        gltf["materials"] = Json::array();
        for (const Material& m : scene.materials)
            gltf["materials"].push_back(material(m));
    }
    if (!b.accessors.empty()) {
        gltf["accessors"] = b.accessors;
        gltf["bufferViews"] = b.buffer_views;
        gltf["buffers"] = {{{"byteLength", b.padded()}}};
    }
    return SaveStatus::ok;
}

void put_u32(std::vector<unsigned char>& out, std::uint32_t value) {
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<unsigned char>(value >> (8 * i)));
}

SaveStatus glb(const Model& model, std::vector<unsigned char>& out, Omitted* omitted) {
    Document d;
    if (const SaveStatus s = build(model, d, omitted); s != SaveStatus::ok) return s;
    std::string json = d.json.dump();
    json.resize((json.size() + 3) & ~std::size_t{3}, ' ');  // the JSON chunk is padded with spaces
    // the header, the JSON chunk, and the BIN chunk where there is a buffer
    const std::size_t bin = d.buffer.padded();
    const std::uint64_t total = 12 + 8 + json.size() + (bin == 0 ? 0 : 8 + bin);
    if (total > std::numeric_limits<std::uint32_t>::max()) return SaveStatus::too_large;
    out.reserve(out.size() + total);
    out.insert(out.end(), {'g', 'l', 'T', 'F'});
    put_u32(out, 2);
    put_u32(out, static_cast<std::uint32_t>(total));
    put_u32(out, static_cast<std::uint32_t>(json.size()));
    out.insert(out.end(), {'J', 'S', 'O', 'N'});
    out.insert(out.end(), json.begin(), json.end());
    if (bin != 0) {
        put_u32(out, static_cast<std::uint32_t>(bin));
        out.insert(out.end(), {'B', 'I', 'N', '\0'});
        out.resize(out.size() + bin);
        d.buffer.write(out.data() + out.size() - bin);
    }
    return SaveStatus::ok;
}

// a file name as a URI reference: bytes other than unreserved ones percent-encoded
std::string uri_of(std::string_view name) {
    std::string uri;
    for (const char c : name) {
        const auto b = static_cast<unsigned char>(c);
        const bool unreserved = (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') ||
                                (c >= 'a' && c <= 'z') || c == '-' || c == '.' || c == '_' ||
                                c == '~';
        if (unreserved) {
            uri += c;
        } else {
            constexpr char kHex[] = "0123456789ABCDEF";
            uri += {'%', kHex[b >> 4], kHex[b & 15]};
        }
    }
    return uri;
}

SaveStatus gltf_text(const Model& model, std::string_view bin_name,
                     std::vector<unsigned char>& text, std::vector<unsigned char>& bin,
                     Omitted* omitted) {
    Document d;
    if (const SaveStatus s = build(model, d, omitted); s != SaveStatus::ok) return s;
    if (d.json.contains("buffers")) d.json["buffers"][0]["uri"] = uri_of(bin_name);
    const std::string json = d.json.dump(1) + "\n";
    text.insert(text.end(), json.begin(), json.end());
    bin.resize(bin.size() + d.buffer.padded());
    d.buffer.write(bin.data() + bin.size() - d.buffer.padded());
    return SaveStatus::ok;
}

// the writer's own failure: a number JSON cannot hold (only finite ones reach it)
template <class Write>
SaveStatus json_guarded(Write write) {
    try {
        return write();
    } catch (const nlohmann::json::exception&) {
        return SaveStatus::invalid_model;
    }
}

}  // namespace

SaveStatus save_glb(const Model& model, std::vector<unsigned char>& out, Omitted* omitted) {
    return guarded({&out}, [&] { return json_guarded([&] { return glb(model, out, omitted); }); });
}

SaveStatus save_gltf(const Model& model, std::string_view bin_name,
                     std::vector<unsigned char>& gltf, std::vector<unsigned char>& bin,
                     Omitted* omitted) {
    return guarded({&gltf, &bin}, [&] {
        return json_guarded([&] { return gltf_text(model, bin_name, gltf, bin, omitted); });
    });
}

}  // namespace rokconv
