#include <gtest/gtest.h>

#include <string>

#include "app/app.hpp"

namespace rokconv {
namespace {

// a double-byte code page in the manner of Shift JIS or GBK: 0x81-0xFE lead a two-byte
// character whose trail byte may be 0x5C ('\'), '.', '/' or ':'; the rule does not look at rest,
// so a lead byte at the very end claims a byte that is not there
std::size_t double_byte(const char* text, std::size_t) {
    const auto lead = static_cast<unsigned char>(*text);
    return lead >= 0x81 && lead <= 0xFE ? 2 : 1;
}

std::size_t single_byte(const char*, std::size_t) {
    return 1;
}

// Single-byte paths, then trail bytes that are neither separators nor dots: each path, its base
// name, and the output name made from that.
TEST(OutputName, FromThePath) {
    const struct {
        const char *path, *base, *name;
        CharLength rule;
    } cases[] = {
        {"C:\\models\\car.rok", "car.rok", "car.LWO", single_byte},
        {"models/car.rok", "car.rok", "car.LWO", single_byte},
        {"A:car.rok", "car.rok", "car.LWO", single_byte},
        {"dir/sub/Model.Rok", "Model.Rok", "Model.LWO", single_byte},
        {"a.b.rok", "a.b.rok", "a.b.LWO", single_byte},
        {"car", "car", "car.LWO", single_byte},
        {".rok", ".rok", ".LWO", single_byte},
        {"dir.v2/car", "car", "car.LWO", single_byte},
        {"dir/", "", ".LWO", single_byte},
        {"./--help", "--help", "--help.LWO", single_byte},
        // "\x95\x5C" is one character: its 0x5C is not a backslash
        {"dir\\\x95\\x.rok", "\x95\\x.rok", "\x95\\x.LWO", double_byte},
        {"\x81:name", "\x81:name", "\x81:name.LWO", double_byte},
        // "\x82." is one character, so there is no extension to replace
        {"a\x82.b", "a\x82.b", "a\x82.b.LWO", double_byte},
        {"x.rok\x82/", "x.rok\x82/", "x.LWO", double_byte},
        // a lead byte as the last byte: the scan stops at the end all the same
        {"dir/car\x95", "car\x95", "car\x95.LWO", double_byte},
        {"d\x7F/a.b", "a.b", "a.LWO", double_byte},
    };
    for (const auto& c : cases) {
        std::string name = base_name(c.path, c.rule);
        EXPECT_EQ(name, c.base) << c.path;
        set_extension(name, ".LWO", c.rule);
        EXPECT_EQ(name, c.name) << c.path;
    }
    // the locale's rule, whatever LC_CTYPE is, steps over a byte that begins no character
    EXPECT_EQ(locale_char_length("\xff\xfe/", 3), 1u);
    EXPECT_EQ(base_name("\xff/\xfe.rok"), "\xfe.rok");
}

}  // namespace
}  // namespace rokconv
