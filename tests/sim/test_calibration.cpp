// User WRGB calibration: the stored channel, its "TDR," layout, and
// measurements through its matrix.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "sim_color.h"
#include "sim_host.h"
#include "sim_instrument.h"

namespace {

std::string target_frame(const char *head, const sim_xyz &t) {
    char buf[128];
    std::snprintf(buf, sizeof buf, "%s7,%9f,%9f,%9f", head, t[0], t[1], t[2]);
    return buf;
}

// A display whose primaries differ from the targets, as a real panel differs
// from its specification.
sim_options panel() {
    sim_options o;
    o.display.primaries = {{{45.0, 23.0, 2.5}, {33.0, 68.0, 13.0}, {19.0, 8.5, 97.0}}};
    o.display.gamma = 2.4;
    return o;
}

// sRGB targets: white is the sum of the primaries.
const std::array<sim_xyz, 4> srgb_targets{
    {{95.05, 100.0, 108.9}, {41.24, 21.26, 1.93}, {35.76, 71.52, 11.92}, {18.05, 7.22, 95.05}}};
constexpr std::array<std::array<double, 3>, 4> drive{{{1, 1, 1}, {1, 0, 0}, {0, 1, 0}, {0, 0, 1}}};

// Runs the calibration the way a host does, into `channel`.
void calibrate(sim::instrument &inst, int channel, const std::array<sim_xyz, 4> &targets) {
    static const char *heads[] = {"UWT,", "URD,", "UGR,", "UBL,"};
    ASSERT_EQ(inst.execute("ZRC").text, "OK00");
    ASSERT_EQ(inst.execute("MDS,7").text, "OK00");
    ASSERT_EQ(inst.execute("UCS,1").text, "OK00");
    for (std::size_t c = 0; c < 4; ++c) {
        inst.drive = drive[c];
        ASSERT_EQ(inst.execute("MES,1").text.substr(0, 4), "OK00");
        ASSERT_EQ(inst.execute(target_frame(heads[c], targets[c])).text, "OK00");
    }
    ASSERT_EQ(inst.execute("ETR," + std::to_string(channel) + ",2024,3,7,14,00,00").text, "OK00");
    ASSERT_EQ(inst.execute("IDS,01," + std::to_string(channel) + ",Panel").text, "OK00");
}

class CalibratedColour : public ::testing::TestWithParam<int> {};

TEST_P(CalibratedColour, MeasuresItsTargetThroughTheChannel) {
    sim::instrument inst{panel()};
    calibrate(inst, 5, srgb_targets);
    ASSERT_EQ(inst.execute("MCH,1,5").text, "OK00");
    const auto c = static_cast<std::size_t>(GetParam());
    inst.drive = drive[c];
    const auto f = answer_fields(inst.execute("MES,1").text);
    ASSERT_GE(f.size(), 7u);
    for (std::size_t i = 0; i < 3; ++i)
        EXPECT_NEAR(std::stod(f[2 + i]), srgb_targets[c][i],
                    std::max(1e-3 * srgb_targets[c][i], 2e-5))
            << "colour " << c << " component " << i;

    // Channel 0 still measures the panel as it is.
    ASSERT_EQ(inst.execute("MCH,1,0").text, "OK00");
    const auto raw = answer_fields(inst.execute("MES,1").text);
    EXPECT_NEAR(std::stod(raw[3]), inst.light()[1], 1e-4);
}

INSTANTIATE_TEST_SUITE_P(WhiteRedGreenBlue, CalibratedColour, ::testing::Values(0, 1, 2, 3));

TEST(Calibration, WhiteMatchesEvenWhenTheTargetsAreNotAdditive) {
    sim::instrument inst{panel()};
    auto targets = srgb_targets;
    targets[0] = {90.0, 95.0, 120.0};
    calibrate(inst, 7, targets);
    ASSERT_EQ(inst.execute("MCH,1,7").text, "OK00");
    inst.drive = {1, 1, 1};
    const auto f = answer_fields(inst.execute("MES,1").text);
    for (std::size_t i = 0; i < 3; ++i)
        EXPECT_NEAR(std::stod(f[2 + i]), targets[0][i], 0.001 * targets[0][i]);
}

TEST(Calibration, TdrAnswerHasThePositionLayout) {
    sim::instrument inst{panel()};
    calibrate(inst, 5, srgb_targets);
    const std::string answer = inst.execute("TDR,5,1,7").text;
    ASSERT_EQ(answer.substr(0, 5), "OK00,");
    ASSERT_LT(answer.size(), 511u);  // hosts read it into 512 bytes
    const auto f = answer_fields(answer);
    ASSERT_EQ(f.size(), 42u);
    EXPECT_EQ(f[0], "CH05");
    EXPECT_EQ(f[4], "CA-410");
    EXPECT_EQ(f[5], "2");
    EXPECT_EQ(f[6], "Panel     ");
    EXPECT_EQ(f[8], "7");
    for (std::size_t c = 0; c < 4; ++c)
        for (std::size_t i = 0; i < 3; ++i) {
            EXPECT_NEAR(std::stod(f[12 + 3 * c + i]), srgb_targets[c][i], 1e-5);
            EXPECT_NEAR(
                std::stod(f[24 + 3 * c + i]),
                sim::display_light(panel().display, drive[c][0], drive[c][1], drive[c][2])[i],
                1e-5);
        }
    EXPECT_EQ(std::vector<std::string>(f.begin() + 36, f.end()),
              (std::vector<std::string>{"2024", "03", "07", "14", "00", "00"}));

    // xyLv on request: white target x = 95.05 / 303.95.
    const auto xy = answer_fields(inst.execute("TDR,5,1,0").text);
    EXPECT_EQ(xy[8], "0");
    EXPECT_NEAR(std::stod(xy[12]), 95.05 / (95.05 + 100.0 + 108.9), 1e-5);
    EXPECT_NEAR(std::stod(xy[14]), 100.0, 1e-5);
}

TEST(Calibration, EmptyAndDeletedChannelsAnswerTypeZero) {
    sim::instrument inst{panel()};
    calibrate(inst, 5, srgb_targets);
    ASSERT_EQ(inst.execute("MDD,1,5").text, "OK00");
    for (const char *frame : {"TDR,5,1,7", "TDR,6,1,7", "TDR,0,1,7"}) {
        const auto f = answer_fields(inst.execute(frame).text);
        ASSERT_EQ(f.size(), 42u) << frame;
        EXPECT_EQ(f[5], "0") << frame;
        EXPECT_EQ(f[6], "          ") << frame;
    }
}

struct refusal {
    const char *name;
    std::vector<std::string> frames;  // the last one is checked
    const char *answer;
};

class CalibrationRefusals : public ::testing::TestWithParam<refusal> {};

TEST_P(CalibrationRefusals, AnswerTheUserCalibrationError) {
    sim::instrument inst{panel()};
    ASSERT_EQ(inst.execute("ZRC").text, "OK00");
    const auto &frames = GetParam().frames;
    for (std::size_t i = 0; i + 1 < frames.size(); ++i)
        ASSERT_EQ(inst.execute(frames[i]).text.substr(0, 4), "OK00") << frames[i];
    EXPECT_EQ(inst.execute(frames.back()).text, GetParam().answer);
    EXPECT_FALSE(inst.channels[9].has_value());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CalibrationRefusals,
    ::testing::Values(
        refusal{"TargetOutsideCalibrationMode", {"MES,1", "UWT,7,95,100,108"}, "ER10"},
        refusal{"TargetBeforeAnyMeasurement", {"MES,1", "UCS,1", "UWT,7,95,100,108"}, "ER05"},
        refusal{"WhiteTargetWithoutLuminance", {"UCS,1", "MES,1", "UWT,7,1,0,1"}, "ER06"},
        refusal{"TargetInAModeWithoutConversion", {"UCS,1", "MES,1", "UWT,1,1,1,1"}, "ER06"},
        refusal{"EntryWithTargetsMissing",
                {"UCS,1", "MES,1", "UWT,7,95,100,108", "ETR,9,2024,1,1,0,00,00"},
                "ER06"},
        // Four pairs of one colour: no matrix can be derived.
        refusal{"EntryWithDependentPrimaries",
                {"UCS,1", "MES,1", "UWT,7,95,100,108", "URD,7,40,20,2", "UGR,7,35,70,11",
                 "UBL,7,18,7,95", "ETR,9,2024,1,1,0,00,00"},
                "ER05"},
        refusal{"EntryWithBadDate", {"UCS,1", "ETR,9,2024,13,1,0,00,00"}, "ER10"}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(CalibrationMatrix, IdentityWhenMeasuredEqualsTarget) {
    const auto m = sim::wrgb_matrix(srgb_targets, srgb_targets);
    ASSERT_TRUE(m.has_value());
    for (std::size_t i = 0; i < 9; ++i) EXPECT_NEAR((*m)[i], sim::identity3[i], 1e-12);
}

}  // namespace
