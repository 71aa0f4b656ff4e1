#include <array>

#include "format/counts.hpp"
#include "rokconv/gltf.hpp"
#include "rokconv/lwob.hpp"
#include "rokconv/obj.hpp"
#include "rokconv/stl.hpp"

namespace rokconv {

namespace {

// what the formats made of the scene leave out
constexpr LeftOutKind kSceneLeftOut[] = {
    {"faces_point_outside", "faces naming a point outside the point table",
     &LeftOut::faces_point_outside},
    {"lines_point_outside", "lines naming a point outside the point table",
     &LeftOut::lines_point_outside},
    {"faces_not_finite", "faces using a point whose position is not a finite number",
     &LeftOut::faces_not_finite},
    {"lines_not_finite", "lines using a point whose position is not a finite number",
     &LeftOut::lines_not_finite},
    {"faces_without_area", "faces without area", &LeftOut::faces_without_area},
};

constexpr LeftOutKind kStlLeftOut[] = {
    kSceneLeftOut[0], kSceneLeftOut[1],
    kSceneLeftOut[2], kSceneLeftOut[3],
    kSceneLeftOut[4], {"lines", "lines, which STL cannot hold", &LeftOut::lines_not_held},
};

// LWOB draws every face and line, but cannot number the vertices past 16 bits
constexpr LeftOutKind kLwobLeftOut[] = {
    {"faces_point_past_65536", "faces using a point past the 65,536th",
     &LeftOut::faces_point_past_65536},
    {"lines_point_past_65536", "lines using a point past the 65,536th",
     &LeftOut::lines_point_past_65536},
};

constexpr FormatInfo kFormats[] = {
    {Format::lwo, "lwo", ".LWO", "", "a LightWave object, NAME.LWO (the default)", "LWOB", "lwo",
     "drawn wrongly in", kLwobLeftOut, false, true, &save_lwob, &count_lwob},
    {Format::obj, "obj", ".obj", ".mtl", "Wavefront OBJ, NAME.obj with its materials in NAME.mtl",
     "OBJ", "obj", "left out of", kSceneLeftOut, true, true, &save_obj, &count_obj},
    {Format::glb, "glb", ".glb", "", "binary glTF 2.0, NAME.glb", "glTF", "gltf", "left out of",
     kSceneLeftOut, true, true, &save_glb, &count_gltf},
    {Format::gltf, "gltf", ".gltf", ".bin",
     "glTF 2.0 as JSON, NAME.gltf with its buffer in NAME.bin", "glTF", "gltf", "left out of",
     kSceneLeftOut, false, false, &save_gltf, &count_gltf},
    {Format::stl, "stl", ".stl", "", "binary STL for 3D printing, NAME.stl", "STL", "stl",
     "left out of", kStlLeftOut, true, false, &save_stl, &count_stl},
};

}  // namespace

Output to_bytes(std::vector<unsigned char>& file, std::vector<unsigned char>* beside,
                std::string_view beside_name) {
    return Output{{&file, {}}, {beside, {}}, beside_name};
}

std::span<const FormatInfo> formats() {
    return kFormats;
}

const FormatInfo& format_info(Format format) {
    for (const FormatInfo& row : kFormats) {
        if (row.format == format) return row;
    }
    return kFormats[0];
}

SaveStatus save(const Model& model, Format format, const Output& output, const SaveOptions& options,
                LeftOut* left_out) {
    return format_info(format).save(model, output, options, left_out);
}

SaveStatus count_left_out(const Model& model, Format format, LeftOut& left_out,
                          const SaveOptions& options) {
    return format_info(format).count(model, options, left_out);
}

}  // namespace rokconv
