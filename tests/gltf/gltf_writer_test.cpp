#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <nlohmann/json.hpp>
#include <string>
#include <utility>
#include <vector>

#include "models.hpp"
#include "rokconv/gltf.hpp"
#include "rokconv/rok.hpp"
#include "rokgen.hpp"

namespace rokconv {
namespace {

using Json = nlohmann::json;

// a binary glTF taken apart: its JSON, and the data of an accessor as numbers
struct Glb {
    Json json;
    std::vector<unsigned char> bin;

    explicit Glb(const std::vector<unsigned char>& file) {
        auto u32 = [&](std::size_t at) {
            std::uint32_t v;
            std::memcpy(&v, file.data() + at, 4);
            return v;
        };
        EXPECT_EQ(std::string(file.begin(), file.begin() + 4), "glTF");
        EXPECT_EQ(u32(8), file.size());
        const std::uint32_t json_size = u32(12);
        json = Json::parse(file.begin() + 20, file.begin() + 20 + json_size);
        if (file.size() > 20 + json_size) {
            bin.assign(file.begin() + 28 + json_size, file.end());
            EXPECT_EQ(u32(20 + json_size), bin.size());
        }
    }

    // every component of an accessor, as doubles
    std::vector<double> values(int accessor) const {
        const Json& a = json["accessors"][accessor];
        const int type = a["componentType"];
        const std::size_t size = type == 5123 ? 2 : 4;
        const unsigned char* p =
            bin.data() +
            json["bufferViews"][a["bufferView"].get<int>()]["byteOffset"].get<std::size_t>();
        std::vector<double> out(a["count"].get<std::size_t>() * (a["type"] == "VEC3" ? 3 : 1));
        for (double& value : out) {
            float f = 0;
            std::uint32_t u = 0;
            std::memcpy(type == 5126 ? static_cast<void*>(&f) : &u, p, size);
            value = type == 5126 ? f : u;
            p += size;
        }
        return out;
    }
};

// the model's glb; what it leaves out, placed by numbered_lines, into left_out if given
Glb glb_of(const Model& m, LeftOut* left_out = nullptr) {
    std::vector<unsigned char> out;
    const LoadReport lines = numbered_lines(m);
    EXPECT_EQ(save_glb(m, to_bytes(out), {1, &lines}, left_out), SaveStatus::ok);
    if (left_out != nullptr) {
        LeftOut counted;
        EXPECT_EQ(count_left_out(m, Format::glb, counted, {1, &lines}), SaveStatus::ok);
        EXPECT_EQ(counted.faces_without_area, left_out->faces_without_area);
        EXPECT_EQ(counted.faces_point_outside, left_out->faces_point_outside);
    }
    return Glb(out);
}

TEST(SaveGlb, OneTriangleInTheRightHandedFrame) {
    const Glb g = glb_of(model_of({{0, 0, 0.25}, {1, 0, 0.25}, {0, 1, 0.25}},
                                  {{1, 2}, {2, 3}, {3, 1}}, {{1, 2, 3}}));
    const Json& primitive = g.json["meshes"][0]["primitives"][0];
    EXPECT_EQ(primitive["mode"], 4);
    EXPECT_EQ(primitive["material"], 0);
    // the vertices by point, the triangle running the ring backwards: 3, 2, 1
    EXPECT_EQ(g.values(primitive["attributes"]["POSITION"]),
              (std::vector<double>{0, -0.0, -2, 8, -0.0, -2, 0, -8, -2}));
    EXPECT_EQ(g.values(primitive["indices"]), (std::vector<double>{2, 1, 0}));
    EXPECT_EQ(g.values(primitive["attributes"]["NORMAL"]),
              (std::vector<double>{0, 0, 1, 0, 0, 1, 0, 0, 1}));
    const Json& position = g.json["accessors"][primitive["attributes"]["POSITION"].get<int>()];
    EXPECT_EQ(position["min"], Json({0, -8, -2}));
    EXPECT_EQ(position["max"], Json({8, 0, -2}));
    const Json& material = g.json["materials"][0];
    EXPECT_EQ(material["name"], "ROK0");
    EXPECT_EQ(material["pbrMetallicRoughness"]["baseColorFactor"], Json({1, 0, 0, 1}));
    EXPECT_EQ(material["doubleSided"], true);
}

// A collinear face, one of no edges and one past the point table are left out, counted, and the
// first of each named by its index in the model. (How faces are cut is the triangulation
// tests' matter; that the writer cuts quads at all, IndexWidth's.)
TEST(SaveGlb, FacesWithoutArea) {
    LeftOut omitted;
    // the collinear face comes first but is found after the empty one
    const Glb line = glb_of(
        model_of({{0, 0, 0}, {1, 1, 1}, {2, 2, 2}}, {{1, 2}, {2, 3}, {3, 1}}, {{1, 2, 3}, {}}),
        &omitted);
    EXPECT_FALSE(line.json.contains("meshes"));
    EXPECT_EQ(omitted.faces_without_area, (Tally{2, 100}));
    const Glb outside =
        glb_of(model_of({{0, 0, 0}}, {{1, 2}, {2, 3}, {3, 1}}, {{}, {1, 2, 3}}), &omitted);
    EXPECT_EQ(omitted.faces_point_outside, (Tally{1, 101}));
    const Glb empty = glb_of(Model{});
    EXPECT_FALSE(empty.json.contains("buffers"));
    EXPECT_EQ(empty.json["scenes"].size(), 1u);
}

// A primitive's indices are uint16 while every one is below 65,535, uint32 past it. The file
// handed on piece by piece, from blocks made on several threads for the larger model, is the
// one made whole.
TEST(SaveGlb, IndexWidth) {
    for (const std::size_t points : {100u, 70000u}) {
        std::string text;
        rokgen::write_rok(text, rokgen::make_grid(points, 1));
        Model m;
        ASSERT_EQ(load_rok({reinterpret_cast<const unsigned char*>(text.data()), text.size()}, m),
                  LoadStatus::ok);
        const Glb g = glb_of(m);
        bool wide = false;
        for (const Json& primitive : g.json["meshes"][0]["primitives"]) {
            const std::vector<double> indices = g.values(primitive["indices"]);
            const bool fits = *std::max_element(indices.begin(), indices.end()) <= 65534;
            EXPECT_EQ(g.json["accessors"][primitive["indices"].get<int>()]["componentType"],
                      fits ? 5123 : 5125);
            wide = wide || !fits;
        }
        EXPECT_EQ(wide, points > 65535);
    }
}

}  // namespace
}  // namespace rokconv
