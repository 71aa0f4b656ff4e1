// A large file read by two threads: where the second thread's reading is taken, and where a
// second thread may start at all.
#include <gtest/gtest.h>

#include <atomic>
#include <span>
#include <string>
#include <thread>

#include "harness.hpp"
#include "rok/reader.hpp"
#include "rokgen.hpp"

namespace {

// A file read in two parts at once: the second thread's guess of where the points end, the
// first line "LINE0" at the start of a line, is taken only where they do end there. A "LINE0"
// inside a point record, or a closing line that begins within a line split for its length,
// leaves the rest to be read in order; either way the model is the one read in order.
TEST(SplitRead, TakesTheRestOnlyWhereThePointsEnd) {
    if (!ROKCONV_THREADS) GTEST_SKIP() << "built without threads";
    const std::string point = "0|1|2|3|4|1.5|2.5|3.5|";
    // two edges, a face, and a block of lines that a window does not hold
    std::string rest = "|1|2|0|0|2|1|0|0|FACE0|2|0|0|1|2|END00|VIEW0";
    for (int i = 0; i < 100; ++i)
        rest += "|0";
    rest += "|ENDV0";
    const std::string digits(79, '7');
    const struct {
        const char* name;
        std::string text;
        bool split;  // whether the rest is read by the other thread
    } cases[] = {
        {"plain", point + point + "LINE0" + rest, true},
        {"a record's third line", "0|1|LINE0|3|4|1|2|3|" + point + "LINE0" + rest, false},
        {"after a split line", point + "0|1|2|3|4|1|2|" + digits + "LINE0|1|LINE0|0|0" + rest,
         false},
        {"with a zero byte", point + std::string("LINE0\0x", 7) + rest, true},
        {"at the end", point + "LINE0", false},
    };
    for (const auto& c : cases) {
        for (const std::string eol : {"\n", "\r\n", "\n\r", "\r"}) {
            std::string text;
            for (const char ch : "ROKU4|POINT|" + c.text)
                text += ch == '|' ? eol : std::string(1, ch);
            text += eol;
            const std::span<const unsigned char> bytes(
                reinterpret_cast<const unsigned char*>(text.data()), text.size());
            rokconv::Model whole;
            ASSERT_EQ(rokconv::load_rok(bytes, whole), rokconv::LoadStatus::ok);
            rokfuzz::MemoryInput memory{bytes};
            const rokconv::RokInput input{&memory, &rokfuzz::MemoryInput::read, nullptr,
                                          text.size(), &rokfuzz::MemoryInput::read_at};
            rokconv::Model split;
            ASSERT_EQ(rokconv::load_rok_windowed(input, rokfuzz::kSmallWindow, 0, split),
                      rokconv::LoadStatus::ok);
            const std::string where = c.name + (", eol " + std::to_string(eol.size()));
            EXPECT_TRUE(rokfuzz::same_model(split, whole)) << where;
            // read in order, the caller's read takes it all; else it stops a window after the
            // points
            EXPECT_EQ(memory.pos < text.size(), c.split) << where;
        }
    }
}

// The thread budget, through the public entry point on a file past the size that is split: 1
// starts no thread (read_at is never called, and read reads the whole file), 2 has the rest read
// by a second one, and 0 does so where the machine has more than one core. The model is the same.
TEST(SplitRead, OnlyWithinTheThreadBudget) {
    if (!ROKCONV_THREADS) GTEST_SKIP() << "built without threads";
    std::string text;
    rokgen::write_rok(text, rokgen::make_grid(85000, 1));
    ASSERT_GE(text.size(), rokconv::kSplitBytes);
    const std::span<const unsigned char> bytes(reinterpret_cast<const unsigned char*>(text.data()),
                                               text.size());
    rokconv::Model whole;
    ASSERT_EQ(rokconv::load_rok(bytes, whole, {.threads = 1}), rokconv::LoadStatus::ok);
    struct Counted {
        rokfuzz::MemoryInput memory;
        std::atomic<int> reads_at{0};
    };
    for (const unsigned threads : {1u, 2u, 0u}) {
        Counted counted{{bytes}};
        rokconv::RokInput input;
        input.context = &counted;
        input.size = text.size();
        input.read = [](void* c, unsigned char* out, std::size_t n) {
            return rokfuzz::MemoryInput::read(&static_cast<Counted*>(c)->memory, out, n);
        };
        input.read_at = [](void* c, std::uint64_t offset, unsigned char* out, std::size_t n) {
            ++static_cast<Counted*>(c)->reads_at;
            return rokfuzz::MemoryInput::read_at(&static_cast<Counted*>(c)->memory, offset, out, n);
        };
        rokconv::Model m;
        ASSERT_EQ(rokconv::load_rok(input, m, {.threads = threads}), rokconv::LoadStatus::ok);
        const bool split =
            threads == 2 || (threads == 0 && std::thread::hardware_concurrency() != 1);
        EXPECT_EQ(counted.reads_at > 0, split) << threads;
        EXPECT_EQ(counted.memory.pos < text.size(), split) << threads;
        EXPECT_TRUE(rokfuzz::same_model(m, whole)) << threads;
    }
}

}  // namespace
