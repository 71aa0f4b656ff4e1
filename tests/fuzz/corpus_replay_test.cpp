// Every file of the fuzz seed corpus, through the fuzzer's own harness. Inputs the fuzzer found
// faults with are kept in the corpus, so they stay here as regression cases.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "harness.hpp"

namespace {

std::vector<std::filesystem::path> corpus_files() {
    std::vector<std::filesystem::path> files;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(ROKCONV_FUZZ_CORPUS, ec)) {
        if (entry.is_regular_file()) files.push_back(entry.path());
    }
    std::sort(files.begin(), files.end());
    return files;
}

class CorpusReplay : public ::testing::TestWithParam<std::filesystem::path> {};

TEST_P(CorpusReplay, ConvertsToSoundOutput) {
    std::ifstream in(GetParam(), std::ios::binary);
    ASSERT_TRUE(in) << GetParam();
    const std::vector<unsigned char> bytes{std::istreambuf_iterator<char>(in), {}};
    EXPECT_EQ(rokfuzz::run(bytes), "") << GetParam();
}

// the file's name is in every failure message
INSTANTIATE_TEST_SUITE_P(SeedCorpus, CorpusReplay, ::testing::ValuesIn(corpus_files()));

// a corpus that went missing would otherwise replay nothing and pass
TEST(CorpusReplay, CorpusIsThere) {
    EXPECT_GE(corpus_files().size(), 12u) << ROKCONV_FUZZ_CORPUS;
}

}  // namespace
