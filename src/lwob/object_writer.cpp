#include <algorithm>

#include "format/counts.hpp"
#include "lwob/encode.hpp"
#include "lwob/writer.hpp"
#include "model/ring_walk.hpp"
#include "util/guarded.hpp"

namespace rokconv {

namespace {

// a polygon's vertex count is a U2
constexpr std::int32_t kMaxPolygonVertices = 65535;

// a vertex number: the 0-based point number, of which U2 keeps the low 16 bits
unsigned char* store_vertex(unsigned char* out, std::int32_t point) {
    return store_u2(out, static_cast<std::uint32_t>(point) - 1u);
}

// the vertices a face is written with: a face of one edge is drawn as a line, from its edge's
// first point to its second
std::size_t vertices(const Face& face) {
    return face.edge_count == 1 ? 2 : static_cast<std::size_t>(face.edge_count);
}

// Whether every face and line can be written, before any room is set aside from their counts:
// each face's edges lie within the reference table, and every reference and line within the
// edge table. On success pols is the size of the POLS contents.
SaveStatus check_model(const Model& model, std::size_t& pols) {
    pols = 8 * model.lines.size();
    // one compare a reference, and no branch on it
    bool in_table = true;
    for (const std::uint32_t ref : model.edge_refs)
        in_table &= ref < model.edges.size();
    for (const Line& line : model.lines)
        in_table &= line.edge < model.edges.size();
    if (!in_table) return SaveStatus::invalid_model;
    for (const Face& face : model.faces) {
        // face_edges' test, inline: this loop runs for every face
        if (face.edge_count < 0 || face.first_ref > model.edge_refs.size() ||
            model.edge_refs.size() - face.first_ref < static_cast<std::size_t>(face.edge_count)) {
            return SaveStatus::invalid_model;
        }
        if (face.edge_count > kMaxPolygonVertices) return SaveStatus::too_large;
        // a count, the vertex numbers and a surface number, each a U2
        pols += 4 + 2 * vertices(face);
    }
    return SaveStatus::ok;
}

// the highest vertex number of those given, before U2 keeps its low 16 bits
struct HighestVertex {
    std::uint32_t highest = 0;
    void operator()(std::int32_t point) {
        highest = std::max(highest, static_cast<std::uint32_t>(point) - 1u);
    }
};

// counts entry i in o when its highest vertex number does not fit a U2
void note_wrapped(Omission& o, const HighestVertex& h, std::size_t i) {
    if (h.highest <= 0xFFFF) return;
    if (o.count++ == 0) o.first = i;
}

void tally_wrapped(const LwobWrapped& wrapped, const LoadReport* report, LeftOut& left_out) {
    left_out.faces_point_past_65536 = tally(wrapped.faces, report, &LoadReport::face_line);
    left_out.lines_point_past_65536 = tally(wrapped.lines, report, &LoadReport::line_line);
}

// Each face and line: U2 vertex count, the U2 vertex numbers, U2 surface number. With Count,
// also the faces and lines whose vertex numbers do not fit (a separate copy, so that the plain
// one does no more than write).
template <bool Count>
bool store_polygons(unsigned char* w, unsigned char* const end, const Model& model,
                    const SurfaceTable& surfaces, LwobWrapped* wrapped) {
    for (const Face& face : model.faces) {
        const std::size_t n = vertices(face);
        if (static_cast<std::size_t>(end - w) < 4 + 2 * n) return false;
        w = store_u2(w, static_cast<std::uint32_t>(n));
        HighestVertex high;
        if (face.edge_count == 1) {
            const Edge& e = model.edges[model.edge_refs[face.first_ref]];
            w = store_vertex(store_vertex(w, e.first), e.second);
            if constexpr (Count) high(e.first), high(e.second);
        } else {
            unsigned char* v = w;
            (void)walk_ring<false>(model, face, [&](std::int32_t point) {
                v = store_vertex(v, point);
                if constexpr (Count) high(point);
            });
            w = v;
        }
        if constexpr (Count) {
            note_wrapped(wrapped->faces, high, static_cast<std::size_t>(&face - &model.faces[0]));
        }
        w = store_u2(w, surface_of(surfaces, face.colour));
    }
    for (const Line& line : model.lines) {
        if (end - w < 8) return false;
        const Edge& e = model.edges[line.edge];
        w = store_vertex(store_vertex(store_u2(w, 2), e.first), e.second);
        w = store_u2(w, surface_of(surfaces, line.colour));
        if constexpr (Count) {
            HighestVertex high;
            high(e.first), high(e.second);
            note_wrapped(wrapped->lines, high, static_cast<std::size_t>(&line - &model.lines[0]));
        }
    }
    return w == end;
}

SaveStatus save(const Model& model, ByteSink& out, LwobWrapped* wrapped) {
    std::size_t pols = 0;
    if (const SaveStatus checked = check_model(model, pols); checked != SaveStatus::ok) {
        return checked;
    }
    // Every size is known from the model, so the FORM's buffer is made large enough at once
    // and never copied to grow.
    constexpr std::size_t kNames = kColourSlots * 8;                // at most "ROK15" and a zero
    constexpr std::size_t kSurfaces = kColourSlots * (8 + 8 + 60);  // tag, length, name, contents
    const std::size_t form_size = 4 + 3 * 8 + kNames + 12 * model.points.size() + pols + kSurfaces;

    Chunk form;
    chunk_open_top(form, "FORM", out);
    form.buffer.reserve(form_size + 8);  // room to put the FORM's tag and length in front
    chunk_append(form, "LWOB", 4);
    const SurfaceTable surfaces = number_surfaces(model);
    // only colours with a palette entry get a name and a SURF chunk
    const auto named =
        static_cast<int>(std::min<std::size_t>(usable_palette(model).size(), kColourSlots));

    bool fits = true;
    Chunk child;
    chunk_open_child(child, "SRFS", form);
    for (int i = 0; i < named; ++i) {
        if (surfaces.colour_used[i]) append_surface_name(child.buffer, i);
    }
    fits &= chunk_close(child);

    // PNTS and POLS are written in place in the FORM, as their lengths are known. Points are
    // scaled by 8 with the second axis reversed; each product is formed in double and rounded
    // to the nearest float.
    const std::size_t pnts = 12 * model.points.size();
    unsigned char* w = chunk_place_child(form, "PNTS", pnts);
    if (w == nullptr) return SaveStatus::too_large;
    for (const Point& p : model.points) {
        for (const double v : {p.x * 8.0, p.y * -8.0, p.z * 8.0})
            w = store_f4(w, static_cast<float>(v));
    }
    if (w != form.buffer.data() + form.buffer.size()) return SaveStatus::invalid_model;

    w = chunk_place_child(form, "POLS", pols);
    if (w == nullptr) return SaveStatus::too_large;
    if (!(wrapped != nullptr ? store_polygons<true>(w, w + pols, model, surfaces, wrapped)
                             : store_polygons<false>(w, w + pols, model, surfaces, nullptr))) {
        return SaveStatus::invalid_model;
    }

    for (int i = 0; i < named; ++i) {
        if (surfaces.colour_used[i]) {
            fits &= write_surface(form, child, i, model.palette[static_cast<std::size_t>(i)]);
        }
    }
    fits &= chunk_close(form);
    return fits ? SaveStatus::ok : SaveStatus::too_large;
}

}  // namespace

SurfaceTable number_surfaces(const Model& model) {
    SurfaceTable table;
    bool unslotted = false;
    auto use = [&](std::int32_t colour) {
        if (colour >= 0 && colour < kColourSlots) {
            table.colour_used[colour] = true;
        } else {
            unslotted = true;
        }
    };
    for (const Face& face : model.faces)
        use(face.colour);
    for (const Line& line : model.lines)
        use(line.colour);
    std::uint16_t counter = 0;
    for (int i = 0; i < kColourSlots; ++i) {
        if (table.colour_used[i]) table.surface_number[i] = ++counter;
    }
    if (unslotted) table.unslotted_surface = ++counter;
    return table;
}

SaveStatus save_lwob(const Model& model, const Output& output, const SaveOptions& options,
                     LeftOut* left_out) {
    return guarded(output, [&] {
        LwobWrapped wrapped;
        std::vector<unsigned char> whole;
        ByteSink& out = output.file.bytes != nullptr ? *output.file.bytes : whole;
        const SaveStatus saved = save(model, out, left_out != nullptr ? &wrapped : nullptr);
        if (saved != SaveStatus::ok) return saved;
        if (left_out != nullptr) tally_wrapped(wrapped, options.report, *left_out);
        if (output.file.bytes == nullptr) put(output.file, whole);
        return SaveStatus::ok;
    });
}

SaveStatus count_lwob(const Model& model, const SaveOptions& options, LeftOut& left_out) {
    return guarded(Output{}, [&] {
        std::size_t pols = 0;
        if (const SaveStatus checked = check_model(model, pols); checked != SaveStatus::ok) {
            return checked;
        }
        LwobWrapped wrapped;
        for (const Face& face : model.faces) {
            HighestVertex high;
            if (face.edge_count == 1) {
                const Edge& e = model.edges[model.edge_refs[face.first_ref]];
                high(e.first), high(e.second);
            } else {
                (void)walk_ring<false>(model, face, [&](std::int32_t point) { high(point); });
            }
            note_wrapped(wrapped.faces, high, static_cast<std::size_t>(&face - &model.faces[0]));
        }
        for (const Line& line : model.lines) {
            const Edge& e = model.edges[line.edge];
            HighestVertex high;
            high(e.first), high(e.second);
            note_wrapped(wrapped.lines, high, static_cast<std::size_t>(&line - &model.lines[0]));
        }
        tally_wrapped(wrapped, options.report, left_out);
        return SaveStatus::ok;
    });
}

}  // namespace rokconv
