// The calibration channel directory and the user WRGB calibration against
// the virtual instrument. A directory walk costs 99 exchanges (about 4 s):
// one test makes the only full walk and checks much.
#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <cstring>
#include <optional>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "protocol/sim_device.h"
#include "ser_nt_ca410/ca410_ops.h"
#include "support/log_capture.h"

namespace {

using strings = std::vector<std::string>;
using entries = std::vector<std::pair<int32_t, std::string>>;

entries entries_of(const ca410_callist_entry *e) {
    entries out;
    for (; e; e = e->next) out.emplace_back(e->channel, e->name);
    return out;
}

// A handle on a fresh instrument that counts as zero-calibrated.
class calibration : public sim_device_test {
  protected:
    void SetUp() override {
        sim_device_test::SetUp();
        sim_settings zeroed = sim->settings();
        zeroed.zero_cal_status = 2;
        sim->set_settings(zeroed);
    }
    void put(int number, const char *name, int type = 2) { sim->put_channel({number, type, name}); }
};

const double kXyz[3] = {1, 2, 3};
const double kHuge[3] = {1, 0x1p120, 3};  // 44 characters as "%9f": no room in the frame
const double kNotFinite[3] = {NAN, 2, INFINITY};

TEST_F(calibration, ListingCleansNamesAndHandsOutCopiesThatOutliveTheHandle) {
    put(7, "");  // ten blanks on the wire
    put(8, "A");
    put(9, "A B");
    put(12, " LEAD");
    put(20, "NOTWRGB", 0);
    put(99, "ABCDEFGHIJ");
    log_capture log(8);
    ca410_callist_entry *first = nullptr;
    int32_t n = -1;
    ASSERT_EQ(ca410GetCallist(dev, &first, &n), CA_OK);
    const entries expected{{7, "CH7"}, {8, "A"}, {9, "A B"}, {12, " LEAD"}, {99, "ABCDEFGHIJ"}};
    EXPECT_EQ(entries_of(first), expected);
    EXPECT_EQ(entries_of(dev->callist), expected);
    EXPECT_EQ(std::make_pair(n, int32_t{dev->calfile_num}), std::make_pair(5, 5));
    EXPECT_EQ(log.errors(), strings{"[ca410_get_calist]: ch7 no username, reset to [CH7]\n"});
    // The walk runs at threshold 6: the level-7 and level-8 lines stay out.
    EXPECT_TRUE(
        log.has_debug("[ca410_get_calist]: add ch=[99] name=[ABCDEFGHIJ] calfile_num = [5]\n"));
    for (const auto &line : log.debug()) {
        EXPECT_EQ(line.find("[ca_command]"), std::string::npos) << line;
        EXPECT_EQ(line.find("channel num ="), std::string::npos) << line;
    }
    const strings walk = frames();
    EXPECT_EQ(walk.size(), 99u);
    EXPECT_EQ(walk.back(), "TDR,99,1,7");

    // A walk ending in an error keeps the channels below it and leaves the
    // caller's pointers alone.
    sim->erase_channel(8);
    sim->fault_answer_for_frame("TDR,10,1,7", "ER10");
    log.clear();
    ca410_callist_entry sentinel{};
    ca410_callist_entry *second = &sentinel;
    n = 77;
    EXPECT_EQ(ca410GetCallist(dev, &second, &n), CA_E_GET_CALLIST);
    EXPECT_TRUE(second == &sentinel && n == 77);
    EXPECT_TRUE(log.has_debug("[ca410GetCallist]: calfile num = [5], release first\n"));
    EXPECT_TRUE(log.has_debug("[ca410_free_list]: free 5\n"));
    EXPECT_EQ(entries_of(dev->callist), (entries{{7, "CH7"}, {9, "A B"}}));
    EXPECT_EQ(dev->calfile_num, 2);
    EXPECT_EQ(default_log.debug, 8);  // put back after the walk
    EXPECT_EQ(log.errors().back(), "[ca410_get_callist]: TDR cmd err, 0x13\n");
    EXPECT_EQ(log.debug().back(), "[ca410GetCallist]: ca410_get_callist err, 0x13\n");
    EXPECT_EQ(frames().size(), 10u);

    // An answer for another channel: 48 inside, 44 outside.
    sim->fault_answer_for_frame("TDR,3,1,7", "OK00,CH04,P1,0,0,CA-410,2,X,1,7");
    EXPECT_EQ(ca410_get_callist(dev), CA_E_PARSE);
    EXPECT_EQ(log.errors().back(), "[ca410_get_callist]: get channel num [4] != [3]\n");
    EXPECT_EQ(ca410GetCallist(dev, nullptr, nullptr), CA_E_GET_CALLIST);
    EXPECT_TRUE(dev->callist == nullptr && dev->calfile_num == 0);
    EXPECT_EQ(ca410GetCallist(nullptr, nullptr, nullptr), CA_E_GET_CALLIST);

    ca410DeviceRelease(dev);
    dev = nullptr;
    EXPECT_EQ(entries_of(first), expected);  // still the caller's, unchanged
    EXPECT_EQ(ca410DeleteCallist(&first), CA_OK);
    EXPECT_EQ(first, nullptr);
    EXPECT_EQ(ca410DeleteCallist(nullptr), CA_OK);
}

// A "TDR," answer for channel 5 in display mode 7 with `n` positions, the
// item at position `at` replaced by `with`.
std::string answer(int n, int at = -1, const std::string &with = {}) {
    strings items = {"CH05", "P1", "0", "0", "CA-410", "2", "NAME      ", "1", "7", "0", "0", "0"};
    for (int i = 0; i < 24; ++i) items.push_back(std::to_string(i + 1) + ".5");
    for (const char *d : {"2024", "03", "07", "14", "00", "00"}) items.emplace_back(d);
    if (at >= 0) items[static_cast<size_t>(at)] = with;
    std::string out = "OK00";
    for (int i = 0; i < n; ++i) out += "," + items[static_cast<size_t>(i)];
    return out;
}

TEST_F(calibration, OneChannelReadChecksPositionsChannelAndMode) {
    const struct {
        std::string answer;
        int32_t result;
        const char *line;  // an error, or for a success a debug line
    } cases[] = {
        {answer(42), 0, "[ca410_get_calfile]: date: [2024:03:07:14:00:00]\n"},
        {answer(41), 0, "[ca410_get_calfile]: date: [2024:03:07:14:00:]\n"},
        {answer(42, 1, ",P1"), 0, "[ca410_get_calfile]: done\n"},  // empty items take no place
        {answer(40), CA_E_PARSE, "[ca410_get_calfile]: parse 40 item < 41 \n"},
        {answer(42, 0, "CH06"), CA_E_PARSE, "[ca410_get_calfile]: get ch 6 != 5\n"},
        {answer(42, 0, "C5"), CA_E_PARSE, "[ca410_get_calfile]: get ch 0 != 5\n"},
        {answer(42, 8, "0"), CA_E_PARSE, "[ca410_get_calfile]: get disp_mode 0 != 7\n"},
        {"ER10", CA_E_INVALID_COMMAND, "[ca410GetCalfile]: ca410_get_calfile err, 0x13\n"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.answer);
        sim->fault_answer_for_frame("TDR,5,1,7", c.answer);
        log_capture log(6);
        ca410_calfile file{};
        file.channel = -9;
        EXPECT_EQ(ca410GetCalfile(dev, 5, &file), c.result);
        EXPECT_EQ(frames(), strings{"TDR,5,1,7"});
        if (c.result != CA_OK) {
            EXPECT_TRUE(log.has_error(c.line)) << log.error_text();
            EXPECT_EQ(file.channel, -9);
            continue;
        }
        EXPECT_TRUE(log.has_debug(c.line)) << log.debug_text();
        EXPECT_EQ(std::make_tuple(file.channel, file.cal_type, std::string(file.name)),
                  std::make_tuple(5, 2, std::string("NAME")));
        EXPECT_EQ(std::make_tuple(file.target[0][0], file.target[3][2], file.measure[0][0],
                                  file.measure[3][2]),
                  std::make_tuple(1.5, 12.5, 13.5, 24.5));
    }
    // Without a record the channel (0 included) is read and checked; the dump
    // takes display mode 0.
    sim->clear_faults();
    EXPECT_EQ(ca410GetCalfile(dev, 0, nullptr), CA_OK);
    EXPECT_EQ(frames(), strings{"TDR,0,1,7"});
    log_capture log(6);
    EXPECT_EQ(ca410_ch_info(dev, 9, 0), CA_OK);
    ca410_calfile_info info{};
    EXPECT_EQ(ca410_get_calfile(dev, 9, 1, &info), CA_E_ARGS);
    EXPECT_EQ(log.errors().back(), "[ca410_get_calfile]: invalid disp_mode = [1], need 0/7\n");
    EXPECT_TRUE(log.has_debug("[ca410_ch_info]: [9]\n"));
    EXPECT_TRUE(
        log.has_debug("[ca410_ch_info]:  target red   [0.000000] [0.000000] [0.000000] -- "
                      "meas [0.000000] [0.000000] [0.000000]\n"));
}

TEST_F(calibration, TargetDateAndNameTextsOnTheWire) {
    const double odd[3] = {1.5, 0.25, 1234.5678};
    const double white[3] = {95.05, 100, 108.9};
    for (int32_t colour = 0; colour < 4; ++colour) ca410_set_cal_target(dev, colour, 7, odd);
    ca410_set_cal_target(dev, 0, 8, white);
    ca410_ch_enter(dev, 5, 2024, 3, 7, 14);
    // Refused by the instrument outside a calibration: not named.
    EXPECT_EQ(ca410WRGBCalibEnd(dev, 5, "X", 2024, 2, 31, 14), CA_E_CAL_INPUT);
    EXPECT_EQ(frames(),
              (strings{
                  "UWT,7, 1.500000, 0.250000,1234.567800", "URD,7, 1.500000, 0.250000,1234.567800",
                  "UGR,7, 1.500000, 0.250000,1234.567800", "UBL,7, 1.500000, 0.250000,1234.567800",
                  "UWT,8,95.050000,100.000000,108.900000", "ETR,5,2024,3,7,14,00,00",
                  "ETR,5,2024,2,31,14,00,00",  // the day is not checked against the month
              }));

    sim->fault_answer_for_frame("ETR,5,2024,3,7,14,00,00", "OK00");
    const std::pair<const char *, const char *> names[] = {
        {nullptr, "CH05"}, {"", "CH05"}, {"ABCDEFGHIJKL", "ABCDEFGHI"}};
    for (const auto &[name, sent] : names) {
        EXPECT_EQ(ca410WRGBCalibEnd(dev, 5, name, 2024, 3, 7, 14), CA_OK);
        EXPECT_EQ(frames(), (strings{"ETR,5,2024,3,7,14,00,00", std::string("IDS,01,05,") + sent}));
    }
    sim->fault_error_for_head("IDS,", 10);
    log_capture log(0);
    EXPECT_EQ(ca410WRGBCalibEnd(dev, 5, "P", 2024, 3, 7, 14), CA_OK);  // stored, if unnamed
    EXPECT_EQ(log.errors().back(), "[ca410WRBGCalibEnd]: set channel name err, 0x13\n");
}

// Refused before anything is sent (37), or failed at a step: the step's code.
#define CALL(expr) []([[maybe_unused]] ca410_dev *d, [[maybe_unused]] double *m) { return expr; }

TEST_F(calibration, RefusalsAndFailedStepsGiveTheStepsCode) {
    const std::string bad_date = "[ca410WRGBCalibEnd]: invalid args of date\n";
    const std::string bad_name =
        "[ca410WRGBCalibEnd]: invalid args of name, printable ASCII without comma only\n";
    const std::string uwt = "UWT,7, 1.000000, 2.000000, 3.000000", ugr = "UGR" + uwt.substr(3),
                      etr = "ETR,5,2024,1,1,0,00,00";
    const struct {
        int32_t (*call)(ca410_dev *, double *);
        const char *head;  // every frame of it answers ER<code>
        int code;
        int32_t result;
        strings sent;
        std::string error;
    } cases[] = {
        // clang-format off
        {CALL(ca410GetCalfile(d, 100, nullptr)), nullptr, 0, 37, {},
         "[ca410GetCalfile]: invalid args of channel 100, need [0:99]\n"},
        {CALL(ca410DeleteCalfile(d, 100)), nullptr, 0, 37, {},
         "[ca410DeleteCalfile]: invid args of channel 100, need [0:99]\n"},
        {CALL(ca410_ch_info(d, 5, 3)), nullptr, 0, 37, {},
         "[ca410_ch_info]: invalid disp_mode = [3], need [1,5,6,7,8]\n"},
        {CALL(ca410WRGBCalibWhite(d, nullptr, m)), nullptr, 0, 37, {},
         "[ca410WRGBCalibWhite]: invalid args of white target XYZ\n"},
        {CALL(ca410WRGBCalibBlue(d, nullptr, m)), nullptr, 0, 37, {},
         "[ca410WRGBCalibBlue]: invalid args of blue target XYZ\n"},
        {CALL(ca410WRGBCalibEnd(d, 0, "", 2024, 1, 1, 0)), nullptr, 0, 37, {},
         "[ca410WRGBCalibEnd]: invalid args of calib channel 0, need [1:99]"},
        {CALL(ca410WRGBCalibEnd(d, 100, "", 2024, 1, 1, 0)), nullptr, 0, 37, {},
         "[ca410WRGBCalibEnd]: invalid args of calib channel 100, need [1:99]"},
        {CALL(ca410WRGBCalibEnd(d, 5, "", 2024, 1, 1, 24)), nullptr, 0, 37, {}, bad_date},
        {CALL(ca410WRGBCalibEnd(d, 5, "", 2024, 13, 1, 0)), nullptr, 0, 37, {}, bad_date},
        {CALL(ca410WRGBCalibEnd(d, 5, "", 2024, 1, 0, 0)), nullptr, 0, 37, {}, bad_date},
        {CALL(ca410WRGBCalibEnd(d, 5, "", 2100, 1, 1, 0)), nullptr, 0, 37, {}, bad_date},
        // A name that would inject a command or shift fields, and targets that
        // cannot be sent: nothing goes out.
        {CALL(ca410WRGBCalibEnd(d, 3, "X\rMDD,1,7", 2024, 5, 6, 7)), nullptr, 0, 37, {}, bad_name},
        {CALL(ca410WRGBCalibEnd(d, 3, "A\nB", 2024, 5, 6, 7)), nullptr, 0, 37, {}, bad_name},
        {CALL(ca410WRGBCalibEnd(d, 3, "A,B", 2024, 5, 6, 7)), nullptr, 0, 37, {}, bad_name},
        {CALL(ca410WRGBCalibEnd(d, 3, "\x7f", 2024, 5, 6, 7)), nullptr, 0, 37, {}, bad_name},
        {CALL(ca410WRGBCalibEnd(d, 3, "caf\xc3\xa9", 2024, 5, 6, 7)), nullptr, 0, 37, {}, bad_name},
        {CALL(ca410_set_istate(d, 3, 5, "A\rB")), nullptr, 0, 37, {},
         "[ca410_set_istate]: [IDS,] invalid args, id[5] name[A\rB]\n"},
        {CALL(ca410_set_istate(d, 1, 4, "6,0")), nullptr, 0, 37, {},
         "[ca410_set_istate]: [SCS,] invalid args, printable ASCII without comma only\n"},
        {CALL(ca410WRGBCalibWhite(d, kHuge, m)), nullptr, 0, 37, {},
         "[ca410WRGBCalibWhite]: invalid white target XYZ [1.000000] "
         "[1329227995784915872903807060280344576.000000] [3.000000], not finite or too large\n"},
        {CALL(ca410WRGBCalibGreen(d, kNotFinite, m)), nullptr, 0, 37, {},
         "[ca410WRGBCalibGreen]: invalid green target XYZ [nan] [2.000000] [inf], not finite or "
         "too large\n"},
        {CALL(ca410_set_cal_target(d, 0, 7, kNotFinite)), nullptr, 0, 37, {},
         "[ca410_set_cal_target]: invalid target [nan] [2.000000] [inf], not finite or too large\n"},
        {CALL(ca410_set_cal_target(d, 0, 4, kXyz)), nullptr, 0, 37, {},
         "[ca410_set_cal_target]: invalid disp_mode = [4], need [0,1,5,6,7,8]\n"},
        {CALL(ca410_set_cal_target(d, 4, 7, kXyz)), nullptr, 0, 37, {},
         "[ca410_set_cal_target]: invalid color_type = [4], need [0:3]\n"},
        {CALL(ca410_ch_enter(d, 5, 1999, 1, 1, 0)), nullptr, 0, 37, {},
         "[ca410_ch_enter]: invalid date, [2000:2099],[1:12],[1:31],[0:23]\n"},
        {CALL(ca410WRGBCalibWhite(d, kXyz, m)), "MDS,", 10, 54, {"MDS,7"},
         "[ca410WRGBCalibWhite]: ca410_set_istate set disp_mode err, 0x13\n"},
        {CALL(ca410WRGBCalibWhite(nullptr, kXyz, m)), nullptr, 0, 54, {},
         "[ca410WRGBCalibWhite]: ca410_set_istate set disp_mode err, 0x32\n"},
        {CALL(ca410WRGBCalibWhite(d, kXyz, m)), "UCS,", 10, 47, {"MDS,7", "UCS,1"},
         "[ca410WRGBCalibWhite]: ca410_calmode_set err, 0x13\n"},
        {CALL(ca410WRGBCalibWhite(d, kXyz, m)), "MES,", 24, 17, {"MDS,7", "UCS,1", "MES,1"},
         "[ca410WRGBCalibWhite]: ca410_measure err, 0x18\n"},
        {CALL(ca410WRGBCalibWhite(d, kXyz, m)), "UWT,", 6, 18, {"MDS,7", "UCS,1", "MES,1", uwt},
         "[ca410WRGBCalibWhite]: ca410_set_cal_target err, 0x12\n"},
        // Over the range on the retry as well.
        {CALL(ca410WRGBCalibRed(d, kXyz, m)), "MES,", 22, 17, {"MES,1", "MES,1"},
         "[ca410WRGBCalibRed]: ca410_measure err, 0x17\n"},
        {CALL(ca410WRGBCalibRed(nullptr, kXyz, m)), nullptr, 0, 17, {},
         "[ca410WRGBCalibRed]: ca410_measure err, 0x32\n"},
        {CALL(ca410WRGBCalibGreen(d, kXyz, m)), "UGR,", 3, 18, {"MES,1", ugr},
         "[ca410WRGBCalibGreen]: ca410_set_cal_target err, 0x10\n"},
        {CALL(ca410WRGBCalibBlue(d, kXyz, m)), "MES,", 5, 17, {"MES,1"},
         "[ca410WRGBCalibBlue]: ca410_measure err, 0x11\n"},
        {CALL(ca410WRGBCalibEnd(d, 5, "", 2024, 1, 1, 0)), "ETR,", 6, 18, {etr},
         "[ca410WRGBCalibEnd]: ca410_ch_enter err, 0x12\n"},
        {CALL(ca410WRGBCalibEnd(nullptr, 5, "", 2024, 1, 1, 0)), nullptr, 0, 18, {},
         "[ca410WRGBCalibEnd]: ca410_ch_enter err, 0x32\n"},
        // clang-format on
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.error);
        sim->clear_faults();
        if (c.head) sim->fault_error_for_head(c.head, c.code);
        log_capture log(0);
        double measured[3] = {-1, -1, -1};
        EXPECT_EQ(c.call(dev, measured), c.result);
        EXPECT_EQ(frames(), c.sent);
        EXPECT_EQ(log.errors().back(), c.error);
        EXPECT_EQ(measured[0], -1);
    }
}

TEST_F(calibration, CalibrationIsStoredAndDeleted) {
    // Targets that add up to the white, unlike the display's own primaries.
    const double targets[4][3] = {{93, 97, 109}, {40, 20, 2}, {35, 70, 12}, {18, 7, 95}};
    const double shown[4][3] = {{1, 1, 1}, {1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
    decltype(&ca410WRGBCalibWhite) steps[4] = {ca410WRGBCalibWhite, ca410WRGBCalibRed,
                                               ca410WRGBCalibGreen, ca410WRGBCalibBlue};
    for (int i = 0; i < 4; ++i) {
        sim->show_rgb(shown[i][0], shown[i][1], shown[i][2]);
        double m[3] = {};
        ASSERT_EQ(steps[i](dev, targets[i], i == 2 ? nullptr : m), CA_OK) << i;
        EXPECT_NEAR(m[1], i == 2 ? 0 : sim->shown_xyz()[1], 1e-6) << i;
    }
    ASSERT_EQ(ca410WRGBCalibEnd(dev, 5, "PANEL A", 2024, 3, 7, 14), CA_OK);
    EXPECT_EQ(dev->calmode, 1);
    EXPECT_EQ(sim->channel(5)->name, "PANEL A");
    EXPECT_EQ(sim->channel(5)->target[1][0], 40);

    // Channel 0 cannot be deleted; a refusal by the instrument is 1 as well.
    frames();
    EXPECT_EQ(ca410DeleteCalfile(dev, 0), CA_E_DELETE_CHANNEL);
    sim->fault_error_next(16);
    EXPECT_EQ(ca410DeleteCalfile(dev, 5), CA_E_DELETE_CHANNEL);
    EXPECT_TRUE(sim->channel(5).has_value());
    EXPECT_EQ(ca410DeleteCalfile(dev, 5), CA_OK);
    EXPECT_FALSE(sim->channel(5).has_value());
    EXPECT_EQ(frames(), (strings{"MDD,1,0", "MDD,1,5", "MDD,1,5"}));
}

// A host that has set a locale with a decimal comma, as GUI toolkits do at
// start-up, still reads and sends every number with a point.
TEST_F(calibration, AHostInACommaLocaleMeasuresAndCalibratesWithPoints) {
    struct locale_guard {
        std::string saved = std::setlocale(LC_ALL, nullptr);
        ~locale_guard() { std::setlocale(LC_ALL, saved.c_str()); }
    } guard;
    if (!std::setlocale(LC_ALL, "de_DE.UTF-8") && !std::setlocale(LC_ALL, "fr_FR.UTF-8"))
        GTEST_SKIP() << "SKIPPED: no de_DE.UTF-8 or fr_FR.UTF-8 locale (scripts/install-deps)";
    init();
    sim->show_xyz(95.05, 100, 108.9);
    log_capture log(4);
    double xyz[3] = {};
    ASSERT_EQ(ca410MeasureXYZ(dev, xyz), CA_OK);
    EXPECT_EQ(std::vector<double>(xyz, xyz + 3), (std::vector<double>{95.05, 100, 108.9}));
    EXPECT_TRUE(log.has_debug("[ca410MeasureXYZ]: X[95.050000] Y[100.000000] Z[108.900000]\n"));

    const double targets[4][3] = {
        {95.05, 100, 108.9}, {41.24, 21.26, 1.93}, {35.76, 71.52, 11.92}, {18.05, 7.22, 95.05}};
    const double shown[4][3] = {{1, 1, 1}, {1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
    decltype(&ca410WRGBCalibWhite) steps[4] = {ca410WRGBCalibWhite, ca410WRGBCalibRed,
                                               ca410WRGBCalibGreen, ca410WRGBCalibBlue};
    frames();
    for (int i = 0; i < 4; ++i) {
        sim->show_rgb(shown[i][0], shown[i][1], shown[i][2]);
        ASSERT_EQ(steps[i](dev, targets[i], nullptr), CA_OK) << i;
    }
    ASSERT_EQ(ca410WRGBCalibEnd(dev, 6, "KOMMA", 2024, 3, 7, 14), CA_OK);
    const strings sent = frames();
    EXPECT_EQ(sent.at(3), "UWT,7,95.050000,100.000000,108.900000");
    EXPECT_EQ(sent.at(5), "URD,7,41.240000,21.260000, 1.930000");
    ca410_calfile file{};
    ASSERT_EQ(ca410GetCalfile(dev, 6, &file), CA_OK);
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(std::vector<double>(file.target[i], file.target[i] + 3),
                  std::vector<double>(targets[i], targets[i] + 3));
        EXPECT_NEAR(file.measure[i][1], sim->channel(6)->measured[i][1], 1e-6) << i;
    }
}

}  // namespace
