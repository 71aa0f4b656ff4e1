// Every bundled example converted and held byte for byte against the object committed beside it.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "rokconv/rokconv.hpp"

namespace rokconv {
namespace {

std::vector<unsigned char> read_file(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

TEST(Golden, ExamplesConvertToTheirCommittedObjects) {
    int compared = 0;
    for (const auto& entry : std::filesystem::directory_iterator(ROKCONV_EXAMPLES)) {
        if (entry.path().extension() != ".rok") continue;
        std::filesystem::path golden = entry.path();
        golden.replace_extension(".LWO");
        const std::vector<unsigned char> expected = read_file(golden);
        ASSERT_FALSE(expected.empty()) << golden;

        Model model;
        ASSERT_EQ(load_rok(read_file(entry.path()), model), LoadStatus::ok) << entry.path();
        std::vector<unsigned char> lwob;
        ASSERT_EQ(save_lwob(model, to_bytes(lwob)), SaveStatus::ok) << entry.path();
        EXPECT_TRUE(lwob == expected) << entry.path() << " differs from " << golden;
        ++compared;
    }
    EXPECT_GE(compared, 4);
}

}  // namespace
}  // namespace rokconv
