// Writing a Model as a LightWave object: an IFF FORM of type LWOB.
#pragma once

#include <vector>

#include "rokconv/model.hpp"
#include "rokconv/status.hpp"

namespace rokconv {

// Appends the whole LWOB file for model to out. Points are scaled by 8 with the second axis
// reversed; each face becomes a polygon of its ring (a face of one edge, and each line, a
// two-point polygon); each used palette colour 0-15 becomes a surface named "ROK<index>".
// Vertex numbers keep the low 16 bits of the point number less one. On failure out is as it
// was.
[[nodiscard]] SaveStatus save_lwob(const Model& model, std::vector<unsigned char>& out);

}  // namespace rokconv
