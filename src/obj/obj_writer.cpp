#include <algorithm>
#include <array>
#include <atomic>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <string>

#include "format/counts.hpp"
#include "mesh/scene.hpp"
#include "obj/float_text.hpp"
#include "rokconv/obj.hpp"
#include "util/compat.hpp"
#include "util/guarded.hpp"
#include "util/output_piece.hpp"
#include "util/parallel.hpp"

namespace rokconv {

namespace {

// Text handed to a sink through a block of its own, so that each piece costs a copy into it
// rather than a call. Numbers are written by to_chars, which needs no locale and gives the
// shortest text that reads back as the same value. The text reaches out at flush.
struct Text {
    explicit Text(const OutputFile& to) : out(to) {}

    OutputFile out;
    std::size_t n = 0;
    char block[1 << 16];

    void put(const char* bytes, std::size_t k) {
        rokconv::put(out, {reinterpret_cast<const unsigned char*>(bytes), k});
    }
    void flush() {
        put(block, n);
        n = 0;
    }
    char* room(std::size_t k) {
        if (n + k > sizeof block) flush();
        return block + n;
    }
    Text& operator<<(std::string_view s) {
        if (s.size() > sizeof block / 2) {
            flush();
            put(s.data(), s.size());
        } else {
            std::memcpy(room(s.size()), s.data(), s.size());
            n += s.size();
        }
        return *this;
    }
    Text& operator<<(const char* s) { return *this << std::string_view(s); }
    Text& operator<<(char c) {
        *room(1) = c;
        ++n;
        return *this;
    }
    template <class Number>
    Text& operator<<(Number value) {
        char* at = room(32);
        n += static_cast<std::size_t>(compat::to_chars(at, at + 32, value).ptr - at);
        return *this;
    }
};

// a grey of the given level, as three components
void grey(Text& t, std::string_view what, double level) {
    t << what << ' ' << level << ' ' << level << ' ' << level << '\n';
}

// The MTL statements of a surface. Kd is the colour in linear light, as glTF's base colour is
// and as current importers read Kd; Ks the specular level as a fraction (256 is 100 %); Ns the
// Phong exponent that glossiness 0 stands for.
void write_material(Text& t, std::string_view name, const Look* look) {
    t << "newmtl " << name << '\n';
    if (look != nullptr) {
        t << "Kd " << linear(look->colour[0]) << ' ' << linear(look->colour[1]) << ' '
          << linear(look->colour[2]) << '\n';
        grey(t, "Ks", static_cast<double>(look->specular) / 256.0);
    } else {
        grey(t, "Kd", 0.8);
        grey(t, "Ks", 0.0);
    }
    t << "Ns 4\nd 1\nillum 2\n";
}

// the most a number takes: a float as put_shortest writes it (15 characters, and scratch up to
// 24), an index (10)
constexpr std::size_t kFloatRoom = kShortestRoom;
constexpr std::size_t kIndexRoom = 10;

char* put(char* at, std::string_view s) {
    std::memcpy(at, s.data(), s.size());
    return at + s.size();
}

// A position: the text to_chars gives, written by a routine of our own in about half the time;
// a large model has millions of them.
char* put(char* at, float value) {
    return put_shortest(at, value);
}

char* put(char* at, std::uint32_t value) {
    return std::to_chars(at, at + kIndexRoom, value).ptr;
}

constexpr char kDigitPairs[] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

// a fixed-point number of six decimals, not negative, as put_unit writes it
char* put_fixed(char* at, std::int64_t fixed) {
    at = std::to_chars(at, at + 16, fixed / 1000000).ptr;
    if (std::int64_t fraction = fixed % 1000000; fraction != 0) {
        *at++ = '.';
        int digits = 6;
        while (fraction % 10 == 0) {
            fraction /= 10;
            --digits;
        }
        for (int d = digits - 1; d >= 0; --d, fraction /= 10)
            at[d] = static_cast<char>('0' + fraction % 10);
        at += digits;
    }
    return at;
}

// A component of a unit normal, to six decimals: as exact as a reader's smoothing needs, and
// written without the search for the shortest text. value * 1e6 is exact in double, and adding
// a half before cutting the fraction off rounds it as lround does (half away from zero): tested
// on every float below 8 in size.
char* put_unit(char* at, float value) {
    const double scaled = static_cast<double>(value) * 1e6;
    const auto rounded = static_cast<std::int64_t>(scaled + std::copysign(0.5, scaled));
    // the sign and its digits without branches, half the components being negative
    *at = '-';
    at += rounded < 0;
    const std::int64_t fixed = rounded < 0 ? -rounded : rounded;
    if (fixed >= 10'000'000) return put_fixed(at, fixed);
    const auto f = static_cast<std::uint32_t>(fixed);
    *at++ = static_cast<char>('0' + f / 1'000'000);
    const std::uint32_t fraction = f % 1'000'000;
    if (fraction == 0) return at;
    // six decimals in three pairs, less their trailing zeros
    const std::uint32_t high = fraction / 10'000;
    const std::uint32_t rest = fraction % 10'000;
    const std::uint32_t middle = rest / 100;
    const std::uint32_t low = rest % 100;
    *at = '.';
    std::memcpy(at + 1, kDigitPairs + 2 * high, 2);
    std::memcpy(at + 3, kDigitPairs + 2 * middle, 2);
    std::memcpy(at + 5, kDigitPairs + 2 * low, 2);
    auto zeros = [](std::uint32_t pair) { return pair % 10 == 0 ? 1 : 0; };
    if (low != 0) return at + 7 - zeros(low);
    return middle != 0 ? at + 5 - zeros(middle) : at + 3 - zeros(high);
}
constexpr std::size_t kUnitRoom = 24;

// how many points, vertices, corners or lines make a piece of text: some 100 to 200 KB
constexpr std::size_t kPiecePoints = 4096;
constexpr std::size_t kPieceCorners = 16384;
constexpr std::size_t kPieceLines = 4096;

std::uint64_t hash(const std::array<std::uint32_t, 3>& bits) {
    std::uint64_t h = ((std::uint64_t{bits[1]} << 32 | bits[0]) * 0x9E3779B97F4A7C15u) ^
                      (std::uint64_t{bits[2]} * 0xC2B2AE3D27D4EB4Fu);
    h ^= h >> 31;
    h *= 0xD6E8FEB86659FD93u;
    return h ^ (h >> 32);
}

// Each vertex's normal numbered from 1 in order of first use, each distinct normal once; 0 for
// a zero normal (a face without area). The normals are found through an open-addressing table
// half as large again as the vertices, which holds the first vertex with each normal; the table's
// slot a few vertices on is fetched ahead. One thread: the table's cache misses bound it, and a
// second made it no faster. The vertices are numbered in pieces of kPiecePoints, and a piece's
// vn lines may be written as soon as it is done, while the numbering goes on.
class NormalNumbers {
  public:
    explicit NormalNumbers(const std::vector<Vec3>& normals) : normals_(normals) {
        reserve_large(number, normals.size());
        number.resize(normals.size());
        before.assign(normals.size() / kPiecePoints + 1, 0);
    }

    std::vector<std::uint32_t> number;  // each vertex's
    std::vector<std::uint32_t> before;  // how many are numbered before each piece

    // numbers every vertex; once it returns or throws, no one waits
    void run() {
        try {
            number_all();
        } catch (...) {
            failed_ = true;
            publish(before.size());
            throw;
        }
        publish(before.size());
    }

    // waits until piece k is numbered; false if the numbering failed
    bool wait_for(std::size_t k) const {
        for (std::size_t done = done_.load(); done <= k; done = done_.load())
            done_.wait(done);
        return !failed_;
    }

  private:
    void publish(std::size_t pieces) {
        done_.store(pieces);
        done_.notify_all();
    }

    void number_all() {
        const std::size_t count = normals_.size();
        // an entry is its vertex + 1 in the low bits and, in those the vertex numbers leave free,
        // other bits of the normal's hash, so that most other normals are told apart without
        // reading them
        const int low = std::bit_width(count + 1);
        const std::uint32_t vertex_mask = low >= 32 ? 0xFFFFFFFFu : (1u << low) - 1;
        auto tag = [&](std::uint64_t h) {
            return low >= 32 ? 0u : static_cast<std::uint32_t>(h >> 32) << low;
        };
        // at most two thirds full; a hash's slot is its low 32 bits (the tag takes others)
        // scaled to the size
        const std::uint64_t size =
            std::min<std::uint64_t>(count + count / 2 + 2, std::uint64_t{1} << 32);
        auto slot = [size](std::uint64_t h) {
            return static_cast<std::size_t>(((h & 0xFFFFFFFFu) * size) >> 32);
        };
        const std::unique_ptr<std::uint32_t[], decltype(&std::free)> table(
            static_cast<std::uint32_t*>(std::calloc(size, sizeof(std::uint32_t))), &std::free);
        if (!table) throw std::bad_alloc();
        advise_huge_pages(table.get(), size * sizeof(std::uint32_t));
        auto key = [&](std::size_t v) {
            return compat::bit_cast<std::array<std::uint32_t, 3>>(normals_[v]);
        };
        // the hashes of the next vertices, each found once
        constexpr std::size_t kAhead = 16;
        std::array<std::uint64_t, kAhead> ahead;
        for (std::size_t v = 0; v < std::min(count, kAhead); ++v)
            ahead[v] = hash(key(v));
        std::uint32_t numbered = 0;
        for (std::size_t v = 0; v < count; ++v) {
            if (v % kPiecePoints == 0) {
                if (v > 0) publish(v / kPiecePoints);
                before[v / kPiecePoints] = numbered;
            }
            const std::uint64_t h = ahead[v % kAhead];
            if (v + kAhead < count) {
                const std::uint64_t later = hash(key(v + kAhead));
                ahead[v % kAhead] = later;
                __builtin_prefetch(&table[slot(later)]);
            }
            const auto bits = key(v);
            if (((bits[0] | bits[1] | bits[2]) & 0x7FFFFFFFu) == 0) {
                number[v] = 0;  // zero, of either sign
                continue;
            }
            const std::uint32_t own = tag(h);
            for (std::size_t i = slot(h);; i = i + 1 == size ? 0 : i + 1) {
                const std::uint32_t entry = table[i];
                if (entry == 0) {
                    table[i] = own | static_cast<std::uint32_t>(v + 1);
                    number[v] = ++numbered;
                    break;
                }
                if ((entry & ~vertex_mask) == own && key((entry & vertex_mask) - 1) == bits) {
                    number[v] = number[(entry & vertex_mask) - 1];
                    break;
                }
            }
        }
    }

    const std::vector<Vec3>& normals_;
    std::atomic<std::size_t> done_{0};  // pieces numbered
    std::atomic<bool> failed_{false};
};

SaveStatus save(const Model& model, const Output& output, const SaveOptions& options,
                LeftOut* left_out) {
    // room for the most the text can take, so that it is never copied as it grows (only what
    // is written is given memory): a point's line, a normal's for each corner (the most vertices
    // there can be), each corner's two numbers, each face's usemtl line
    const OutputFile& obj = output.file;
    if (obj.bytes != nullptr) {
        std::size_t corners = 0;
        for (const Face& face : model.faces)
            corners += static_cast<std::size_t>(std::clamp(face.edge_count, 2, kMaxFaceEdges));
        reserve_large(*obj.bytes, obj.bytes->size() + output.beside_name.size() + 32 +
                                      52 * model.points.size() + (34 + 24) * corners +
                                      40 * model.faces.size() + 60 * model.lines.size());
    }
    // threads for a large model only: the v lines, the faces and normals share them
    const unsigned threads = threads_for(model.points.size(), options.threads);
    auto put_text = [&](std::string_view s) {
        put(obj, {reinterpret_cast<const unsigned char*>(s.data()), s.size()});
    };
    auto hand_on = [&](const OutputPiece& piece) { put(obj, piece.bytes()); };
    put_text("# rokconv\nmtllib ");
    put_text(output.beside_name);
    put_text("\n");

    // the points with finite positions, numbered from 1 in model order, written while another
    // thread places the corners at their points
    Pipeline pipe;
    Scene& scene = pipe.scene;
    std::vector<std::uint32_t> number;
    const auto write_points = [&](const std::function<void()>& place) {
        const std::size_t point_count = scene.positions.size();
        number.assign(point_count, 0);
        std::uint32_t next = 0;
        for (std::size_t p = 0; p < point_count; ++p) {
            const Vec3& v = scene.positions[p];
            if (std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z)) number[p] = ++next;
        }
        in_order<OutputPiece>((point_count + kPiecePoints - 1) / kPiecePoints, threads,
                              [&](std::size_t k, OutputPiece& piece) {
                                  const std::size_t begin = k * kPiecePoints;
                                  const std::size_t end =
                                      std::min(point_count, begin + kPiecePoints);
                                  char* at = piece.begin((end - begin) * (5 + 3 * kFloatRoom));
                                  for (std::size_t p = begin; p < end; ++p) {
                                      if (number[p] == 0) continue;
                                      const Vec3& v = scene.positions[p];
                                      *at++ = 'v';
                                      *at++ = ' ';
                                      at = put(at, v.x);
                                      *at++ = ' ';
                                      at = put(at, v.y);
                                      *at++ = ' ';
                                      at = put(at, v.z);
                                      *at++ = '\n';
                                  }
                                  piece.end(at);
                              },
                              hand_on, place);
    };
    PipelineHooks hooks;
    hooks.while_placing = write_points;
    if (!build_scene(model, threads, hooks, pipe)) return SaveStatus::invalid_model;
    if (left_out != nullptr) tally_omitted(scene.omitted, options.report, *left_out);
    CornerSlots& slots = pipe.slots;
    std::vector<std::uint32_t>& vertex_of = pipe.slot_of;
    release(scene.positions);

    // each corner's vertex, in place of its slot
    Shading shading = shade(scene, slots);
    release(scene.face_normal);
    release(shading.vertex_start);
    for_ranges(vertex_of.size(), threads, [&](std::size_t begin, std::size_t end) {
        for (std::size_t c = begin; c < end; ++c)
            vertex_of[c] = slots.slots[vertex_of[c]].ref;
    });
    release(slots.slots);
    release(slots.start);

    // the normals, each written once as soon as another thread has numbered it
    NormalNumbers normals(shading.vertex_normal);
    const std::size_t vertex_count = shading.vertex_normal.size();
    in_order<OutputPiece>((vertex_count + kPiecePoints - 1) / kPiecePoints, threads,
                          [&](std::size_t k, OutputPiece& piece) {
                              const std::size_t begin = k * kPiecePoints;
                              const std::size_t end = std::min(vertex_count, begin + kPiecePoints);
                              char* at = piece.begin((end - begin) * (6 + 3 * kUnitRoom));
                              if (!normals.wait_for(k)) {
                                  piece.end(at);
                                  return;
                              }
                              std::uint32_t numbered = normals.before[k];
                              for (std::size_t v = begin; v < end; ++v) {
                                  if (normals.number[v] != numbered + 1) continue;
                                  ++numbered;
                                  const Vec3& n = shading.vertex_normal[v];
                                  at = put(at, "vn ");
                                  at = put_unit(at, n.x);
                                  *at++ = ' ';
                                  at = put_unit(at, n.y);
                                  *at++ = ' ';
                                  at = put_unit(at, n.z);
                                  *at++ = '\n';
                              }
                              piece.end(at);
                          },
                          hand_on, [&] { normals.run(); });
    const std::vector<std::uint32_t>& normal_number = normals.number;
    release(shading.vertex_normal);

    // faces in model order, then lines, each run of one material under its usemtl
    auto material_name = [&](std::int32_t material) {
        return material < 0
                   ? std::string_view("default")
                   : std::string_view(scene.materials[static_cast<std::size_t>(material)].name);
    };
    std::size_t longest_name = 7;
    for (const Material& material : scene.materials)
        longest_name = std::max(longest_name, material.name.size());
    const std::size_t usemtl_room = 8 + longest_name;
    // the usemtl line where the material changes from the one before
    auto use = [&](char* at, std::int32_t material, std::int32_t before) {
        if (material == before) return at;
        at = put(at, "usemtl ");
        at = put(at, material_name(material));
        *at++ = '\n';
        return at;
    };
    const std::size_t face_count = scene.face_count();
    const std::size_t corner_count = scene.corners.size();
    in_order<OutputPiece>(
        (corner_count + kPieceCorners - 1) / kPieceCorners, threads,
        [&](std::size_t k, OutputPiece& piece) {
            // the faces whose first corner falls in the piece's share of the corners
            auto first_at = [&](std::size_t corner) {
                return static_cast<std::size_t>(
                    std::lower_bound(
                        scene.face_start.begin(),
                        scene.face_start.begin() + static_cast<std::ptrdiff_t>(face_count),
                        corner) -
                    scene.face_start.begin());
            };
            const std::size_t begin = first_at(k * kPieceCorners);
            const std::size_t end = first_at((k + 1) * kPieceCorners);
            char* at = piece.begin((end - begin) * (2 + usemtl_room) +
                                   (scene.face_start[end] - scene.face_start[begin]) *
                                       (3 + 2 * kIndexRoom));
            std::int32_t current = begin == 0 ? -2 : scene.face_material[begin - 1];
            for (std::size_t f = begin; f < end; ++f) {
                at = use(at, scene.face_material[f], current);
                current = scene.face_material[f];
                const std::uint32_t first = scene.face_start[f];
                const std::uint32_t last = scene.face_start[f + 1];
                *at++ = last - first == 2 ? 'l' : 'f';
                for (std::uint32_t c = first; c < last; ++c) {
                    *at++ = ' ';
                    at = put(at, number[scene.corners[c]]);
                    if (last - first > 2) {
                        if (const std::uint32_t n = normal_number[vertex_of[c]]; n != 0) {
                            *at++ = '/';
                            *at++ = '/';
                            at = put(at, n);
                        }
                    }
                }
                *at++ = '\n';
            }
            piece.end(at);
        },
        hand_on);
    const std::size_t line_count = scene.lines.size();
    in_order<OutputPiece>((line_count + kPieceLines - 1) / kPieceLines, threads,
                          [&](std::size_t k, OutputPiece& piece) {
                              const std::size_t begin = k * kPieceLines;
                              const std::size_t end = std::min(line_count, begin + kPieceLines);
                              char* at =
                                  piece.begin((end - begin) * (usemtl_room + 4 + 2 * kIndexRoom));
                              std::int32_t current = begin > 0 ? scene.lines[begin - 1].material
                                                     : face_count > 0 ? scene.face_material.back()
                                                                      : -2;
                              for (std::size_t l = begin; l < end; ++l) {
                                  const SceneLine& line = scene.lines[l];
                                  at = use(at, line.material, current);
                                  current = line.material;
                                  at = put(at, "l ");
                                  at = put(at, number[line.from]);
                                  *at++ = ' ';
                                  at = put(at, number[line.to]);
                                  *at++ = '\n';
                              }
                              piece.end(at);
                          },
                          hand_on);

    const bool uses_default = std::any_of(scene.face_material.begin(), scene.face_material.end(),
                                          [](std::int32_t m) { return m < 0; }) ||
                              std::any_of(scene.lines.begin(), scene.lines.end(),
                                          [](const SceneLine& l) { return l.material < 0; });
    Text m{output.beside};
    m << "# rokconv\n";
    for (const Material& material : scene.materials)
        write_material(m, material.name, &material.look);
    if (uses_default) write_material(m, "default", nullptr);
    m.flush();
    return SaveStatus::ok;
}

}  // namespace

SaveStatus save_obj(const Model& model, const Output& output, const SaveOptions& options,
                    LeftOut* left_out) {
    return guarded(output, [&] { return save(model, output, options, left_out); });
}

SaveStatus count_obj(const Model& model, const SaveOptions& options, LeftOut& left_out) {
    return guarded(Output{}, [&] {
        Scene scene;
        scene.threads = threads_for(model.points.size(), options.threads);
        place_points(model, scene);
        if (!take_faces(model, scene)) return SaveStatus::invalid_model;
        tally_omitted(scene.omitted, options.report, left_out);
        return SaveStatus::ok;
    });
}

}  // namespace rokconv
