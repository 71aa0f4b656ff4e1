// Writing a Model as Wavefront OBJ, with its materials in an MTL file.
#pragma once

#include "rokconv/format.hpp"

namespace rokconv {

// The OBJ text of model to output.file and its material library to output.beside, which the OBJ
// names output.beside_name. Positions are the LWOB ones with Z negated and each face keeps its
// ring, reversed: OBJ is right-handed and its fronts run counter-clockwise. Faces of 3 or more
// points are polygons with smoothed normals, faces of 2 points and lines are line elements;
// faces naming a point outside the point table or one whose position is not finite are left out.
// Each used palette colour 0-15 with a palette entry is a material "ROK<index>"; anything else
// takes the material "default".
[[nodiscard]] SaveStatus save_obj(const Model& model, const Output& output,
                                  const SaveOptions& options = {}, LeftOut* left_out = nullptr);

}  // namespace rokconv
