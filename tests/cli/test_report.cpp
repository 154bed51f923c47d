// The display report's figures and verdicts against values worked out by
// hand for the virtual instrument's display models (tools/sim/README.md
// gives the imperfect one's light), profiles refused with key and reason.
#include <gtest/gtest.h>

#include <cmath>
#include <map>

#include "patches.h"
#include "report_eval.h"
#include "report_text.h"
#include "sim_display.h"

namespace {

using namespace cli;
using namespace cli::report;

// What a display model emits for the standard patch set, without noise.
std::vector<patch_reading> readings_of(const char *preset, const char *set = "full") {
    const sim_display d = *sim_display_preset(preset);
    std::vector<patch_reading> out;
    for (const patch &p : builtin_patches(set)) {
        const sim_xyz xyz = sim::display_light(d, p.rgb, 1e6);
        out.push_back({p.id, p.name, p.rgb, {xyz[0], xyz[1], xyz[2]}, {}, 1});
    }
    return out;
}

const check &find(const std::vector<check> &checks, const std::string &id) {
    for (const check &c : checks)
        if (c.id == id) return c;
    throw std::runtime_error("no check " + id);
}

const grey_level &level(const evaluation &e, double v) {
    for (const grey_level &g : e.grey)
        if (std::fabs(g.level - v) < 1e-12) return g;
    throw std::runtime_error("no grey level");
}

TEST(Report, IdealDisplayPassesEveryLineWithDeltaENearZero) {
    const evaluation e = evaluate(readings_of("ideal"), load_profile("srgb"));
    EXPECT_EQ(e.overall, verdict::pass);
    EXPECT_EQ(e.patches_used, 59u);
    for (const check &c : e.summary) EXPECT_NE(c.result, verdict::fail) << c.figure;
    for (const auto *patches : {&e.gamut, &e.checker})
        for (const colour_patch &c : *patches) EXPECT_LT(*c.delta_e.measured, 0.05) << c.id;
    EXPECT_NEAR(*find(e.summary, "gamma").measured, 2.2, 1e-9);
    EXPECT_TRUE(std::isinf(*find(e.summary, "contrast").measured));
}

TEST(Report, ImperfectDisplayFailsTheLinesOfItsFaults) {
    const evaluation e = evaluate(readings_of("imperfect"), load_profile("srgb"));
    const std::map<std::string, verdict> expected = {
        {"white.luminance", verdict::pass}, {"white.x", verdict::reported},
        {"white.cct", verdict::reported},   {"white.delta_uv", verdict::fail},
        {"white.delta_e", verdict::fail},   {"black.luminance", verdict::fail},
        {"contrast", verdict::fail},        {"gamma", verdict::fail},
        {"grey.luminance", verdict::fail},  {"grey.point_gamma", verdict::fail},
        {"grey.delta_e", verdict::fail},    {"grey.delta_uv", verdict::fail},
        {"gamut.delta_e", verdict::fail},   {"gamut.coverage", verdict::fail},
        {"gamut.area", verdict::reported},  {"checker.mean", verdict::fail},
        {"checker.p95", verdict::fail},     {"checker.max", verdict::fail}};
    for (const auto &[id, v] : expected) EXPECT_EQ(find(e.summary, id).result, v) << id;
    EXPECT_EQ(e.overall, verdict::fail);
    // The preset's white, black and grey 50 % (README): contrast 98.8 / 0.8,
    // point gamma log((19.45516 - 0.8) / 98) / log(0.5), target 98.8 x 0.5^2.2.
    EXPECT_NEAR(*find(e.summary, "white.luminance").measured, 98.8, 1e-9);
    EXPECT_NEAR(*find(e.summary, "white.x").measured, 0.3031, 5e-5);
    EXPECT_NEAR(*find(e.summary, "contrast").measured, 123.5, 1e-9);
    const grey_level &half = level(e, 0.5);
    EXPECT_NEAR(half.xyz[1], 19.45516, 1e-5);
    EXPECT_NEAR(*half.point_gamma, std::log(18.65516 / 98.0) / std::log(0.5), 1e-6);
    EXPECT_NEAR(half.target_luminance, 98.8 * std::pow(0.5, 2.2), 1e-9);
    EXPECT_EQ(find(half.checks, "grey.luminance").result, verdict::pass);  // 9.5 % short
    EXPECT_EQ(find(level(e, 0.1).checks, "grey.luminance").result, verdict::fail);
}

TEST(Report, TargetCurvesFollowTheMeasuredWhiteAndBlack) {
    // BT.1886 from the measured black 0.8 to the white 98.8, by its formula.
    const double w = std::pow(98.8, 1 / 2.4), b = std::pow(0.8, 1 / 2.4);
    const double bt1886 = std::pow(w - b, 2.4) * std::pow(0.5 + b / (w - b), 2.4);
    const evaluation e = evaluate(readings_of("imperfect"), load_profile("bt1886"));
    EXPECT_NEAR(level(e, 0.5).target_luminance, bt1886, 1e-9);
    EXPECT_NEAR(level(e, 0.0).target_luminance, 0.8, 1e-9);
    // PQ in cd/m2 (0.5 gives 92.2457), clipped at the ideal display's 100.
    const evaluation hdr = evaluate(readings_of("ideal"), load_profile("hdr10"));
    EXPECT_NEAR(level(hdr, 0.5).target_luminance, 92.2457, 1e-4);
    EXPECT_NEAR(level(hdr, 0.6).target_luminance, 100.0, 1e-9);
    EXPECT_EQ(find(hdr.summary, "white.luminance").result, verdict::fail);  // 100 < 400
}

TEST(Report, WhatTheFileLacksIsNotMeasuredNotFailed) {
    const evaluation grey = evaluate(readings_of("ideal", "grey"), load_profile("srgb"));
    EXPECT_EQ(grey.overall, verdict::pass);
    for (const char *id : {"gamut.delta_e", "gamut.coverage", "checker.mean"})
        EXPECT_EQ(find(grey.summary, id).result, verdict::not_measured) << id;
    std::vector<patch_reading> no_white = readings_of("ideal", "primaries");
    const evaluation none = evaluate(no_white, load_profile("srgb"));
    EXPECT_EQ(none.patches_used, 0u);
    EXPECT_EQ(find(none.summary, "white.delta_e").result, verdict::not_measured);
}

TEST(Report, PercentileAsNumPyComputesIt) {
    const struct {
        std::vector<double> values;
        double percent, expected;
    } cases[] = {{{1, 2, 3, 4}, 95, 3.85}, {{5}, 95, 5}, {{4, 1, 3, 2}, 50, 2.5}, {{1, 2}, 100, 2}};
    for (const auto &c : cases) EXPECT_NEAR(percentile(c.values, c.percent), c.expected, 1e-12);
}

TEST(Report, ProfilesRefusedWithKeyAndReason) {
    const struct {
        const char *json, *key, *reason;
    } cases[] = {
        {"{", "(syntax)", "not JSON"},
        {"[1]", "(profile)", "must be a JSON object"},
        {R"({"colour": 1})", "colour", "is not a profile key"},
        {R"({"base": "p3"})", "base", "must be one of bt1886, dci-p3-d65, hdr10, srgb"},
        {R"({"gamut": "adobe"})", "gamut", "must be one of srgb, dci-p3-d65, bt2020"},
        {R"({"white": [0.7, 0.5]})", "white", "x + y must be below 1"},
        {R"({"white": "D50"})", "white", "must be one of D65"},
        {R"({"gamma": "2.2"})", "gamma", "must be a number, not string"},
        {R"({"gamma": 0})", "gamma", "must be from 0.1 to 10, not 0"},
        {R"({"tone_curve": "hlg"})", "tone_curve", "must be one of srgb, gamma, bt1886, pq"},
        {R"({"tolerances": {"white_delta_e": -1}})", "tolerances.white_delta_e",
         "must be 0 or more, not -1"},
        {R"({"tolerances": {"delta_e": 1}})", "tolerances.delta_e", "is not a tolerance"},
        {R"({"tolerances": []})", "tolerances", "must be an object"},
    };
    for (const auto &c : cases) {
        try {
            parse_profile(c.json, "p.json");
            ADD_FAILURE() << c.json << " was taken";
        } catch (const profile_error &e) {
            EXPECT_EQ(e.key, c.key) << c.json;
            EXPECT_NE(std::string(e.what()).find(std::string("p.json: ") + c.key + " " + c.reason),
                      std::string::npos)
                << e.what();
        }
    }
}

TEST(Report, ProfileStartsFromItsBaseAndChangesTolerances) {
    const profile p = parse_profile(
        R"({"base": "bt1886", "tolerances": {"black_max": 1.0, "gamma": null}})", "dir/panel.json");
    EXPECT_EQ(p.name, "panel");
    EXPECT_EQ(p.curve, tone_curve::bt1886);
    EXPECT_EQ(p.tolerances[tol_black_max], 1.0);
    EXPECT_FALSE(p.tolerances[tol_gamma].has_value());
    EXPECT_EQ(p.tolerances[tol_contrast_min], load_profile("bt1886").tolerances[tol_contrast_min]);
}

TEST(Report, FiguresShownWithUnitAndPrecision) {
    const struct {
        quantity q;
        double v;
        const char *text;
    } cases[] = {
        {quantity::luminance, 98.76, "98.8 cd/m²"}, {quantity::luminance, 0.80432, "0.804 cd/m²"},
        {quantity::delta_e, 2.345, "2.35"},         {quantity::xy, 0.31272, "0.3127"},
        {quantity::duv, 0.0032, "+0.0032"},         {quantity::contrast, 123.5, "124:1"},
        {quantity::percent, 87.54, "87.5 %"},       {quantity::cct, 6503.6, "6504 K"},
        {quantity::contrast, HUGE_VAL, "∞:1"},      {quantity::duv, -0.00001, "0.0000"}};
    for (const auto &c : cases) EXPECT_EQ(value_text(c.q, c.v), c.text);
    EXPECT_EQ(value_text(quantity::delta_e, std::nullopt), "—");
    EXPECT_EQ(escape_html("<a href='x'>&\"\x01"), "&lt;a href=&#39;x&#39;&gt;&amp;&quot;\uFFFD");
}

}  // namespace
