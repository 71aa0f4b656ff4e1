#include "rokgen.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <numbers>
#include <utility>

namespace rokgen {

namespace {

// splitmix64: small, fast, and the same sequence on every platform
class Random {
  public:
    explicit Random(std::uint64_t seed) : state_(seed) {}

    std::uint64_t next() {
        std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    std::int64_t below(std::uint64_t n) { return static_cast<std::int64_t>(next() % n); }
    bool one_in(std::uint64_t n) { return next() % n == 0; }

    template <class T>
    void shuffle(T* first, std::size_t n) {
        for (std::size_t i = n; i > 1; --i)
            std::swap(first[i - 1], first[next() % i]);
    }

  private:
    std::uint64_t state_;
};

// a bright first triple and a darker second one, so most surfaces get a specular level; one
// pair is equal and one has the brighter triple second, which both give none
constexpr std::array<std::array<std::int32_t, 6>, 16> kPalette = {{
    {255, 255, 255, 96, 96, 96},
    {200, 40, 40, 100, 20, 20},
    {40, 200, 40, 20, 100, 20},
    {40, 40, 200, 20, 20, 100},
    {230, 220, 60, 115, 110, 30},
    {60, 210, 220, 30, 105, 110},
    {210, 60, 200, 105, 30, 100},
    {128, 128, 128, 128, 128, 128},
    {90, 60, 30, 180, 120, 60},
    {250, 160, 40, 125, 80, 20},
    {160, 200, 255, 80, 100, 128},
    {255, 190, 190, 128, 95, 95},
    {20, 20, 20, 0, 0, 0},
    {180, 150, 110, 90, 75, 55},
    {100, 140, 80, 50, 70, 40},
    {240, 240, 200, 200, 200, 160},
}};

constexpr std::int32_t kMaxFaceEdges = 65535;  // the U2 vertex count of an output polygon

const char* eol_text(Eol eol) {
    switch (eol) {
        case Eol::crlf:
            return "\r\n";
        case Eol::lf:
            return "\n";
        case Eol::lfcr:
            return "\n\r";
        case Eol::cr:
            return "\r";
    }
    return "\n";
}

// Appends lines to the text. Numbers are formatted by hand: a million-point grid has some
// 26 million lines, and printf would spend most of the generator's time on them.
class Text {
  public:
    // ends, if given, receives where each line's line end ends
    Text(std::string& out, const char* eol, std::vector<std::size_t>* ends = nullptr)
        : out_(out), eol_(eol), eol_bytes_(std::char_traits<char>::length(eol)), ends_(ends) {}

    std::size_t size() const { return out_.size(); }
    std::size_t eol_bytes() const { return eol_bytes_; }
    std::string& out() { return out_; }

    // the end of the line's text, before its line end, once the line is written
    std::size_t last_end() const { return out_.size() - eol_bytes_; }

    void put(std::string_view text) { out_.append(text); }
    void put_int(std::int64_t value) {
        char buffer[24];
        const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
        out_.append(buffer, result.ptr);
    }
    // what printf("%.6f", micro / 1e6) prints
    void put_fixed6(std::int64_t micro) {
        char buffer[32];
        char* p = buffer;
        std::uint64_t magnitude = static_cast<std::uint64_t>(micro);
        if (micro < 0) {
            *p++ = '-';
            magnitude = 0 - magnitude;
        }
        p = std::to_chars(p, buffer + 24, magnitude / 1000000).ptr;
        *p++ = '.';
        std::uint64_t fraction = magnitude % 1000000;
        for (int i = 5; i >= 0; --i) {
            p[i] = static_cast<char>('0' + fraction % 10);
            fraction /= 10;
        }
        out_.append(buffer, p + 6);
    }
    void end() {
        out_.append(eol_, eol_bytes_);
        if (ends_ != nullptr) ends_->push_back(out_.size());
    }

    void line(std::string_view text) {
        put(text);
        end();
    }
    void int_line(std::int64_t value) {
        put_int(value);
        end();
    }
    void fixed6_line(std::int64_t micro) {
        put_fixed6(micro);
        end();
    }

  private:
    std::string& out_;
    const char* eol_;
    std::size_t eol_bytes_;
    std::vector<std::size_t>* ends_;
};

bool edge_in_table(const Mesh& mesh, std::int64_t edge) {
    return edge >= 1 && static_cast<std::size_t>(edge) <= mesh.edges.size();
}

bool face_kept(const Mesh& mesh, std::size_t face) {
    const std::size_t begin = mesh.face_starts[face];
    const std::size_t end = mesh.face_starts[face + 1];
    if (end - begin > static_cast<std::size_t>(kMaxFaceEdges)) return false;
    for (std::size_t k = begin; k < end; ++k) {
        if (!edge_in_table(mesh, mesh.face_edges[k])) return false;
    }
    return true;
}

bool line_adds(const Mesh& mesh, const LineRecord& line) {
    return edge_in_table(mesh, line.edge) &&
           mesh.edges[static_cast<std::size_t>(line.edge - 1)].line_flag == 0;
}

void add_face(Mesh& mesh, std::int32_t colour, std::span<const std::int32_t> edges) {
    mesh.face_colours.push_back(colour);
    mesh.face_edges.insert(mesh.face_edges.end(), edges.begin(), edges.end());
    mesh.face_starts.push_back(mesh.face_edges.size());
}

// the preamble, the magic, the header, and the point, edge and face blocks, up to but not
// including the face block's closing "END00"
void write_geometry(Text& text, const Mesh& mesh, const Style& style, Layout* layout) {
    if (style.preamble) {
        std::string preamble(128, '\0');
        const std::string_view title = "rokgen model";
        std::copy(title.begin(), title.end(), preamble.begin() + 1);
        text.put(preamble);
    }
    if (layout) {
        layout->eol_bytes = text.eol_bytes();
        layout->magic = text.size();
    }
    text.line("ROKU4");
    // header lines up to "POINT" are not read; a modeller writes its counts there
    text.int_line(static_cast<std::int64_t>(mesh.points()));
    text.int_line(static_cast<std::int64_t>(mesh.edges.size()));
    text.int_line(static_cast<std::int64_t>(mesh.faces()));

    if (layout) layout->point_keyword = text.size();
    text.line("POINT");
    const std::size_t points = mesh.points();
    for (std::size_t i = 0; i < points; ++i) {
        const std::int64_t* xyz = &mesh.coords[3 * i];
        if (layout) layout->points.starts.push_back(text.size());
        // lines 1-5 are not read: a selection flag, a layer, the point's screen position at the
        // default view, and a spare
        text.line("0");
        text.line("1");
        text.int_line(xyz[0] / 62500);
        text.int_line(xyz[1] / 62500);
        text.line("0");
        text.fixed6_line(xyz[0]);
        text.fixed6_line(xyz[1]);
        text.fixed6_line(xyz[2]);
        if (layout) layout->points.ends.push_back(text.last_end());
    }

    if (layout) layout->points.close = text.size();
    text.line("LINE0");
    for (const Edge& edge : mesh.edges) {
        if (layout) layout->edges.starts.push_back(text.size());
        text.int_line(edge.first);
        text.int_line(edge.second);
        text.line("0");
        text.int_line(edge.line_flag);
        if (layout) layout->edges.ends.push_back(text.last_end());
    }

    if (layout) layout->edges.close = text.size();
    text.line("FACE0");
    for (std::size_t f = 0; f < mesh.faces(); ++f) {
        const std::size_t begin = mesh.face_starts[f];
        const std::size_t end = mesh.face_starts[f + 1];
        if (layout) layout->faces.starts.push_back(text.size());
        text.int_line(static_cast<std::int64_t>(end - begin));
        text.int_line(mesh.face_colours[f]);
        text.line("0");
        for (std::size_t k = begin; k < end; ++k)
            text.int_line(mesh.face_edges[k]);
        if (layout) {
            layout->faces.ends.push_back(text.last_end());
            layout->faces.adds_polygon.push_back(face_kept(mesh, f));
        }
    }
}

void write_face_end(Text& text, Layout* layout) {
    if (layout) layout->faces.close = text.size();
    text.line("END00");
}

void write_palette(Text& text, const Mesh& mesh, Layout* layout) {
    if (layout) layout->palette_keyword = text.size();
    text.line("PALC0");
    text.int_line(static_cast<std::int64_t>(mesh.palette.size()));
    if (layout) {
        layout->palette_count_end = text.last_end();
        layout->palette_count = static_cast<std::int32_t>(mesh.palette.size());
    }
    text.line("0");
    for (const auto& entry : mesh.palette) {
        for (std::int32_t component : entry)
            text.int_line(component);
        text.line("0");
    }
    text.line("ENDP0");
}

// background, light and view: read past by a converter, but every modeller writes them
void write_scene_blocks(Text& text) {
    text.line("BAKC0");
    text.line("0");
    text.line("0");
    text.line("64");
    text.line("ENDB0");
    text.line("LIT00");
    text.fixed6_line(-577350);
    text.fixed6_line(-577350);
    text.fixed6_line(577350);
    text.line("255");
    text.line("ENDL0");
    text.line("VIEW0");
    text.fixed6_line(0);
    text.fixed6_line(-12500000);
    text.fixed6_line(40000000);
    text.fixed6_line(30000000);
    text.fixed6_line(0);
    text.line("256");
    text.line("ENDV0");
}

void write_lines(Text& text, const Mesh& mesh, Layout* layout) {
    text.line("LINE2");
    for (const LineRecord& line : mesh.lines) {
        if (layout) layout->lines.starts.push_back(text.size());
        text.int_line(line.edge);
        text.line("0");
        text.int_line(line.colour);
        text.line("0");
        if (layout) {
            layout->lines.ends.push_back(text.last_end());
            layout->lines.adds_polygon.push_back(line_adds(mesh, line));
        }
    }
    if (layout) layout->lines.close = text.size();
    text.line("ENDL2");
}

std::size_t grid_side(std::size_t points) {
    std::size_t side = static_cast<std::size_t>(std::sqrt(static_cast<double>(points)));
    while (side * side < points)
        ++side;
    while (side > 1 && (side - 1) * (side - 1) >= points)
        --side;
    return std::max<std::size_t>(side, 2);
}

// a value that stays the same over a patch of cells, so colours come in patches
std::int32_t patch_colour(std::uint64_t seed, std::size_t row, std::size_t column) {
    Random patch(seed ^ ((row / 8) * 0x9E3779B97F4A7C15ull + column / 8 + 1));
    return static_cast<std::int32_t>(patch.below(16));
}

}  // namespace

std::optional<Eol> parse_eol(std::string_view name) {
    if (name == "crlf") return Eol::crlf;
    if (name == "lf") return Eol::lf;
    if (name == "lfcr") return Eol::lfcr;
    if (name == "cr") return Eol::cr;
    return std::nullopt;
}

Mesh make_grid(std::size_t wanted, std::uint64_t seed) {
    Random rng(seed);
    const std::size_t side = grid_side(wanted);
    const std::size_t n = side * side;
    Mesh mesh;
    mesh.palette.assign(kPalette.begin(), kPalette.end());

    // a gently rough sheet, 0.25 units between rows and columns, centred on the origin
    constexpr std::int64_t kSpacing = 250000;
    const std::int64_t half = static_cast<std::int64_t>(side - 1) * kSpacing / 2;
    mesh.coords.resize(3 * n);
    for (std::size_t r = 0; r < side; ++r) {
        for (std::size_t c = 0; c < side; ++c) {
            std::int64_t* xyz = &mesh.coords[3 * (r * side + c)];
            xyz[0] = static_cast<std::int64_t>(c) * kSpacing - half + rng.below(40001) - 20000;
            xyz[1] = static_cast<std::int64_t>(r) * kSpacing - half + rng.below(40001) - 20000;
            xyz[2] = rng.below(400001) - 200000;
        }
    }

    // right[p] and down[p]: numbers of the edges from point p to its right and lower neighbours
    std::vector<std::int32_t> right(n, 0);
    std::vector<std::int32_t> down(n, 0);
    mesh.edges.reserve(2 * n);
    auto add_edge = [&](std::size_t a, std::size_t b, bool outline) {
        Edge edge;
        const bool flip = rng.one_in(2);
        edge.first = static_cast<std::int32_t>((flip ? b : a) + 1);
        edge.second = static_cast<std::int32_t>((flip ? a : b) + 1);
        edge.line_flag = (outline || rng.one_in(64)) ? 0 : 1;
        mesh.edges.push_back(edge);
        const auto number = static_cast<std::int32_t>(mesh.edges.size());
        // the outline is always drawn; other line edges only now and then, and a few flag-1
        // edges are named too, which adds nothing
        const bool listed = outline || (edge.line_flag == 0 ? rng.one_in(2) : rng.one_in(256));
        if (listed) mesh.lines.push_back({number, static_cast<std::int32_t>(rng.below(16))});
        return number;
    };
    for (std::size_t r = 0; r < side; ++r) {
        for (std::size_t c = 0; c < side; ++c) {
            const std::size_t p = r * side + c;
            if (c + 1 < side) right[p] = add_edge(p, p + 1, r == 0);
            if (r + 1 < side) down[p] = add_edge(p, p + side, false);
        }
    }
    // the first edge down the left side is always a flag-1 edge named by LINE2
    mesh.edges[static_cast<std::size_t>(down[0] - 1)].line_flag = 1;
    mesh.lines.push_back({down[0], 5});

    mesh.face_colours.reserve((side - 1) * (side - 1));
    mesh.face_edges.reserve(4 * (side - 1) * (side - 1));
    mesh.face_starts.reserve((side - 1) * (side - 1) + 1);
    for (std::size_t r = 0; r + 1 < side; ++r) {
        for (std::size_t c = 0; c + 1 < side; ++c) {
            const std::size_t p = r * side + c;
            std::int32_t quad[4] = {right[p], down[p + 1], right[p + side], down[p]};
            rng.shuffle(quad, 4);
            add_face(mesh, patch_colour(seed, r, c), quad);
        }
    }
    return mesh;
}

Mesh make_ring(std::size_t n, std::uint64_t seed) {
    Random rng(seed);
    n = std::max<std::size_t>(n, 3);
    Mesh mesh;
    mesh.palette.assign(kPalette.begin(), kPalette.end());
    mesh.coords.resize(3 * n);
    const double radius = 1e6 * std::max(1.0, static_cast<double>(n) / 100.0);
    for (std::size_t i = 0; i < n; ++i) {
        const double angle =
            2.0 * std::numbers::pi * static_cast<double>(i) / static_cast<double>(n);
        mesh.coords[3 * i] = std::llround(radius * std::cos(angle));
        mesh.coords[3 * i + 1] = std::llround(radius * std::sin(angle));
        mesh.coords[3 * i + 2] = rng.below(20001) - 10000;
    }
    mesh.edges.reserve(n);
    for (std::size_t i = 0; i < n; ++i) {
        const auto a = static_cast<std::int32_t>(i + 1);
        const auto b = static_cast<std::int32_t>((i + 1) % n + 1);
        const bool flip = rng.one_in(2);
        mesh.edges.push_back({flip ? b : a, flip ? a : b, 1});
    }
    std::vector<std::int32_t> listed(n);
    for (std::size_t i = 0; i < n; ++i)
        listed[i] = static_cast<std::int32_t>(i + 1);
    rng.shuffle(listed.data(), n);
    add_face(mesh, static_cast<std::int32_t>(rng.below(16)), listed);
    return mesh;
}

std::vector<std::int32_t> face_ring(const Mesh& mesh, std::size_t face) {
    const std::int32_t* listed = mesh.face_edges.data() + mesh.face_starts[face];
    const std::size_t n = mesh.face_starts[face + 1] - mesh.face_starts[face];
    auto edge = [&](std::size_t k) -> const Edge& {
        return mesh.edges[static_cast<std::size_t>(listed[k] - 1)];
    };
    constexpr std::size_t kNone = static_cast<std::size_t>(-1);

    // (point, listed position) for each end of each edge, sorted, for large faces
    std::vector<std::pair<std::int32_t, std::size_t>> ends;
    if (n > 16) {
        ends.reserve(2 * n);
        for (std::size_t k = 0; k < n; ++k) {
            ends.emplace_back(edge(k).first, k);
            ends.emplace_back(edge(k).second, k);
        }
        std::sort(ends.begin(), ends.end());
    }
    // the lowest-listed edge other than current that has point as an end
    auto other_edge_at = [&](std::int32_t point, std::size_t current) {
        if (n <= 16) {
            for (std::size_t k = 0; k < n; ++k) {
                if (k != current && (edge(k).first == point || edge(k).second == point)) return k;
            }
            return kNone;
        }
        auto it = std::lower_bound(ends.begin(), ends.end(), std::make_pair(point, std::size_t{0}));
        for (; it != ends.end() && it->first == point; ++it) {
            if (it->second != current) return it->second;
        }
        return kNone;
    };

    std::vector<std::int32_t> ring;
    ring.reserve(n);
    std::size_t current = 0;
    bool forward = true;
    while (ring.size() < n) {
        const Edge& e = edge(current);
        ring.push_back(forward ? e.first : e.second);
        const std::int32_t joint = forward ? e.second : e.first;
        const std::size_t next = other_edge_at(joint, current);
        if (next == kNone) break;
        forward = edge(next).first == joint;
        current = next;
    }
    return ring;
}

void write_rok(std::string& out, const Mesh& mesh, const Style& style, Layout* layout) {
    // about 90 bytes a point and 8 a listed edge; a guess that saves most regrowth
    out.reserve(out.size() + 90 * mesh.points() + 8 * mesh.face_edges.size() + 4096);
    Text text(out, eol_text(style.eol), layout != nullptr ? &layout->line_ends : nullptr);
    write_geometry(text, mesh, style, layout);
    write_face_end(text, layout);
    if (!mesh.palette.empty()) write_palette(text, mesh, layout);
    write_scene_blocks(text);
    write_lines(text, mesh, layout);
}

void write_obj(std::string& out, const Mesh& mesh) {
    out.reserve(out.size() + 40 * mesh.points() + 8 * mesh.face_edges.size() + 64);
    Text text(out, "\n");
    text.line("# rokgen model");
    for (std::size_t i = 0; i < mesh.points(); ++i) {
        text.put("v ");
        text.put_fixed6(mesh.coords[3 * i]);
        text.put(" ");
        text.put_fixed6(mesh.coords[3 * i + 1]);
        text.put(" ");
        text.put_fixed6(mesh.coords[3 * i + 2]);
        text.end();
    }
    for (std::size_t f = 0; f < mesh.faces(); ++f) {
        text.put("f");
        for (std::int32_t point : face_ring(mesh, f)) {
            text.put(" ");
            text.put_int(point);
        }
        text.end();
    }
}

std::size_t grid_points_for_size(std::size_t bytes, std::uint64_t seed, const Style& style) {
    std::string text;
    auto size_of = [&](std::size_t side) {
        text.clear();
        write_rok(text, make_grid(side * side, seed), style);
        return text.size();
    };
    // the size grows with the side; find the first side whose text is at least bytes long
    std::size_t lo = 2;
    std::size_t hi = 4;
    while (size_of(hi) < bytes) {
        lo = hi;
        hi *= 2;
    }
    while (lo < hi) {
        const std::size_t mid = lo + (hi - lo) / 2;
        if (size_of(mid) < bytes) {
            lo = mid + 1;
        } else {
            hi = mid;
        }
    }
    const std::size_t above = size_of(lo) - bytes;
    if (lo > 2 && bytes - size_of(lo - 1) < above) --lo;
    return lo * lo;
}

Expect expect(const Mesh& mesh) {
    Expect x;
    x.points = exactly(static_cast<std::int64_t>(mesh.points()));
    x.edges = exactly(static_cast<std::int64_t>(mesh.edges.size()));
    std::int64_t polygons = 0;
    for (std::size_t f = 0; f < mesh.faces(); ++f)
        polygons += face_kept(mesh, f);
    for (const LineRecord& line : mesh.lines)
        polygons += line_adds(mesh, line);
    x.polygons = exactly(polygons);
    x.palette_count = exactly(static_cast<std::int64_t>(mesh.palette.size()));
    return x;
}

// The reader's loops test the end-of-file indicator before each line that may open a record.
// A line starting before the cut is therefore read. So is a line starting exactly at the cut
// when lines end in a two-byte pair: the pair is consumed without looking further, and the next
// read finds nothing and delivers an empty line. A record, once begun, is read in full and
// kept; a cut-short closing keyword reads as a record of its block.
Expect expect_truncated(const Layout& layout, std::size_t cut) {
    Expect x;
    if (cut < layout.magic + 5) {
        x.rok = false;
        return x;
    }
    if (cut < layout.point_keyword + 5) return x;  // "POINT" is never seen
    const bool pair = layout.eol_bytes == 2;
    auto begun = [&](std::size_t start) { return start < cut || (pair && start == cut); };
    auto cut_keyword = [&](const Section& s) { return begun(s.close) && cut < s.close + 5; };
    auto records = [&](const Section& s) {
        const auto n = std::count_if(s.starts.begin(), s.starts.end(), begun);
        return exactly(static_cast<std::int64_t>(n) + (cut_keyword(s) ? 1 : 0));
    };
    // complete records add what they hold; the one the cut splits may or may not hold a valid
    // face or line by then, and a cut "END00" reads as a face of no edges
    auto polygons = [&](const Section& s) {
        Range r;
        for (std::size_t i = 0; i < s.starts.size(); ++i) {
            if (cut >= s.ends[i]) {
                r.lo += s.adds_polygon[i];
                r.hi += s.adds_polygon[i];
            } else if (begun(s.starts[i])) {
                ++r.hi;
            }
        }
        if (cut_keyword(s)) ++r.hi;
        return r;
    };
    x.points = records(layout.points);
    x.edges = records(layout.edges);
    const Range faces = polygons(layout.faces);
    const Range lines = polygons(layout.lines);
    x.polygons = Range{faces.lo + lines.lo, faces.hi + lines.hi};
    if (layout.palette_keyword != std::numeric_limits<std::size_t>::max() &&
        cut >= layout.palette_keyword + 5) {
        // a count line the cut has split reads as some prefix of its digits
        x.palette_count = cut >= layout.palette_count_end ? exactly(layout.palette_count)
                                                          : Range{0, layout.palette_count};
    }
    return x;
}

namespace {

constexpr Damage kDamages[] = {Damage::truncated, Damage::huge_face, Damage::huge_palette,
                               Damage::negative_count, Damage::edge_range};
constexpr const char* kDamageNames[] = {"truncated", "huge-face", "huge-palette", "negative-count",
                                        "edge-range"};

// the model every damaged file starts from: 8 x 8 points, 49 quads, a few lines
constexpr std::size_t kDamagedGridPoints = 64;

}  // namespace

std::span<const Damage> damages() {
    return kDamages;
}

const char* damage_name(Damage damage) {
    return kDamageNames[static_cast<int>(damage)];
}

std::optional<Damage> parse_damage(std::string_view name) {
    for (Damage damage : kDamages) {
        if (name == damage_name(damage)) return damage;
    }
    return std::nullopt;
}

Damaged make_damaged(Damage damage, std::uint64_t seed, const Style& style, std::size_t cut) {
    Mesh mesh = make_grid(kDamagedGridPoints, seed);
    Damaged d;
    Text text(d.text, eol_text(style.eol));
    switch (damage) {
        case Damage::truncated: {
            Layout layout;
            write_rok(d.text, mesh, style, &layout);
            cut = std::min(cut == std::numeric_limits<std::size_t>::max() ? d.text.size() / 2 : cut,
                           d.text.size());
            d.text.resize(cut);
            d.expect = expect_truncated(layout, cut);
            break;
        }
        case Damage::huge_face: {
            // the largest count a line can hold, and the file ends after five of its edges
            write_geometry(text, mesh, style, nullptr);
            text.line("2147483647");
            text.line("3");
            text.line("0");
            for (int e = 1; e <= 5; ++e)
                text.int_line(e);
            d.expect = expect(mesh);
            d.expect.polygons = exactly(static_cast<std::int64_t>(mesh.faces()));
            d.expect.palette_count = exactly(0);
            break;
        }
        case Damage::huge_palette: {
            // LINE2 first, so that the file can end inside the palette
            write_geometry(text, mesh, style, nullptr);
            write_face_end(text, nullptr);
            write_lines(text, mesh, nullptr);
            write_scene_blocks(text);
            text.line("PALC0");
            text.line("2147483647");
            text.line("0");
            for (std::size_t i = 0; i < 3; ++i) {
                for (std::int32_t component : mesh.palette[i])
                    text.int_line(component);
                text.line("0");
            }
            d.expect = expect(mesh);
            d.expect.palette_count = exactly(2147483647);
            break;
        }
        case Damage::negative_count: {
            // a negative count lists no edge lines: the next line starts the next record, here
            // a valid face; the most negative count is last before "END00"
            const std::size_t begin = mesh.face_starts[0];
            const std::size_t end = mesh.face_starts[1];
            write_geometry(text, mesh, style, nullptr);
            text.line("-5");
            text.line("2");
            text.line("0");
            text.int_line(static_cast<std::int64_t>(end - begin));
            text.int_line(mesh.face_colours[0]);
            text.line("0");
            for (std::size_t k = begin; k < end; ++k)
                text.int_line(mesh.face_edges[k]);
            text.line("-2147483648");
            text.line("1");
            text.line("0");
            write_face_end(text, nullptr);
            write_palette(text, mesh, nullptr);
            write_scene_blocks(text);
            write_lines(text, mesh, nullptr);
            d.expect = expect(mesh);
            d.expect.polygons.lo += 1;
            d.expect.polygons.hi += 1;
            break;
        }
        case Damage::edge_range: {
            const auto past = static_cast<std::int32_t>(mesh.edges.size() + 1);
            const std::int32_t bad[] = {0, -1, past, 2147483647, -2147483647 - 1};
            for (std::int32_t edge : bad) {
                const std::int32_t face[] = {1, 2, edge, 3};
                add_face(mesh, 4, face);
                mesh.lines.push_back({edge, 6});
            }
            // a valid face and line after the bad ones still count
            const std::int32_t face[] = {mesh.face_edges[0], mesh.face_edges[1], mesh.face_edges[2],
                                         mesh.face_edges[3]};
            add_face(mesh, 7, face);
            mesh.lines.push_back(mesh.lines.front());
            write_rok(d.text, mesh, style);
            d.expect = expect(mesh);
            break;
        }
    }
    return d;
}

}  // namespace rokgen
