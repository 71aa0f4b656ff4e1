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

// Bytes appended to a vector through a block of their own, so that each costs a copy into it
// rather than a check of the vector's room. They reach the vector at flush.
class Bytes {
  public:
    explicit Bytes(std::vector<unsigned char>& to) : out_(to) {}
    Bytes(const Bytes&) = delete;
    Bytes& operator=(const Bytes&) = delete;

    void put(const void* data, std::size_t size) {
        if (n_ + size > sizeof block_) flush();
        if (size > sizeof block_) {
            const auto* bytes = static_cast<const unsigned char*>(data);
            out_.insert(out_.end(), bytes, bytes + size);
            return;
        }
        std::memcpy(block_ + n_, data, size);
        n_ += size;
    }
    void zeros(std::size_t size) {
        for (std::size_t i = 0; i < size; ++i)
            put("", 1);
    }
    void flush() {
        out_.insert(out_.end(), block_, block_ + n_);
        n_ = 0;
    }

  private:
    std::vector<unsigned char>& out_;
    std::size_t n_ = 0;
    unsigned char block_[1 << 16];
};

// The JSON and the layout of the binary buffer, planned before any byte of it is written; the
// pieces are then written in order, each at a 4-byte boundary, the buffer holding
// little-endian floats and indices.
struct Piece {
    std::size_t offset = 0;
    std::size_t size = 0;
    std::function<void(Bytes&)> fill;  // puts size bytes
};

static_assert(std::endian::native == std::endian::little, "the buffer is little-endian");

struct Builder {
    std::vector<Piece> pieces;
    std::size_t size = 0;
    Json buffer_views = Json::array();
    Json accessors = Json::array();

    int view(std::size_t bytes, int target, std::function<void(Bytes&)> fill) {
        const std::size_t offset = (size + 3) & ~std::size_t{3};
        pieces.push_back(Piece{offset, bytes, std::move(fill)});
        size = offset + bytes;
        buffer_views.push_back(
            {{"buffer", 0}, {"byteOffset", offset}, {"byteLength", bytes}, {"target", target}});
        return static_cast<int>(buffer_views.size() - 1);
    }

    // count vectors of three floats that fill puts, with their bounds where given
    int vec3(std::size_t count, const Vec3* lo, const Vec3* hi, std::function<void(Bytes&)> fill) {
        Json accessor = {{"bufferView", view(count * 12, kArrayBuffer, std::move(fill))},
                         {"componentType", kFloat},
                         {"count", count},
                         {"type", "VEC3"}};
        if (lo != nullptr) {
            accessor["min"] = {lo->x, lo->y, lo->z};
            accessor["max"] = {hi->x, hi->y, hi->z};
        }
        accessors.push_back(accessor);
        return static_cast<int>(accessors.size() - 1);
    }

    // indices as uint16 where every one fits, else uint32; values must outlive the writing, and
    // are freed by it
    int indices(std::vector<std::uint32_t>& values) {
        const std::uint32_t top =
            values.empty() ? 0 : *std::max_element(values.begin(), values.end());
        const bool narrow = top <= kMaxShortIndex;
        const int view_index = view(values.size() * (narrow ? 2 : 4), kElementArrayBuffer,
                                    [&values, narrow](Bytes& out) {
                                        for (const std::uint32_t v : values) {
                                            if (narrow) {
                                                const auto n = static_cast<std::uint16_t>(v);
                                                out.put(&n, 2);
                                            } else {
                                                out.put(&v, 4);
                                            }
                                        }
                                        release(values);
                                    });
        accessors.push_back({{"bufferView", view_index},
                             {"componentType", narrow ? kUnsignedShort : kUnsignedInt},
                             {"count", values.size()},
                             {"type", "SCALAR"}});
        return static_cast<int>(accessors.size() - 1);
    }

    // the buffer's bytes, padded with zeros to a multiple of 4
    std::size_t padded() const { return (size + 3) & ~std::size_t{3}; }
    void write(Bytes& out) const {
        std::size_t at = 0;
        for (const Piece& piece : pieces) {
            out.zeros(piece.offset - at);
            piece.fill(out);
            at = piece.offset + piece.size;
        }
        out.zeros(padded() - at);
        out.flush();
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
// pieces are filled from, each freed once written.
struct Document {
    Json json;
    Builder buffer;
    Scene scene;
    Shading shading;
    std::vector<std::uint8_t> used;  // of each vertex: whether a triangle uses it
    std::size_t used_count = 0;
    // each colour's triangles (kPaletteEntries for none), as corners, slots, then vertices
    std::vector<std::vector<std::uint32_t>> triangles;
    std::vector<std::vector<std::uint32_t>> lines;
    std::vector<Vec3> line_positions;
};

// the colour whose triangles and lines a material's are, kPaletteEntries for none
std::size_t colour_of(const Scene& scene, std::int32_t material) {
    return material < 0 ? kPaletteEntries
                        : static_cast<std::size_t>(
                              scene.materials[static_cast<std::size_t>(material)].colour);
}

// Cuts each face into triangles as the scene takes it in, counting those without.
class Triangulator final : public FaceSink {
  public:
    explicit Triangulator(Document& d) : d_(d) {}
    void face(std::size_t polygon, std::uint32_t first, std::int32_t material,
              std::span<const Vec3> ring, const Vec3& normal) override {
        cut_.clear();
        // a face of 2 corners, or one without area, has no normal and gets no triangles
        if (!triangulate_ring(ring, normal, cut_)) {
            leave_out(d_.scene.omitted.faces_without_area, polygon);
            return;
        }
        std::vector<std::uint32_t>& out = d_.triangles[colour_of(d_.scene, material)];
        for (const std::uint32_t k : cut_)
            out.push_back(first + k);
    }

  private:
    Document& d_;
    std::vector<std::uint32_t> cut_;
};

// Faces are triangulated within their rings; their vertices carry the smoothed normals, and a
// point is split only where its normals differ. Lines use vertices of their own, without
// normals. One primitive for each material's triangles and one for its lines, in material
// order, those without a material last.
SaveStatus build(const Model& model, Document& d, Omitted* omitted) {
    Scene& scene = d.scene;
    // each colour's triangles given room for n - 2 of a face of n edges: no list is copied as it
    // grows
    constexpr std::size_t kNone = kPaletteEntries;
    d.triangles.resize(kNone + 1);
    {
        std::vector<std::size_t> room(kNone + 1, 0);
        for (const Polygon& face : model.polygons) {
            const std::size_t colour =
                has_look(model, face.colour) ? static_cast<std::size_t>(face.colour) : kNone;
            room[colour] += 3 * static_cast<std::size_t>(std::max(face.edge_count - 2, 0));
        }
        for (std::size_t c = 0; c <= kNone; ++c)
            reserve_large(d.triangles[c], room[c]);
    }
    Triangulator triangulator(d);
    if (!build_scene(model, scene, &triangulator)) return SaveStatus::invalid_model;
    if (omitted != nullptr) *omitted = scene.omitted;

    // the lines' points, each once, in order of first use
    constexpr std::uint32_t kUnused = std::numeric_limits<std::uint32_t>::max();
    d.lines.resize(kNone + 1);
    {
        std::vector<std::uint32_t> line_vertex(scene.positions.size(), kUnused);
        auto line_point = [&](std::uint32_t p) {
            if (line_vertex[p] == kUnused) {
                line_vertex[p] = static_cast<std::uint32_t>(d.line_positions.size());
                d.line_positions.push_back(scene.positions[p]);
            }
            return line_vertex[p];
        };
        for (const SceneLine& line : scene.lines) {
            auto& list = d.lines[colour_of(scene, line.material)];
            list.push_back(line_point(line.from));
            list.push_back(line_point(line.to));
        }
    }

    // the triangles' corners by slot, then by vertex, each table freed once done with
    CornerSlots slots;
    {
        const std::vector<std::uint32_t> slot_of = place_corners(scene, slots);
        for (auto& list : d.triangles) {
            for (std::uint32_t& c : list)
                c = slot_of[c];
        }
    }
    release(scene.corners);
    release(scene.face_start);
    d.shading = shade(scene, slots);
    release(scene.face_normal);
    release(scene.face_material);
    const Shading& shading = d.shading;
    const std::size_t vertex_count = shading.vertex_normal.size();
    reserve_large(d.used, vertex_count);
    d.used.assign(vertex_count, 0);
    for (auto& list : d.triangles) {
        for (std::uint32_t& s : list) {
            s = slots.slots[s].ref;
            d.used[s] = 1;
        }
    }
    release(slots.slots);
    release(slots.start);
    // the vertices the triangles use, renumbered in order where some are not
    for (const std::uint8_t u : d.used)
        d.used_count += u;
    if (d.used_count < vertex_count) {
        std::vector<std::uint32_t> renumber(vertex_count, kUnused);
        std::uint32_t next = 0;
        for (std::size_t v = 0; v < vertex_count; ++v) {
            if (d.used[v] != 0) renumber[v] = next++;
        }
        for (auto& list : d.triangles) {
            for (std::uint32_t& v : list)
                v = renumber[v];
        }
    }

    Builder& b = d.buffer;
    Json primitives = Json::array();
    auto add = [&](std::vector<std::vector<std::uint32_t>>& lists, const Json& attributes,
                   int mode) {
        auto primitive = [&](std::vector<std::uint32_t>& list, const Json* material) {
            if (list.empty()) return;
            Json p = {{"attributes", attributes}, {"indices", b.indices(list)}, {"mode", mode}};
            if (material != nullptr) p["material"] = *material;
            primitives.push_back(p);
        };
        for (std::size_t m = 0; m < scene.materials.size(); ++m) {
            const Json index = m;
            primitive(lists[static_cast<std::size_t>(scene.materials[m].colour)], &index);
        }
        primitive(lists[kNone], nullptr);
    };
    Document& doc = d;
    if (d.used_count != 0) {
        // the bounds of the positions as stored, in vertex order
        Vec3 lo;
        Vec3 hi;
        bool any = false;
        for (std::size_t p = 0; p + 1 < shading.vertex_start.size(); ++p) {
            for (std::uint32_t v = shading.vertex_start[p]; v < shading.vertex_start[p + 1]; ++v) {
                if (d.used[v] == 0) continue;
                const Vec3& x = scene.positions[p];
                if (!any) lo = hi = x;
                any = true;
                lo = Vec3{std::min(lo.x, x.x), std::min(lo.y, x.y), std::min(lo.z, x.z)};
                hi = Vec3{std::max(hi.x, x.x), std::max(hi.y, x.y), std::max(hi.z, x.z)};
            }
        }
        const int position = b.vec3(d.used_count, &lo, &hi, [&doc](Bytes& out) {
            const std::vector<std::uint32_t>& start = doc.shading.vertex_start;
            for (std::size_t p = 0; p + 1 < start.size(); ++p) {
                for (std::uint32_t v = start[p]; v < start[p + 1]; ++v)
                    if (doc.used[v] != 0) out.put(&doc.scene.positions[p], 12);
            }
            release(doc.scene.positions);
            release(doc.shading.vertex_start);
        });
        const int normal = b.vec3(d.used_count, nullptr, nullptr, [&doc](Bytes& out) {
            const std::vector<Vec3>& normals = doc.shading.vertex_normal;
            if (doc.used_count == normals.size()) {
                out.put(normals.data(), 12 * normals.size());
            } else {
                for (std::size_t v = 0; v < normals.size(); ++v)
                    if (doc.used[v] != 0) out.put(&normals[v], 12);
            }
            release(doc.shading.vertex_normal);
            release(doc.used);
        });
        add(d.triangles, {{"POSITION", position}, {"NORMAL", normal}}, kTriangles);
    }
    if (!d.line_positions.empty()) {
        Vec3 lo = d.line_positions[0];
        Vec3 hi = lo;
        for (const Vec3& x : d.line_positions) {
            lo = Vec3{std::min(lo.x, x.x), std::min(lo.y, x.y), std::min(lo.z, x.z)};
            hi = Vec3{std::max(hi.x, x.x), std::max(hi.y, x.y), std::max(hi.z, x.z)};
        }
        const int position = b.vec3(d.line_positions.size(), &lo, &hi, [&doc](Bytes& out) {
            out.put(doc.line_positions.data(), 12 * doc.line_positions.size());
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
    reserve_large(out, out.size() + total);
    out.insert(out.end(), {'g', 'l', 'T', 'F'});
    put_u32(out, 2);
    put_u32(out, static_cast<std::uint32_t>(total));
    put_u32(out, static_cast<std::uint32_t>(json.size()));
    out.insert(out.end(), {'J', 'S', 'O', 'N'});
    out.insert(out.end(), json.begin(), json.end());
    if (bin != 0) {
        put_u32(out, static_cast<std::uint32_t>(bin));
        out.insert(out.end(), {'B', 'I', 'N', '\0'});
        Bytes bytes(out);
        d.buffer.write(bytes);
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
    reserve_large(bin, bin.size() + d.buffer.padded());
    Bytes bytes(bin);
    d.buffer.write(bytes);
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
