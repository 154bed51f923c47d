// Primaries from emission spectra.
#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>

#include "cmat/observers.h"
#include "sim_host.h"
#include "sim_emission.h"

namespace {

TEST(SpectrumCsv, ReadsSamplesWithHeaderAndComments) {
    std::string error;
    const auto sp = sim::parse_spectrum_csv("nm,power\n# measured\n\n500, 0.5\n400,1\n", &error);
    ASSERT_TRUE(sp.has_value()) << error;
    EXPECT_EQ(*sp, (sim::spectrum{{400.0, 1.0}, {500.0, 0.5}}));
}

struct bad_csv {
    const char *text;
    const char *why;
};

class SpectrumCsvRefused : public ::testing::TestWithParam<bad_csv> {};

TEST_P(SpectrumCsvRefused, WithTheReason) {
    std::string error;
    EXPECT_FALSE(sim::parse_spectrum_csv(GetParam().text, &error).has_value());
    EXPECT_EQ(error, GetParam().why);
}

INSTANTIATE_TEST_SUITE_P(
    Table, SpectrumCsvRefused,
    ::testing::Values(bad_csv{"400,1\nx,2\n", "line 2: expected nm,value"},
                      bad_csv{"400,1\n", "needs at least two samples at different wavelengths"},
                      bad_csv{"400,1\n400,2\n",
                              "needs at least two samples at different wavelengths"},
                      bad_csv{"400,1\n500,1\n400,2\n", "wavelength 400.000000 given twice"}));

TEST(SpectrumXyz, NarrowLineHasTheObserversChromaticity) {
    // A triangle 1 nm wide at 555 nm: only the 555 nm sample is lit.
    const sim_xyz xyz = sim::spectrum_xyz({{554.0, 0.0}, {555.0, 1.0}, {556.0, 0.0}});
    const xspect *cmf[3] = {};
    ASSERT_EQ(standardObserver(cmf, observer_cie_1931_2), 0);
    const auto at = [&](int j) { return cmf[j]->values[555 - 360]; };
    EXPECT_NEAR(xyz[0] / xyz[1], at(0) / at(1), 1e-9);
    EXPECT_NEAR(xyz[2] / xyz[1], at(2) / at(1), 1e-9);
}

TEST(SpectrumXyz, EqualEnergyIsNeutral) {
    const sim_xyz xyz = sim::spectrum_xyz({{360.0, 1.0}, {830.0, 1.0}});
    const double sum = xyz[0] + xyz[1] + xyz[2];
    EXPECT_NEAR(xyz[0] / sum, 1.0 / 3.0, 1e-3);
    EXPECT_NEAR(xyz[1] / sum, 1.0 / 3.0, 1e-3);
}

TEST(SpectrumPrimaries, WhiteIsScaledToTheLuminance) {
    temp_dir dir;
    const std::array<std::string, 3> paths{dir.path + "/r.csv", dir.path + "/g.csv",
                                           dir.path + "/b.csv"};
    const double peaks[] = {610.0, 545.0, 450.0};
    for (std::size_t i = 0; i < 3; ++i) {
        std::ofstream out(paths[i]);
        out << "nm,value\n"
            << peaks[i] - 20 << ",0\n"
            << peaks[i] << ",1\n"
            << peaks[i] + 20 << ",0\n";
    }
    std::array<sim_xyz, 3> prim{};
    std::string error;
    ASSERT_TRUE(sim::primaries_from_spectra(paths, 250.0, &prim, &error)) << error;
    EXPECT_NEAR(prim[0][1] + prim[1][1] + prim[2][1], 250.0, 1e-9);
    EXPECT_GT(prim[0][0], prim[0][2]);  // red: more X than Z
    EXPECT_GT(prim[2][2], prim[2][1]);  // blue: more Z than Y
    EXPECT_FALSE(sim::primaries_from_spectra({paths[0], paths[1], "/nonexistent.csv"}, 100.0, &prim,
                                             &error));
    EXPECT_EQ(error, "cannot read /nonexistent.csv");
    for (const auto &p : paths) unlink(p.c_str());
}

}  // namespace
