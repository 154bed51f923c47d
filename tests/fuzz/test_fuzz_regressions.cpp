// Every seed of the fuzz corpus and every input that once made a harness
// fail, replayed through its harness as a named case (regressions/<harness>/
// <what it found>). A failing case aborts or trips a sanitizer.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "fuzz_support.h"

namespace {

namespace fs = std::filesystem;

struct fuzz_case {
    std::string harness;
    std::string kind;  // "corpus" or "regressions"
    fs::path file;
};

std::vector<fuzz_case> all_cases() {
    std::vector<fuzz_case> out;
    for (const auto &h : fuzz::harnesses()) {
        for (const char *kind : {"regressions", "corpus"}) {
            const fs::path dir = fs::path(CA410_FUZZ_DIR) / kind / h.name;
            if (!fs::is_directory(dir)) continue;
            std::vector<fs::path> files;
            for (const auto &e : fs::directory_iterator(dir)) {
                if (e.is_regular_file()) files.push_back(e.path());
            }
            std::sort(files.begin(), files.end());
            for (const auto &f : files) out.push_back({h.name, kind, f});
        }
    }
    return out;
}

std::string case_name(const ::testing::TestParamInfo<fuzz_case> &info) {
    std::string name =
        info.param.kind + "_" + info.param.harness + "_" + info.param.file.filename().string();
    for (char &c : name) {
        if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
    }
    return name;
}

class fuzz_replay : public ::testing::TestWithParam<fuzz_case> {};

TEST_P(fuzz_replay, RunsCleanly) {
    const auto &c = GetParam();
    std::ifstream in(c.file, std::ios::binary);
    ASSERT_TRUE(in) << c.file;
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    for (const auto &h : fuzz::harnesses()) {
        if (c.harness == h.name) {
            EXPECT_EQ(h.run(reinterpret_cast<const uint8_t *>(bytes.data()), bytes.size()), 0);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(fuzz, fuzz_replay, ::testing::ValuesIn(all_cases()), case_name);

TEST(fuzz_corpus, EveryHarnessHasSeeds) {
    for (const auto &h : fuzz::harnesses()) {
        const fs::path dir = fs::path(CA410_FUZZ_DIR) / "corpus" / h.name;
        EXPECT_TRUE(fs::is_directory(dir) && !fs::is_empty(dir)) << h.name;
    }
}

}  // namespace
