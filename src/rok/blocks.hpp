// The grammar of a ROK file: the magic, the lines that make each kind of record, and the blocks
// those records come in, each read to its closing keyword.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "rok/cursor.hpp"
#include "rok/tables.hpp"
#include "rokconv/rok.hpp"

namespace rokconv::rok {

// ---- the magic ----

// the CRs and LFs among n bytes, a CR LF or LF CR pair as one
inline std::uint64_t count_line_ends(const unsigned char* p, std::size_t n) {
    std::uint64_t ends = 0;
    for (std::size_t i = 0; i < n; ++i) {
        if (p[i] != '\r' && p[i] != '\n') continue;
        ++ends;
        if (i + 1 < n && p[i + 1] != p[i] && (p[i + 1] == '\r' || p[i + 1] == '\n')) ++i;
    }
    return ends;
}

// The magic "ROKU4", at the start or after a 128-byte preamble whose first byte is 0. The
// preamble is skipped; a reader for a report reads it instead, to count the lines it holds.
template <bool Report>
bool read_magic(Cursor<Report>& r) {
    ByteStream& in = r.in;
    constexpr std::size_t kPreamble = 128;
    unsigned char magic[Report ? kPreamble : 5];
    if (stream_read(in, magic, 5) != 5) return false;
    if (magic[0] == 0) {
        if constexpr (Report) {
            // a little at a time, so that a small window is not made larger
            for (std::size_t got = 5; got < kPreamble;) {
                const std::size_t want = std::min<std::size_t>(32, kPreamble - got);
                if (stream_read(in, magic + got, want) != want) return false;
                got += want;
            }
            r.ends_taken = count_line_ends(magic, kPreamble);
        } else {
            stream_skip(in, kPreamble - 5);
        }
        if (stream_read(in, magic, 5) != 5) return false;
    }
    if constexpr (Report) r.open = true;
    return std::memcmp(magic, "ROKU4", 5) == 0;
}

// ---- records ----
//
// A record's layout: the lines it spans (kLines), the keyword that closes its block (kClose;
// empty where a count ends the block), and read(), which asks the record's lines for what they
// hold, in order: line i as an integer or a real. A line not asked for is not used. The quick
// path hands read() the whole record from one line map; the general path reads the lines one at
// a time, after testing the first against the closing keyword. Both give the same values.

struct PointRecord {
    using Value = Point;
    static constexpr int kLines = 8;
    static constexpr std::string_view kClose = "LINE0";
    // lines 1-5 are not used
    template <class Lines>
    [[gnu::always_inline]] static Point read(Lines& line) {
        return Point{line.real(5), line.real(6), line.real(7)};
    }
};

struct EdgeRecord {
    using Value = Edge;
    static constexpr int kLines = 4;
    static constexpr std::string_view kClose = "FACE0";
    // the two point numbers; the third line is not used, the fourth's low 16 bits are the flag
    template <class Lines>
    [[gnu::always_inline]] static Edge read(Lines& line) {
        return Edge{line.integer(0), line.integer(1), static_cast<std::int16_t>(line.integer(3))};
    }
};

// a face's first lines; its edge numbers follow, one a line, as many as its count says
struct FaceHead {
    using Value = Face;
    static constexpr int kLines = 3;
    static constexpr std::string_view kClose = "END00";
    // the edge count and the colour; the third line is not used
    template <class Lines>
    [[gnu::always_inline]] static Face read(Lines& line) {
        Face face;
        face.edge_count = line.integer(0);
        face.colour = line.integer(1);
        return face;
    }
};

struct PaletteRecord {
    using Value = PaletteEntry;
    static constexpr int kLines = 7;
    static constexpr std::string_view kClose = "";
    // the six components; the seventh line is not used
    template <class Lines>
    [[gnu::always_inline]] static PaletteEntry read(Lines& line) {
        PaletteEntry entry;
        for (int i = 0; i < 6; ++i)
            entry.c[i] = line.integer(i);
        return entry;
    }
};

struct LineRecord {
    struct Value {
        std::int32_t edge = 0;  // 1-based, as read
        std::int32_t colour = 0;
    };
    static constexpr int kLines = 4;
    static constexpr std::string_view kClose = "ENDL2";
    // the edge number and the colour; the second and fourth lines are not used
    template <class Lines>
    [[gnu::always_inline]] static Value read(Lines& line) {
        return Value{line.integer(0), line.integer(2)};
    }
};

// a record's lines, all from one map: each has room behind it for the word reads
template <int N>
struct MappedLines {
    const std::string_view (&lines)[N];
    [[gnu::always_inline]] std::int32_t integer(int i) const {
        return plain_int<true>(lines[i], nullptr);
    }
    [[gnu::always_inline]] double real(int i) const { return plain_real<true>(lines[i], nullptr); }
};

// A record's lines read as they are asked for, those between them skipped. The last line read
// is the cursor's line: one asked for again is that one (the first line, read to test it).
template <bool Report>
struct LinesInTurn {
    Cursor<Report>& r;
    int taken = 0;  // the record's lines read
    [[gnu::always_inline]] std::int32_t integer(int i) {
        if (i < taken) return r.to_int(r.line);
        r.skip(i - taken);
        taken = i + 1;
        return r.next_int();
    }
    [[gnu::always_inline]] double real(int i) {
        if (i < taken) return r.to_real(r.line);
        r.skip(i - taken);
        taken = i + 1;
        return r.next_real();
    }
};

// The next record into value; false when its first line is instead the closing keyword.
template <class Layout, bool Report>
[[gnu::always_inline]] inline bool next_record(Cursor<Report>& r, typename Layout::Value& value) {
    std::string_view lines[Layout::kLines];
    if (r.next_lines(lines, Layout::kClose)) {
        MappedLines<Layout::kLines> mapped{lines};
        value = Layout::read(mapped);
        return true;
    }
    LinesInTurn<Report> in_turn{r};
    if constexpr (!Layout::kClose.empty()) {
        r.next();
        if (r.is(Layout::kClose)) return false;
        in_turn.taken = 1;
    }
    value = Layout::read(in_turn);
    r.skip(Layout::kLines - in_turn.taken);
    return true;
}

// ---- blocks ----

// an edge number names an edge of a table of edge_count edges: 1 to edge_count, as one compare
inline bool edge_in_range(std::size_t edge_count, std::int32_t edge) {
    return static_cast<std::uint64_t>(std::int64_t{edge} - 1) < edge_count;
}

// What the report path notes as it reads; the plain path passes no report and notes nothing.
inline void note(Tally& tally, std::uint64_t line) {
    if (tally.count++ == 0) tally.first_line = line;
}

// the first block the file ends in is the one it was cut in: no block after it is read
inline void note_cut(LoadReport& report, RokBlock block) {
    if (report.cut_short) return;
    report.cut_short = true;
    report.cut_in = block;
}

// Reads a block's records up to its closing keyword or the input's end, handing each to take
// with the cursor and the line the record began on (0 unless counted); a block the keyword does
// not close is noted as cut. The cursor is copied in, so that its state stays in registers.
template <class Layout, bool Report, class Take>
[[gnu::always_inline]] inline void read_block(Cursor<Report>& from, LoadReport* report,
                                              RokBlock name, Take take) {
    Cursor<Report> r = from;
    [[maybe_unused]] bool closed = false;
    while (!r.in.eof) {
        const std::uint64_t at = r.line_number();
        typename Layout::Value value;
        if (!next_record<Layout>(r, value)) {
            closed = true;
            break;
        }
        take(r, value, at);
    }
    if constexpr (Report) {
        if (!closed) note_cut(*report, name);
    }
    from = r;
}

template <bool Report>
void read_points(Cursor<Report>& r, Model& model, LoadReport* report) {
    const Block block{stream_remaining(r.in)};
    read_block<PointRecord>(r, report, RokBlock::points,
                            [&](Cursor<Report>& c, const Point& p, std::uint64_t) {
                                append(model.points, p, block, c.in);
                            });
    release_tail(model.points);
}

template <bool Report>
void read_edges(Cursor<Report>& r, Model& model, LoadReport* report) {
    const Block block{stream_remaining(r.in)};
    read_block<EdgeRecord>(r, report, RokBlock::edges,
                           [&](Cursor<Report>& c, const Edge& e, std::uint64_t) {
                               append(model.edges, e, block, c.in);
                           });
    release_tail(model.edges);
}

// A face is read in full, then kept only if it is sound: no negative count, at most
// kMaxFaceEdges edges, and every edge number within the edge table. The bound on the count also
// keeps a damaged file's memory in proportion to the file: a face that claims 2,000,000,000
// edges at the end of a file has its references settled without storing them. (Not a lambda:
// where it also counts lines, the compiler would call one for each face, some 5 % slower.)
template <bool Report>
struct TakeFace {
    Model& model;
    LoadReport* report;
    const Block& block;
    std::size_t edge_count;  // the edge table is complete

    [[gnu::always_inline]] void operator()(Cursor<Report>& r, Face face,
                                           [[maybe_unused]] std::uint64_t at) const {
        face.first_ref = model.edge_refs.size();
        const std::int32_t n = face.edge_count;
        bool keep = n >= 0 && n <= kMaxFaceEdges;
        // A face that can be kept has its references stored as they come, and taken back if
        // one is out of range; the lines of any other are only read.
        bool in_range = true;
        for (std::int32_t i = 0; i < n; ++i) {
            if (r.in.eof) {
                // every remaining edge line would repeat the buffer
                const std::int32_t e = line_int(r.line);
                in_range = in_range && edge_in_range(edge_count, e);
                if (keep && in_range) {
                    model.edge_refs.insert(model.edge_refs.end(), static_cast<std::size_t>(n - i),
                                           static_cast<std::uint32_t>(e - 1));
                }
                break;
            }
            if (!keep) {
                r.next();
                continue;
            }
            const std::int32_t e = r.next_int();
            in_range &= edge_in_range(edge_count, e);
            // unsigned, as e may be any number until the face is kept
            append(model.edge_refs, static_cast<std::uint32_t>(e) - 1u, block, r.in);
        }
        keep = keep && in_range;
        if (keep) {
            append(model.faces, face, block, r.in);
            if constexpr (Report) report->face_line.push_back(at);
        } else {
            model.edge_refs.resize(face.first_ref);
            if constexpr (Report) {
                const bool bounded = n >= 0 && n <= kMaxFaceEdges;
                note(bounded ? report->faces_edge_outside : report->faces_bad_count, at);
            }
        }
    }
};

template <bool Report>
void read_faces(Cursor<Report>& r, Model& model, LoadReport* report) {
    const Block block{stream_remaining(r.in)};
    read_block<FaceHead>(r, report, RokBlock::faces,
                         TakeFace<Report>{model, report, block, model.edges.size()});
    release_tail(model.edge_refs);
    release_tail(model.faces);
}

// The count, a line not used, then the entries. Only the first kPaletteEntries entries are
// stored; the count is kept as read. Whether the block's closing keyword came.
template <bool Report>
bool read_palette(Cursor<Report>& r, Model& model) {
    const std::int32_t n = r.next_int();
    model.palette_count = n;
    model.palette.assign(static_cast<std::size_t>(std::clamp(n, 0, kPaletteEntries)),
                         PaletteEntry{});
    r.skip(1);
    for (std::int32_t i = 0; i < n; ++i) {
        if (r.in.eof) {
            // every remaining component would repeat the buffer
            const std::int32_t v = line_int(r.line);
            for (std::size_t k = static_cast<std::size_t>(i); k < model.palette.size(); ++k) {
                std::fill(std::begin(model.palette[k].c), std::end(model.palette[k].c), v);
            }
            break;
        }
        PaletteEntry entry;
        next_record<PaletteRecord>(r, entry);  // no keyword closes the entries
        if (i < kPaletteEntries) model.palette[static_cast<std::size_t>(i)] = entry;
    }
    return r.skip_past("ENDP0");
}

template <bool Report>
void read_lines(Cursor<Report>& r, Model& model, LoadReport* report) {
    const Block block;  // line faces are few: their tables grow step by step
    read_block<LineRecord>(
        r, report, RokBlock::lines,
        [&](Cursor<Report>& c, const LineRecord::Value& line, [[maybe_unused]] std::uint64_t at) {
            // an edge number outside the edge table names nothing and is left out
            if (!edge_in_range(model.edges.size(), line.edge)) {
                if constexpr (Report) note(report->lines_edge_outside, at);
                return;
            }
            const auto edge = static_cast<std::uint32_t>(line.edge - 1);
            if (model.edges[edge].line_flag != 0) return;
            append(model.lines, Line{edge, line.colour}, block, c.in);
            if constexpr (Report) report->line_line.push_back(at);
        });
}

// everything after the point block, from the line after its closing keyword on
template <bool Report>
void read_rest(Cursor<Report>& r, Model& model, LoadReport* report) {
    [[maybe_unused]] auto closed = [&](bool came, RokBlock block) {
        if constexpr (Report) {
            if (!came) note_cut(*report, block);
        }
    };
    read_edges(r, model, report);
    read_faces(r, model, report);

    model.palette_count = 0;
    model.palette.clear();
    while (!r.in.eof) {
        r.next();
        if (r.is("PALC0")) {
            closed(read_palette(r, model), RokBlock::palette);
        } else if (r.is("BAKC0")) {
            closed(r.skip_past("ENDB0"), RokBlock::background);
        } else if (r.is("LIT00")) {
            closed(r.skip_past("ENDL0"), RokBlock::light);
        } else if (r.is("VIEW0")) {
            closed(r.skip_past("ENDV0"), RokBlock::view);
        } else if (r.is("LINE2")) {
            read_lines(r, model, report);
        }
    }
}

}  // namespace rokconv::rok
