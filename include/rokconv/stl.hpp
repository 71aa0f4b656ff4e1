// Writing a Model as binary STL, the triangles 3D printing takes.
#pragma once

#include "rokconv/format.hpp"

namespace rokconv {

// The triangles of the binary glTF, with its winding, turned to Z up as slicers expect:
// (x, y, z) becomes (x, -z, y). Each facet's normal is its triangle's own. What glTF leaves out
// is left out, and so is every line, which STL cannot hold.
[[nodiscard]] SaveStatus save_stl(const Model& model, const Output& output,
                                  const SaveOptions& options = {}, LeftOut* left_out = nullptr);

}  // namespace rokconv
