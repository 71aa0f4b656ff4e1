// What a model read from a damaged ROK file holds that no output can show as written, each
// counted with where it first happened (the reader's repairs are its LoadReport, rok.hpp).
#pragma once

#include <cstdint>
#include <vector>

#include "rokconv/model.hpp"
#include "rokconv/rok.hpp"

namespace rokconv {

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
