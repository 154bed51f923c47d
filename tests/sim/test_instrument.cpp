// The instrument's answers without the line; user calibration and emission maths.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <clocale>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <string>
#include <tuple>
#include <vector>

#include "sim_display.h"
#include "sim_emission.h"
#include "sim_host.h"
#include "sim_instrument.h"
#include "sim_number.h"

namespace {

// Every test of this program runs where the locale writes decimal commas:
// the simulator's texts must not notice.
class comma_locale : public ::testing::Environment {
    void SetUp() override {
        if (!std::setlocale(LC_ALL, "de_DE.UTF-8"))
            std::fprintf(stderr, "NOTE: no de_DE.UTF-8 locale; decimal commas not tried\n");
    }
};
const auto *const with_commas = ::testing::AddGlobalTestEnvironment(new comma_locale);

// X, Y, Z of a "MES," answer in display mode 7.
sim_xyz measured(std::string_view answer) {
    sim_xyz xyz{};
    answer.remove_prefix(std::string_view("OK00,P1,7,").size());
    for (double &v : xyz) {
        v = sim::parse_whole<double>(answer.substr(0, answer.find(','))).value_or(NAN);
        answer.remove_prefix(std::min(answer.size(), answer.find(',') + 1));
    }
    return xyz;
}

// Frames and their answers in turn: exact, or up to a trailing '*'.
void run(sim::instrument &inst, const std::vector<std::string> &steps) {
    for (std::size_t i = 0; i + 1 < steps.size(); i += 2) {
        const std::string &want = steps[i + 1];
        const std::size_t n = want.back() == '*' ? want.size() - 1 : std::string::npos;
        EXPECT_EQ(inst.execute(steps[i]).text.substr(0, n), want.substr(0, n)) << steps[i];
    }
}

// Power-on values, settings read back, no sync signal, colour range, frames refused.
TEST(sim_instrument, EachCommandsLayout) {
    sim_instrument_options no_sync;
    no_sync.external_sync_hz = 0.0;
    sim::instrument inst{no_sync};
    inst.shown_light = sim_xyz{20.0, 30.0, 50.0};
    run(inst,
        {"IDO,0,1", "OK00,CA-410,CA-P427,CA-410 SIM     ,1.21.0004,41000001,27000001", "MES,1",
         "ER10", "STR,23", "OK00,0", "ZRC", "OK00", "STR,23", "OK00,2", "RGR,0,0", "OK00,0,6",
         "RGR,0,1", "OK00,0,4", "STR,0", "OK00,0", "STR,1", "OK00,3", "STR,3", "OK00,0", "STR,4",
         "OK00,          ", "STR,6", "OK00,1", "STR,7", "OK00,1", "STR,11", "OK00,1", "STR,12",
         "OK00,1", "STR,15", "OK00,0.00", "STR,17", "OK00,100.00", "STR,18", "OK00,0", "STR,19",
         "OK00,0", "STR,26", "OK00,0", "STR,28", "OK00,60.00",
         // Probe, mode, the mode's three values, u' v', channel, speed.
         "MES,1", "OK00,P1,0,0.200000,0.300000,30.000000,0.1290,0.4355,0,1", "MDS,7", "OK00",
         "STR,0", "OK00,7", "MES,2", "OK00,P1,7,20.000000,30.000000,50.000000,0.1290,0.4355,0,1",
         "SCS,2", "OK00", "STR,1", "OK00,2", "STR,16", "ER20", "MES,1", "ER20", "SCS,4,120", "OK00",
         "STR,28", "OK00,120.00", "SCS,5,33.3", "OK00", "STR,1", "OK00,5", "STR,17", "OK00,33.30",
         "IDS,01,05,Panel A", "OK00", "MCH,1,05", "OK00", "STR,3", "OK00,5", "STR,4",
         "OK00,Panel A   ", "LUS,0", "OK00", "STR,6", "OK00,0", "FSC,3", "OK00", "STR,7", "OK00,3",
         "DPR,10", "OK00", "STR,11", "OK00,10", "OPR,2", "OK00", "STR,12", "OK00,2", "TMS,1",
         "OK00", "STR,18", "OK00,1", "TDS,100", "OK00", "STR,19", "OK00,100", "MMS,1", "OK00",
         "STR,26", "OK00,1", "RGS,0,0,1,3", "OK00", "RGR,0,0", "OK00,1,3", "RGS,0,1,1,2", "OK00",
         "RGR,0,1", "OK00,1,2",
         // The measurement reset keeps the channel and the zero calibration.
         "RST,0,2", "OK00", "STR,7", "OK00,1", "STR,0", "OK00,0", "STR,3", "OK00,5", "STR,23",
         "OK00,2", "RST,0,0", "OK00", "STR,3", "OK00,0"});
    // Over the colour range: fixed, the range's limit; automatic, the top one.
    for (const double y : {10.0, 10.5, 5000.0, 5001.0}) {
        inst.shown_light = sim_xyz{1.0, y, 1.0};
        run(inst, {y < 5000 ? "RGS,0,0,1,1" : "RGS,0,0,0,1", "OK00", "MES,1",
                   y == 10.5 || y == 5001 ? "ER22" : "OK00,*"});
    }
    for (const std::string &frame : std::vector<std::string>{
             // Unknown heads, wrong counts, not numbers.
             "", "ido,0,1", "XYZ,1", "ZRC,", "IDO,0", "IDO,0,1,2", "MDS,07x", "SCS,4,abc",
             "MCH,1,,5",
             // Out of range, or in the wrong state.
             "MDS,2", "MDS,9", "STR,-1", "SCS,4,1234567", "FSC,4", "OPR,11", "TDS,101", "MCH,1,100",
             "IDS,01,05,ELEVENCHARS", "RGS,0,0,0,7", "RST,1,2", "TDR,100,1,7", "IDS,01,00,name",
             "MDD,1,0", "ETR,5,2024,3,7,14,00,00", "UWT,7,1,2,3"})
        EXPECT_EQ(inst.execute(frame).text, "ER10") << frame;
}

// A panel whose primaries are unlike the targets: through the channel each
// colour measures its target (they add up to the white).
TEST(sim_instrument, CalibrationRefusalsThenAChannelThatMeasuresItsTargets) {
    sim_instrument_options panel;
    panel.display.primaries = {{{45.0, 23.0, 2.5}, {33.0, 68.0, 13.0}, {19.0, 8.5, 97.0}}};
    sim::instrument inst{panel};
    run(inst, {"ZRC", "OK00", "MDS,7", "OK00", "MES,1", "OK00,*", "UWT,7,95,100,108", "ER10",
               // A target needs a measurement since "UCS," and a colour.
               "UCS,1", "OK00", "UWT,7,95,100,108", "ER05", "MES,1", "OK00,*", "UWT,7,1,0,1",
               "ER06", "UWT,1,1,1,1", "ER06", "UWT,7,95,100,108", "OK00",
               // The entry needs a date, four targets and independent primaries.
               "ETR,9,2024,13,1,0,00,00", "ER10", "ETR,9,2024,1,1,0,00,00", "ER06", "URD,7,40,20,2",
               "OK00", "UGR,7,35,70,11", "OK00", "UBL,7,18,7,95", "OK00", "ETR,9,2024,1,1,0,00,00",
               "ER05", "UCS,1", "OK00"});
    EXPECT_FALSE(inst.channels[9].has_value());
    const double targets[4][3] = {
        {95.05, 100, 108.9}, {41.24, 21.26, 1.93}, {35.76, 71.52, 11.92}, {18.05, 7.22, 95.05}};
    const char *frames[] = {"UWT,7,95.05,100,108.9", "URD,7,41.24,21.26,1.93",
                            "UGR,7,35.76,71.52,11.92", "UBL,7,18.05,7.22,95.05"};
    const std::array<double, 3> drive[] = {{1, 1, 1}, {1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
    for (std::size_t c = 0; c < 4; ++c) {
        inst.drive = drive[c];
        run(inst, {"MES,1", "OK00,*", frames[c], "OK00"});
    }
    run(inst, {"ETR,5,2024,3,7,14,00,00", "OK00", "MCH,1,5", "OK00"});
    for (std::size_t c = 0; c < 4; ++c) {
        inst.drive = drive[c];
        const sim_xyz xyz = measured(inst.execute("MES,1").text);
        for (std::size_t i = 0; i < 3; ++i)
            EXPECT_NEAR(xyz[i], targets[c][i], 1e-3 * targets[c][i]) << c;
    }
}

// Spectra 40 nm wide around each primary give a white of the luminance; a
// line 1 nm wide has the observer's chromaticity there.
TEST(sim_emission, PrimariesFromSpectra) {
    temp_dir dir;
    const std::array<std::string, 3> paths{dir.path + "/r", dir.path + "/g", dir.path + "/b"};
    for (int i = 0; i < 3; ++i) {
        char csv[64];
        std::snprintf(csv, sizeof csv, "nm,value\n# measured\n%d, 0\n%d,1\n%d,0\n", 630 - 80 * i,
                      610 - 80 * i, 590 - 80 * i);
        std::ofstream(paths[i]) << csv;
    }
    std::array<sim_xyz, 3> p{};
    std::string error;
    ASSERT_TRUE(sim::primaries_from_spectra(paths, 250.0, &p, &error)) << error;
    for (const auto &path : paths) unlink(path.c_str());
    EXPECT_NEAR(p[0][1] + p[1][1] + p[2][1], 250.0, 1e-9);
    const sim_xyz line = sim::spectrum_xyz({{554.0, 0.0}, {555.0, 1.0}, {556.0, 0.0}});
    EXPECT_NEAR(line[0] / line[1], 0.512050, 1e-6);  // the observer at 555 nm
    EXPECT_NEAR(line[2] / line[1], 0.005750, 1e-6);
}

// Hand-computed: sRGB primaries, gammas 2, 1, 3, black 0.5 each, flare 1 % of
// white (95.05, 100, 108.9), each channel losing 5 % per other full channel.
TEST(sim_display, LightForDriveLevels) {
    sim_display d;
    d.tone = {sim_tone{2.0, {}}, sim_tone{1.0, {}}, sim_tone{3.0, {}}};
    d.black = {0.5, 0.5, 0.5};
    d.flare = 0.01;
    d.additivity_loss = 0.1;
    sim_display table = d, warm = d, drift;
    table.tone[0].table = {{0, 0}, {0.5, 0.1}, {1, 1}};
    warm.warmup_percent = 10.0;
    warm.warmup_seconds = 100.0;
    drift.grey_drift_xy = {{0.25, 0.25}};
    const struct {
        const sim_display &display;
        std::array<double, 3> drive;
        double seconds;
        sim_xyz want;
    } cases[] = {
        {d, {0, 0, 0}, 0, {1.4505, 1.5, 1.589}},
        {d, {0.5, 0, 0}, 0, {11.7605, 6.815, 2.0715}},
        {d, {0, 0.5, 0}, 0, {19.3305, 37.26, 7.549}},
        {d, {1, 1, 0}, 0, {74.6005, 89.641, 14.7465}},        // 0.95 (R + G)
        {d, {1, 1, 1}, 0, {86.9955, 91.5, 99.599}},           // 0.9 white
        {table, {0.75, 0, 0}, 0, {24.1325, 13.193, 2.6505}},  // 0.55 red
        {warm, {1, 0, 0}, 0, {38.5665, 20.634, 3.326}},       // 90 %
        {warm, {1, 0, 0}, 100, {41.1734, 21.9779, 3.448}},    // 1 - 0.1 / e
        // Grey at 0.5 (Y 100 0.5^2.2) a quarter of the way from the white's xy
        // (0.312716, 0.329001) to 0.25, 0.25: at 0.297037, 0.309251.
        {drift, {0.5, 0.5, 0.5}, 0, {20.904183, 21.763764, 27.707756}},
    };
    for (const auto &c : cases) {
        const sim_xyz got = sim::display_light(c.display, c.drive, c.seconds);
        for (int i = 0; i < 3; ++i) EXPECT_NEAR(got[i], c.want[i], 1e-4) << c.drive[0] << i;
    }
}

TEST(sim_display, ToneTablesAndTheirErrors) {
    const std::pair<const char *, const char *> cases[] = {
        {"level,value\n# gamma 2\n0,0\n0.5,0.25\n1,1\n", ""},
        {"0,0\n1,1\nx\n", "line 3: expected level,value"},
        {"0,0\n1.5,1\n", "line 2: level is 0 to 1, not 1.5"},
        {"0,0\n0.6,0.2\n\n0.5,0.3\n1,1", "line 4: level 0.5 does not ascend from 0.6"},
        {"0,0\n0.5,-1\n1,1", "line 2: value is 0 or more, not -1"},
        {"0.1,0\n1,1", "the levels must run from 0 to 1"},
        {"0,0\n", "needs at least two points, level 0 and level 1"},
    };
    for (const auto &[text, error] : cases) {
        std::string why;
        EXPECT_EQ(sim_parse_tone_table(text, &why).has_value(), *error == '\0') << text;
        EXPECT_EQ(why, error);
    }
}

// The numbers tools/sim/README.md gives for the imperfect display.
TEST(sim_display, ImperfectPresetAsDocumented) {
    const sim_display d = sim_display_preset("imperfect").value();
    const auto xy = [](const sim_xyz &v) {
        return std::array<double, 2>{v[0] / (v[0] + v[1] + v[2]), v[1] / (v[0] + v[1] + v[2])};
    };
    const std::array<double, 2> primaries[] = {{0.64, 0.33}, {0.31, 0.57}, {0.15, 0.06}};
    for (int c = 0; c < 3; ++c)
        for (int i = 0; i < 2; ++i) EXPECT_NEAR(xy(d.primaries[c])[i], primaries[c][i], 1e-12);
    const sim_xyz white = sim::display_light(d, {1, 1, 1}, 0);
    const sim_xyz panel{white[0] - 0.76, white[1] - 0.8, white[2] - 0.87};
    EXPECT_NEAR(xy(panel)[0], 0.303, 1e-12);
    EXPECT_NEAR(xy(panel)[1], 0.319, 1e-12);
    EXPECT_NEAR(white[1], 98.8, 1e-9);  // 2 % short of 100, and the black's 0.8
    EXPECT_EQ(std::make_tuple(d.tone[0].gamma, d.tone[1].gamma, d.tone[2].gamma, d.black, d.flare,
                              d.grey_drift_xy.value(), d.noise, d.seed),
              std::make_tuple(2.5, 2.4, 2.4, sim_xyz{0.76, 0.8, 0.87}, 0.0,
                              std::array<double, 2>{0.27, 0.28}, 0.003, std::uint64_t{1}));
    EXPECT_FALSE(sim_display_preset("perfect"));
}

// The same seed measures the same numbers; their spread is the noise asked for.
TEST(sim_display, NoiseIsSeededAndOfItsSize) {
    sim_instrument_options o;
    o.display.noise = 0.01;
    std::vector<std::string> runs[3];
    for (int k = 0; k < 3; ++k) {
        o.display.seed = k == 2 ? 2 : 1;
        sim::instrument inst{o};
        run(inst, {"ZRC", "OK00", "MDS,7", "OK00"});
        for (int i = 0; i < 400; ++i) runs[k].push_back(inst.execute("MES,1").text);
    }
    EXPECT_EQ(runs[0], runs[1]);
    EXPECT_NE(runs[0], runs[2]);
    double sum = 0, squares = 0;
    for (const auto &answer : runs[0]) {
        const double y = measured(answer)[1] / 100 - 1;
        sum += y, squares += y * y;
    }
    EXPECT_NEAR(std::sqrt(squares / 400 - sum * sum / 400 / 400), 0.01, 0.002);
}

}  // namespace
