#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "mesh/mesh.hpp"
#include "mesh/scene.hpp"

namespace rokconv {
namespace {

// A scene of random faces of 2 to 7 corners over some points at random places.
Scene random_faces(std::size_t points, std::size_t faces, unsigned seed) {
    std::mt19937 random(seed);
    Scene scene;
    std::uniform_real_distribution<float> place(-10.0f, 10.0f);
    for (std::size_t p = 0; p < points; ++p)
        scene.positions.push_back({place(random), place(random), place(random)});
    scene.point_corners.assign(points, 0);
    scene.face_start.push_back(0);
    for (std::size_t f = 0; f < faces; ++f) {
        const std::size_t size = std::uniform_int_distribution<std::size_t>(2, 7)(random);
        for (std::size_t k = 0; k < size; ++k) {
            const auto p = std::uniform_int_distribution<std::uint32_t>(
                0, static_cast<std::uint32_t>(points - 1))(random);
            scene.corners.push_back(p);
            ++scene.point_corners[p];
        }
        scene.face_start.push_back(static_cast<std::uint32_t>(scene.corners.size()));
        scene.face_material.push_back(-1);
    }
    return scene;
}

// Each point's slots hold its corners, in corner order, with their faces, and once the faces are
// shaped, each corner's angle at its face.
TEST(PlaceCorners, EachPointsCornersInOrder) {
    for (const auto& [points, faces] : std::vector<std::pair<std::size_t, std::size_t>>{
             {1, 0}, {5, 1}, {3, 2}, {40, 9}, {3000, 5000}}) {
        const Scene made = random_faces(points, faces, static_cast<unsigned>(points + faces));
        Scene scene = made;
        CornerSlots slots;
        const std::vector<std::uint32_t> slot_of = place_corners(scene, slots);
        shape_faces(scene, slots, slot_of);
        ASSERT_EQ(slot_of.size(), made.corners.size());
        ASSERT_EQ(slots.start.size(), points + 1);
        EXPECT_EQ(slots.start.back(), made.corners.size());
        for (std::size_t p = 0; p < points; ++p)
            EXPECT_EQ(slots.start[p + 1] - slots.start[p], made.point_corners[p]);
        std::vector<std::uint32_t> last(points, 0);  // the slot after p's last corner seen
        for (std::size_t f = 0; f < faces; ++f) {
            const std::uint32_t first = made.face_start[f];
            const std::uint32_t n = made.face_start[f + 1] - first;
            const Vec3& normal = scene.face_normal[f];
            const bool flat = normal.x == 0.0f && normal.y == 0.0f && normal.z == 0.0f;
            auto at = [&](std::uint32_t k) { return made.positions[made.corners[first + k % n]]; };
            for (std::uint32_t c = made.face_start[f]; c < made.face_start[f + 1]; ++c) {
                const std::uint32_t p = made.corners[c];
                const std::uint32_t s = slot_of[c];
                const std::uint32_t k = c - first;
                EXPECT_EQ(slots.slots[s].ref, f);
                EXPECT_EQ(slots.slots[s].angle,
                          flat ? 0.0f : corner_angle(at(k + n - 1), at(k), at(k + 1), normal));
                EXPECT_EQ(s, std::max(last[p], slots.start[p])) << "corner " << c;
                last[p] = s + 1;
            }
        }
    }
}

// A large table's memory past its last element is handed back, and nothing before it: a table
// ending anywhere within a page keeps every element, and its room can be filled afterwards.
TEST(ReleaseTail, KeepsEveryElementAndTheRoom) {
    for (const std::size_t used : {std::size_t{5} << 20, (std::size_t{5} << 20) + 1,
                                   (std::size_t{5} << 20) + 4095, std::size_t{0}}) {
        std::vector<unsigned char> table;
        reserve_large(table, std::size_t{8} << 20);
        for (std::size_t i = 0; i < used; ++i)
            table.push_back(static_cast<unsigned char>(i % 251 + 1));
        release_tail(table);
        std::size_t wrong = 0;
        for (std::size_t i = 0; i < used; ++i)
            wrong += table[i] != static_cast<unsigned char>(i % 251 + 1);
        EXPECT_EQ(wrong, 0u) << used;
        const std::size_t room = table.capacity();
        table.resize(room, 7);
        EXPECT_EQ(table.capacity(), room);
        EXPECT_EQ(table.back(), 7);
    }
}

}  // namespace
}  // namespace rokconv
