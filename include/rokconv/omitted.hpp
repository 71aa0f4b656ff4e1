// What the OBJ and glTF writers leave out of a damaged model, counted for diagnostics.
#pragma once

#include <cstddef>

namespace rokconv {

struct Omitted {
    std::size_t faces_outside = 0;  // faces naming a point outside the point table
    std::size_t lines_outside = 0;  // lines naming such a point
    // faces and lines using a point whose scaled position is not a finite single-precision value
    std::size_t faces_not_finite = 0;
    std::size_t lines_not_finite = 0;
    // faces without area: in glTF, fewer than 3 distinct points or all on one line; in OBJ,
    // faces of no points
    std::size_t faces_without_area = 0;
};

}  // namespace rokconv
