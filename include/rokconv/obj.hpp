// Writing a Model as Wavefront OBJ, with its materials in an MTL file.
#pragma once

#include <string_view>
#include <vector>

#include "rokconv/model.hpp"
#include "rokconv/omitted.hpp"
#include "rokconv/sink.hpp"
#include "rokconv/status.hpp"

namespace rokconv {

// Appends the OBJ text of model to obj and its material library to mtl; the OBJ names the
// library mtl_name, a file beside it. Positions are the LWOB ones with Z negated and each face
// keeps its ring, reversed: OBJ is right-handed and its fronts run counter-clockwise. Faces of
// 3 or more points are faces with smoothed normals, faces of 2 points and lines are line
// elements; faces naming a point outside the point table or one whose position is not finite
// are left out and counted in omitted, if given. Each used palette colour 0-15 with a palette
// entry is a material "ROK<index>"; anything else takes the material "default".
[[nodiscard]] SaveStatus save_obj(const Model& model, std::string_view mtl_name,
                                  std::vector<unsigned char>& obj, std::vector<unsigned char>& mtl,
                                  Omitted* omitted = nullptr);

// The same, the OBJ text handed to obj as it is made. On any status but ok, what obj was given
// is not a whole file.
[[nodiscard]] SaveStatus save_obj(const Model& model, std::string_view mtl_name, OutputSink obj,
                                  std::vector<unsigned char>& mtl, Omitted* omitted = nullptr);

}  // namespace rokconv
