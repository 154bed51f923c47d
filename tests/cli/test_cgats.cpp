// Measurement and patch files: the shared table of good and refused files
// (tests/data/cgats/expected.txt, read by the Python tests too), the
// writer's exact bytes, round trips, cuts at every byte, resuming.
#include <gtest/gtest.h>

#include <clocale>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <sstream>

#include "ca410_version.h"
#include "cgats.h"
#include "patches.h"

namespace {

using namespace cli;
namespace fs = std::filesystem;

const std::string data = CGATS_DATA_DIR "/";
const char *const extensions[] = {"cgats", "csv", "jsonl"};

std::string slurp(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void spit(const std::string &path, const std::string &text) {
    std::ofstream(path, std::ios::binary) << text;
}

struct scratch {
    fs::path dir =
        fs::temp_directory_path() / ("cgats_test_" + std::to_string(std::random_device{}()));
    scratch() { fs::create_directories(dir); }
    ~scratch() { fs::remove_all(dir); }
    std::string operator/(const std::string &name) const { return (dir / name).string(); }
};

bool same_bits(double a, double b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}
bool same_bits(const std::array<double, 3> &a, const std::array<double, 3> &b) {
    return same_bits(a[0], b[0]) && same_bits(a[1], b[1]) && same_bits(a[2], b[2]);
}

// The run the files in good/ hold.
const measurement_header ours_header{"ca410 0.1.0",
                                     "2024-05-17T08:30:00Z",
                                     "CA-410 S/N 12345678",
                                     "panel A, after 30 min warm-up",
                                     "test:3",
                                     0};
const patch_list ours_patches{{"N1", "grey 0%", {0, 0, 0}},
                              {"R50", "red 50%", {0.5, 0, 0}},
                              {"CC03", "blue sky", {98 / 255.0, 122 / 255.0, 157 / 255.0}}};
const std::vector<patch_reading> ours_readings{
    {"N1", "", {0, 0, 0}, {0.1 + 0.2, 1e-5, 0.0123}, {0, 0, 0}, 5},
    {"R50", "", {0.5, 0, 0}, {20.57, 10.603, 0.96423}, {0.0125, 0.00875, 1.5e-4}, 5},
    {"CC03",
     "",
     ours_patches[2].rgb,
     {17.123456789012345, 19.98, 34567.8},
     {2.5e-3, 0.003, 12},
     5}};

void write_file(const std::string &path, file_format f, const measurement_header &h,
                const patch_list &patches, const std::vector<patch_reading> &readings) {
    const auto w = measurement_writer::create(path, f, h, patches);
    for (const patch_reading &r : readings) w->append(r);
    w->finish();
}

bool same(const patch_reading &a, const patch_reading &b, bool whole) {
    return same_bits(a.rgb, b.rgb) && same_bits(a.xyz, b.xyz) &&
           (!whole || (a.id == b.id && a.name == b.name && same_bits(a.sd, b.sd) && a.n == b.n));
}
bool same(const patch &a, const patch &b, bool whole) {
    return same_bits(a.rgb, b.rgb) && (!whole || (a.id == b.id && a.name == b.name));
}
template <class T>
bool same_lists(const std::vector<T> &a, const std::vector<T> &b, bool whole) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (!same(a[i], b[i], whole)) return false;
    return true;
}

template <class T>
void check_good(std::map<std::string, std::vector<T>> &first, const std::string &reader,
                const std::vector<T> &got, const std::string &result) {
    const auto [it, is_first] = first.emplace(reader, got);
    EXPECT_TRUE(is_first || same_lists(got, it->second, result == "ok"));
    EXPECT_TRUE(result == "ok" || result == "values") << "read, but expected " << result;
}

TEST(CgatsFiles, ReadAsTheSharedTableSays) {
    std::ifstream table(data + "expected.txt");
    std::map<std::string, std::vector<patch_reading>> first_readings;
    std::map<std::string, std::vector<patch>> first_patches;
    int files = 0;
    for (std::string line; std::getline(table, line);) {
        std::istringstream in(line);
        std::string file, reader, result;
        std::size_t number = 0;
        if (line.empty() || line[0] == '#' || !(in >> file >> reader >> number >> result)) continue;
        SCOPED_TRACE(file);
        ++files;
        try {
            if (reader == "measurements")
                check_good(first_readings, reader, read_measurements(data + file).readings, result);
            else
                check_good(first_patches, reader, read_patch_file(data + file), result);
        } catch (const file_error &e) {
            EXPECT_EQ(problem_keyword(e.problem), result) << e.what();
            EXPECT_EQ(e.line, number) << e.what();
            const std::string place = data + file + (number ? ":" + std::to_string(number) : "");
            EXPECT_EQ(std::string(e.what()).rfind(place + ": ", 0), 0u) << e.what();
        }
    }
    EXPECT_GE(files, 30);
    ASSERT_EQ(first_readings["measurements"].size(), 3u);
    EXPECT_TRUE(same_lists(first_readings["measurements"], ours_readings, false));
}

TEST(CgatsWriter, WritesTheCommittedBytesInEachFormat) {
    scratch s;
    for (std::size_t f = 0; f < 3; ++f) {
        const std::string path = s / (std::string("ours.") + extensions[f]);
        write_file(path, file_format(f), ours_header, ours_patches, ours_readings);
        EXPECT_EQ(slurp(path), slurp(data + "good/ours." + extensions[f])) << extensions[f];
        EXPECT_EQ(read_measurements(path).format, file_format(f));
    }
}

// Random drive values (8-bit, 16-bit, any double in 0..1), random finite
// bit patterns for XYZ and their deviations.
class CgatsRoundTrip : public testing::TestWithParam<const char *> {};

TEST_P(CgatsRoundTrip, GivesBackEveryDoubleBitForBit) {
    const std::string saved = std::setlocale(LC_ALL, nullptr);
    if (!std::setlocale(LC_ALL, GetParam())) GTEST_SKIP() << "SKIPPED: no locale " << GetParam();
    std::mt19937_64 rng(20240517);
    auto finite = [&] {
        double v;
        do {
            const uint64_t bits = rng();
            std::memcpy(&v, &bits, sizeof v);
        } while (!std::isfinite(v));
        return v;
    };
    auto drive = [&](int k) {
        const int kind = k % 3;
        return kind == 0   ? (rng() % 256) / 255.0
               : kind == 1 ? (rng() % 65536) / 65535.0
                           : std::ldexp(static_cast<double>(rng() >> 11), -53);
    };
    patch_list patches;
    std::vector<patch_reading> readings;
    for (int i = 0; i < 300; ++i) {
        patches.push_back({"P" + std::to_string(i),
                           "patch, \"no. " + std::to_string(i) + "\"",
                           {drive(i), drive(i + 1), drive(i + 2)}});
        readings.push_back({patches.back().id,
                            patches.back().name,
                            patches.back().rgb,
                            {finite(), finite(), finite()},
                            {std::fabs(finite()), std::fabs(finite()), 0.0},
                            static_cast<long>(1 + rng() % 1000)});
    }
    scratch s;
    for (const file_format f : {file_format::csv, file_format::json}) {
        write_file(s / "round", f, ours_header, patches, readings);
        EXPECT_TRUE(same_lists(read_measurements(s / "round").readings, readings, true));
    }
    // CGATS strings carry no double quote.
    for (std::size_t i = 0; i < patches.size(); ++i)
        readings[i].name = patches[i].name = patches[i].id;
    write_file(s / "round", file_format::cgats, ours_header, patches, readings);
    EXPECT_TRUE(same_lists(read_measurements(s / "round").readings, readings, true));
    std::setlocale(LC_ALL, saved.c_str());
}
INSTANTIATE_TEST_SUITE_P(Locales, CgatsRoundTrip, testing::Values("C", "de_DE.UTF-8"));

// Where the first row starts: after BEGIN_DATA, the CSV field names, the JSON header.
std::size_t rows_start(const std::string &text, std::size_t format) {
    const std::string marks[] = {"BEGIN_DATA\n", "READINGS\n", "}\n"};
    return text.find(marks[format]) + marks[format].size();
}

TEST(CgatsPartial, KeepsTheCompleteRowsOfEveryCutAndResumesToTheSameFile) {
    scratch s;
    for (std::size_t f = 0; f < 3; ++f) {
        const std::string whole = slurp(data + "good/ours." + extensions[f]);
        const std::size_t start = rows_start(whole, f);
        for (std::size_t cut = 0; cut <= whole.size(); ++cut) {
            SCOPED_TRACE(std::string(extensions[f]) + " cut at " + std::to_string(cut));
            const std::string path = s / ("cut" + std::to_string(f) + "_" + std::to_string(cut));
            spit(path, whole.substr(0, cut));
            if (cut < start) {
                try {
                    read_partial_measurements(path);
                    ADD_FAILURE() << "read";
                } catch (const file_error &e) {
                    EXPECT_EQ(e.problem, file_problem::truncated) << e.what();
                }
                continue;
            }
            const measurement_file m = read_partial_measurements(path);
            const auto lines =
                std::count(whole.begin() + long(start), whole.begin() + long(cut), '\n');
            ASSERT_EQ(m.readings.size(), std::min<std::size_t>(std::size_t(lines), 3));
            EXPECT_EQ(m.complete, f == 0 ? cut == whole.size() : m.readings.size() == 3);
            EXPECT_TRUE(same_lists(
                m.readings,
                {ours_readings.begin(), ours_readings.begin() + long(m.readings.size())}, false));
            const auto w = measurement_writer::resume(path, m, ours_header, ours_patches);
            for (std::size_t i = m.readings.size(); i < 3; ++i) w->append(ours_readings[i]);
            w->finish();
            ASSERT_EQ(slurp(path), whole);
        }
    }
}

TEST(CgatsResume, RefusesAnotherRunSayingWhatDiffersAndLeavesTheFile) {
    scratch s;
    const std::string whole = slurp(data + "good/ours.cgats");
    const std::string partial = whole.substr(0, whole.find("\"CC03\""));
    spit(s / "partial", partial);
    const measurement_file m = read_partial_measurements(s / "partial");
    EXPECT_TRUE(resume_differences(m, ours_header, ours_patches).empty());
    measurement_header other = ours_header;
    other.instrumentation = "CA-410 S/N 87654321";
    other.created = "another time";  // not compared
    patch_list changed = ours_patches;
    changed[1].rgb[0] = 0.6;
    changed.push_back({"X", "", {1, 1, 1}});
    const std::vector<std::string> expected = {
        "INSTRUMENTATION: the file has \"CA-410 S/N 12345678\", this run \"CA-410 S/N 87654321\"",
        "NUMBER_OF_SETS: the file has 3, this run 4",
        "patch 2: the file has \"R50\" (50 0 0 %), this run \"R50\" (60 0 0 %)"};
    EXPECT_EQ(resume_differences(m, other, changed), expected);
    try {
        measurement_writer::resume(s / "partial", m, other, ours_patches);
        ADD_FAILURE() << "resumed";
    } catch (const file_error &e) {
        EXPECT_EQ(e.problem, file_problem::mismatch);
        EXPECT_NE(std::string(e.what()).find(expected[0]), std::string::npos) << e.what();
    }
    EXPECT_EQ(slurp(s / "partial"), partial);
}

TEST(CgatsWriter, RefusesWhatAFormatCannotCarryBeforeWriting) {
    const struct {
        file_format format;
        const char *descriptor;
        bool refused;
    } cases[] = {{file_format::cgats, "a \"quoted\" word", true},
                 {file_format::csv, "a \"quoted\" word", false},
                 {file_format::json, "a \"quoted\" word", false},
                 {file_format::csv, "two\nlines", true},
                 {file_format::json, "tab\there", true},
                 {file_format::json, "not UTF-8 \xff", true},
                 {file_format::cgats, "UTF-8 \xc2\xb0 fine", false}};
    scratch s;
    for (const auto &c : cases) {
        SCOPED_TRACE(c.descriptor);
        measurement_header h = ours_header;
        h.descriptor = c.descriptor;
        fs::remove(s / "out");
        try {
            write_file(s / "out", c.format, h, ours_patches, ours_readings);
            EXPECT_FALSE(c.refused);
            EXPECT_EQ(read_measurements(s / "out").header.descriptor, c.descriptor);
        } catch (const file_error &e) {
            EXPECT_TRUE(c.refused) << e.what();
            EXPECT_FALSE(fs::exists(s / "out"));
        }
    }
    const auto w = measurement_writer::create(s / "out", file_format::csv, {}, ours_patches);
    EXPECT_EQ(w->header().originator, "ca410 " CA410_VERSION_STRING);
    EXPECT_EQ(w->header().created.size(), std::strlen("2024-05-17T08:30:00Z"));
    EXPECT_THROW(w->append(ours_readings[1]), std::logic_error);  // out of order
    EXPECT_THROW(w->finish(), std::logic_error);                  // patches to go
}

TEST(CgatsInput, RefusesEndlessAndHugeInputQuickly) {
    try {
        read_measurements("/dev/zero");
        ADD_FAILURE() << "read /dev/zero";
    } catch (const file_error &e) {
        EXPECT_EQ(e.problem, file_problem::line_too_long);
        EXPECT_EQ(e.line, 1u);
    }
    scratch s;
    {
        std::ofstream big(s / "big", std::ios::binary);
        const std::string line(1023, 'a');
        for (std::size_t n = 0; n <= max_file_bytes / 1024; ++n) big << line << '\n';
    }
    try {
        read_patch_file(s / "big");
        ADD_FAILURE() << "read a file above the cap";
    } catch (const file_error &e) {
        EXPECT_EQ(e.problem, file_problem::too_large) << e.what();
    }
}

TEST(CgatsPatchSets, AreTheSharedReference) {
    std::ifstream in(data + "patch_sets.csv");
    std::map<std::string, patch_list> reference;
    for (std::string line; std::getline(in, line);) {
        const auto c = csv_cells(line);
        if (line[0] == '#' || (*c)[0] == "set") continue;
        reference[(*c)[0]].push_back(
            {(*c)[1],
             (*c)[2],
             {*parse_number((*c)[3]), *parse_number((*c)[4]), *parse_number((*c)[5])}});
    }
    ASSERT_EQ(reference.size(), 2u);
    for (const auto &[name, patches] : reference)
        EXPECT_TRUE(same_lists(builtin_patches(name), patches, true)) << name;
    EXPECT_EQ(load_patches("full").size(), 11u + 24 + 24);
    EXPECT_EQ(load_patches("grey:2").back().rgb, (std::array<double, 3>{1, 1, 1}));
    for (const char *bad : {"grey:1", "grey:4097", "grey:", "grey:+5", "checker:24", "gray"})
        EXPECT_THROW(builtin_patches(bad), std::invalid_argument) << bad;
}

}  // namespace
