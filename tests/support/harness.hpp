// The check the fuzzer and the corpus replay share: convert bytes in memory, whole and through a
// small window (with the part after the points read by a second thread), then walk the LWOB output
// and hold every chunk against the model it was written from. The reading that also reports must
// give the same model, and the same report either way.
#pragma once

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "rok/reader.hpp"
#include "rokconv/rokconv.hpp"
#include "util/compat.hpp"

namespace rokfuzz {

struct Conversion {
    rokconv::LoadStatus loaded = rokconv::LoadStatus::ok;
    rokconv::SaveStatus saved = rokconv::SaveStatus::ok;  // when the file was read
    rokconv::Model model;
    std::vector<unsigned char> lwob;
    bool window_differs = false;        // reading through a small window gave another result
    bool other_formats_failed = false;  // OBJ or glTF could not be written
    bool report_differs =
        false;  // with a report: another status or model, or window and whole differ
    rokconv::LoadReport report;
};

// the bytes as an input that hands them out as asked, the way a file does
struct MemoryInput {
    std::span<const unsigned char> bytes;
    std::size_t pos = 0;

    static std::size_t read(void* context, unsigned char* out, std::size_t n) {
        auto& self = *static_cast<MemoryInput*>(context);
        const std::size_t got = std::min(n, self.bytes.size() - self.pos);
        if (got > 0) std::memcpy(out, self.bytes.data() + self.pos, got);
        self.pos += got;
        return got;
    }
    static std::size_t read_at(void* context, std::uint64_t offset, unsigned char* out,
                               std::size_t n) {
        const auto& self = *static_cast<const MemoryInput*>(context);
        if (offset >= self.bytes.size()) return 0;
        const std::size_t got = std::min<std::uint64_t>(n, self.bytes.size() - offset);
        std::memcpy(out, self.bytes.data() + offset, got);
        return got;
    }
};

// load_rok through a window of the given size, refilled as the reader goes, the part after the
// points read at once by another thread; claimed is the input size the input tells the reader
// (0: none, as for a pipe)
inline rokconv::LoadStatus load_windowed(std::span<const unsigned char> rok, std::size_t window,
                                         rokconv::Model& model, std::uint64_t claimed = 0) {
    MemoryInput memory{rok};
    const rokconv::RokInput input{&memory, &MemoryInput::read, nullptr, claimed,
                                  &MemoryInput::read_at};
    return rokconv::load_rok_windowed(input, window, 0, model);
}
inline rokconv::LoadStatus load_windowed(std::span<const unsigned char> rok, std::size_t window,
                                         rokconv::Model& model, rokconv::LoadReport& report) {
    MemoryInput memory{rok};
    const rokconv::RokInput input{&memory, &MemoryInput::read, nullptr, 0, &MemoryInput::read_at};
    return rokconv::load_rok_windowed(input, window, 0, model, {.report = &report});
}

inline bool same_model(const rokconv::Model& a, const rokconv::Model& b) {
    auto same_face = [](const rokconv::Face& p, const rokconv::Face& q) {
        return p.first_ref == q.first_ref && p.edge_count == q.edge_count && p.colour == q.colour;
    };
    auto same_entry = [](const rokconv::PaletteEntry& p, const rokconv::PaletteEntry& q) {
        return std::equal(std::begin(p.c), std::end(p.c), std::begin(q.c));
    };
    return a.points == b.points && a.edges == b.edges && a.edge_refs == b.edge_refs &&
           a.lines == b.lines && a.palette_count == b.palette_count &&
           std::equal(a.faces.begin(), a.faces.end(), b.faces.begin(), b.faces.end(), same_face) &&
           std::equal(a.palette.begin(), a.palette.end(), b.palette.begin(), b.palette.end(),
                      same_entry);
}

// A window a little larger than the most the reader asks to have ahead, so that it is refilled
// every few lines and its edge falls at every place in a record.
inline constexpr std::size_t kSmallWindow = 97;

inline Conversion convert(std::span<const unsigned char> rok) {
    Conversion c;
    c.loaded = rokconv::load_rok(rok, c.model);
    if (c.loaded == rokconv::LoadStatus::ok)
        c.saved = rokconv::save_lwob(c.model, rokconv::to_bytes(c.lwob));

    rokconv::Model windowed;
    std::vector<unsigned char> lwob;
    const rokconv::LoadStatus loaded = load_windowed(rok, kSmallWindow, windowed);
    if (loaded == rokconv::LoadStatus::ok)
        (void)rokconv::save_lwob(windowed, rokconv::to_bytes(lwob));
    c.window_differs =
        loaded != c.loaded || lwob != c.lwob || windowed.palette_count != c.model.palette_count;

    rokconv::Model reported;
    rokconv::Model reported_windowed;
    rokconv::LoadReport window_report;
    c.report_differs =
        rokconv::load_rok(rok, reported, {.report = &c.report}) != c.loaded ||
        load_windowed(rok, kSmallWindow, reported_windowed, window_report) != c.loaded ||
        !same_model(reported, c.model) || !same_model(reported_windowed, c.model) ||
        window_report != c.report;
    // the other formats take every model the reader makes, and leave out what they cannot hold
    if (c.loaded == rokconv::LoadStatus::ok) {
        std::vector<unsigned char> obj, mtl, glb;
        c.other_formats_failed =
            rokconv::save_obj(c.model, rokconv::to_bytes(obj, &mtl, "m.mtl")) !=
                rokconv::SaveStatus::ok ||
            rokconv::save_glb(c.model, rokconv::to_bytes(glb)) != rokconv::SaveStatus::ok;
    }
    return c;
}

// big-endian reads; one past the end sets failed and yields 0
struct Cursor {
    std::span<const unsigned char> data;
    std::size_t pos = 0;
    bool failed = false;

    bool take(std::size_t n) {
        failed = failed || data.size() - pos < n;
        if (!failed) pos += n;
        return !failed;
    }
    std::uint32_t u2() { return take(2) ? std::uint32_t{data[pos - 2]} << 8 | data[pos - 1] : 0; }
    std::uint32_t u4() { return u2() << 16 | u2(); }
    std::string_view tag() {
        return take(4) ? std::string_view(reinterpret_cast<const char*>(&data[pos - 4]), 4) : "";
    }
};

// a vertex number as the output holds it: the 0-based point number, low 16 bits
inline std::uint32_t vertex(std::int32_t point) {
    return (static_cast<std::uint32_t>(point) - 1) & 0xFFFF;
}

// One POLS record's vertices against its face: each an end of one of its edges, the first the
// first point of its first edge. (Which ring the edges make is the ring tests' matter.)
inline bool ends_of_edges(const rokconv::Model& m, const rokconv::Face& face,
                          const std::vector<std::uint32_t>& v) {
    const std::span<const std::uint32_t> refs = rokconv::face_edges(m, face);
    if (refs.empty()) return v.empty();
    auto is_end = [&](std::uint32_t x) {
        return std::any_of(refs.begin(), refs.end(), [&](std::uint32_t ref) {
            return vertex(m.edges[ref].first) == x || vertex(m.edges[ref].second) == x;
        });
    };
    return v[0] == vertex(m.edges[refs[0]].first) && std::all_of(v.begin(), v.end(), is_end);
}

// The report's lines against the model and the file: one for each face and line, in file
// order, within the file; and what examine finds of the model points at those lines.
inline std::string check_report(const rokconv::LoadReport& r, const rokconv::Model& m) {
    if (r.face_line.size() != m.faces.size() || r.line_line.size() != m.lines.size())
        return "the report does not give a line for each face and line";
    for (const auto* lines : {&r.face_line, &r.line_line}) {
        if (!std::is_sorted(lines->begin(), lines->end()) ||
            (!lines->empty() && (lines->front() == 0 || lines->back() > r.lines)))
            return "a record's line is out of order or outside the file";
    }
    if (r.cut_line != (r.cut_short ? r.lines : 0)) return "the cut is not the file's last line";
    rokconv::Findings f;
    if (rokconv::examine(m, f, &r) != rokconv::ExamineStatus::ok) return "examine failed";
    for (const rokconv::Tally& t : {f.faces_open_ring, f.faces_no_surface, f.faces_point_outside,
                                    f.lines_no_surface, f.lines_point_outside}) {
        if (t.count > 0 && (t.first_line == 0 || t.first_line > r.lines))
            return "a finding is not placed within the file";
    }
    return {};
}

// An empty string when the conversion is sound, else what is wrong. Sound means: a file without
// the magic leaves the model empty; otherwise the output is one FORM LWOB whose chunks SRFS,
// PNTS, POLS and SURF... fill it exactly, each with an even length, holding the model's points,
// its faces and lines, and one surface for each palette colour they use.
inline std::string check(const Conversion& c) {
    const rokconv::Model& m = c.model;
    if (c.window_differs) return "reading through a small window gave another result";
    if (c.other_formats_failed) return "the model could not be written as OBJ or glTF";
    if (c.report_differs) return "reading with a report gave another model or report";
    if (c.loaded == rokconv::LoadStatus::not_rok) {
        const bool empty = m.points.empty() && m.edges.empty() && m.faces.empty() &&
                           m.lines.empty() && m.palette_count == 0;
        if (!(c.report == rokconv::LoadReport{})) return "a file without the magic was reported";
        return empty ? "" : "a file without the magic left something in the model";
    }
    if (c.loaded != rokconv::LoadStatus::ok) return "the file was not read";
    if (c.saved != rokconv::SaveStatus::ok) return "the model was not written";
    // a model made by hand (a writer's test) comes without a report, which holds no lines
    if (c.report.lines != 0) {
        if (const std::string fault = check_report(c.report, m); !fault.empty()) return fault;
    }

    // surfaces 1, 2, ... for the used colours 0-15 in ascending order, then one for any other;
    // names only for those below the palette count
    bool used[16] = {};
    bool other = false;
    auto use = [&](std::int32_t colour) {
        (colour >= 0 && colour < 16 ? used[colour] : other) = true;
    };
    for (const rokconv::Face& p : m.faces)
        use(p.colour);
    for (const rokconv::Line& l : m.lines)
        use(l.colour);
    std::uint32_t surface[17] = {};
    std::string srfs;
    std::vector<int> named;
    for (int i = 0; i < 16; ++i) {
        if (!used[i]) continue;
        surface[i] = ++surface[16];
        if (i >= m.palette_count) continue;
        named.push_back(i);
        srfs += "ROK" + std::to_string(i) + '\0';
        if (srfs.size() % 2 != 0) srfs += '\0';
    }
    const std::uint32_t others = other ? surface[16] + 1 : 0;

    Cursor in{c.lwob};
    if (in.tag() != "FORM" || in.u4() != c.lwob.size() - 8 || in.tag() != "LWOB") {
        return "the output is not one FORM LWOB of its size";
    }
    std::vector<std::pair<std::string_view, Cursor>> chunks;
    while (in.pos < c.lwob.size()) {
        const std::string_view tag = in.tag();
        const std::uint32_t length = in.u4();
        const std::size_t at = in.pos;
        if (length % 2 != 0 || !in.take(length)) return "a chunk is odd or runs past the FORM";
        chunks.emplace_back(tag, Cursor{std::span(c.lwob).subspan(at, length)});
    }
    std::string tags;
    std::string want = "SRFSPNTSPOLS";
    for (const auto& chunk : chunks)
        tags += chunk.first;
    for (std::size_t i = 0; i < named.size(); ++i)
        want += "SURF";
    if (tags != want) return "expected the chunks " + want + ", found " + tags;
    auto text = [](std::span<const unsigned char> bytes, std::size_t n) {
        return std::string_view(reinterpret_cast<const char*>(bytes.data()), n);
    };
    if (text(chunks[0].second.data, chunks[0].second.data.size()) != srfs) {
        return "SRFS does not name the used colours";
    }

    Cursor& pnts = chunks[1].second;
    if (pnts.data.size() != 12 * m.points.size()) return "PNTS does not hold 12 bytes a point";
    for (const rokconv::Point& p : m.points) {
        // scaled by 8, the second axis reversed, rounded once to single precision
        for (const double v : {p.x * 8.0, p.y * -8.0, p.z * 8.0}) {
            if (pnts.u4() != rokconv::compat::bit_cast<std::uint32_t>(static_cast<float>(v)))
                return "a point is not the model's point at PNTS byte " + std::to_string(pnts.pos);
        }
    }

    Cursor& pols = chunks[2].second;
    std::vector<std::uint32_t> v;
    auto record = [&](std::size_t count, std::int32_t colour) -> std::string {
        const std::size_t start = pols.pos;
        v.clear();
        if (pols.u2() != count) return "a polygon has the wrong vertex count";
        for (std::size_t k = 0; k < count; ++k)
            v.push_back(pols.u2());
        const std::uint32_t number = pols.u2();
        if (pols.failed) return "POLS ends inside a polygon";
        const bool slotted = colour >= 0 && colour < 16;
        if (number != (slotted ? surface[colour] : others))
            return "the polygon at POLS byte " + std::to_string(start) + " has the wrong surface";
        return {};
    };
    for (const rokconv::Face& face : m.faces) {
        const auto n = static_cast<std::size_t>(face.edge_count);
        std::string fault = record(n == 1 ? 2 : n, face.colour);
        if (fault.empty() && !ends_of_edges(m, face, v))
            fault = "a face's vertices are not its points";
        if (!fault.empty()) return fault + " (POLS byte " + std::to_string(pols.pos) + ")";
    }
    for (const rokconv::Line& line : m.lines) {
        std::string fault = record(2, line.colour);
        const rokconv::Edge& e = m.edges[line.edge];
        if (fault.empty() && (v[0] != vertex(e.first) || v[1] != vertex(e.second)))
            fault = "a line's vertices are not its edge's points";
        if (!fault.empty()) return fault;
    }
    if (pols.pos != pols.data.size()) return "POLS holds more than the faces and lines";

    // each SURF: the name, then seven sub-chunks with U2 lengths, in this order
    constexpr std::pair<std::string_view, std::uint32_t> kSubChunks[] = {
        {"COLR", 4}, {"FLAG", 2}, {"SMAN", 4}, {"DIFF", 2}, {"TRAN", 2}, {"SPEC", 2}, {"GLOS", 2}};
    for (std::size_t i = 0; i < named.size(); ++i) {
        Cursor& surf = chunks[3 + i].second;
        std::string name = "ROK" + std::to_string(named[i]) + '\0';
        if (name.size() % 2 != 0) name += '\0';
        if (surf.data.size() < name.size() || text(surf.data, name.size()) != name ||
            !surf.take(name.size()))
            return "a SURF chunk is not the one for " + name;
        for (const auto& [tag, length] : kSubChunks) {
            if (surf.tag() != tag || surf.u2() != length || !surf.take(length))
                return "expected the SURF sub-chunk " + std::string(tag);
        }
        if (surf.pos != surf.data.size()) return "a SURF chunk holds more than its sub-chunks";
    }
    return {};
}

// what the fuzzer runs on each input
inline std::string run(std::span<const unsigned char> rok) {
    return check(convert(rok));
}

}  // namespace rokfuzz
