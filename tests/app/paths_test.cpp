#include <gtest/gtest.h>

#include <iterator>
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

// each case: path, its base name, and the output name made from that
void expect_names(const char* const (*cases)[3], std::size_t count, CharLength rule) {
    for (std::size_t i = 0; i < count; ++i) {
        const std::string base = base_name(cases[i][0], rule);
        EXPECT_EQ(base, cases[i][1]) << cases[i][0];
        std::string name = base;
        set_extension(name, ".LWO", rule);
        EXPECT_EQ(name, cases[i][2]) << cases[i][0];
    }
}

// single-byte paths, then trail bytes that are neither separators nor dots
TEST(OutputName, FromThePath) {
    const char* const cases[][3] = {{"C:\\models\\car.rok", "car.rok", "car.LWO"},
                                    {"models/car.rok", "car.rok", "car.LWO"},
                                    {"A:car.rok", "car.rok", "car.LWO"},
                                    {"dir/sub/Model.Rok", "Model.Rok", "Model.LWO"},
                                    {"a.b.rok", "a.b.rok", "a.b.LWO"},
                                    {"car", "car", "car.LWO"},
                                    {".rok", ".rok", ".LWO"},
                                    {"dir.v2/car", "car", "car.LWO"},
                                    {"dir/", "", ".LWO"},
                                    {"./--help", "--help", "--help.LWO"}};
    expect_names(cases, std::size(cases), single_byte);

    const char* const double_byte_cases[][3] = {
        // "\x95\x5C" is one character: its 0x5C is not a backslash
        {"dir\\\x95\\x.rok", "\x95\\x.rok", "\x95\\x.LWO"},
        {"\x81:name", "\x81:name", "\x81:name.LWO"},
        // "\x82." is one character, so there is no extension to replace
        {"a\x82.b", "a\x82.b", "a\x82.b.LWO"},
        {"x.rok\x82/", "x.rok\x82/", "x.LWO"},
        // a lead byte as the last byte: the scan stops at the end all the same
        {"dir/car\x95", "car\x95", "car\x95.LWO"},
        {"d\x7F/a.b", "a.b", "a.LWO"}};
    expect_names(double_byte_cases, std::size(double_byte_cases), double_byte);
    // the locale's rule, whatever LC_CTYPE is, steps over a byte that begins no character
    EXPECT_EQ(locale_char_length("\xff\xfe/", 3), 1u);
    EXPECT_EQ(base_name("\xff/\xfe.rok"), "\xfe.rok");
}

}  // namespace
}  // namespace rokconv
