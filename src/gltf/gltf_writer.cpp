#include <algorithm>
#include <array>
#include <atomic>
#include <bit>
#include <cmath>
#include <cstring>
#include <functional>
#include <limits>
#include <memory>
#include <nlohmann/json.hpp>

#include "format/counts.hpp"
#include "mesh/triangles.hpp"
#include "rokconv/gltf.hpp"
#include "util/compat.hpp"
#include "util/guarded.hpp"
#include "util/output_piece.hpp"
#include "util/parallel.hpp"

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

static_assert(std::endian::native == std::endian::little, "the buffer is little-endian");

// A buffer view's bytes, made in blocks of a few hundred KB that can be made side by side:
// block k ends ends[k] bytes into the view. done() frees what the view is made from, once the
// last block is written.
struct Piece {
    std::size_t offset = 0;
    std::vector<std::size_t> ends;
    std::function<void(std::size_t k, unsigned char* out)> fill;
    std::function<void()> done;

    std::size_t size() const { return ends.empty() ? 0 : ends.back(); }
};

// how many vertices, points or indices make a block
constexpr std::size_t kBlockVertices = 16384;
constexpr std::size_t kBlockIndices = 65536;

// The JSON and the layout of the binary buffer, planned before any byte of it is written; the
// pieces are then written in order, each at a 4-byte boundary, the buffer holding
// little-endian floats and indices.
struct Builder {
    std::vector<Piece> pieces;
    std::size_t size = 0;
    Json buffer_views = Json::array();
    Json accessors = Json::array();

    int view(Piece piece, int target) {
        piece.offset = (size + 3) & ~std::size_t{3};
        const std::size_t bytes = piece.size();
        buffer_views.push_back({{"buffer", 0},
                                {"byteOffset", piece.offset},
                                {"byteLength", bytes},
                                {"target", target}});
        size = piece.offset + bytes;
        pieces.push_back(std::move(piece));
        return static_cast<int>(buffer_views.size() - 1);
    }

    // count vectors of three floats that piece holds, with their bounds where given
    int vec3(std::size_t count, const Vec3* lo, const Vec3* hi, Piece piece) {
        Json accessor = {{"bufferView", view(std::move(piece), kArrayBuffer)},
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

    // The indices of lists, one after another, as uint16 where every one (at most top) fits,
    // else uint32. The lists must outlive the writing, and are freed by it.
    int indices(std::span<std::vector<std::uint32_t>* const> lists, std::uint32_t top) {
        const bool narrow = top <= kMaxShortIndex;
        const std::size_t width = narrow ? 2 : 4;
        struct Stretch {
            std::vector<std::uint32_t>* list;
            std::size_t begin;
            std::size_t end;
        };
        std::vector<Stretch> stretches;
        Piece piece;
        std::size_t count = 0;
        for (std::vector<std::uint32_t>* list : lists) {
            for (std::size_t i = 0; i < list->size(); i += kBlockIndices) {
                stretches.push_back({list, i, std::min(list->size(), i + kBlockIndices)});
                count += stretches.back().end - i;
                piece.ends.push_back(count * width);
            }
        }
        piece.fill = [stretches, narrow](std::size_t k, unsigned char* out) {
            const Stretch& run = stretches[k];
            const std::uint32_t* v = run.list->data();
            if (!narrow) {
                std::memcpy(out, v + run.begin, 4 * (run.end - run.begin));
                return;
            }
            for (std::size_t i = run.begin; i < run.end; ++i, out += 2) {
                const auto n = static_cast<std::uint16_t>(v[i]);
                std::memcpy(out, &n, 2);
            }
        };
        std::vector<std::vector<std::uint32_t>*> freed(lists.begin(), lists.end());
        piece.done = [freed] {
            for (std::vector<std::uint32_t>* list : freed)
                release(*list);
        };
        const int view_index = view(std::move(piece), kElementArrayBuffer);
        accessors.push_back({{"bufferView", view_index},
                             {"componentType", narrow ? kUnsignedShort : kUnsignedInt},
                             {"count", count},
                             {"type", "SCALAR"}});
        return static_cast<int>(accessors.size() - 1);
    }

    // the buffer's bytes, padded with zeros to a multiple of 4
    std::size_t padded() const { return (size + 3) & ~std::size_t{3}; }

    // The buffer to out, its blocks made side by side by threads and handed on in order.
    void write(const OutputFile& out, unsigned threads) const {
        struct Job {
            std::size_t piece;
            std::size_t block;
            std::size_t zeros;  // before it
        };
        std::vector<Job> jobs;
        std::size_t at = 0;
        for (std::size_t i = 0; i < pieces.size(); ++i) {
            for (std::size_t k = 0; k < pieces[i].ends.size(); ++k)
                jobs.push_back({i, k, k == 0 ? pieces[i].offset - at : 0});
            at = pieces[i].offset + pieces[i].size();
        }
        // a block as it is handed on: the zeros before its piece, if it is the piece's first,
        // and its bytes
        std::size_t taken = 0;  // blocks are taken in order
        in_order<OutputPiece>(
            jobs.size(), threads,
            [&](std::size_t j, OutputPiece& block) {
                const Job& job = jobs[j];
                const Piece& piece = pieces[job.piece];
                const std::size_t begin = job.block == 0 ? 0 : piece.ends[job.block - 1];
                const std::size_t size = job.zeros + piece.ends[job.block] - begin;
                char* const at = block.begin(size);
                std::memset(at, 0, job.zeros);
                piece.fill(job.block, reinterpret_cast<unsigned char*>(at) + job.zeros);
                block.end(at + size);
            },
            [&](const OutputPiece& block) {
                if (block.size != 0) put(out, block.bytes());
                const Job& job = jobs[taken++];
                const Piece& piece = pieces[job.piece];
                if (job.block + 1 == piece.ends.size() && piece.done) piece.done();
            });
        static constexpr unsigned char kZeros[4] = {};
        if (padded() > at) put(out, {kZeros, padded() - at});
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
    unsigned threads = 1;
    Pipeline pipeline;
    Shading shading;
    std::vector<std::uint8_t> used;  // of each vertex: whether a triangle uses it
    std::size_t used_count = 0;
    // each colour's triangles (kNoColour for none), as corners, slots, then vertices: those of each
    // share of the faces, in order
    std::vector<ColourLists> triangles;
    std::vector<std::vector<std::uint32_t>> lines;
    std::vector<Vec3> line_positions;
};

// the bounds of positions as stored, and how many there are
struct Bounds {
    Vec3 lo;
    Vec3 hi;
    std::size_t count = 0;

    void add(const Vec3& x) {
        if (count++ == 0) lo = hi = x;
        lo = Vec3{std::min(lo.x, x.x), std::min(lo.y, x.y), std::min(lo.z, x.z)};
        hi = Vec3{std::max(hi.x, x.x), std::max(hi.y, x.y), std::max(hi.z, x.z)};
    }
    // those of positions after these
    void add(const Bounds& later) {
        if (later.count == 0) return;
        if (count == 0) {
            *this = later;
            return;
        }
        lo = Vec3{std::min(lo.x, later.lo.x), std::min(lo.y, later.lo.y),
                  std::min(lo.z, later.lo.z)};
        hi = Vec3{std::max(hi.x, later.hi.x), std::max(hi.y, later.hi.y),
                  std::max(hi.z, later.hi.z)};
        count += later.count;
    }
};

// Faces are triangulated within their rings; their vertices carry the smoothed normals, and a
// point is split only where its normals differ. Lines use vertices of their own, without
// normals. One primitive for each material's triangles and one for its lines, in material
// order, those without a material last. The faces, corners and vertices of a large model are
// shared among the cores.
SaveStatus build(const Model& model, const SaveOptions& options, Document& d, LeftOut* left_out) {
    Pipeline& pipe = d.pipeline;
    Scene& scene = pipe.scene;
    const unsigned threads = threads_for(model.points.size(), options.threads);
    d.threads = threads;
    {
        const FaceCutting cutting(scene, d.triangles, threads);
        PipelineHooks hooks;
        hooks.sinks = cutting.sinks();
        if (!build_scene(model, threads, hooks, pipe)) return SaveStatus::invalid_model;
        cutting.finish(scene);
    }
    if (left_out != nullptr) tally_omitted(scene.omitted, options.report, *left_out);
    CornerSlots& slots = pipe.slots;
    std::vector<std::uint32_t>& slot_of = pipe.slot_of;

    // the lines' points, each once, in order of first use
    constexpr std::uint32_t kUnused = std::numeric_limits<std::uint32_t>::max();
    d.lines.resize(kNoColour + 1);
    {
        std::vector<std::uint32_t> line_vertex(scene.lines.empty() ? 0 : scene.positions.size(),
                                               kUnused);
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
    release(scene.corners);
    release(scene.face_start);
    run_on(threads, [&](unsigned t) {
        for (auto& list : d.triangles[t]) {
            for (std::uint32_t& c : list)
                c = slot_of[c];
        }
    });
    release(slot_of);
    d.shading = shade(scene, slots);
    release(scene.face_normal);
    release(scene.face_material);
    const Shading& shading = d.shading;
    const std::size_t vertex_count = shading.vertex_normal.size();
    reserve_large(d.used, vertex_count);
    d.used.assign(vertex_count, 0);
    // the largest index of each colour's triangles in each share
    std::vector<std::array<std::uint32_t, kNoColour + 1>> top(threads);
    run_on(threads, [&](unsigned t) {
        for (std::size_t c = 0; c <= kNoColour; ++c) {
            std::uint32_t most = 0;
            for (std::uint32_t& s : d.triangles[t][c]) {
                s = slots.slots[s].ref;
                compat::store_relaxed(d.used[s], std::uint8_t{1});
                most = std::max(most, s);
            }
            top[t][c] = most;
        }
    });
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
        run_on(threads, [&](unsigned t) {
            for (std::size_t c = 0; c <= kNoColour; ++c) {
                for (std::uint32_t& v : d.triangles[t][c])
                    v = renumber[v];
                if (!d.triangles[t][c].empty()) top[t][c] = renumber[top[t][c]];
            }
        });
    }

    Builder& b = d.buffer;
    Json primitives = Json::array();
    auto primitive = [&](std::span<std::vector<std::uint32_t>* const> lists, std::uint32_t most,
                         const Json& attributes, int mode, const Json* material) {
        if (std::all_of(lists.begin(), lists.end(), [](auto* l) { return l->empty(); })) return;
        Json p = {{"attributes", attributes}, {"indices", b.indices(lists, most)}, {"mode", mode}};
        if (material != nullptr) p["material"] = *material;
        primitives.push_back(p);
    };
    Document& doc = d;
    if (d.used_count != 0) {
        // the positions in blocks of points, the normals in blocks of vertices, each block's
        // size and the bounds found side by side
        const std::vector<std::uint32_t>& start = shading.vertex_start;
        const std::size_t points = start.size() - 1;
        std::vector<Bounds> point_blocks((points + kBlockVertices - 1) / kBlockVertices);
        std::vector<std::size_t> vertex_blocks((vertex_count + kBlockVertices - 1) /
                                               kBlockVertices);
        const bool all_used = d.used_count == vertex_count;
        for_ranges(point_blocks.size(), threads, [&](std::size_t begin, std::size_t end) {
            for (std::size_t k = begin; k < end; ++k) {
                for (std::size_t p = k * kBlockVertices;
                     p < std::min(points, (k + 1) * kBlockVertices); ++p) {
                    // a point's vertices share its position: its bounds are found once
                    std::size_t n = 0;
                    for (std::uint32_t v = start[p]; v < start[p + 1]; ++v)
                        n += d.used[v];
                    if (n == 0) continue;
                    Bounds& block = point_blocks[k];
                    block.add(scene.positions[p]);
                    block.count += n - 1;
                }
            }
        });
        for_ranges(vertex_blocks.size(), threads, [&](std::size_t begin, std::size_t end) {
            for (std::size_t k = begin; k < end; ++k) {
                const std::size_t first = k * kBlockVertices;
                const std::size_t last = std::min(vertex_count, first + kBlockVertices);
                if (all_used) {
                    vertex_blocks[k] = last - first;
                    continue;
                }
                for (std::size_t v = first; v < last; ++v)
                    vertex_blocks[k] += d.used[v];
            }
        });
        Bounds bounds;
        Piece positions;
        for (const Bounds& block : point_blocks) {
            bounds.add(block);
            positions.ends.push_back(12 * bounds.count);
        }
        positions.fill = [&doc, points](std::size_t k, unsigned char* out) {
            const std::vector<std::uint32_t>& start = doc.shading.vertex_start;
            const std::size_t last = std::min(points, (k + 1) * kBlockVertices);
            for (std::size_t p = k * kBlockVertices; p < last; ++p) {
                for (std::uint32_t v = start[p]; v < start[p + 1]; ++v) {
                    if (doc.used[v] == 0) continue;
                    std::memcpy(out, &doc.pipeline.scene.positions[p], 12);
                    out += 12;
                }
            }
        };
        positions.done = [&doc] {
            release(doc.pipeline.scene.positions);
            release(doc.shading.vertex_start);
        };
        Piece normals;
        std::size_t normal_count = 0;
        for (const std::size_t n : vertex_blocks) {
            normal_count += n;
            normals.ends.push_back(12 * normal_count);
        }
        normals.fill = [&doc, all_used](std::size_t k, unsigned char* out) {
            const std::vector<Vec3>& from = doc.shading.vertex_normal;
            const std::size_t first = k * kBlockVertices;
            const std::size_t last = std::min(from.size(), first + kBlockVertices);
            if (all_used) {
                std::memcpy(out, from.data() + first, 12 * (last - first));
                return;
            }
            for (std::size_t v = first; v < last; ++v) {
                if (doc.used[v] == 0) continue;
                std::memcpy(out, &from[v], 12);
                out += 12;
            }
        };
        normals.done = [&doc] {
            release(doc.shading.vertex_normal);
            release(doc.used);
        };
        const int position = b.vec3(d.used_count, &bounds.lo, &bounds.hi, std::move(positions));
        const int normal = b.vec3(d.used_count, nullptr, nullptr, std::move(normals));
        const Json attributes = {{"POSITION", position}, {"NORMAL", normal}};
        auto colour = [&](std::size_t c, const Json* material) {
            std::vector<std::vector<std::uint32_t>*> lists;
            std::uint32_t most = 0;
            for (unsigned t = 0; t < threads; ++t) {
                lists.push_back(&d.triangles[t][c]);
                if (!d.triangles[t][c].empty()) most = std::max(most, top[t][c]);
            }
            primitive(lists, most, attributes, kTriangles, material);
        };
        for (std::size_t m = 0; m < scene.materials.size(); ++m) {
            const Json index = m;
            colour(static_cast<std::size_t>(scene.materials[m].colour), &index);
        }
        colour(kNoColour, nullptr);
    }
    if (!d.line_positions.empty()) {
        Bounds bounds;
        for (const Vec3& x : d.line_positions)
            bounds.add(x);
        Piece positions;
        for (std::size_t i = 0; i < d.line_positions.size(); i += kBlockVertices)
            positions.ends.push_back(12 * std::min(d.line_positions.size(), i + kBlockVertices));
        positions.fill = [&doc](std::size_t k, unsigned char* out) {
            const std::size_t first = k * kBlockVertices;
            const std::size_t last = std::min(doc.line_positions.size(), first + kBlockVertices);
            std::memcpy(out, doc.line_positions.data() + first, 12 * (last - first));
        };
        const int position =
            b.vec3(d.line_positions.size(), &bounds.lo, &bounds.hi, std::move(positions));
        const Json attributes = {{"POSITION", position}};
        auto colour = [&](std::size_t c, const Json* material) {
            std::vector<std::uint32_t>* const list = &d.lines[c];
            const std::uint32_t most =
                list->empty() ? 0 : *std::max_element(list->begin(), list->end());
            primitive(std::span(&list, 1), most, attributes, kLines, material);
        };
        for (std::size_t m = 0; m < scene.materials.size(); ++m) {
            const Json index = m;
            colour(static_cast<std::size_t>(scene.materials[m].colour), &index);
        }
        colour(kNoColour, nullptr);
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

SaveStatus glb(const Model& model, const Output& output, const SaveOptions& options,
               LeftOut* left_out) {
    Document d;
    if (const SaveStatus s = build(model, options, d, left_out); s != SaveStatus::ok) return s;
    std::string json = d.json.dump();
    json.resize((json.size() + 3) & ~std::size_t{3}, ' ');  // the JSON chunk is padded with spaces
    // the header, the JSON chunk, and the BIN chunk where there is a buffer
    const std::size_t bin = d.buffer.padded();
    const std::uint64_t total = 12 + 8 + json.size() + (bin == 0 ? 0 : 8 + bin);
    if (total > std::numeric_limits<std::uint32_t>::max()) return SaveStatus::too_large;
    if (output.file.bytes != nullptr)
        reserve_large(*output.file.bytes, output.file.bytes->size() + total);
    std::vector<unsigned char> head;
    head.insert(head.end(), {'g', 'l', 'T', 'F'});
    put_u32(head, 2);
    put_u32(head, static_cast<std::uint32_t>(total));
    put_u32(head, static_cast<std::uint32_t>(json.size()));
    head.insert(head.end(), {'J', 'S', 'O', 'N'});
    head.insert(head.end(), json.begin(), json.end());
    if (bin != 0) {
        put_u32(head, static_cast<std::uint32_t>(bin));
        head.insert(head.end(), {'B', 'I', 'N', '\0'});
    }
    put(output.file, head);
    release(head);
    if (bin != 0) d.buffer.write(output.file, d.threads);
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

SaveStatus gltf_text(const Model& model, const Output& output, const SaveOptions& options,
                     LeftOut* left_out) {
    Document d;
    if (const SaveStatus s = build(model, options, d, left_out); s != SaveStatus::ok) return s;
    if (d.json.contains("buffers")) d.json["buffers"][0]["uri"] = uri_of(output.beside_name);
    const std::string json = d.json.dump(1) + "\n";
    put(output.file, {reinterpret_cast<const unsigned char*>(json.data()), json.size()});
    if (output.beside.bytes != nullptr) {
        reserve_large(*output.beside.bytes, output.beside.bytes->size() + d.buffer.padded());
    }
    d.buffer.write(output.beside, d.threads);
    return SaveStatus::ok;
}

}  // namespace

SaveStatus save_glb(const Model& model, const Output& output, const SaveOptions& options,
                    LeftOut* left_out) {
    return guarded(output, [&] { return glb(model, output, options, left_out); });
}

SaveStatus save_gltf(const Model& model, const Output& output, const SaveOptions& options,
                     LeftOut* left_out) {
    return guarded(output, [&] { return gltf_text(model, output, options, left_out); });
}

SaveStatus count_gltf(const Model& model, const SaveOptions& options, LeftOut& left_out) {
    return guarded(Output{}, [&] {
        Pipeline pipe;
        std::vector<ColourLists> triangles;
        if (!cut_faces(model, threads_for(model.points.size(), options.threads), pipe, triangles)) {
            return SaveStatus::invalid_model;
        }
        tally_omitted(pipe.scene.omitted, options.report, left_out);
        return SaveStatus::ok;
    });
}

}  // namespace rokconv
