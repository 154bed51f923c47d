// The user WRGB calibration: the calibration mode, the target of one
// colour, storing the result in a channel, and the five exported steps.
#include <cmath>
#include <cstdio>
#include <cstring>

#include "clog/clog.h"
#include "cmat/number_text.h"
#include "ser_nt_ca410/ca410_cmd.h"
#include "ser_nt_ca410/ca410_codes.h"
#include "ser_nt_ca410/ca410_failure.h"
#include "ser_nt_ca410/ca410_ops.h"

namespace {

constexpr int32_t ARGS_SIZE = 64;
constexpr int32_t UCS_DATA_SIZE = 64;
constexpr int32_t TARGET_DATA_SIZE = 128;
constexpr int32_t ETR_DATA_SIZE = 128;
constexpr int32_t CAL_DISP_MODE = 7;  // X, Y, Z
constexpr size_t NAME_BUFFER = 10;    // so at most 9 characters of a caller's name

enum : int32_t { WHITE = 0, RED = 1, GREEN = 2, BLUE = 3 };
const int32_t target_cmds[4] = {CA_CMD_UWT, CA_CMD_URD, CA_CMD_UGR, CA_CMD_UBL};

bool usable(const ca410_dev *handle) {
    return handle && handle->sercom;
}

bool date_valid(int32_t year, int32_t month, int32_t day, int32_t hour) {
    // The day is not checked against the month: the instrument judges that.
    return year >= 2000 && year <= 2099 && month >= 1 && month <= 12 && day >= 1 && day <= 31 &&
           hour >= 0 && hour <= 23;
}

// The target's argument text, "%9f" each, into `args`; -1 when a value is
// not finite or the text would not fit (a cut target is never sent).
int target_args(int32_t disp_mode, const double *target, char (&args)[ARGS_SIZE]) {
    for (int i = 0; i < 3; ++i) {
        if (!std::isfinite(target[i])) return -1;
    }
    return ca_format_args(args, sizeof args, "%d,%9f,%9f,%9f", disp_mode, target[0], target[1],
                          target[2]);
}

// The log texts of one colour step.
struct colour_step {
    const char *fn;      // function name in brackets
    const char *colour;  // as the missing-target message names it
    int32_t color_type;
};

// Measure, send the target, hand back the measured values. The white step
// runs this after selecting the modes.
int32_t measure_and_target(const colour_step &s, ca410_dev *handle, const double *target,
                           double *measure) {
    double m[3] = {};
    int32_t r = ca410_measure(handle, 1, m);
    if (r != CA_OK) {
        cloge(glog, 0, "[%s]: ca410_measure err, 0x%x\n", s.fn, r);
        return CA_E_CAL_MEASURE;
    }
    r = ca410_set_cal_target(handle, s.color_type, CAL_DISP_MODE, target);
    if (r != CA_OK) {
        cloge(glog, 0, "[%s]: ca410_set_cal_target err, 0x%x\n", s.fn, r);
        return CA_E_CAL_INPUT;
    }
    if (measure) std::memcpy(measure, m, sizeof m);
    clogd(glog, 4, "[%s]: meas [%f] [%f] [%f] --> target [%f] [%f] [%f]\n", s.fn, m[0], m[1], m[2],
          target[0], target[1], target[2]);
    return CA_OK;
}

// A missing target, or one that cannot be sent, is refused before the step
// sends anything.
bool target_refused(const colour_step &s, const double *target) {
    if (!target) {
        cloge(glog, 0, "[%s]: invalid args of %s target XYZ\n", s.fn, s.colour);
        return true;
    }
    char args[ARGS_SIZE];
    if (target_args(CAL_DISP_MODE, target, args) < 0) {
        cloge(glog, 0, "[%s]: invalid %s target XYZ [%f] [%f] [%f], not finite or too large\n",
              s.fn, s.colour, target[0], target[1], target[2]);
        return true;
    }
    return false;
}

int32_t colour(const colour_step &s, ca410_dev *handle, const double *target, double *measure) {
    if (target_refused(s, target)) return CA_E_ARGS;
    // No check that the white step ran: the instrument keeps the calibration
    // in progress and answers for itself.
    return measure_and_target(s, handle, target, measure);
}

}  // namespace

int32_t ca410_calmode_set(ca410_dev *handle, uint32_t mode) {
    if (!usable(handle)) {
        cloge(glog, 0, "[ca410_calmode_set]: invalid args\n");
        return CA_E_NOT_READY;
    }
    if (mode > 1) {
        cloge(glog, 0, "[ca410_calmode_set]: invalid mode = [%d], need [0:1]\n",
              static_cast<int>(mode));
        return CA_E_ARGS;
    }
    char args[ARGS_SIZE] = {};
    const int n = ca_format_args(args, sizeof args, "%d", static_cast<int>(mode));
    char data[UCS_DATA_SIZE] = {};
    const int32_t r =
        ca_command(handle, CA_CMD_UCS, args, n, data, sizeof data, nullptr, CA_TIMEOUT_MS);
    if (r != CA_OK) {
        cloge(glog, 0, "[ca410_calmode_set]: UCS cmd err, 0x%x\n", r);
        return r;
    }
    handle->calmode = static_cast<uint8_t>(mode);
    clogd(glog, 6, "[ca410_calmode_set]:  calmode = [%d]\n", handle->calmode);
    return CA_OK;
}

int32_t ca410_set_cal_target(ca410_dev *handle, int32_t color_type, int32_t disp_mode,
                             const double *target) {
    if (!usable(handle)) {
        cloge(glog, 0, "[ca410_set_cal_target]: invalid  args\n");
        return CA_E_NOT_READY;
    }
    if (disp_mode < 0 || disp_mode > 8 || (disp_mode >= 2 && disp_mode <= 4)) {
        cloge(glog, 0, "[ca410_set_cal_target]: invalid disp_mode = [%d], need [0,1,5,6,7,8]\n",
              disp_mode);
        return CA_E_ARGS;
    }
    if (!target || color_type < WHITE || color_type > BLUE) {
        cloge(glog, 0, "[ca410_set_cal_target]: invalid color_type = [%d], need [0:3]\n",
              color_type);
        return CA_E_ARGS;
    }
    const int32_t cmd = target_cmds[color_type];
    clogd(glog, 7, "[ca410_set_cal_target]: color = %d  disp_mode = %d \n", color_type, disp_mode);
    char args[ARGS_SIZE] = {};
    const int n = target_args(disp_mode, target, args);
    if (n < 0) {
        cloge(glog, 0,
              "[ca410_set_cal_target]: invalid target [%f] [%f] [%f], not finite or too large\n",
              target[0], target[1], target[2]);
        return CA_E_ARGS;
    }
    char data[TARGET_DATA_SIZE] = {};
    const int32_t r = ca_command(handle, cmd, args, n, data, sizeof data, nullptr, CA_TIMEOUT_MS);
    if (r != CA_OK) {
        cloge(glog, 0, "[ca410_set_cal_target]: %s cmd err, 0x%x\n", keystr[cmd], r);
        return r;
    }
    clogd(glog, 7, "[ca410_set_cal_target]: color %d input done\n", color_type);
    return CA_OK;
}

int32_t ca410_ch_enter(ca410_dev *handle, int32_t channel, int32_t year, int32_t month, int32_t day,
                       int32_t hour) {
    if (!usable(handle)) {
        cloge(glog, 0, "[ca410_ch_enter]: invalid  args\n");
        return CA_E_NOT_READY;
    }
    if (channel < 1 || channel > 99) {
        cloge(glog, 0, "[ca410_ch_enter]: invalid channel = [%d], need [1:99]\n", channel);
        return CA_E_ARGS;
    }
    if (!date_valid(year, month, day, hour)) {
        cloge(glog, 0, "[ca410_ch_enter]: invalid date, [2000:2099],[1:12],[1:31],[0:23]\n");
        return CA_E_ARGS;
    }
    char args[ARGS_SIZE] = {};
    // Minutes and seconds are always sent as 00.
    const int n =
        ca_format_args(args, sizeof args, "%d,%4d,%d,%d,%d,00,00", channel, year, month, day, hour);
    char data[ETR_DATA_SIZE] = {};
    const int32_t r =
        ca_command(handle, CA_CMD_ETR, args, n, data, sizeof data, nullptr, CA_TIMEOUT_MS);
    if (r != CA_OK) {
        cloge(glog, 0, "[ca410_ch_enter]: ETR cmd err, 0x%x\n", r);
        return r;
    }
    clogd(glog, 6, "[ca410_ch_enter]: enter channel [%d]\n", channel);
    return CA_OK;
}

// --- exported ----------------------------------------------------------------

extern "C" CA410_API int32_t CA410_CALL ca410WRGBCalibWhite(ca410_dev *handle, const double *target,
                                                            double *measure) {
    const export_call call;
    static const colour_step step{"ca410WRGBCalibWhite", "white", WHITE};
    if (target_refused(step, target)) return CA_E_ARGS;
    int32_t r = ca410_set_istate(handle, CA_ITEM_DISPLAY_MODE, CAL_DISP_MODE, nullptr);
    if (r != CA_OK) {
        cloge(glog, 0, "[ca410WRGBCalibWhite]: ca410_set_istate set disp_mode err, 0x%x\n", r);
        return CA_E_DISPLAY_MODE;
    }
    r = ca410_calmode_set(handle, 1);
    if (r != CA_OK) {
        cloge(glog, 0, "[ca410WRGBCalibWhite]: ca410_calmode_set err, 0x%x\n", r);
        return CA_E_GET_CONFIG;
    }
    return measure_and_target(step, handle, target, measure);
}

extern "C" CA410_API int32_t CA410_CALL ca410WRGBCalibRed(ca410_dev *handle, const double *target,
                                                          double *measure) {
    const export_call call;
    return colour({"ca410WRGBCalibRed", "red", RED}, handle, target, measure);
}

extern "C" CA410_API int32_t CA410_CALL ca410WRGBCalibGreen(ca410_dev *handle, const double *target,
                                                            double *measure) {
    const export_call call;
    return colour({"ca410WRGBCalibGreen", "green", GREEN}, handle, target, measure);
}

extern "C" CA410_API int32_t CA410_CALL ca410WRGBCalibBlue(ca410_dev *handle, const double *target,
                                                           double *measure) {
    const export_call call;
    return colour({"ca410WRGBCalibBlue", "blue", BLUE}, handle, target, measure);
}

extern "C" CA410_API int32_t CA410_CALL ca410WRGBCalibEnd(ca410_dev *handle, int32_t channel,
                                                          const char *name, int32_t year,
                                                          int32_t month, int32_t day,
                                                          int32_t hour) {
    const export_call call;
    if (channel < 1 || channel > 99) {
        // This message has always gone out without a line end.
        cloge(glog, 0, "[ca410WRGBCalibEnd]: invalid args of calib channel %d, need [1:99]",
              channel);
        return CA_E_ARGS;
    }
    if (!date_valid(year, month, day, hour)) {
        cloge(glog, 0, "[ca410WRGBCalibEnd]: invalid args of date\n");
        return CA_E_ARGS;
    }
    // A carriage return in the name would end the naming frame and start a
    // command of the name's own; a comma would shift the instrument's fields.
    if (!ca_text_is_sendable(name)) {
        cloge(glog, 0,
              "[ca410WRGBCalibEnd]: invalid args of name, printable ASCII without comma only\n");
        return CA_E_ARGS;
    }
    int32_t r = ca410_ch_enter(handle, channel, year, month, day, hour);
    if (r != CA_OK) {
        cloge(glog, 0, "[ca410WRGBCalibEnd]: ca410_ch_enter err, 0x%x\n", r);
        return CA_E_CAL_INPUT;
    }
    char chosen[NAME_BUFFER] = {};
    if (name && *name) {
        // The last byte of the buffer is the terminator: 9 characters at most.
        for (size_t i = 0; i + 1 < NAME_BUFFER && name[i]; ++i) chosen[i] = name[i];
    } else {
        snprintf_c(chosen, sizeof chosen, "CH%02d", channel);
    }
    r = ca410_set_istate(handle, CA_ITEM_CHANNEL_NAME, channel, chosen);
    if (r != CA_OK) {
        // The calibration is stored; an unnamed channel is still usable.
        cloge(glog, 0, "[ca410WRBGCalibEnd]: set channel name err, 0x%x\n", r);
    }
    return CA_OK;
}
