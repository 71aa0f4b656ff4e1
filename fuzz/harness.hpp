// The check the fuzzer and the corpus replay share: convert bytes in memory, then walk the LWOB
// output and hold every chunk against the model it was written from.
#pragma once

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <numeric>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "lwob/lwob.hpp"
#include "model/model.hpp"
#include "rok/rok.hpp"

namespace rokfuzz {

struct Conversion {
    int loaded = 0;  // what load_rok returned
    int saved = 0;   // what save_lwob returned, when the file was read
    rokconv::Model model;
    rokconv::ByteSink lwob;
    bool window_differs = false;  // reading through a small window gave another result
};

// the bytes as a source that hands them out as asked, the way a file does
struct MemorySource {
    std::span<const unsigned char> bytes;
    std::size_t pos = 0;
};

inline std::size_t read_memory(void* context, unsigned char* out, std::size_t n) {
    auto& source = *static_cast<MemorySource*>(context);
    const std::size_t got = std::min(n, source.bytes.size() - source.pos);
    if (got > 0) std::memcpy(out, source.bytes.data() + source.pos, got);
    source.pos += got;
    return got;
}

// load_rok through a window of the given size, refilled as the reader goes, as the driver reads;
// claimed is the input size the source tells the reader (0: none, as for a pipe)
inline int load_windowed(std::span<const unsigned char> rok, std::size_t window,
                         rokconv::Model& model, std::uint64_t claimed = 0) {
    MemorySource memory{rok};
    rokconv::ByteSource source;
    source.read = &read_memory;
    source.context = &memory;
    source.window.resize(window);
    source.unread = claimed;
    rokconv::ByteStream stream = rokconv::source_stream(source);
    return rokconv::load_rok(stream, model);
}

// A window a little larger than the most the reader asks to have ahead, so that it is refilled
// every few lines and its edge falls at every place in a record.
inline constexpr std::size_t kSmallWindow = 97;

inline Conversion convert(std::span<const unsigned char> rok) {
    Conversion c;
    c.loaded = rokconv::load_rok(rok, c.model);
    if (c.loaded == 0) c.saved = rokconv::save_lwob(c.model, c.lwob);

    rokconv::Model windowed;
    rokconv::ByteSink lwob;
    const int loaded = load_windowed(rok, kSmallWindow, windowed);
    if (loaded == 0) (void)rokconv::save_lwob(windowed, lwob);
    c.window_differs =
        loaded != c.loaded || lwob != c.lwob || windowed.palette_count != c.model.palette_count;
    return c;
}

namespace detail {

// big-endian reads; one past the end sets failed and yields 0
struct Cursor {
    const unsigned char* data;
    std::size_t end;
    std::size_t pos;
    bool failed = false;

    bool take(std::size_t n) {
        if (failed || end - pos < n) {
            failed = true;
            return false;
        }
        pos += n;
        return true;
    }
    std::uint32_t u2() {
        if (!take(2)) return 0;
        return std::uint32_t{data[pos - 2]} << 8 | data[pos - 1];
    }
    std::uint32_t u4() {
        if (!take(4)) return 0;
        const unsigned char* p = data + pos - 4;
        return std::uint32_t{p[0]} << 24 | std::uint32_t{p[1]} << 16 | std::uint32_t{p[2]} << 8 |
               p[3];
    }
    std::string_view tag() {
        if (!take(4)) return {};
        return {reinterpret_cast<const char*>(data + pos - 4), 4};
    }
};

inline std::string at(std::string what, std::size_t offset) {
    return what + " (output byte " + std::to_string(offset) + ")";
}

// a vertex number as the output holds it: the 0-based point number, low 16 bits
inline std::uint32_t vertex(std::int32_t point) {
    return (static_cast<std::uint32_t>(point) - 1u) & 0xFFFFu;
}

// "ROK<index>", its terminator, and a pad byte when those are odd in length
inline std::string surface_name(int index) {
    std::string name = "ROK" + std::to_string(index);
    name.push_back('\0');
    if (name.size() % 2 != 0) name.push_back('\0');
    return name;
}

// Whether the polygon's edges form one closed ring: every point is an end of exactly two of
// them, no edge joins a point to itself, and the edges hang together. Point numbers outside
// 1-65536 are left out, as their U2 vertex numbers could fold two points together.
inline bool single_ring(const rokconv::Model& m, const rokconv::Polygon& p) {
    const auto n = static_cast<std::size_t>(p.edge_count);
    const std::uint32_t* refs = rokconv::polygon_edges(m, p);
    std::vector<std::pair<std::int32_t, std::uint32_t>> ends;
    ends.reserve(2 * n);
    for (std::uint32_t k = 0; k < n; ++k) {
        const rokconv::Edge& e = m.edges[refs[k]];
        if (e.first == e.second || e.first < 1 || e.first > 65536 || e.second < 1 ||
            e.second > 65536) {
            return false;
        }
        ends.emplace_back(e.first, k);
        ends.emplace_back(e.second, k);
    }
    std::sort(ends.begin(), ends.end());
    std::vector<std::uint32_t> parent(n);
    std::iota(parent.begin(), parent.end(), 0u);
    auto root = [&](std::uint32_t k) {
        while (parent[k] != k)
            k = parent[k] = parent[parent[k]];
        return k;
    };
    std::size_t groups = n;
    for (std::size_t i = 0; i < ends.size(); i += 2) {
        if (ends[i].first != ends[i + 1].first) return false;
        if (i + 2 < ends.size() && ends[i + 2].first == ends[i].first) return false;
        const std::uint32_t a = root(ends[i].second);
        const std::uint32_t b = root(ends[i + 1].second);
        if (a != b) {
            parent[a] = b;
            --groups;
        }
    }
    return groups == 1;
}

// one POLS record's vertices against its polygon's edges
inline std::string check_vertices(const rokconv::Model& m, const rokconv::Polygon& p,
                                  const std::vector<std::uint32_t>& v) {
    const std::uint32_t* refs = rokconv::polygon_edges(m, p);
    if (p.edge_count == 0) return {};
    const rokconv::Edge& e0 = m.edges[refs[0]];
    if (p.edge_count == 1) {
        if (v[0] != vertex(e0.first) || v[1] != vertex(e0.second)) {
            return "a line's vertices are not its edge's points";
        }
        return {};
    }
    // the ring starts at the first point of the first listed edge
    if (v[0] != vertex(e0.first)) return "a face does not start at its first edge's first point";
    std::vector<std::pair<std::uint32_t, std::uint32_t>> sides;
    std::vector<std::uint32_t> points;
    for (std::int32_t k = 0; k < p.edge_count; ++k) {
        const rokconv::Edge& e = m.edges[refs[k]];
        const std::uint32_t a = vertex(e.first);
        const std::uint32_t b = vertex(e.second);
        sides.emplace_back(std::min(a, b), std::max(a, b));
        points.push_back(a);
        points.push_back(b);
    }
    std::sort(sides.begin(), sides.end());
    std::sort(points.begin(), points.end());
    for (std::uint32_t x : v) {
        if (!std::binary_search(points.begin(), points.end(), x)) {
            return "a face has a vertex that none of its edges ends at";
        }
    }
    if (!single_ring(m, p)) return {};
    // a closed ring is walked once round in the first edge's direction: each point once, each
    // step along one of its edges
    if (v[1] != vertex(e0.second)) return "a ring does not follow its first edge's direction";
    std::vector<std::uint32_t> seen(v);
    std::sort(seen.begin(), seen.end());
    if (std::adjacent_find(seen.begin(), seen.end()) != seen.end()) {
        return "a ring visits a point twice";
    }
    for (std::size_t k = 0; k < v.size(); ++k) {
        const std::uint32_t a = v[k];
        const std::uint32_t b = v[(k + 1) % v.size()];
        if (!std::binary_search(sides.begin(), sides.end(),
                                std::make_pair(std::min(a, b), std::max(a, b)))) {
            return "a ring steps between points that no edge joins";
        }
    }
    return {};
}

}  // namespace detail

// An empty string when the conversion is sound, else what is wrong. Sound means: a file without
// the magic leaves the model empty; otherwise every polygon of the model fits the output, and
// the output is one FORM LWOB whose chunks SRFS, PNTS, POLS and SURF... fill it exactly, each
// with an even length that its contents use up, holding the model's points and polygons and one
// surface for each palette colour a polygon uses.
inline std::string check(const Conversion& c) {
    using detail::at;
    const rokconv::Model& m = c.model;
    if (c.window_differs) return "reading through a small window gave another result";
    if (c.loaded != 0) {
        if (c.loaded != -1) return "load_rok returned " + std::to_string(c.loaded);
        if (!m.points.empty() || !m.edges.empty() || !m.polygons.empty() || !m.edge_refs.empty() ||
            m.palette_count != 0) {
            return "a file without the magic left something in the model";
        }
        return {};
    }
    if (c.saved != 0) return "save_lwob returned " + std::to_string(c.saved);

    for (const rokconv::Polygon& p : m.polygons) {
        if (p.edge_count < 0 || p.edge_count > 65535) {
            return "a polygon of " + std::to_string(p.edge_count) + " edges cannot be written";
        }
        if (p.first_ref > m.edge_refs.size() ||
            m.edge_refs.size() - p.first_ref < static_cast<std::size_t>(p.edge_count)) {
            return "a polygon's edge references run past the reference table";
        }
        const std::uint32_t* refs = rokconv::polygon_edges(m, p);
        for (std::int32_t k = 0; k < p.edge_count; ++k) {
            if (refs[k] >= m.edges.size()) return "a polygon refers to an edge past the table";
        }
    }

    // surfaces 1, 2, ... for the used colours 0-15 in ascending order; names only for those
    // below the palette count
    bool used[rokconv::kColourSlots] = {};
    for (const rokconv::Polygon& p : m.polygons) {
        if (p.colour >= 0 && p.colour < rokconv::kColourSlots) used[p.colour] = true;
    }
    std::uint32_t surface[rokconv::kColourSlots] = {};
    std::uint32_t surfaces = 0;
    std::vector<std::string> names;
    for (int i = 0; i < rokconv::kColourSlots; ++i) {
        if (!used[i]) continue;
        surface[i] = ++surfaces;
        if (i < m.palette_count) names.push_back(detail::surface_name(i));
    }

    const std::size_t size = c.lwob.size();
    detail::Cursor in{c.lwob.data(), size, 0};
    if (in.tag() != "FORM") return "the output does not start with FORM";
    const std::uint32_t form_length = in.u4();
    if (in.failed || form_length != size - 8) return "the FORM length is not the output's size";
    if (in.tag() != "LWOB") return "the FORM is not of type LWOB";

    struct Child {
        std::string_view tag;
        std::size_t offset;  // of the contents
        std::size_t length;
    };
    std::vector<Child> chunks;
    while (in.pos < size) {
        const std::size_t start = in.pos;
        const std::string_view tag = in.tag();
        const std::uint32_t length = in.u4();
        if (in.failed) return at("a chunk header is cut short", start);
        if (length % 2 != 0) return at("a chunk has an odd length", start);
        if (!in.take(length)) return at("a chunk runs past the FORM", start);
        chunks.push_back({tag, in.pos - length, length});
    }
    if (chunks.size() != 3 + names.size()) {
        return "expected 3 chunks and " + std::to_string(names.size()) + " SURF chunks, found " +
               std::to_string(chunks.size()) + " chunks";
    }
    const char* const order[] = {"SRFS", "PNTS", "POLS"};
    for (std::size_t i = 0; i < chunks.size(); ++i) {
        const std::string_view want = i < 3 ? order[i] : "SURF";
        if (chunks[i].tag != want) return at("expected " + std::string(want), chunks[i].offset);
    }
    auto bytes = [&](const Child& chunk) {
        return std::string_view(reinterpret_cast<const char*>(c.lwob.data()) + chunk.offset,
                                chunk.length);
    };

    std::string srfs;
    for (const std::string& name : names)
        srfs += name;
    if (bytes(chunks[0]) != srfs)
        return at("SRFS does not name the used colours", chunks[0].offset);

    const Child& pnts = chunks[1];
    if (pnts.length != 12 * m.points.size()) {
        return at("PNTS does not hold 12 bytes for each of the " + std::to_string(m.points.size()) +
                      " points",
                  pnts.offset);
    }
    detail::Cursor points{c.lwob.data(), pnts.offset + pnts.length, pnts.offset};
    for (const rokconv::Point& p : m.points) {
        // scaled by 8, the second axis reversed, rounded once to single precision
        const float want[3] = {static_cast<float>(p.x * 8.0), static_cast<float>(p.y * -8.0),
                               static_cast<float>(p.z * 8.0)};
        for (float w : want) {
            if (points.u4() != std::bit_cast<std::uint32_t>(w)) {
                return at("a point is not the model's point", points.pos - 4);
            }
        }
    }

    const Child& pols = chunks[2];
    detail::Cursor polygons{c.lwob.data(), pols.offset + pols.length, pols.offset};
    std::vector<std::uint32_t> vertices;
    for (const rokconv::Polygon& p : m.polygons) {
        const std::size_t start = polygons.pos;
        const std::uint32_t count = polygons.u2();
        const auto want = static_cast<std::uint32_t>(p.edge_count == 1 ? 2 : p.edge_count);
        if (!polygons.failed && count != want) {
            return at("a polygon of " + std::to_string(p.edge_count) + " edges has " +
                          std::to_string(count) + " vertices",
                      start);
        }
        vertices.clear();
        for (std::uint32_t k = 0; k < count; ++k)
            vertices.push_back(polygons.u2());
        const std::uint32_t number = polygons.u2();
        if (polygons.failed) return at("POLS ends inside a polygon", start);
        const bool slotted = p.colour >= 0 && p.colour < rokconv::kColourSlots;
        if (slotted ? number != surface[p.colour] : number == 0) {
            return at("a polygon has the wrong surface", start);
        }
        const std::string fault = detail::check_vertices(m, p, vertices);
        if (!fault.empty()) return at(fault, start);
    }
    if (polygons.pos != polygons.end) return at("POLS holds more than the polygons", polygons.pos);

    // each SURF: the name, then these sub-chunks with U2 lengths, in this order
    static constexpr std::pair<std::string_view, std::uint32_t> kSubChunks[] = {
        {"COLR", 4}, {"FLAG", 2}, {"SMAN", 4}, {"DIFF", 2}, {"TRAN", 2}, {"SPEC", 2}, {"GLOS", 2}};
    for (std::size_t i = 0; i < names.size(); ++i) {
        const Child& surf = chunks[3 + i];
        const std::string& name = names[i];
        if (surf.length != name.size() + 60 || bytes(surf).substr(0, name.size()) != name) {
            return at("a SURF chunk is not the one for " + name.substr(0, name.find('\0')),
                      surf.offset);
        }
        detail::Cursor sub{c.lwob.data(), surf.offset + surf.length, surf.offset + name.size()};
        for (const auto& [tag, length] : kSubChunks) {
            const std::size_t start = sub.pos;
            if (sub.tag() != tag || sub.u2() != length || !sub.take(length)) {
                return at("expected the SURF sub-chunk " + std::string(tag), start);
            }
        }
    }
    return {};
}

// what the fuzzer runs on each input
inline std::string run(std::span<const unsigned char> rok) {
    return check(convert(rok));
}

}  // namespace rokfuzz
