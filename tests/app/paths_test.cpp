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

struct PathCase {
    std::string path;
    std::string base;    // base_name
    std::string output;  // base_name then set_extension(".LWO")
};

TEST(OutputName, SingleByte) {
    const PathCase cases[] = {
        {"C:\\models\\car.rok", "car.rok", "car.LWO"},
        {"models/car.rok", "car.rok", "car.LWO"},
        {"car.rok", "car.rok", "car.LWO"},
        {"A:car.rok", "car.rok", "car.LWO"},
        {"dir/sub/Model.Rok", "Model.Rok", "Model.LWO"},
        {"a.b.rok", "a.b.rok", "a.b.LWO"},
        {"car", "car", "car.LWO"},
        {".rok", ".rok", ".LWO"},
        {"dir.v2/car", "car", "car.LWO"},
        {"dir/", "", ".LWO"},
        {"./--help", "--help", "--help.LWO"},
        {std::string(2000, 'n') + ".rok", std::string(2000, 'n') + ".rok",
         std::string(2000, 'n') + ".LWO"},
    };
    for (const PathCase& c : cases) {
        const std::string base = base_name(c.path, single_byte);
        EXPECT_EQ(base, c.base) << c.path;
        std::string name = base;
        set_extension(name, ".LWO", single_byte);
        EXPECT_EQ(name, c.output) << c.path;
    }
}

TEST(OutputName, TrailBytesAreNeitherSeparatorsNorDots) {
    const PathCase cases[] = {
        // "\x95\x5C" is one character: its 0x5C is not a backslash
        {"dir\\\x95\\x.rok", "\x95\\x.rok", "\x95\\x.LWO"},
        {"\x81:name", "\x81:name", "\x81:name.LWO"},
        // "\x82." is one character, so the name has no extension to replace
        {"a\x82.b", "a\x82.b", "a\x82.b.LWO"},
        {"x.rok\x82/", "x.rok\x82/", "x.LWO"},
        // a lead byte as the last byte: the scan stops at the end all the same
        {"dir/car\x95", "car\x95", "car\x95.LWO"},
        {"\x95", "\x95", "\x95.LWO"},
        // bytes under 0x81 are single characters in this code page
        {"d\x7F/a.b", "a.b", "a.LWO"},
    };
    for (const PathCase& c : cases) {
        const std::string base = base_name(c.path, double_byte);
        EXPECT_EQ(base, c.base) << c.path;
        std::string name = base;
        set_extension(name, ".LWO", double_byte);
        EXPECT_EQ(name, c.output) << c.path;
    }
}

TEST(OutputName, LocaleRuleStepsOverInvalidBytes) {
    // whatever LC_CTYPE is, a lone high byte is one character and every character is in range
    const char text[] = "\xff\xfe/";
    EXPECT_EQ(locale_char_length(text, 3), 1u);
    EXPECT_EQ(base_name("\xff/\xfe.rok"), "\xfe.rok");
}

}  // namespace
}  // namespace rokconv
