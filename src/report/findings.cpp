// examine(): what a model holds that its outputs cannot show as it is.
#include <algorithm>
#include <new>
#include <stdexcept>
#include <utility>

#include "model/look.hpp"
#include "model/ring_walk.hpp"
#include "rokconv/report.hpp"
#include "util/parallel.hpp"

namespace rokconv {

namespace {

void note(Tally& tally, std::uint64_t line) {
    if (tally.count++ == 0) tally.first_line = line;
}

// the line the report gives for entry i of a table, else 0
std::uint64_t line_of(const std::vector<std::uint64_t>* lines, std::size_t i) {
    return lines != nullptr && i < lines->size() ? (*lines)[i] : 0;
}

bool point_outside(const Model& model, std::int32_t point) {
    return static_cast<std::uint64_t>(std::int64_t{point} - 1) >= model.points.size();
}

// what a range of the faces holds, examined apart from the others
struct Part {
    Findings f;
    bool slot[kPaletteEntries] = {};  // the colours 0-15 met; any other is in f.colours
    bool failed = false;              // memory ran out: it covers only the faces before
};

void use(Part& part, std::int32_t colour) {
    if (colour >= 0 && colour < kPaletteEntries) {
        part.slot[colour] = true;
    } else {
        part.f.colours.push_back(colour);
    }
}

void examine_faces(Part& part, const Model& model, const std::vector<std::uint64_t>* face_lines,
                   std::size_t begin, std::size_t end) {
    Findings& f = part.f;
    for (std::size_t i = begin; i < end; ++i) {
        const Face& face = model.faces[i];
        const std::uint64_t line = line_of(face_lines, i);
        use(part, face.colour);
        if (!has_look(model, face.colour)) note(f.faces_no_surface, line);
        // The points the outputs draw the face with: its ring, or for a face of one edge, drawn
        // as a line, that edge's two points. Only a ring can be open.
        bool outside = false;
        bool closed = true;
        const std::span<const std::uint32_t> refs = face_edges(model, face);
        bool drawn =
            face.edge_count >= 0 && refs.size() == static_cast<std::size_t>(face.edge_count);
        if (drawn && refs.size() == 1) {
            drawn = refs[0] < model.edges.size();
            if (drawn) {
                const Edge& e = model.edges[refs[0]];
                outside = point_outside(model, e.first) || point_outside(model, e.second);
            }
        } else if (drawn) {
            drawn = walk_ring(
                model, face, [&](std::int32_t p) { outside = outside || point_outside(model, p); },
                &closed);
        }
        if (!drawn) {
            // edges outside the model's tables: nothing can be drawn of it
            closed = false;
            outside = true;
        }
        if (!closed) note(f.faces_open_ring, line);
        if (outside) note(f.faces_point_outside, line);
    }
}

// later's tallies after those of f
void add(Tally& tally, const Tally& later) {
    if (later.count == 0) return;
    if (tally.count == 0) tally.first_line = later.first_line;
    tally.count += later.count;
}

void examine_into(Findings& f, const Model& model, const LoadReport* report, unsigned budget) {
    const auto* face_lines = report != nullptr ? &report->face_line : nullptr;
    const auto* line_lines = report != nullptr ? &report->line_line : nullptr;
    // the faces in ranges, side by side for a large model, put together in order
    const std::size_t faces = model.faces.size();
    const auto threads = static_cast<unsigned>(
        std::clamp<std::size_t>(faces, 1, threads_for(model.points.size(), budget)));
    std::vector<Part> parts(threads);
    run_on(threads, [&](unsigned t) {
        try {
            examine_faces(parts[t], model, face_lines, faces * t / threads,
                          faces * (t + 1) / threads);
        } catch (const std::bad_alloc&) {
            parts[t].failed = true;
        } catch (const std::length_error&) {
            parts[t].failed = true;
        }
    });
    Part all;
    for (const Part& part : parts) {
        for (Tally Findings::*tally : {&Findings::faces_open_ring, &Findings::faces_no_surface,
                                       &Findings::faces_point_outside})
            add(all.f.*tally, part.f.*tally);
        all.f.colours.insert(all.f.colours.end(), part.f.colours.begin(), part.f.colours.end());
        for (std::int32_t c = 0; c < kPaletteEntries; ++c)
            all.slot[c] = all.slot[c] || part.slot[c];
        all.failed = all.failed || part.failed;
        if (all.failed) break;
    }
    for (std::size_t i = 0; i < model.lines.size() && !all.failed; ++i) {
        const Line& l = model.lines[i];
        const std::uint64_t line = line_of(line_lines, i);
        use(all, l.colour);
        if (!has_look(model, l.colour)) note(all.f.lines_no_surface, line);
        if (l.edge >= model.edges.size() || point_outside(model, model.edges[l.edge].first) ||
            point_outside(model, model.edges[l.edge].second)) {
            note(all.f.lines_point_outside, line);
        }
    }
    for (std::int32_t c = 0; c < kPaletteEntries; ++c) {
        if (all.slot[c]) all.f.colours.push_back(c);
    }
    std::sort(all.f.colours.begin(), all.f.colours.end());
    all.f.colours.erase(std::unique(all.f.colours.begin(), all.f.colours.end()),
                        all.f.colours.end());
    f = std::move(all.f);
    if (all.failed) throw std::bad_alloc();
}

}  // namespace

ExamineStatus examine(const Model& model, Findings& findings, const LoadReport* report,
                      unsigned threads) {
    findings = Findings{};
    try {
        examine_into(findings, model, report, threads);
    } catch (const std::bad_alloc&) {
        return ExamineStatus::out_of_memory;
    } catch (const std::length_error&) {
        return ExamineStatus::out_of_memory;
    }
    return ExamineStatus::ok;
}

}  // namespace rokconv
