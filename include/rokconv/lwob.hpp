// Writing a Model as a LightWave object: an IFF FORM of type LWOB.
#pragma once

#include "rokconv/format.hpp"

namespace rokconv {

// The whole LWOB file for model. Points are scaled by 8 with the second axis reversed; each
// face becomes a polygon of its ring (a face of one edge, and each line, a two-point polygon);
// each used palette colour 0-15 becomes a surface named "ROK<index>". Vertex numbers keep the
// low 16 bits of the point number less one; the faces and lines where that changes a number are
// counted in left_out. Made whole before it is handed on.
[[nodiscard]] SaveStatus save_lwob(const Model& model, const Output& output,
                                   const SaveOptions& options = {}, LeftOut* left_out = nullptr);

}  // namespace rokconv
