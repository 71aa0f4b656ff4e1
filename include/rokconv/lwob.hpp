// Writing a Model as a LightWave object: an IFF FORM of type LWOB.
#pragma once

#include <vector>

#include "rokconv/model.hpp"
#include "rokconv/omitted.hpp"
#include "rokconv/status.hpp"

namespace rokconv {

// The faces and lines that LWOB draws between other points than the model's: a vertex number is
// a U2, which keeps only the low 16 bits of one past 65,535.
struct LwobWrapped {
    Omission faces;
    Omission lines;
};

// Appends the whole LWOB file for model to out. Points are scaled by 8 with the second axis
// reversed; each face becomes a polygon of its ring (a face of one edge, and each line, a
// two-point polygon); each used palette colour 0-15 becomes a surface named "ROK<index>".
// Vertex numbers keep the low 16 bits of the point number less one; the faces and lines where
// that changes a number are counted in wrapped, if given. On failure out is as it was.
[[nodiscard]] SaveStatus save_lwob(const Model& model, std::vector<unsigned char>& out,
                                   LwobWrapped* wrapped = nullptr);

}  // namespace rokconv
