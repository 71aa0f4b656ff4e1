// What a damaged ROK file lost: the reader's repairs and omissions, and what the model it gave
// holds that no output can show as written, each counted with where it first happened.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "rokconv/model.hpp"
#include "rokconv/rok.hpp"

namespace rokconv {

// how often something happened, and the 1-based line of the file where the first one began
// (0 while count is 0, or where the line is not known)
struct Tally {
    std::uint64_t count = 0;
    std::uint64_t first_line = 0;
    friend bool operator==(const Tally&, const Tally&) = default;
};

// the parts of a ROK file, in the order the reader meets them
enum class RokBlock { header, points, edges, faces, palette, background, light, view, lines };

struct LoadReport {
    // The file ended inside a block (before its closing keyword) or inside a record; cut_in names
    // that block (header: before the "POINT" line) and cut_line is the file's last line.
    bool cut_short = false;
    RokBlock cut_in = RokBlock::header;
    std::uint64_t cut_line = 0;
    Tally faces_edge_outside;  // faces left out: an edge number outside the edge table
    Tally faces_bad_count;     // faces left out: a negative edge count, or more than kMaxFaceEdges
    Tally lines_edge_outside;  // LINE2 records left out: an edge number outside the edge table
    std::uint64_t lines = 0;   // the lines the file holds
    // the line where each kept face's record begins, one a Model::faces entry
    std::vector<std::uint64_t> face_line;
    // the line where each kept LINE2 record begins, one a Model::lines entry
    std::vector<std::uint64_t> line_line;
    friend bool operator==(const LoadReport&, const LoadReport&) = default;
};

// load_rok, also filling report, which must be empty. Counting lines costs some speed, so the
// plain load_rok does not. A file that is not ROK leaves the report empty.
[[nodiscard]] LoadStatus load_rok(std::span<const unsigned char> bytes, Model& model,
                                  LoadReport& report);
[[nodiscard]] LoadStatus load_rok(const RokInput& input, Model& model, LoadReport& report);

// What a model read from a file holds that its outputs cannot show as it is. A first_line comes
// from the report's face_line or line_line; without a report the lines stay 0.
struct Findings {
    Tally faces_open_ring;      // faces whose edges do not close into one ring
    Tally faces_no_surface;     // faces whose colour has no surface (no usable palette entry 0-15)
    Tally lines_no_surface;     // lines whose colour has none
    Tally faces_point_outside;  // faces naming a point outside the point table
    Tally lines_point_outside;  // lines naming one
    std::vector<std::int32_t> colours;  // the colours the faces and lines use, ascending, once each
};

enum class ExamineStatus {
    ok,
    out_of_memory,  // the findings cover only what came before
};

// Examines a model as the reader leaves it, into findings (see SaveStatus::invalid_model for what
// else a model may hold; such faces are counted as open rings and naming points outside). The
// faces of a large model are shared among up to threads threads: 1 starts none, 0 one a core.
[[nodiscard]] ExamineStatus examine(const Model& model, Findings& findings,
                                    const LoadReport* report = nullptr, unsigned threads = 0);

}  // namespace rokconv
