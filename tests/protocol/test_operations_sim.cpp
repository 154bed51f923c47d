// Settings, initialisation, identity and measurement against the virtual
// instrument: the frames it received, the results, the log lines and the
// handle's fields left behind.
#include <gtest/gtest.h>

#include <cstdio>

#include <cstring>
#include <string>
#include <tuple>
#include <vector>

#include "ca410.h"
#include "ser_nt_ca410/ca410_ops.h"
#include "sim_device.h"
#include "support/log_capture.h"

namespace {

std::string to_hex(int32_t code) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%x", static_cast<unsigned>(code));
    return buf;
}

using strings = std::vector<std::string>;
using operations = sim_device_test;

// What a successful initialisation sends after the open, with the external
// sync frequency (STR,16) read or skipped.
strings init_frames(bool with_external_sync) {
    strings f = {"IDO,0,1", "RST,0,2", "ZRC",    "STR,0",  "STR,1",  "STR,3",   "STR,4",
                 "STR,6",   "STR,7",   "STR,11", "STR,12", "STR,15", "STR,16",  "STR,17",
                 "STR,18",  "STR,19",  "STR,23", "STR,26", "STR,28", "RGR,0,0", "MDS,7"};
    if (!with_external_sync) f.erase(f.begin() + 12);
    return f;
}

// In external sync mode the initialisation reads the sync frequency too.
TEST_F(operations, DeviceInfoInitialisesLazilyThenSendsNothing) {
    sim_options o;
    o.settings.sync_mode = 2;
    start(o);
    log_capture log(0);
    ca410_dev_info info;
    std::memset(&info, 'x', sizeof info);
    EXPECT_EQ(ca410GetDeviceInfo(nullptr, &info), CA_E_NOT_READY);
    EXPECT_EQ(ca410GetDeviceInfo(dev, nullptr), CA_E_ARGS);
    EXPECT_EQ(log.errors(), strings(2, "[ca410GetDeviceInfo]: invalid args\n"));
    EXPECT_TRUE(frames().empty());
    sim->fault_error_for_head("ZRC", 21);
    EXPECT_EQ(ca410GetDeviceInfo(dev, &info), CA_E_ZERO_CAL);
    EXPECT_EQ(info.name[0], 'x');
    EXPECT_EQ(log.errors().back(), "[ca410GetDeviceInfo]: init err, 0x2a\n");

    sim->clear_faults();
    sim->clear_frames();
    log.clear();
    ASSERT_EQ(ca410GetDeviceInfo(dev, &info), CA_OK);
    EXPECT_EQ(frames(), init_frames(true));
    EXPECT_TRUE(log.errors().empty());
    EXPECT_EQ(dev->init, 1);
    EXPECT_EQ(std::make_tuple(dev->sync_mode, dev->zero_calibration_status, dev->display_mode,
                              dev->color_range, dev->manual_mode_measure_time, dev->internal_freq),
              std::make_tuple(2, 2, 7, 6, 100.0, 60.0));
    // The text and NULs up to 16 bytes; the caller's bytes beyond stay.
    const std::string tail(16, 'x');
    EXPECT_EQ(std::string(info.name, 32), "CA-410 SIM" + std::string(6, '\0') + tail);
    EXPECT_EQ(std::string(info.vn, 32), "1.21.0004" + std::string(7, '\0') + tail);
    EXPECT_EQ(std::string(info.sn, 32), "41000001" + std::string(8, '\0') + tail);
    ASSERT_EQ(ca410GetDeviceInfo(dev, &info), CA_OK);
    EXPECT_TRUE(frames().empty());

    sim->fault_error_for_head("MDS,", 10);
    EXPECT_EQ(ca410DeviceInit(dev), CA_E_DISPLAY_MODE);
    EXPECT_EQ(dev->init, 1);  // a later failure never clears it
}

TEST_F(operations, InitFailureGivesTheStepsCodeAndKeepsEarlierSteps) {
    const struct {
        const char *head;  // every frame of it answers ER10
        int32_t result;
        size_t sent;  // frames up to the failing one
        const char *message;
    } cases[] = {
        {"IDO,", CA_E_FIRMWARE, 1, "[ca410DeviceInit]: get firmware err, 0x13\n"},
        {"RST,", CA_E_RESET, 2, "[ca410DevoceInit]: reset measure setting err, 0x13\n"},
        {"ZRC", CA_E_ZERO_CAL, 3, "[ca410DeviceInit]: zero calibration err, 0x13\n"},
        {"STR,", CA_E_GET_CONFIG, 4, "[ca410DeviceInit]: get configure err, 0x13\n"},
        {"RGR,", CA_E_GET_RANGE, 19, "[ca410DeviceInit]: get color range err, 0x13\n"},
        {"MDS,", CA_E_DISPLAY_MODE, 20, "[ca410DeviceInit]: set display mode err, 0x13\n"},
    };
    const strings all = init_frames(false);
    for (const auto &c : cases) {
        SCOPED_TRACE(c.head);
        if (c.sent > 1) start();
        sim->fault_error_for_head(c.head, 10);
        log_capture log(0);
        EXPECT_EQ(ca410DeviceInit(dev), c.result);
        EXPECT_TRUE(log.has_error(c.message)) << log.error_text();
        EXPECT_EQ(dev->init, 0);
        EXPECT_EQ(frames(), strings(all.begin(), all.begin() + static_cast<long>(c.sent)));
        // What the steps before the failure wrote stays.
        EXPECT_STREQ(dev->name, c.sent > 1 ? "CA-410 SIM" : "");
        EXPECT_EQ(dev->zero_calibration_status, c.sent > 4 ? 2 : 0);
        EXPECT_EQ(dev->color_range, c.sent > 19 ? 6 : 0);
        EXPECT_EQ(log.has_error("[ca410_get_config]: External Frequent need 2(Sync Mode), "
                                "current = [3]\n"),
                  c.sent > 4);
    }
}

TEST_F(operations, IdentityFieldsAreCutAndReplacedWhole) {
    const struct {
        const char *answer;
        int32_t result;
        const char *name, *vn, *sn;  // afterwards
    } cases[] = {
        {"OK00,CA-410,P427,NAME", CA_E_RECEIVE, "", "", ""},
        {"OK00,CA-410,P427,ABCDEFGHIJKLMNOPQRST,ABCDEFGHIJKLMNOPQRST,ABCDEFGHIJ", CA_OK,
         "ABCDEFGHIJKLMNO", "ABCDEFGHIJKLM", "ABCDEFGH"},
        {"OK00,CA-410,P427,    ,1.0,SN1", CA_OK, " ", "1.0", "SN1"},
        {"OK00,CA-410,P427,A inner name      ,1.0,SN1", CA_OK, "A inner name", "1.0", "SN1"},
        // An empty field takes no position: with four left there is no serial number.
        {"OK00,CA-410,P427,,NAME,1.0", CA_OK, "NAME", "1.0", ""},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.answer);
        sim->set_identity_answer(c.answer);
        log_capture log(7);
        EXPECT_EQ(ca410_get_firmware_info(dev), c.result);
        EXPECT_TRUE(log.has_debug("[ca410_get_firmware_info]: response [0]:[CA-410]\n"));
        EXPECT_EQ(frames(), strings{"IDO,0,1"});
        EXPECT_STREQ(dev->name, c.name);
        EXPECT_STREQ(dev->vn, c.vn);
        EXPECT_STREQ(dev->sn, c.sn);
        EXPECT_EQ(log.errors(),
                  c.result == CA_OK
                      ? strings{}
                      : strings{"[ca410_get_firmware_info]: cannot parse response\n"});
    }
}

TEST_F(operations, SetOneItem) {
    const struct {
        int32_t item, value;
        const char *text;
        int32_t result;
        std::string out;  // the frame sent, or the refusal after "[ca410_set_istate]: "
        uint8_t ca410_dev::*field = nullptr;  // the one that changes, if any
        uint8_t expected = 0;
    } cases[] = {
        {1, 3, "ignored", CA_OK, "SCS,3", &ca410_dev::sync_mode, 3},
        {1, 4, "60", CA_OK, "SCS,4,60", &ca410_dev::sync_mode, 4},
        {15, 5, "123456", CA_OK, "SCS,5,123456", &ca410_dev::sync_mode, 5},
        {3, 5, "ABCDEFGHIJKL", CA_OK, "IDS,01,05,ABCDEFGHIJ", nullptr, 0},  // the first 10
        {2, 7, nullptr, CA_OK, "MCH,1,7", &ca410_dev::current_channel, 7},
        {4, 1, nullptr, CA_OK, "LUS,1", &ca410_dev::lum_unit, 1},
        {5, 2, nullptr, CA_OK, "FSC,2", &ca410_dev::measure_speed, 2},
        {6, 1, nullptr, CA_OK, "DPR,1", &ca410_dev::probe_display, 1},
        {6, 10, nullptr, CA_OK, "DPR,10", &ca410_dev::probe_display, 10},
        {7, 10, nullptr, CA_OK, "OPR,10", &ca410_dev::probe_output, 10},
        {11, 1, nullptr, CA_OK, "TMS,1", &ca410_dev::trigger_mode, 1},
        {12, 100, nullptr, CA_OK, "TDS,100", &ca410_dev::trigger_delay, 100},
        {14, 1, nullptr, CA_OK, "MMS,1", &ca410_dev::simultaneous_measure, 1},
        {13, 5, "x", CA_OK, "ZRC", nullptr, 0},  // the status stays as last read
        {0, 300, nullptr, CA_OK, "MDS,300", &ca410_dev::display_mode, 44},  // the low 8 bits
        {8, 1, nullptr, CA_E_INVALID_COMMAND, "id=[8]  cmd=[0] [temperature shift] not accessable"},
        {1, 4, nullptr, CA_E_ARGS, "[SCS,] invalid args, [(null)], need 1-6 bytes"},
        {9, 4, "", CA_E_ARGS, "[SCS,] invalid args, [], need 1-6 bytes"},
        {10, 5, "1234567", CA_E_ARGS, "[SCS,] invalid args, [1234567], need 1-6 bytes"},
        {1, 6, nullptr, CA_E_ARGS, "[SCS,] invalid args , val = [6], need [0:5]"},
        {3, 100, "X", CA_E_ARGS, "[IDS,] invalid args, id[100] name[X]"},
        {3, 5, "", CA_E_ARGS, "[IDS,] invalid args, id[5] name[]"},
        {2, 100, nullptr, CA_E_ARGS, "[MCH,] invalid num = [100], need [0:99]"},
        {4, 2, nullptr, CA_E_ARGS, "[LUS,] invalid args, val = [2], need [0:1]"},
        {6, 0, nullptr, CA_E_ARGS, "[DPR,] invalid args, val = [0] ,need [1:10]"},
        {7, 0, nullptr, CA_E_ARGS, "[OPR,] invalid args, val = [0] , need[1:10]"},
        {12, 101, nullptr, CA_E_ARGS, "[TDS,] invalid args, val = [101], need [0:100] msec"},
        {-1, 0, nullptr, CA_E_NOT_READY, "invalide args"},
        {16, 0, nullptr, CA_E_NOT_READY, "invalide args"},
    };
    sim->fault_answer_for_frame("MDS,300", "OK00");  // the instrument is made to accept it
    for (const auto &c : cases) {
        SCOPED_TRACE(c.out);
        ca410_dev want;
        std::memcpy(&want, dev, sizeof want);
        if (c.field) want.*c.field = c.expected;
        log_capture log(0);
        EXPECT_EQ(ca410_set_istate(dev, c.item, c.value, c.text), c.result);
        const bool ok = c.result == CA_OK;
        EXPECT_EQ(frames(), ok ? strings{c.out} : strings{});
        EXPECT_EQ(log.errors(), ok ? strings{} : strings{"[ca410_set_istate]: " + c.out + "\n"});
        EXPECT_EQ(std::memcmp(&want, dev, sizeof want), 0);
    }
}

TEST_F(operations, ReadOneItem) {
    const struct {
        int32_t item;
        const char *answer;  // to "STR,<id>"
        int32_t result;
        uint8_t ca410_dev::*byte;  // the field that changes, if any
        double ca410_dev::*real;
        double expected;
    } cases[] = {
        {7, "OK00,12", CA_OK, &ca410_dev::probe_output, nullptr, 1},  // one digit only
        {2, "OK00,010", CA_OK, &ca410_dev::current_channel, nullptr, 8},
        {13, "OK00,0x2", CA_OK, &ca410_dev::zero_calibration_status, nullptr, 2},
        {5, "OK00,258", CA_OK, &ca410_dev::measure_speed, nullptr, 2},
        {10, "OK00,16.50", CA_OK, nullptr, &ca410_dev::manual_mode_measure_time, 16.5},
        {8, "OK00,-1.25", CA_OK, nullptr, &ca410_dev::temperature_shift, -1.25},
        {3, "OK00,NAME", CA_OK, nullptr, nullptr, 0},
        {0, "OK00", CA_E_RECEIVE, nullptr, nullptr, 0},
        {1, "ER10", CA_E_INVALID_COMMAND, nullptr, nullptr, 0},
    };
    log_capture log(0);
    for (const auto &c : cases) {
        SCOPED_TRACE(c.answer);
        const std::string frame = "STR," + std::to_string(cfgs[c.item].id);
        sim->fault_answer_for_frame(frame, c.answer);
        ca410_dev want;
        std::memcpy(&want, dev, sizeof want);
        if (c.byte) want.*c.byte = static_cast<uint8_t>(c.expected);
        if (c.real) want.*c.real = c.expected;
        EXPECT_EQ(ca410_get_state(dev, c.item), c.result);
        EXPECT_EQ(frames(), strings{frame});
        EXPECT_EQ(std::memcmp(&want, dev, sizeof want), 0);
    }
    EXPECT_TRUE(log.has_error("[ca410_get_state]: STR,0  received invalid data\n"));
    EXPECT_EQ(ca410_get_state(dev, 16), CA_E_NOT_READY);
    EXPECT_EQ(ca410_get_state(nullptr, 0), CA_E_NOT_READY);
    EXPECT_TRUE(frames().empty());
}

TEST_F(operations, ExportedSettingsRangesAndReset) {
    sim_options o;
    o.settings.display_mode = 5;
    o.settings.sync_mode = 1;
    o.settings.current_channel = 3;
    o.settings.measure_speed = 2;
    start(o);
    log_capture log(0);
    EXPECT_EQ(ca410SetMeasureSpeed(dev, 4), CA_E_ARGS);
    EXPECT_EQ(ca410SetChannel(dev, 100), CA_E_ARGS);
    EXPECT_EQ(ca410SetChannel(dev, -1), CA_E_ARGS);
    EXPECT_EQ(ca410SetChannel(nullptr, 5), CA_E_NOT_READY);
    ca410_dev_stat stat{-1, -1, -1};
    EXPECT_EQ(ca410GetDeviceStat(dev, nullptr), CA_E_ARGS);
    EXPECT_EQ(ca410GetDeviceStat(nullptr, &stat), CA_E_GET_CONFIG);
    EXPECT_EQ(ca410BlackCalibration(nullptr), CA_E_ZERO_CAL);
    EXPECT_TRUE(frames().empty());

    // A failed read keeps the items before it and leaves the record alone.
    sim->fault_answer_for_frame("STR,7", "ER10");
    EXPECT_EQ(ca410GetDeviceStat(dev, &stat), CA_E_GET_CONFIG);
    EXPECT_EQ(std::make_tuple(stat.cal_ch, stat.meas_speed, stat.zero_cal),
              std::make_tuple(-1, -1, -1));
    EXPECT_EQ(std::make_tuple(dev->display_mode, dev->sync_mode, dev->current_channel,
                              dev->measure_speed),
              std::make_tuple(5, 1, 3, 0));
    EXPECT_TRUE(log.has_error("[ca410_get_config]: id = [5], [measurement speed] err, 19\n"));
    EXPECT_EQ(log.errors().back(), "[ca410GetDeviceStat]: ca410_get_config err, 0x13\n");
    sim->clear_faults();
    ASSERT_EQ(ca410GetDeviceStat(dev, &stat), CA_OK);
    EXPECT_EQ(std::make_tuple(stat.cal_ch, stat.meas_speed, stat.zero_cal),
              std::make_tuple(3, 2, 0));

    sim->clear_frames();
    EXPECT_EQ(ca410SetMeasureSpeed(dev, 3), CA_OK);
    EXPECT_EQ(ca410SetChannel(dev, 0), CA_OK);
    EXPECT_EQ(frames(), (strings{"FSC,3", "MCH,1,0"}));
    sim->fault_error_next(21);
    EXPECT_EQ(ca410BlackCalibration(dev), CA_E_ZERO_CAL);
    EXPECT_EQ(log.errors().back(), "[ca410BlackCalibration]: ca410_set_istate err, 0x16\n");
    sim->fault_error_next(10);
    EXPECT_EQ(ca410SetChannel(dev, 9), CA_E_INVALID_COMMAND);
    EXPECT_EQ(dev->current_channel, 0);
    EXPECT_EQ(frames(), (strings{"ZRC", "MCH,1,9"}));
    EXPECT_EQ(strings(log.errors().end() - 2, log.errors().end()),
              (strings{"[ca410_set_istate]: cmd (MCH,) err, 0x13\n",
                       "[ca410SetChannel]: ca410_set_istate err, 0x13\n"}));

    // Ranges and reset.
    EXPECT_EQ(ca410_set_reset(dev, -1), CA_E_ARGS);
    EXPECT_EQ(log.errors().back(), "[ca410_set_reset]:invalid type = [-1], need [0:3]\r");
    EXPECT_EQ(ca410_set_range(dev, 1, 0, 5), CA_E_ARGS);
    EXPECT_EQ(ca410_set_range(dev, 0, 0, 0), CA_E_ARGS);
    EXPECT_EQ(ca410_set_range(dev, 0, 2, 1), CA_E_ARGS);
    EXPECT_EQ(log.errors().back(), "[ca410_set_range]: invalid mode=[2], need [0:1]\n");
    EXPECT_EQ(ca410_get_range(dev, 2), CA_E_ARGS);
    EXPECT_TRUE(frames().empty());

    EXPECT_EQ(ca410_set_range(dev, 0, 1, 6), CA_OK);
    EXPECT_EQ(dev->color_range, 0);  // a set does not read back
    EXPECT_EQ(ca410_get_range(dev, 0), CA_OK);
    EXPECT_EQ(ca410_get_range(dev, 1), CA_OK);
    EXPECT_EQ(ca410DeviceReset(dev), CA_OK);
    EXPECT_EQ(frames(), (strings{"RGS,0,0,1,6", "RGR,0,0", "RGR,0,1", "RST,0,2"}));
    EXPECT_EQ(std::make_tuple(dev->color_range_mode, dev->color_range, dev->flicker_range),
              std::make_tuple(1, 6, 4));

    sim->fault_error_next(10);
    EXPECT_EQ(ca410_set_range(dev, 0, 1, 6), CA_E_INVALID_COMMAND);
    EXPECT_EQ(log.errors().back(), "[ca410_set_range]: RGR cmd err,0x13\n");
    sim->fault_error_next(10);
    EXPECT_EQ(ca410SetMeasureSpeed(dev, 1), CA_E_INVALID_COMMAND);
    EXPECT_EQ(log.errors().back(), "[ca410SetMeasureSpeed]: ca410_set_istate err, 0x13\n");
    frames();
    sim->fault_answer_for_frame("RGR,0,0", "OK00,1");
    EXPECT_EQ(ca410_get_range(dev, 0), CA_E_RECEIVE);
    EXPECT_EQ(dev->color_range_mode, 1);
    sim->fault_error_next(10);
    EXPECT_EQ(ca410_get_range(dev, 1), CA_E_INVALID_COMMAND);
    EXPECT_EQ(log.errors().back(), "[ca410_get_range]: RGR cmd err,0x13\n");
    sim->fault_error_next(10);
    EXPECT_EQ(ca410DeviceReset(dev), CA_E_RESET);
    ca410_dev no_port{};
    EXPECT_EQ(ca410DeviceReset(&no_port), CA_E_RESET);
}

TEST_F(operations, MeasureRefusalsAnswersAndTheOverRangeRetry) {
    const struct {
        const char *answer;    // to "MES,1", or null
        int error, times;      // else answered "ER<error>" that many times
        int32_t inner, outer;  // ca410_measure, ca410MeasureXYZ
        size_t frames;
        const char *message;  // the last line of ca410_measure, or null
    } cases[] = {
        {"OK00,P1,7,1.5,2.5,3.5,0.1,0.2", 0, 0, CA_OK, CA_OK, 1, nullptr},
        {"OK00,P1,7,1,2,3,0.1", 0, 0, CA_E_PARSE, CA_E_MEASURE, 1,
         "[ca410_measure]: parse [P1] err\n"},
        {"OK00,P1,7,nan,inf,-inf,0.1,0.2", 0, 0, CA_E_PARSE, CA_E_MEASURE, 1,
         "[ca410_measure]: parse [nan] [inf] [-inf] err, not finite\n"},
        {"OK00,P1,7,1.5,1e999,3.5,0.1,0.2", 0, 0, CA_E_PARSE, CA_E_MEASURE, 1,
         "[ca410_measure]: parse [1.5] [1e999] [3.5] err, not finite\n"},
        {nullptr, 22, 1, CA_OK, CA_OK, 2, nullptr},
        {nullptr, 22, 2, CA_E_OVER_RANGE, CA_E_MEASURE, 2, "[ca410_measure]: MES cmd err, 0x17\n"},
        {nullptr, 10, 2, CA_E_INVALID_COMMAND, CA_E_MEASURE, 1,
         "[ca410_measure]: check zero calibration or command error\n"},
    };
    {
        log_capture log(0);
        double xyz[3] = {-1, -1, -1};
        EXPECT_EQ(ca410MeasureXYZ(dev, xyz), CA_E_NOT_READY);
        EXPECT_EQ(log.errors().back(),
                  "[ca410MeasureXYZ]: dev not init, need zero calibration first\n");
        EXPECT_EQ(ca410MeasureXYZ(nullptr, xyz), CA_E_NOT_READY);
        EXPECT_EQ(ca410_measure(dev, 3, nullptr), CA_E_ARGS);
        EXPECT_EQ(ca410_measure(nullptr, 1, nullptr), CA_E_NOT_READY);
        init();
        EXPECT_EQ(ca410MeasureXYZ(dev, nullptr), CA_E_ARGS);
        dev->zero_calibration_status = 1;  // as last read
        EXPECT_EQ(ca410MeasureXYZ(dev, xyz), CA_E_NOT_READY);
        EXPECT_EQ(xyz[0], -1);
        dev->zero_calibration_status = 2;
        sim->show_xyz(95.05, 100.0, 108.9);
        ASSERT_EQ(ca410MeasureXYZ(dev, xyz), CA_OK);
        EXPECT_EQ(ca410_measure(dev, 2, nullptr), CA_OK);
        EXPECT_EQ(frames(), (strings{"MES,1", "MES,2"}));
        EXPECT_EQ(std::make_tuple(xyz[0], xyz[1], xyz[2]), std::make_tuple(95.05, 100.0, 108.9));
    }
    sim->show_xyz(10, 20, 30);
    for (const auto &c : cases) {
        for (bool exported : {false, true}) {
            SCOPED_TRACE(std::to_string(c.inner) + (exported ? " ca410MeasureXYZ" : ""));
            sim->clear_faults();
            if (c.answer) sim->fault_answer_for_frame("MES,1", c.answer);
            if (c.error) sim->fault_error_next(c.error, c.times);
            log_capture log(0);
            double xyz[3] = {-1, -1, -1};
            EXPECT_EQ(exported ? ca410MeasureXYZ(dev, xyz) : ca410_measure(dev, 1, xyz),
                      exported ? c.outer : c.inner);
            EXPECT_EQ(frames(), strings(c.frames, "MES,1"));
            EXPECT_EQ(xyz[0], c.inner != CA_OK ? -1 : c.frames == 2 ? 10.0 : 1.5);
            if (c.message && !exported) {
                EXPECT_EQ(log.errors().back(), c.message);
            }
            if (exported && c.outer != CA_OK) {
                EXPECT_EQ(log.errors().back(),
                          "[ca410MeasureXYZ]: ca410_measure err, 0x" + to_hex(c.inner) + "\n");
            }
        }
    }
}

}  // namespace
