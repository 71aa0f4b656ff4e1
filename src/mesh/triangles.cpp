#include "mesh/triangles.hpp"

#include <algorithm>

#include "util/memory.hpp"

namespace rokconv {

class FaceCutting::Cutter final : public FaceSink {
  public:
    Cutter(const Scene& scene, ColourLists& out) : scene_(scene), out_(out) {}
    void share(std::size_t begin, std::size_t end) override {
        // each colour's triangles given room for n - 2 of a face of n corners: no list is copied
        // as it grows
        std::array<std::size_t, kNoColour + 1> room{};
        for (std::size_t f = begin; f < end; ++f) {
            const std::size_t n = scene_.face_start[f + 1] - scene_.face_start[f];
            room[colour_of(scene_, scene_.face_material[f])] +=
                3 * (std::max<std::size_t>(n, 2) - 2);
        }
        for (std::size_t c = 0; c <= kNoColour; ++c)
            reserve_large(out_[c], room[c]);
    }
    void face(std::size_t f, std::span<const Vec3> ring, const Vec3& normal) override {
        cut_.clear();
        // a face of 2 corners, or one without area, has no normal and gets no triangles
        if (!triangulate_ring(ring, normal, cut_)) {
            if (without_area.count++ == 0) without_area.first = f;
            return;
        }
        std::vector<std::uint32_t>& out = out_[colour_of(scene_, scene_.face_material[f])];
        const std::uint32_t first = scene_.face_start[f];
        for (const std::uint32_t k : cut_)
            out.push_back(first + k);
    }

    Omission without_area;  // by the scene's face

  private:
    const Scene& scene_;
    ColourLists& out_;
    std::vector<std::uint32_t> cut_;
};

FaceCutting::FaceCutting(const Scene& scene, std::vector<ColourLists>& shares, unsigned threads) {
    shares.resize(threads);
    cutters_.reserve(threads);
    for (unsigned t = 0; t < threads; ++t) {
        cutters_.emplace_back(scene, shares[t]);
        sinks_.push_back(&cutters_.back());
    }
}

FaceCutting::~FaceCutting() = default;

void FaceCutting::finish(Scene& scene) const {
    for (const Cutter& cutter : cutters_) {
        if (cutter.without_area.count == 0) continue;
        add(scene.omitted.faces_without_area,
            Omission{cutter.without_area.count, face_of(scene, cutter.without_area.first)});
    }
}

bool cut_faces(const Model& model, unsigned threads, Pipeline& pipeline,
               std::vector<ColourLists>& shares) {
    const FaceCutting cutting(pipeline.scene, shares, threads);
    PipelineHooks hooks;
    hooks.sinks = cutting.sinks();
    hooks.smooth = false;
    if (!build_scene(model, threads, hooks, pipeline)) return false;
    cutting.finish(pipeline.scene);
    return true;
}

}  // namespace rokconv
