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

// Every format handed to a sink gives the bytes it gives in memory on one thread, at any thread
// budget; those that stream hand them on in pieces as they are made.
TEST(Formats, TheSameBytesAnyWayAtAnyThreadCount) {
    std::vector<Point> points;
    std::vector<Edge> edges;
    std::vector<std::vector<std::uint32_t>> faces;
    for (std::int32_t i = 0; i < 20000; ++i) {  // 60,000 points: written on several threads
        const double x = i;
        points.insert(points.end(), {Point{x, 0, 0}, Point{x + 1, 0, 0}, Point{x, 1, x / 1000}});
        const std::int32_t p = 3 * i + 1;
        edges.insert(edges.end(), {Edge{p, p + 1, 0}, Edge{p + 1, p + 2, 0}, Edge{p + 2, p, 0}});
        faces.push_back({static_cast<std::uint32_t>(p), p + 1u, p + 2u});
    }
    const Model m = model_of(points, edges, faces);
    struct Pieces {
        std::vector<unsigned char> bytes;
        std::size_t count = 0;
    };
    for (const FormatInfo& format : formats()) {
        std::vector<unsigned char> one, one_beside;
        ASSERT_EQ(format.save(m, to_bytes(one, &one_beside, "m.x"), {1, nullptr}, nullptr),
                  SaveStatus::ok);
        for (const unsigned threads : {0u, 2u, 3u}) {
            Pieces streamed;
            std::vector<unsigned char> beside;
            Output output = to_bytes(streamed.bytes, &beside, "m.x");
            output.file = {nullptr, {&streamed, [](void* to, std::span<const unsigned char> b) {
                                         auto* p = static_cast<Pieces*>(to);
                                         p->bytes.insert(p->bytes.end(), b.begin(), b.end());
                                         ++p->count;
                                         return true;
                                     }}};
            ASSERT_EQ(format.save(m, output, {threads, nullptr}, nullptr), SaveStatus::ok);
            EXPECT_TRUE(streamed.bytes == one && beside == one_beside) << format.name << threads;
            EXPECT_EQ(streamed.count > 2, format.streams) << format.name << threads;
        }
    }
}

}  // namespace
}  // namespace rokconv
