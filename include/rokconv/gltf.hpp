// Writing a Model as glTF 2.0: binary (one .glb file), or JSON with its buffer beside it.
#pragma once

#include "rokconv/format.hpp"

namespace rokconv {

// The binary glTF of model. Positions are the LWOB ones with Z negated; each face is
// triangulated within its ring, reversed, and carries smoothed normals; lines are LINES
// primitives. Faces without area, and faces and lines naming a point outside the point table or
// one whose position is not finite, are left out. Each used palette colour 0-15 with a palette
// entry is a material "ROK<index>"; anything else has none.
[[nodiscard]] SaveStatus save_glb(const Model& model, const Output& output,
                                  const SaveOptions& options = {}, LeftOut* left_out = nullptr);

// The same as JSON text, whose buffer goes to output.beside; the JSON refers to it as the file
// output.beside_name beside it, percent-encoded as a URI.
[[nodiscard]] SaveStatus save_gltf(const Model& model, const Output& output,
                                   const SaveOptions& options = {}, LeftOut* left_out = nullptr);

}  // namespace rokconv
