// Writing a Model as a LightWave object: an IFF FORM of type LWOB.
#pragma once

#include <vector>

#include "rokconv/model.hpp"

namespace rokconv {

enum class SaveStatus {
    ok,
    invalid_model,  // a face or line refers past the model's tables, or has a negative edge count
    too_large,      // a face of more than 65,535 edges, or a chunk past 4 GiB: LWOB cannot hold it
    out_of_memory,
};

// Appends the whole LWOB file for model to out. Points are scaled by 8 with the second axis
// reversed; each face becomes a polygon of its ring (a face of one edge, and each line, a
// two-point polygon); each used palette colour 0-15 becomes a surface named "ROK<index>".
// Vertex numbers keep the low 16 bits of the point number less one. On failure out is as it
// was.
[[nodiscard]] SaveStatus save_lwob(const Model& model, std::vector<unsigned char>& out);

}  // namespace rokconv
