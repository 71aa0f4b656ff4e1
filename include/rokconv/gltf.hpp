// Writing a Model as glTF 2.0: binary (one .glb file), or JSON with its buffer beside it.
#pragma once

#include <string_view>
#include <vector>

#include "rokconv/model.hpp"
#include "rokconv/omitted.hpp"
#include "rokconv/sink.hpp"
#include "rokconv/status.hpp"

namespace rokconv {

// Appends the binary glTF of model to out. Positions are the LWOB ones with Z negated; each face
// is triangulated within its ring, reversed, and carries smoothed normals; lines are LINES
// primitives. Faces without area, and faces and lines naming a point outside the point table or
// one whose position is not finite, are left out and counted in omitted, if given. Each used
// palette colour 0-15 with a palette entry is a material "ROK<index>"; anything else has none.
[[nodiscard]] SaveStatus save_glb(const Model& model, std::vector<unsigned char>& out,
                                  Omitted* omitted = nullptr);

// The same, the file handed to out as it is made. On any status but ok, what out was given is
// not a whole file.
[[nodiscard]] SaveStatus save_glb(const Model& model, OutputSink out, Omitted* omitted = nullptr);

// The same as JSON text in gltf, whose buffer is bin; the JSON refers to it as the file bin_name
// beside it, percent-encoded as a URI.
[[nodiscard]] SaveStatus save_gltf(const Model& model, std::string_view bin_name,
                                   std::vector<unsigned char>& gltf,
                                   std::vector<unsigned char>& bin, Omitted* omitted = nullptr);

}  // namespace rokconv
