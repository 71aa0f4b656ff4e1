#include <gtest/gtest.h>

#include <new>
#include <string>
#include <vector>

#include "util/memory.hpp"
#include "util/parallel.hpp"

namespace rokconv {
namespace {

// Work shared among threads: the pieces come out whole and in order whatever their number, the
// work beside them is done once, and an exception on any thread reaches the caller.
TEST(InOrder, PiecesInOrderOnAnyThreads) {
    for (const unsigned threads : {1u, 2u, 3u, 8u}) {
        for (const std::size_t count : {0u, 1u, 5u, 100u}) {
            std::string text, expected;
            int besides = 0;
            in_order<std::string>(
                count, threads,
                [](std::size_t k, std::string& piece) { piece = std::to_string(k) + ','; },
                [&](const std::string& piece) { text += piece; }, [&] { ++besides; });
            for (std::size_t k = 0; k < count; ++k)
                expected += std::to_string(k) + ',';
            EXPECT_EQ(text, expected) << threads << " threads";
            EXPECT_EQ(besides, 1);
        }
        auto fails = [](std::size_t k, std::string&) {
            if (k == 17) throw std::bad_alloc();
        };
        auto ignore = [](const std::string&) {};
        EXPECT_THROW(in_order<std::string>(50, threads, fails, ignore), std::bad_alloc);
        EXPECT_THROW(in_order<std::string>(
                         50, threads, [](std::size_t, std::string&) {}, ignore,
                         [] { throw std::bad_alloc(); }),
                     std::bad_alloc);
        EXPECT_THROW(run_on(threads,
                            [&](unsigned t) {
                                if (t + 1 == threads) throw std::bad_alloc();
                            }),
                     std::bad_alloc);
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
