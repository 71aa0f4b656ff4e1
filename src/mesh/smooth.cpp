#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <memory>
#include <numbers>
#include <set>

#include "mesh/mesh.hpp"
#include "mesh/vector.hpp"

namespace rokconv {

using namespace geometry;

namespace {

// ---- smoothing ----

// a face's normal at a point and its angle there
struct Weighted {
    D3 normal;
    double weight = 0.0;
};

// Up to this many corners of a group at a point are tested in pairs; beyond, through a tree.
constexpr std::size_t kPairwiseSmooth = 32;

// A node of a k-d tree over weighted normals: the box and weighted sum of items[begin, end),
// and its two children, or none for a leaf.
struct TreeNode {
    D3 lo;
    D3 hi;
    D3 sum;
    std::uint32_t begin = 0;
    std::uint32_t end = 0;
    std::uint32_t left = kNone;
    std::uint32_t right = kNone;
};

constexpr std::uint32_t kTreeLeaf = 8;

std::uint32_t build_node(std::vector<TreeNode>& tree, std::span<Weighted> items,
                         std::uint32_t begin, std::uint32_t end) {
    TreeNode node;
    node.begin = begin;
    node.end = end;
    node.lo = node.hi = items[begin].normal;
    for (std::uint32_t k = begin; k < end; ++k) {
        const D3& n = items[k].normal;
        node.lo = {std::min(node.lo.x, n.x), std::min(node.lo.y, n.y), std::min(node.lo.z, n.z)};
        node.hi = {std::max(node.hi.x, n.x), std::max(node.hi.y, n.y), std::max(node.hi.z, n.z)};
        node.sum = node.sum + items[k].weight * n;
    }
    const auto at = static_cast<std::uint32_t>(tree.size());
    tree.push_back(node);
    if (end - begin > kTreeLeaf) {
        const D3 extent = node.hi - node.lo;
        const int axis = extent.x >= extent.y && extent.x >= extent.z ? 0
                         : extent.y >= extent.z                       ? 1
                                                                      : 2;
        auto coordinate = [axis](const Weighted& w) {
            return axis == 0 ? w.normal.x : axis == 1 ? w.normal.y : w.normal.z;
        };
        const std::uint32_t mid = begin + (end - begin) / 2;
        std::nth_element(
            items.begin() + begin, items.begin() + mid, items.begin() + end,
            [&](const Weighted& a, const Weighted& b) { return coordinate(a) < coordinate(b); });
        const std::uint32_t left = build_node(tree, items, begin, mid);
        const std::uint32_t right = build_node(tree, items, mid, end);
        tree[at].left = left;
        tree[at].right = right;
    }
    return at;
}

// reorders items
void build_tree(std::vector<TreeNode>& tree, std::span<Weighted> items) {
    tree.clear();
    build_node(tree, items, 0, static_cast<std::uint32_t>(items.size()));
}

// The weighted sum of the items whose normal n has dot(q, n) >= cos_limit. For normals of
// length 1 within float rounding (2^-23 in the squared length), that is |q - n|^2 <= 2 - 2
// cos_limit within 1e-6, so a box wholly nearer than that less 1e-6 holds only normals that
// count, one wholly further than that plus 1e-6 none.
D3 sum_within(const std::vector<TreeNode>& tree, std::span<const Weighted> items, const D3& q,
              double cos_limit) {
    const double inside = 2.0 - 2.0 * cos_limit - 1e-6;
    const double outside = 2.0 - 2.0 * cos_limit + 1e-6;
    D3 sum;
    std::uint32_t stack[64];  // depth is below log2 of 2^32 items / kTreeLeaf, each pushing two
    std::uint32_t depth = 0;
    stack[depth++] = 0;
    while (depth > 0) {
        const TreeNode& node = tree[stack[--depth]];
        double nearest = 0.0;
        double furthest = 0.0;
        for (int axis = 0; axis < 3; ++axis) {
            const double c = axis == 0 ? q.x : axis == 1 ? q.y : q.z;
            const double lo = axis == 0 ? node.lo.x : axis == 1 ? node.lo.y : node.lo.z;
            const double hi = axis == 0 ? node.hi.x : axis == 1 ? node.hi.y : node.hi.z;
            const double gap = std::max({lo - c, 0.0, c - hi});
            const double span = std::max(c - lo, hi - c);
            nearest += gap * gap;
            furthest += span * span;
        }
        if (nearest > outside) continue;
        if (furthest <= inside) {
            sum = sum + node.sum;
        } else if (node.left == kNone) {
            for (std::uint32_t k = node.begin; k < node.end; ++k)
                if (dot(q, items[k].normal) >= cos_limit)
                    sum = sum + items[k].weight * items[k].normal;
        } else {
            stack[depth++] = node.left;
            stack[depth++] = node.right;
        }
    }
    return sum;
}

}  // namespace

// Faces within max_angle, give or take the rounding of float normals (so a face is always within
// of itself). Where the faces of a group at a point all lie within half the angle of their mean,
// they lie within the angle of each other and all their corners get the same normal: over a
// smooth surface, O(corners). Elsewhere a few corners are tested in pairs, and many through a
// k-d tree of their normals.
Smoother::Smoother(double max_angle)
    : limit_(std::clamp(std::isnan(max_angle) ? 0.0 : max_angle, 0.0, std::numbers::pi)),
      cos_limit_(std::cos(limit_) - 1e-6),
      cos_half_(std::cos(limit_ / 2.0)) {}

Smoother::~Smoother() = default;

struct Smoother::Scratch {
    std::vector<Weighted> items;
    std::vector<TreeNode> tree;
};

void Smoother::point(std::span<SmoothCorner> at, std::span<Vec3> out) {
    if (!scratch_) scratch_ = std::make_unique<Scratch>();
    std::vector<Weighted>& items = scratch_->items;
    std::vector<TreeNode>& tree = scratch_->tree;
    auto by_group = [](const SmoothCorner& a, const SmoothCorner& b) { return a.group < b.group; };
    if (!std::is_sorted(at.begin(), at.end(), by_group)) std::sort(at.begin(), at.end(), by_group);
    for (std::size_t first = 0, end = 0; first < at.size(); first = end) {
        while (end < at.size() && at[end].group == at[first].group)
            ++end;
        items.clear();
        D3 mean;
        for (std::size_t k = first; k < end; ++k) {
            items.push_back({d3(at[k].normal), at[k].angle});
            mean = mean + items.back().weight * items.back().normal;
        }
        const double mean_length = length(mean);
        bool shared = mean_length > 0.0;
        for (std::size_t k = 0; shared && limit_ < std::numbers::pi && k < items.size(); ++k)
            shared = dot(items[k].normal, mean) >= cos_half_ * mean_length;
        if (shared) {
            // every corner of the group gets the normal of their mean
            const Vec3 normal = to_vec3((1.0 / mean_length) * mean);
            const bool finite = std::isfinite(mean_length);
            for (std::size_t k = first; k < end; ++k)
                out[at[k].out] = finite ? normal : at[k].normal;
            continue;
        }
        if (items.size() > kPairwiseSmooth) build_tree(tree, items);
        for (std::size_t k = first; k < end; ++k) {
            const D3 own = d3(at[k].normal);  // items may be reordered
            D3 sum;
            if (items.size() > kPairwiseSmooth) {
                sum = sum_within(tree, items, own, cos_limit_);
            } else {
                for (const Weighted& o : items)
                    if (dot(own, o.normal) >= cos_limit_) sum = sum + o.weight * o.normal;
            }
            const double len = length(sum);
            // every angle at the point zero, or the normals cancelling: the face's own
            out[at[k].out] =
                len > 0.0 && std::isfinite(len) ? to_vec3((1.0 / len) * sum) : at[k].normal;
        }
    }
}

}  // namespace rokconv
