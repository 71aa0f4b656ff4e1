#include <algorithm>
#include <cstring>

#include "rok/rok.hpp"

namespace rokconv {

namespace {

bool is_digit(unsigned char c) {
    return static_cast<unsigned char>(c - '0') < 10;
}

// All reading after the magic goes through one current line, a view into the input as the
// line buffer would hold it. Once eof is set every further read is a no-op that leaves the line
// as it is, which is what lets the counted loops settle the rest of a huge count at once
// instead of running it.
struct Reader {
    ByteStream& in;
    std::string_view line;

    void next() { (void)next_line(in, line); }
    // Most lines hold a plain number: an optional '-' and a few digits, with a '.' in reals,
    // ended by CR or LF. Such a line is found and converted in one pass, to the value the
    // general conversion gives; any other line goes the general way.
    bool plain_int(std::int32_t& out) {
        if (in.eof || in.pos >= in.size) return false;
        const unsigned char* p = in.data + in.pos;
        const std::size_t avail = in.size - in.pos;
        const std::size_t start = p[0] == '-';
        const std::size_t stop = avail < 10 ? avail : 10;
        std::uint32_t value = 0;
        std::size_t i = start;
        for (; i < stop && is_digit(p[i]); ++i)
            value = value * 10 + (p[i] - '0');
        if (i == start || i >= avail || (p[i] != '\n' && p[i] != '\r')) return false;
        line = std::string_view(reinterpret_cast<const char*>(p), i);
        detail::end_line(in, i);
        out = static_cast<std::int32_t>(start ? 0u - value : value);
        return true;
    }
    std::int32_t next_int() {
        std::int32_t value;
        if (plain_int(value)) return value;
        next();
        return line_int(line);
    }
    // The first line of a record, as an integer; false when it is instead the keyword that
    // closes the block. A plain number is never a keyword.
    bool next_record(std::string_view keyword, std::int32_t& value) {
        if (plain_int(value)) return true;
        next();
        if (is(keyword)) return false;
        value = line_int(line);
        return true;
    }
    double next_real() {
        if (!in.eof && in.pos < in.size) {
            const unsigned char* p = in.data + in.pos;
            const std::size_t avail = in.size - in.pos;
            std::size_t i = p[0] == '-';
            // at most 15 digits, so the value is exact below 2^53, and it is divided by an exact
            // power of ten: one correctly rounded operation
            const std::size_t sign = i;
            std::uint64_t value = 0;
            std::size_t stop = avail < sign + 15 ? avail : sign + 15;
            for (; i < stop && is_digit(p[i]); ++i)
                value = value * 10 + (p[i] - '0');
            std::size_t digits = i - sign;
            std::size_t fraction = 0;
            if (i < avail && p[i] == '.') {
                const std::size_t point = ++i;
                stop = avail < point + 15 - digits ? avail : point + 15 - digits;
                for (; i < stop && is_digit(p[i]); ++i)
                    value = value * 10 + (p[i] - '0');
                fraction = i - point;
                digits += fraction;
            }
            if (digits > 0 && i < avail && (p[i] == '\n' || p[i] == '\r')) {
                line = std::string_view(reinterpret_cast<const char*>(p), i);
                const double result =
                    static_cast<double>(value) / detail::kExactPowersOfTen[fraction];
                const bool negative = p[0] == '-';
                detail::end_line(in, i);
                return negative ? -result : result;
            }
        }
        next();
        return line_real(line);
    }
    void skip(int lines) {
        for (int i = 0; i < lines; ++i)
            next();
    }
    // the whole line equals the keyword; as in the line buffer, a zero byte ends the line
    bool is(std::string_view keyword) const {
        return line.starts_with(keyword) &&
               (line.size() == keyword.size() || line[keyword.size()] == '\0');
    }
    // reads lines until one equals keyword, or the input ends
    void skip_past(std::string_view keyword) {
        while (!in.eof) {
            next();
            if (is(keyword)) return;
        }
    }
};

bool edge_in_range(const Model& model, std::int32_t edge) {
    return edge >= 1 && static_cast<std::size_t>(edge) <= model.edges.size();
}

void read_points(Reader& r, Model& model) {
    while (!r.in.eof) {
        r.next();
        if (r.is("LINE0")) return;
        r.skip(4);  // lines 2-5 of the record are not used
        Point p;
        p.x = r.next_real();
        p.y = r.next_real();
        p.z = r.next_real();
        model.points.push_back(p);
    }
}

void read_edges(Reader& r, Model& model) {
    while (!r.in.eof) {
        Edge e;
        if (!r.next_record("FACE0", e.first)) return;
        e.second = r.next_int();
        r.skip(1);
        e.line_flag = static_cast<std::int16_t>(r.next_int());
        model.edges.push_back(e);
    }
}

// A face is read in full, then kept only if an output polygon can hold it: no negative count,
// at most kMaxPolygonEdges edges, and every edge number within the edge table.
void read_faces(Reader& r, Model& model) {
    while (!r.in.eof) {
        Polygon face;
        if (!r.next_record("END00", face.edge_count)) return;
        face.colour = r.next_int();
        r.skip(1);
        face.first_ref = model.edge_refs.size();

        const std::int32_t n = face.edge_count;
        bool keep = n >= 0 && n <= kMaxPolygonEdges;
        for (std::int32_t i = 0; i < n; ++i) {
            if (r.in.eof) {
                // every remaining edge line would repeat the buffer
                const std::int32_t e = line_int(r.line);
                if (keep && edge_in_range(model, e)) {
                    model.edge_refs.insert(model.edge_refs.end(), static_cast<std::size_t>(n - i),
                                           static_cast<std::uint32_t>(e - 1));
                } else {
                    keep = false;
                }
                break;
            }
            const std::int32_t e = r.next_int();
            if (!keep) continue;
            if (!edge_in_range(model, e)) {
                keep = false;
                continue;
            }
            model.edge_refs.push_back(static_cast<std::uint32_t>(e - 1));
        }
        if (keep) {
            model.polygons.push_back(face);
        } else {
            model.edge_refs.resize(face.first_ref);
        }
    }
}

// Only the entries the writer has slots for are stored; the count is kept as read.
void read_palette(Reader& r, Model& model) {
    const std::int32_t n = r.next_int();
    model.palette_count = n;
    model.palette.assign(static_cast<std::size_t>(std::clamp(n, 0, kColourSlots)), PaletteEntry{});
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
        for (std::int32_t& component : entry.c)
            component = r.next_int();
        r.skip(1);
        if (i < kColourSlots) model.palette[static_cast<std::size_t>(i)] = entry;
    }
    r.skip_past("ENDP0");
}

void read_lines(Reader& r, Model& model) {
    while (!r.in.eof) {
        std::int32_t e;
        if (!r.next_record("ENDL2", e)) return;
        r.skip(1);
        const std::int32_t colour = r.next_int();
        r.skip(1);
        // an edge number outside the edge table names nothing and is left out
        if (!edge_in_range(model, e)) continue;
        if (model.edges[static_cast<std::size_t>(e - 1)].line_flag != 0) continue;
        Polygon line;
        line.first_ref = model.edge_refs.size();
        line.edge_count = 1;
        line.colour = colour;
        model.edge_refs.push_back(static_cast<std::uint32_t>(e - 1));
        model.polygons.push_back(line);
    }
}

// the magic "ROKU4", at the start or after a 128-byte preamble whose first byte is 0
bool read_magic(ByteStream& in) {
    unsigned char magic[5];
    if (stream_read(in, magic, 5) != 5) return false;
    if (magic[0] == 0) {
        stream_skip(in, 123);
        if (stream_read(in, magic, 5) != 5) return false;
    }
    return std::memcmp(magic, "ROKU4", 5) == 0;
}

}  // namespace

int load_rok(ByteStream& stream, Model& model) {
    if (!read_magic(stream)) return -1;
    Reader r{stream, {}};
    r.next();  // the rest of the magic's line
    r.skip_past("POINT");
    read_points(r, model);
    read_edges(r, model);
    read_faces(r, model);

    model.palette_count = 0;
    model.palette.clear();
    while (!stream.eof) {
        r.next();
        if (r.is("PALC0")) {
            read_palette(r, model);
        } else if (r.is("BAKC0")) {
            r.skip_past("ENDB0");
        } else if (r.is("LIT00")) {
            r.skip_past("ENDL0");
        } else if (r.is("VIEW0")) {
            r.skip_past("ENDV0");
        } else if (r.is("LINE2")) {
            read_lines(r, model);
        }
    }
    return 0;
}

int load_rok(std::span<const unsigned char> bytes, Model& model) {
    ByteStream stream = byte_stream(bytes);
    return load_rok(stream, model);
}

}  // namespace rokconv
