#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "models.hpp"
#include "rokconv/format.hpp"

namespace rokconv {
namespace {

// A sink that takes the first n pieces and then refuses.
struct Refusing {
    std::size_t left;
    std::size_t asked = 0;
};

OutputSink refusing(Refusing& r) {
    return {&r, [](void* to, std::span<const unsigned char>) {
                auto* s = static_cast<Refusing*>(to);
                ++s->asked;
                if (s->left == 0) return false;
                --s->left;
                return true;
            }};
}

// Every format's writer stops at the first piece its output refuses, and says so; the buffers
// it was given are as they were.
TEST(Formats, AWriteThatFailsStopsEveryWriter) {
    const Model m = model_of({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}}, {{1, 2}, {2, 3}, {3, 1}},
                             {{1, 2, 3}}, {Line{0, 0}});
    for (const FormatInfo& format : formats()) {
        Refusing file{0};
        std::vector<unsigned char> beside = {'x'};
        Output output;
        output.file.sink = refusing(file);
        output.beside.bytes = &beside;
        output.beside_name = "m.bin";
        EXPECT_EQ(format.save(m, output, {}, nullptr), SaveStatus::write_failed) << format.name;
        EXPECT_EQ(file.asked, 1u) << format.name;
        EXPECT_EQ(beside, std::vector<unsigned char>{'x'}) << format.name;
        // and the file beside, where the format has one
        if (format.beside_extension.empty()) continue;
        std::vector<unsigned char> bytes;
        Refusing other{0};
        output.file = {&bytes, {}};
        output.beside = {nullptr, refusing(other)};
        EXPECT_EQ(format.save(m, output, {}, nullptr), SaveStatus::write_failed) << format.name;
        EXPECT_TRUE(bytes.empty()) << format.name;
    }
}

// Every format streamed to a sink gives the bytes it gives in memory on one thread, at any
// thread budget.
TEST(Formats, TheSameBytesAnyWayAtAnyThreadCount) {
    std::vector<Point> points;
    std::vector<Edge> edges;
    std::vector<std::vector<std::uint32_t>> faces;
    for (std::int32_t i = 0; i < 20000; ++i) {  // 60,000 points: written on several threads
        points.insert(points.end(),
                      {Point{1.0 * i, 0, 0}, Point{i + 1.0, 0, 0}, Point{1.0 * i, 1, 0.001 * i}});
        edges.insert(edges.end(), {Edge{3 * i + 1, 3 * i + 2, 0}, Edge{3 * i + 2, 3 * i + 3, 0},
                                   Edge{3 * i + 3, 3 * i + 1, 0}});
        const auto e = static_cast<std::uint32_t>(3 * i + 1);
        faces.push_back({e, e + 1, e + 2});
    }
    const Model m = model_of(points, edges, faces);
    for (const FormatInfo& format : formats()) {
        std::vector<unsigned char> one, one_beside;
        ASSERT_EQ(format.save(m, to_bytes(one, &one_beside, "m.x"), {1, nullptr}, nullptr),
                  SaveStatus::ok);
        for (const unsigned threads : {0u, 2u, 3u}) {
            std::vector<unsigned char> streamed, beside;
            Output output = to_bytes(streamed, &beside, "m.x");
            output.file = {nullptr, {&streamed, [](void* to, std::span<const unsigned char> b) {
                                         auto* v = static_cast<std::vector<unsigned char>*>(to);
                                         v->insert(v->end(), b.begin(), b.end());
                                         return true;
                                     }}};
            ASSERT_EQ(format.save(m, output, {threads, nullptr}, nullptr), SaveStatus::ok);
            EXPECT_TRUE(streamed == one && beside == one_beside) << format.name << " " << threads;
        }
    }
}

}  // namespace
}  // namespace rokconv
