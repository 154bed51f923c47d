// Every seed of the fuzz corpus and every input that once made a harness
// fail (regressions/<harness>/<what it found>), replayed through its harness
// as a named case. A failing case aborts or trips a sanitizer.
#include <gtest/gtest.h>

#include <cctype>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "fuzz_support.h"

namespace {

namespace fs = std::filesystem;
const fs::path kDir = CA410_FUZZ_DIR;

std::vector<fs::path> all_cases() {
    std::vector<fs::path> out;
    for (const auto &h : fuzz::harnesses()) {
        for (const char *kind : {"regressions", "corpus"}) {
            if (!fs::is_directory(kDir / kind / h.first)) continue;
            for (const auto &e : fs::directory_iterator(kDir / kind / h.first)) out.push_back(e);
        }
    }
    return out;
}

// "corpus/answer/seed-1" gives corpus_answer_seed_1.
std::string case_name(const ::testing::TestParamInfo<fs::path> &info) {
    std::string name = info.param.lexically_relative(kDir).string();
    for (char &c : name) {
        if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
    }
    return name;
}

class fuzz_replay : public ::testing::TestWithParam<fs::path> {};

TEST_P(fuzz_replay, RunsCleanly) {
    std::ifstream in(GetParam(), std::ios::binary);
    ASSERT_TRUE(in) << GetParam();
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    for (const auto &h : fuzz::harnesses()) {
        if (GetParam().parent_path().filename() == h.first) {
            EXPECT_EQ(h.second(reinterpret_cast<const uint8_t *>(bytes.data()), bytes.size()), 0);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(fuzz, fuzz_replay, ::testing::ValuesIn(all_cases()), case_name);

}  // namespace
