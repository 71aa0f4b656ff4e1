// What the OBJ and glTF writers leave out of a damaged model, counted for diagnostics.
#pragma once

#include <cstddef>

namespace rokconv {

// how many were left out, and the first of them: an index into Model::faces for faces, into
// Model::lines for lines (0 while count is 0)
struct Omission {
    std::size_t count = 0;
    std::size_t first = 0;
};

struct Omitted {
    Omission faces_outside;  // faces naming a point outside the point table
    Omission lines_outside;  // lines naming such a point
    // faces and lines using a point whose scaled position is not a finite single-precision value
    Omission faces_not_finite;
    Omission lines_not_finite;
    // faces without area: in glTF, fewer than 3 distinct points or all on one line; in OBJ,
    // faces of no points
    Omission faces_without_area;
};

}  // namespace rokconv
