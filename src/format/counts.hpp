// Each format's count of what it leaves out of a model, writing nothing: the table's
// CountFunction for it.
#pragma once

#include "rokconv/format.hpp"

namespace rokconv {

[[nodiscard]] SaveStatus count_lwob(const Model& model, const SaveOptions& options,
                                    LeftOut& left_out);
[[nodiscard]] SaveStatus count_obj(const Model& model, const SaveOptions& options,
                                   LeftOut& left_out);
[[nodiscard]] SaveStatus count_gltf(const Model& model, const SaveOptions& options,
                                    LeftOut& left_out);
[[nodiscard]] SaveStatus count_stl(const Model& model, const SaveOptions& options,
                                   LeftOut& left_out);

}  // namespace rokconv
