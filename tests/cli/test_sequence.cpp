// The sequence engine on the virtual instrument's imperfect display: the file
// it writes against the display's published light (tools/sim/README.md) and
// its model, the grey ramp's gammas and drift, and a patch's spread.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <random>

#include "ca410_colour.h"
#include "sequence_sim.h"
#include "sim_display.h"

namespace {

using namespace cli;

sim_display imperfect(double noise) {
    sim_display d = *sim_display_preset("imperfect");
    d.noise = noise;
    return d;
}

struct measured_ramp {
    std::vector<double> levels, y, model_y;
    std::vector<patch_reading> file;
    std::vector<sim_xyz> model;
};

// Measures grey:STEPS into a file, reads the file back and lays the model's
// light beside it.
measured_ramp measure_ramp(const sim_display &display, const char *set, int repeat) {
    const auto path = std::filesystem::temp_directory_path() /
                      ("sequence_test_" + std::to_string(std::random_device{}()) + ".ti3");
    const patch_list patches = builtin_patches(set);
    auto writer = measurement_writer::create(path.string(), file_format::cgats, {}, patches);
    const sequence_result r = measure_on_sim(display, patches, {0, repeat}, writer.get());
    EXPECT_EQ(r.status, exit_ok);
    writer->finish();
    measured_ramp m;
    m.file = read_measurements(path.string()).readings;
    std::filesystem::remove(path);
    EXPECT_EQ(m.file.size(), patches.size());
    for (const patch_reading &p : m.file) {
        m.model.push_back(sim::display_light(display, p.rgb, 0.0));
        m.levels.push_back(p.rgb[0]);
        m.y.push_back(p.xyz[1]);
        m.model_y.push_back(m.model.back()[1]);
    }
    return m;
}

std::array<double, 2> xy(const std::array<double, 3> &v) {
    const double sum = v[0] + v[1] + v[2];
    return {v[0] / sum, v[1] / sum};
}

// The imperfect display's published light: level, X, Y, Z.
const struct {
    double level;
    sim_xyz xyz;
} published[] = {{0.0, {0.76, 0.80, 0.87}},
                 {0.25, {4.04650, 4.31080, 5.91678}},
                 {0.5, {18.32160, 19.45516, 25.02224}},
                 {1.0, {93.84464, 98.80000, 116.99539}}};

TEST(Sequence, WritesWhatTheDisplayEmits) {
    const measured_ramp m = measure_ramp(imperfect(0.0), "grey:5", 2);
    for (std::size_t i = 0; i < m.file.size(); ++i)
        for (std::size_t k = 0; k < 3; ++k) {
            EXPECT_NEAR(m.file[i].xyz[k], m.model[i][k], 1e-6) << m.file[i].id;
            EXPECT_EQ(m.file[i].sd[k], 0.0);
            EXPECT_EQ(m.file[i].n, 2);
        }
    for (const auto &p : published) {
        const std::size_t i = static_cast<std::size_t>(p.level * 4);
        for (std::size_t k = 0; k < 3; ++k) EXPECT_NEAR(m.file[i].xyz[k], p.xyz[k], 5e-6);
    }
}

TEST(Sequence, RecoversTheGreyRampsGammasAndDriftThroughNoise) {
    const measured_ramp m = measure_ramp(imperfect(0.003), "grey:11", 10);
    const auto count = static_cast<int32_t>(m.levels.size());
    std::vector<double> point(m.levels.size()), model_point(m.levels.size());
    ASSERT_EQ(ca410ColourPointGamma(m.levels.data(), m.y.data(), count, point.data()), 0);
    ASSERT_EQ(ca410ColourPointGamma(m.levels.data(), m.model_y.data(), count, model_point.data()),
              0);
    for (std::size_t i = 2; i + 1 < point.size(); ++i)
        EXPECT_NEAR(point[i], model_point[i], 0.02) << "level " << m.levels[i];
    double fit = 0, model_fit = 0;
    ASSERT_EQ(ca410ColourFitGamma(m.levels.data(), m.y.data(), count, &fit), 0);
    ASSERT_EQ(ca410ColourFitGamma(m.levels.data(), m.model_y.data(), count, &model_fit), 0);
    EXPECT_NEAR(fit, model_fit, 0.005);
    EXPECT_NEAR(model_fit, 2.39, 0.01);  // below the channels' 2.4 and 2.5: black lifts the ramp
    // Grey drifts towards blue as the level falls, as the model has it.
    for (std::size_t i = 1; i < m.file.size(); ++i) {
        const auto got = xy(m.file[i].xyz), want = xy(m.model[i]);
        EXPECT_NEAR(got[0], want[0], 0.002) << "level " << m.levels[i];
        EXPECT_NEAR(got[1], want[1], 0.002) << "level " << m.levels[i];
        if (i > 2) {  // near black, black's own colour has the upper hand
            EXPECT_LT(xy(m.model[i - 1])[0], want[0]) << "level " << m.levels[i];
        }
        // The readings' spread is the noise: 0.3 % of each value.
        EXPECT_NEAR(m.file[i].sd[1] / m.file[i].xyz[1], 0.003, 0.003);
    }
}

TEST(Sequence, MeanAndSampleDeviation) {
    const patch p{"P1", "", {0.5, 0.5, 0.5}};
    const patch_reading one = summarise(p, {{1, 2, 3}});
    EXPECT_EQ(one.xyz, (std::array<double, 3>{1, 2, 3}));
    EXPECT_EQ(one.sd, (std::array<double, 3>{0, 0, 0}));
    const patch_reading four = summarise(p, {{1, 0, 5}, {2, 0, 5}, {3, 0, 5}, {4, 0, 5}});
    EXPECT_EQ(four.xyz, (std::array<double, 3>{2.5, 0, 5}));
    EXPECT_DOUBLE_EQ(four.sd[0], std::sqrt(5.0 / 3.0));
    EXPECT_EQ(four.sd[2], 0.0);
    EXPECT_EQ(std::make_tuple(four.id, four.rgb, four.n), std::make_tuple(p.id, p.rgb, 4L));
}

}  // namespace
