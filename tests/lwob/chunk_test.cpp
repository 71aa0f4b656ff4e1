#include <gtest/gtest.h>

#include <vector>

#include "lwob/lwob.hpp"

namespace rokconv {
namespace {

using Bytes = std::vector<unsigned char>;

TEST(Chunk, ChildEmitsLengthAndContentsIntoItsParent) {
    Chunk parent;
    Chunk child;
    child.parent = &parent;
    ASSERT_EQ(chunk_append(child, "ab", 2), 0);
    ASSERT_EQ(chunk_close(child), 0);
    EXPECT_EQ(parent.buffer, (Bytes{0, 0, 0, 2, 'a', 'b'}));
    // the child is reset for reuse
    EXPECT_TRUE(child.buffer.empty());
    EXPECT_EQ(child.parent, nullptr);
}

TEST(Chunk, TopLevelCloseWritesTagLengthThenChildren) {
    ByteSink out;
    Chunk form;
    Chunk child;
    chunk_open_top(form, "FORM", out);
    EXPECT_EQ(out, (Bytes{'F', 'O', 'R', 'M'}));  // the tag goes out at once
    chunk_open_child(child, "ABCD", form);
    ASSERT_EQ(chunk_append(child, "\x01\x02", 2), 0);
    ASSERT_EQ(chunk_close(child), 0);
    chunk_open_child(child, "EMPT", form);  // reused, and closed with nothing in it
    ASSERT_EQ(chunk_close(child), 0);
    ASSERT_EQ(chunk_close(form), 0);
    EXPECT_EQ(out, (Bytes{'F', 'O', 'R', 'M', 0, 0,   0,   18,  'A', 'B', 'C', 'D', 0,
                          0,   0,   2,   1,   2, 'E', 'M', 'P', 'T', 0,   0,   0,   0}));
    EXPECT_EQ(out.size(), 18u + 8u);
}

TEST(Encodings, AreBigEndian) {
    Bytes out;
    put_u2(out, 0x12345);  // low 16 bits
    put_u4(out, 0xA1B2C3D4u);
    put_f4(out, 1.0f);
    put_f4(out, -0.0f);
    EXPECT_EQ(out, (Bytes{0x23, 0x45, 0xA1, 0xB2, 0xC3, 0xD4, 0x3F, 0x80, 0, 0, 0x80, 0, 0, 0}));
}

}  // namespace
}  // namespace rokconv
