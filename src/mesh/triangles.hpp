// The faces cut into triangles, as glTF and STL hold them.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "mesh/scene.hpp"

namespace rokconv {

// the colour of what has no material, last
inline constexpr std::size_t kNoColour = kPaletteEntries;

// each colour's triangles, three corners each, kNoColour's for those without a material
using ColourLists = std::array<std::vector<std::uint32_t>, kNoColour + 1>;

// the colour whose triangles and lines a material's are, kNoColour for none
inline std::size_t colour_of(const Scene& scene, std::int32_t material) {
    return material < 0 ? kNoColour
                        : static_cast<std::size_t>(
                              scene.materials[static_cast<std::size_t>(material)].colour);
}

// Cuts each face into triangles within its ring as build_scene shapes it, a share of the faces
// a thread: each share's triangles go into its own ColourLists, by corner, each running the way
// its ring does. A face of 2 corners, or one without area, gets none and is left out.
class FaceCutting {
  public:
    // shares: one a thread, as the scene will have them
    FaceCutting(const Scene& scene, std::vector<ColourLists>& shares, unsigned threads);
    ~FaceCutting();
    FaceCutting(const FaceCutting&) = delete;
    FaceCutting& operator=(const FaceCutting&) = delete;

    std::span<FaceSink* const> sinks() const { return sinks_; }
    // once the faces are shaped: those without area counted into the scene's omissions
    void finish(Scene& scene) const;

  private:
    class Cutter;
    std::vector<Cutter> cutters_;
    std::vector<FaceSink*> sinks_;
};

// The scene of a model with its faces cut into triangles and not smoothed, for a format of flat
// facets: build_scene with FaceCutting's sinks. False for a model whose faces' edges lie outside
// its tables.
[[nodiscard]] bool cut_faces(const Model& model, unsigned threads, Pipeline& pipeline,
                             std::vector<ColourLists>& shares);

}  // namespace rokconv
