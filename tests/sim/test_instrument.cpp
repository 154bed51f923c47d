// The instrument's answers, frame by frame, without the line.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sim_host.h"
#include "sim_instrument.h"

namespace {

struct exact_case {
    const char *frame;
    const char *answer;
};

class InstrumentAnswers : public ::testing::TestWithParam<exact_case> {};

TEST_P(InstrumentAnswers, FreshInstrumentAnswersExactly) {
    sim::instrument inst{sim_instrument_options{}};
    EXPECT_EQ(inst.execute(GetParam().frame).text, GetParam().answer) << GetParam().frame;
}

INSTANTIATE_TEST_SUITE_P(
    Defaults, InstrumentAnswers,
    ::testing::Values(exact_case{"IDO,0,1",
                                 "OK00,CA-410,CA-P427,CA-410 SIM     ,1.21.0004,41000001,27000001"},
                      exact_case{"COM,1", "OK00"}, exact_case{"RST,0,2", "OK00"},
                      exact_case{"ZRC", "OK00"}, exact_case{"RGR,0,0", "OK00,0,6"},
                      exact_case{"RGR,0,1", "OK00,0,4"}, exact_case{"STR,0", "OK00,0"},
                      exact_case{"STR,1", "OK00,3"}, exact_case{"STR,3", "OK00,0"},
                      exact_case{"STR,4", "OK00,          "}, exact_case{"STR,6", "OK00,1"},
                      exact_case{"STR,7", "OK00,1"}, exact_case{"STR,11", "OK00,1"},
                      exact_case{"STR,12", "OK00,1"}, exact_case{"STR,15", "OK00,0.00"},
                      exact_case{"STR,17", "OK00,100.00"}, exact_case{"STR,18", "OK00,0"},
                      exact_case{"STR,19", "OK00,0"}, exact_case{"STR,23", "OK00,0"},
                      exact_case{"STR,26", "OK00,0"}, exact_case{"STR,28", "OK00,60.00"},
                      // Measuring needs the zero calibration first.
                      exact_case{"MES,1", "ER10"}));

class MalformedFrames : public ::testing::TestWithParam<const char *> {};

TEST_P(MalformedFrames, AnswerEr10AndChangeNothing) {
    sim::instrument inst{sim_instrument_options{}};
    const sim_settings before = inst.settings;
    const sim::reply r = inst.execute(GetParam());
    EXPECT_EQ(r.text, "ER10") << GetParam();
    EXPECT_FALSE(r.changed);
    EXPECT_EQ(inst.settings.display_mode, before.display_mode);
    EXPECT_EQ(inst.settings.sync_mode, before.sync_mode);
    EXPECT_EQ(inst.settings.current_channel, before.current_channel);
    EXPECT_FALSE(inst.channels[5].has_value());
}

INSTANTIATE_TEST_SUITE_P(
    Table, MalformedFrames,
    ::testing::Values("", "ID", "IDO", "IDO0,1", "IDO,0", "IDO,0,1,2", "IDO,x,1", "ido,0,1", "ZRC,",
                      "ZRC1", "MDS,2", "MDS,9", "MDS,", "MDS,7,1", "MDS,07x", "STR,2", "STR,99",
                      "STR,-1", "STR,16", "SCS,6", "SCS,4", "SCS,4,1234567", "SCS,4,abc",
                      "SCS,1,60", "FSC,4", "LUS,2", "DPR,0", "OPR,11", "TDS,101", "TMS,2", "MMS,2",
                      "MCH,1,100", "MCH,0,5", "MCH,1,,5", "IDS,01,00,name", "IDS,01,05,",
                      "IDS,01,05,ELEVENCHARS", "IDS,01,05,a,b", "IDS,01,05", "RGS,0,0,0,7",
                      "RGS,0,1,0,5", "RGS,0,0,2,1", "RGS,0,0,0,0", "RGR,0,2", "RST,0,4", "RST,1,2",
                      "TDR,100,1,7", "TDR,5,2,7", "TDR,5,1,3", "MDD,1,0", "MDD,1,100", "MDD,5",
                      "ETR,5,2024,3,7,14,00,00", "MES,3", "MES,", "UWT,7,1,2,3", "UCS,2", "BPS,1",
                      "XYZ,1", "FMS,0", "COM,2"));

struct round_trip {
    std::vector<const char *> set;  // each answers "OK00"
    const char *read;
    const char *answer;
};

class SettingsRoundTrip : public ::testing::TestWithParam<round_trip> {};

TEST_P(SettingsRoundTrip, ReadBackWhatWasSet) {
    sim::instrument inst{sim_instrument_options{}};
    for (const char *frame : GetParam().set) {
        const sim::reply r = inst.execute(frame);
        EXPECT_EQ(r.text, "OK00") << frame;
    }
    EXPECT_EQ(inst.execute(GetParam().read).text, GetParam().answer);
}

INSTANTIATE_TEST_SUITE_P(
    EachItem, SettingsRoundTrip,
    ::testing::Values(
        round_trip{{"MDS,7"}, "STR,0", "OK00,7"}, round_trip{{"SCS,2"}, "STR,1", "OK00,2"},
        round_trip{{"SCS,2"}, "STR,16", "OK00,60.00"}, round_trip{{"SCS,4,120"}, "STR,1", "OK00,4"},
        round_trip{{"SCS,4,120"}, "STR,28", "OK00,120.00"},
        round_trip{{"SCS,5,33.3"}, "STR,17", "OK00,33.30"},
        round_trip{{"MCH,1,12"}, "STR,3", "OK00,12"}, round_trip{{"MCH,1,05"}, "STR,3", "OK00,5"},
        round_trip{{"IDS,01,05,Panel A", "MCH,1,5"}, "STR,4", "OK00,Panel A   "},
        round_trip{{"LUS,0"}, "STR,6", "OK00,0"}, round_trip{{"FSC,3"}, "STR,7", "OK00,3"},
        round_trip{{"DPR,10"}, "STR,11", "OK00,10"}, round_trip{{"OPR,2"}, "STR,12", "OK00,2"},
        round_trip{{"TMS,1"}, "STR,18", "OK00,1"}, round_trip{{"TDS,100"}, "STR,19", "OK00,100"},
        round_trip{{"ZRC"}, "STR,23", "OK00,2"}, round_trip{{"MMS,1"}, "STR,26", "OK00,1"},
        round_trip{{"RGS,0,0,1,3"}, "RGR,0,0", "OK00,1,3"},
        round_trip{{"RGS,0,1,1,2"}, "RGR,0,1", "OK00,1,2"},
        // Reset of the measurement settings keeps the channel and
        // the zero calibration; the full reset drops the channel.
        round_trip{{"FSC,3", "RST,0,2"}, "STR,7", "OK00,1"},
        round_trip{{"MCH,1,5", "RST,0,2"}, "STR,3", "OK00,5"},
        round_trip{{"ZRC", "RST,0,2"}, "STR,23", "OK00,2"},
        round_trip{{"MCH,1,5", "RST,0,0"}, "STR,3", "OK00,0"}));

TEST(InstrumentMeasure, AnswersTheShownLightInTheDisplayMode) {
    sim::instrument inst{sim_instrument_options{}};
    inst.shown_light = sim_xyz{20.0, 30.0, 50.0};
    ASSERT_EQ(inst.execute("ZRC").text, "OK00");
    // Probe, display mode, the three values of the mode, u' v', channel, speed.
    EXPECT_EQ(inst.execute("MES,1").text,
              "OK00,P1,0,0.200000,0.300000,30.000000,0.1290,0.4355,0,1");  // xyLv at power-on
    ASSERT_EQ(inst.execute("MDS,7").text, "OK00");
    EXPECT_EQ(inst.execute("MES,2").text,
              "OK00,P1,7,20.000000,30.000000,50.000000,0.1290,0.4355,0,1");
}

struct range_case {
    const char *range_frame;
    double y;
    const char *status;
};

class InstrumentRange : public ::testing::TestWithParam<range_case> {};

TEST_P(InstrumentRange, LuminanceAboveTheColourRangeAnswersEr22) {
    sim::instrument inst{sim_instrument_options{}};
    ASSERT_EQ(inst.execute("ZRC").text, "OK00");
    ASSERT_EQ(inst.execute(GetParam().range_frame).text, "OK00");
    inst.shown_light = sim_xyz{1.0, GetParam().y, 1.0};
    EXPECT_EQ(inst.execute("MES,1").text.substr(0, 4), GetParam().status);
}

INSTANTIATE_TEST_SUITE_P(Limits, InstrumentRange,
                         ::testing::Values(range_case{"RGS,0,0,1,1", 10.0, "OK00"},
                                           range_case{"RGS,0,0,1,1", 10.5, "ER22"},
                                           range_case{"RGS,0,0,1,6", 5000.0, "OK00"},
                                           range_case{"RGS,0,0,0,1", 4999.0, "OK00"},
                                           range_case{"RGS,0,0,0,1", 5001.0, "ER22"}));

TEST(InstrumentMeasure, ExternalSyncWithoutSignalAnswersEr20) {
    sim_instrument_options options;
    options.external_sync_hz = 0.0;
    sim::instrument inst{options};
    ASSERT_EQ(inst.execute("ZRC").text, "OK00");
    ASSERT_EQ(inst.execute("SCS,2").text, "OK00");
    EXPECT_EQ(inst.execute("MES,1").text, "ER20");
    EXPECT_EQ(inst.execute("STR,16").text, "ER20");
}

TEST(InstrumentTiming, BusyTimeOfZeroCalibrationAndMeasurementBySpeed) {
    sim_instrument_options options;
    options.zrc_ms = 250;
    options.measure_ms = {400, 30, 60, 90};
    sim::instrument inst{options};
    EXPECT_EQ(inst.execute("ZRC").busy_ms, 250);
    EXPECT_EQ(inst.execute("MES,1").busy_ms, 30);  // speed 1 at power-on
    ASSERT_EQ(inst.execute("FSC,0").text, "OK00");
    EXPECT_EQ(inst.execute("MES,1").busy_ms, 400);
    EXPECT_EQ(inst.execute("STR,0").busy_ms, 0);
}

}  // namespace
