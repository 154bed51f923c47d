// User WRGB calibration: the stored channel, its "TDR," layout, and
// measurements through its matrix.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <string>
#include <vector>

#include "sim_host.h"
#include "sim_instrument.h"

namespace {

std::string target_frame(const char *head, const sim_xyz &t) {
    char buf[128];
    std::snprintf(buf, sizeof buf, "%s7,%9f,%9f,%9f", head, t[0], t[1], t[2]);
    return buf;
}

// A display whose primaries differ from the targets, as a real panel differs
// from its nominal colours.
sim_instrument_options panel() {
    sim_instrument_options o;
    o.display.primaries = {{{45.0, 23.0, 2.5}, {33.0, 68.0, 13.0}, {19.0, 8.5, 97.0}}};
    o.display.gamma = 2.4;
    return o;
}

// sRGB targets: white is the sum of the primaries.
const std::array<sim_xyz, 4> srgb_targets{
    {{95.05, 100.0, 108.9}, {41.24, 21.26, 1.93}, {35.76, 71.52, 11.92}, {18.05, 7.22, 95.05}}};
constexpr std::array<std::array<double, 3>, 4> drive{{{1, 1, 1}, {1, 0, 0}, {0, 1, 0}, {0, 0, 1}}};

std::string value_text(double v) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%9f", v);
    std::string t = buf;
    return t.substr(t.find_first_not_of(' '));
}

using triple_texts = std::array<std::array<std::string, 3>, 4>;

// Runs the calibration with the host's frames, into `channel`; *answered gets
// the values "MES," answered for each colour.
void calibrate(sim::instrument &inst, int channel, const std::array<sim_xyz, 4> &targets,
               triple_texts *answered = nullptr) {
    static const char *heads[] = {"UWT,", "URD,", "UGR,", "UBL,"};
    ASSERT_EQ(inst.execute("ZRC").text, "OK00");
    ASSERT_EQ(inst.execute("MDS,7").text, "OK00");
    ASSERT_EQ(inst.execute("UCS,1").text, "OK00");
    for (std::size_t c = 0; c < 4; ++c) {
        inst.drive = drive[c];
        const std::string m = inst.execute("MES,1").text;
        ASSERT_EQ(m.substr(0, 4), "OK00");
        const auto f = answer_fields(m);
        if (answered) (*answered)[c] = {f[2], f[3], f[4]};
        ASSERT_EQ(inst.execute(target_frame(heads[c], targets[c])).text, "OK00");
    }
    const std::string ch = (channel < 10 ? "0" : "") + std::to_string(channel);
    ASSERT_EQ(inst.execute("ETR," + std::to_string(channel) + ",2024,3,7,14,00,00").text, "OK00");
    ASSERT_EQ(inst.execute("IDS,01," + ch + ",Panel").text, "OK00");
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

// Calibrated with factory channel 0 selected, or through channel 5 (already
// calibrated to a white that is not the sum of the primaries, which it still
// measures): the channel holds the targets exactly as sent and the measured
// values exactly as answered, and measures its targets.
class CalibratedChannel : public ::testing::TestWithParam<int> {};

TEST_P(CalibratedChannel, TdrAnswerHasThePositionLayout) {
    sim::instrument inst{panel()};
    if (GetParam() > 0) {
        auto other = srgb_targets;
        other[0] = {90.0, 95.0, 120.0};
        calibrate(inst, GetParam(), other);
        ASSERT_EQ(inst.execute("MCH,1," + std::to_string(GetParam())).text, "OK00");
        inst.drive = drive[0];
        const auto f = answer_fields(inst.execute("MES,1").text);
        for (std::size_t i = 0; i < 3; ++i)
            EXPECT_NEAR(std::stod(f[2 + i]), other[0][i], 1e-3 * other[0][i]);
    }
    const std::array<sim_xyz, 4> targets{{{95.047123, 100.0, 108.883457},
                                          {41.240009, 21.26, 1.930001},
                                          {35.76, 71.52, 11.92},
                                          {18.05, 7.22, 95.05}}};
    triple_texts answered;
    calibrate(inst, 6, targets, &answered);
    const std::string answer = inst.execute("TDR,6,1,7").text;
    ASSERT_EQ(answer.substr(0, 5), "OK00,");
    ASSERT_LT(answer.size(), 511u);  // hosts read it into 512 bytes
    const auto f = answer_fields(answer);
    ASSERT_EQ(f.size(), 42u);
    EXPECT_EQ(f[0], "CH06");
    EXPECT_EQ(f[4], "CA-410");
    EXPECT_EQ(f[5], "2");
    EXPECT_EQ(f[6], "Panel     ");
    EXPECT_EQ(f[8], "7");
    for (std::size_t c = 0; c < 4; ++c)
        for (std::size_t i = 0; i < 3; ++i) {
            EXPECT_EQ(f[12 + 3 * c + i], value_text(targets[c][i]));
            EXPECT_EQ(f[24 + 3 * c + i], answered[c][i]);
        }
    EXPECT_EQ(std::vector<std::string>(f.begin() + 36, f.end()),
              (std::vector<std::string>{"2024", "03", "07", "14", "00", "00"}));

    // xyLv on request: white target x = X / (X + Y + Z).
    const auto xy = answer_fields(inst.execute("TDR,6,1,0").text);
    EXPECT_EQ(xy[8], "0");
    EXPECT_NEAR(std::stod(xy[12]), targets[0][0] / (targets[0][0] + 100.0 + targets[0][2]), 1e-6);
    EXPECT_NEAR(std::stod(xy[14]), 100.0, 1e-6);

    ASSERT_EQ(inst.execute("MCH,1,6").text, "OK00");
    inst.drive = drive[0];
    const auto white = answer_fields(inst.execute("MES,1").text);
    for (std::size_t i = 0; i < 3; ++i)
        EXPECT_NEAR(std::stod(white[2 + i]), targets[0][i], 1e-3 * targets[0][i]);
}

INSTANTIATE_TEST_SUITE_P(SelectedDuringCalibration, CalibratedChannel, ::testing::Values(0, 5));

TEST(Calibration, EmptyAndDeletedChannelsAnswerTypeZero) {
    sim::instrument inst{panel()};
    calibrate(inst, 5, srgb_targets);
    ASSERT_EQ(inst.execute("MDD,1,5").text, "OK00");
    const std::array<std::array<const char *, 3>, 5> cases{{{"TDR,5,1,7", "CH05", "7"},
                                                            {"TDR,9,1,7", "CH09", "7"},
                                                            {"TDR,10,1,0", "CH10", "0"},
                                                            {"TDR,99,1,8", "CH99", "8"},
                                                            {"TDR,0,1,7", "CH00", "7"}}};
    for (const auto &[frame, item, mode] : cases) {
        const auto f = answer_fields(inst.execute(frame).text);
        ASSERT_EQ(f.size(), 42u) << frame;
        EXPECT_EQ(f[0], item) << frame;
        EXPECT_EQ(f[5], "0") << frame;
        EXPECT_EQ(f[6], "          ") << frame;
        EXPECT_EQ(f[8], mode) << frame;
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

}  // namespace
