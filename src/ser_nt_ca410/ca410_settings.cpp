// Instrument settings: the catalogue of the 16 settings items, reading and
// setting one item, reading them all, and the exported settings functions.
#include <cstdio>
#include <cstring>

#include "ca410.h"
#include "clog/clog.h"
#include "cmat/number_text.h"
#include "ser_nt_ca410/ca410_cmd.h"
#include "ser_nt_ca410/ca410_codes.h"
#include "ser_nt_ca410/ca410_failure.h"
#include "ser_nt_ca410/ca410_ops.h"

namespace {

// The refusals of the bounded items; the wording of each is the
// instrument driver's own, blanks included.
constexpr const char *kSyncBound =
    "[ca410_set_istate]: [%s] invalid args , val = [%d], need [0:5]\n";

using dev = ca410_dev;

}  // namespace

// One row per item: number, command, name; the handle's field a read fills
// (integer or floating-point) and the one a set fills; how the value goes
// out; its bounds; the log's lines; the time-out; the two read rules.
const cfg_entry cfgs[CA_CFG_COUNT] = {
    {0, CA_CMD_MDS, "display mode", &dev::display_mode, nullptr, &dev::display_mode, cfg_arg::value,
     0, 0, nullptr, "[ca410_get_state]: display_mode = [%d]\n",
     "[ca410_set_istate]: set display_mode --> [%d]\n", CA_TIMEOUT_MS, false, false},
    {1, CA_CMD_SCS, "sync mode", &dev::sync_mode, nullptr, &dev::sync_mode, cfg_arg::sync, 0, 5,
     kSyncBound, "[ca410_get_state]: sync_mode = [%d]\n",
     "[ca410_set_istate]: set sync mode --> [%d]\n", CA_TIMEOUT_MS, false, false},
    {3, CA_CMD_MCH, "calibration channel number", &dev::current_channel, nullptr,
     &dev::current_channel, cfg_arg::channel, 0, 99,
     "[ca410_set_istate]: [%s] invalid num = [%d], need [0:99]\n",
     "[ca410_get_state]: current channel = [%d]\n",
     "[ca410_set_istate]: set current channel  --> [%d]\n", CA_TIMEOUT_MS, false, false},
    // The name's own checks and its two-value line belong to its argument form.
    {4, CA_CMD_IDS, "calibration channel name", nullptr, nullptr, nullptr, cfg_arg::channel_name, 0,
     0, nullptr, nullptr, nullptr, CA_TIMEOUT_MS, false, false},
    {6, CA_CMD_LUS, "luminance unit", &dev::lum_unit, nullptr, &dev::lum_unit, cfg_arg::value, 0, 1,
     "[ca410_set_istate]: [%s] invalid args, val = [%d], need [0:1]\n",
     "[ca410_get_state]: lum_unit = [%d]\n", "[ca410_set_istate]: set luminance unit --> [%d]\n",
     CA_TIMEOUT_MS, false, false},
    {7, CA_CMD_FSC, "measurement speed", &dev::measure_speed, nullptr, &dev::measure_speed,
     cfg_arg::value, 0, 0, nullptr, "[ca410_get_state]: measure_speed = [%d]\n",
     "[ca410_set_istate]: set measure_speed --> [%d]\n", CA_TIMEOUT_MS, false, false},
    {11, CA_CMD_DPR, "display probe number", &dev::probe_display, nullptr, &dev::probe_display,
     cfg_arg::value, 1, 10, "[ca410_set_istate]: [%s] invalid args, val = [%d] ,need [1:10]\n",
     "[ca410_get_state]: probe_display = [%d]\n",
     "[ca410_set_istate]: set probe_display --> [%d]\n", CA_TIMEOUT_MS, false, false},
    // The output probe number is one digit: longer data is cut to its first character.
    {12, CA_CMD_OPR, "output probe number", &dev::probe_output, nullptr, &dev::probe_output,
     cfg_arg::value, 1, 10, "[ca410_set_istate]: [%s] invalid args, val = [%d] , need[1:10]\n",
     "[ca410_get_state]: probe_output = [%d]\n", "[ca410_set_istate]: set probe_output --> [%d]\n",
     CA_TIMEOUT_MS, true, false},
    {15, 0, "temperature shift", nullptr, &dev::temperature_shift, nullptr, cfg_arg::none, 0, 0,
     nullptr, "[ca410_get_state]: temperature shift = [%.4f]\n", nullptr, CA_TIMEOUT_MS, false,
     false},
    // Items 9, 10 and 15 set the sync mode with their own parameter.
    {16, CA_CMD_SCS, "External sync frequence", nullptr, nullptr, &dev::sync_mode, cfg_arg::sync, 0,
     5, kSyncBound, nullptr, "[ca410_set_istate]: set sync mode --> [%d]\n", CA_TIMEOUT_MS, false,
     true},
    {17, CA_CMD_SCS, "Manual sync measure time", nullptr, &dev::manual_mode_measure_time,
     &dev::sync_mode, cfg_arg::sync, 0, 5, kSyncBound,
     "[ca410_get_state]: manual_mode_measure_time = [%.4f] msec\n",
     "[ca410_set_istate]: set sync mode --> [%d]\n", CA_TIMEOUT_MS, false, false},
    {18, CA_CMD_TMS, "trigger mode", &dev::trigger_mode, nullptr, &dev::trigger_mode,
     cfg_arg::value, 0, 0, nullptr, "[ca410_get_state]:  trigger_mode = [%d]\n",
     "[ca410_set_istate]: set trigger_mode --> [%d]\n", CA_TIMEOUT_MS, false, false},
    {19, CA_CMD_TDS, "trigger delay", &dev::trigger_delay, nullptr, &dev::trigger_delay,
     cfg_arg::value, 0, 100,
     "[ca410_set_istate]: [%s] invalid args, val = [%d], need [0:100] msec\n",
     "[ca410_get_state]:  trigger_delay = [%d] msec\n",
     "[ca410_set_istate]: set trigger delay --> [%d] msec\n", CA_TIMEOUT_MS, false, false},
    // Writing the status runs the zero calibration; it changes only when read back.
    {23, CA_CMD_ZRC, "zero calibration status", &dev::zero_calibration_status, nullptr, nullptr,
     cfg_arg::none, 0, 0, nullptr, "[ca410_get_state]: zero_calibration_status = [%d]\n", nullptr,
     CA_TIMEOUT_ZRC_MS, false, false},
    {26, CA_CMD_MMS, "simultaneous measure control", &dev::simultaneous_measure, nullptr,
     &dev::simultaneous_measure, cfg_arg::value, 0, 0, nullptr,
     "[ca410_get_state]: simultaneous measure control = [%d]\n",
     "[ca410_set_istate]: set simultaneous measure --> [%d]\n", CA_TIMEOUT_MS, false, false},
    {28, CA_CMD_SCS, "Internal sync frequence", nullptr, &dev::internal_freq, &dev::sync_mode,
     cfg_arg::sync, 0, 5, kSyncBound, "[ca410_get_state]: internal_freq = [%.4f]Hz\n",
     "[ca410_set_istate]: set sync mode --> [%d]\n", CA_TIMEOUT_MS, false, false},
};

namespace {

constexpr int32_t STATE_DATA_SIZE = 256;
constexpr int32_t SET_ARGS_SIZE = 64;
constexpr size_t SYNC_TEXT_MAX = 6;
constexpr int CHANNEL_NAME_MAX = 10;

bool usable(const ca410_dev *handle) {
    return handle && handle->sercom;
}

const char *or_null(const char *text) {
    return text ? text : "(null)";
}

// The argument text of a set into `args`; its length, or -1 after logging
// why the value or text is refused.
int set_args(const cfg_entry &e, const char *head, int32_t value, const char *text,
             char (&args)[SET_ARGS_SIZE]) {
    switch (e.arg) {
        case cfg_arg::value:
            return ca_format_args(args, sizeof args, "%d", value);
        case cfg_arg::sync: {
            if (value != 4 && value != 5) return ca_format_args(args, sizeof args, "%d", value);
            // Modes 4 and 5 carry a frequency or time that goes out unchanged.
            const size_t n = text ? std::strlen(text) : 0;
            if (n < 1 || n > SYNC_TEXT_MAX) {
                cloge(glog, 0, "[ca410_set_istate]: [%s] invalid args, [%s], need 1-6 bytes\n",
                      head, or_null(text));
                return -1;
            }
            if (!ca_text_is_sendable(text)) {
                cloge(glog, 0,
                      "[ca410_set_istate]: [%s] invalid args, printable ASCII without comma only\n",
                      head);
                return -1;
            }
            return ca_format_args(args, sizeof args, "%d,%s", value, text);
        }
        case cfg_arg::channel:
            return ca_format_args(args, sizeof args, "1,%d", value);
        case cfg_arg::channel_name:
            if (value < 0 || value > 99 || !text || !*text || !ca_text_is_sendable(text)) {
                cloge(glog, 0, "[ca410_set_istate]: [%s] invalid args, id[%d] name[%s]\n", head,
                      value, or_null(text));
                return -1;
            }
            return ca_format_args(args, sizeof args, "01,%02d,%.*s", value, CHANNEL_NAME_MAX, text);
        case cfg_arg::none:
            args[0] = '\0';
            return 0;
    }
    return -1;
}

}  // namespace

int32_t ca410_get_state(ca410_dev *handle, int32_t item) {
    if (!usable(handle) || item < 0 || item >= CA_CFG_COUNT) {
        cloge(glog, 0, "[ca410_get_state]: invalide args\n");
        return CA_E_NOT_READY;
    }
    const cfg_entry &entry = cfgs[item];
    char args[16];
    ca_format_args(args, sizeof args, "%d", entry.id);
    clogd(glog, 7, "[ca410_get_state]: start (%d) id=[%d]  [%s] \n", item, entry.id, entry.name);

    char data[STATE_DATA_SIZE] = {};
    int32_t len = 0;
    const int32_t r =
        ca_command(handle, CA_CMD_STR, args, 0, data, STATE_DATA_SIZE, &len, CA_TIMEOUT_MS);
    if (r != CA_OK) {
        cloge(glog, 0, "[ca410_get_state]: STR cmd err, 0x%x\n", r);
        return r;
    }
    if (len == 0) {
        cloge(glog, 0, "[ca410_get_state]: STR,%d  received invalid data\n", item);
        return CA_E_RECEIVE;
    }
    if (entry.first_character_only && std::strlen(data) >= 2) data[1] = '\0';
    if (entry.byte_field) {
        handle->*entry.byte_field = static_cast<uint8_t>(ca_read_int(data));
        clogd(glog, 6, entry.read_message, handle->*entry.byte_field);
    } else if (entry.real_field) {
        handle->*entry.real_field = ca_read_double(data);
        clogd(glog, 6, entry.read_message, handle->*entry.real_field);
    }
    return CA_OK;
}

int32_t ca410_set_istate(ca410_dev *handle, int32_t item, int32_t value, const char *text) {
    if (!usable(handle) || item < 0 || item >= CA_CFG_COUNT) {
        cloge(glog, 0, "[ca410_set_istate]: invalide args\n");
        return CA_E_NOT_READY;
    }
    const cfg_entry &entry = cfgs[item];
    if (entry.cmd == 0) {
        cloge(glog, 0, "[ca410_set_istate]: id=[%d]  cmd=[%d] [%s] not accessable\n", item,
              entry.cmd, entry.name);
        return CA_E_INVALID_COMMAND;
    }
    const char *head = keystr[entry.cmd];
    clogd(glog, 7, "[ca410_set_istate]: config id[%d] [%s] --> cmd[%d] [%s]\n", item, entry.name,
          entry.cmd, head);
    if (entry.bound_message && (value < entry.low || value > entry.high)) {
        cloge(glog, 0, entry.bound_message, head, value);
        return CA_E_ARGS;
    }
    char args[SET_ARGS_SIZE];
    const int n = set_args(entry, head, value, text, args);
    if (n < 0) return CA_E_ARGS;

    char data[STATE_DATA_SIZE] = {};
    int32_t len = 0;
    const int32_t r =
        ca_command(handle, entry.cmd, args, n, data, STATE_DATA_SIZE, &len, entry.set_timeout_ms);
    if (r != CA_OK) {
        cloge(glog, 0, "[ca410_set_istate]: cmd (%s) err, 0x%x\n", head, r);
        return r;
    }
    if (entry.set_field) {
        handle->*entry.set_field = static_cast<uint8_t>(value);
        clogd(glog, 6, entry.set_message, handle->*entry.set_field);
    } else if (entry.arg == cfg_arg::channel_name) {
        clogd(glog, 6, "[ca410_set_istate]: set channel[%d] name [%s]\n", value, text);
    }
    return CA_OK;
}

int32_t ca410_get_config(ca410_dev *handle) {
    for (int32_t item = 0; item < CA_CFG_COUNT; ++item) {
        if (cfgs[item].external_sync_only && handle && handle->sync_mode != 2) {
            cloge(glog, 0,
                  "[ca410_get_config]: External Frequent need 2(Sync Mode), current = [%d]\n",
                  handle->sync_mode);
            continue;
        }
        const int32_t r = ca410_get_state(handle, item);
        if (r != CA_OK) {
            cloge(glog, 0, "[ca410_get_config]: id = [%d], [%s] err, %d\n", item, cfgs[item].name,
                  r);
            return r;
        }
    }
    clogd(glog, 6, "[ca410_get_config]: done\n");
    return CA_OK;
}

extern "C" CA410_API int32_t CA410_CALL ca410GetDeviceStat(ca410_dev *handle,
                                                           ca410_dev_stat *stat) {
    const export_call call;
    if (!stat) {
        cloge(glog, 0, "[ca410GetDeviceStat]: invalid args\n");
        return CA_E_ARGS;
    }
    const int32_t r = ca410_get_config(handle);
    if (r != CA_OK) {
        cloge(glog, 0, "[ca410GetDeviceStat]: ca410_get_config err, 0x%x\n", r);
        return CA_E_GET_CONFIG;
    }
    stat->cal_ch = handle->current_channel;
    stat->meas_speed = handle->measure_speed;
    stat->zero_cal = handle->zero_calibration_status == 2 ? 1 : 0;
    clogd(glog, 5, "[ca410GetDeviceStat]: cal_ch[%d] meas_speed[%d] zero_cal[%d]\n", stat->cal_ch,
          stat->meas_speed, stat->zero_cal);
    return CA_OK;
}

extern "C" CA410_API int32_t CA410_CALL ca410SetChannel(ca410_dev *handle, int32_t ch) {
    const export_call call;
    if (ch < 0 || ch > 99) {
        cloge(glog, 0, "[ca410SetChannel]: invalid args of ch=%d, need [0:99]\n", ch);
        return CA_E_ARGS;
    }
    const int32_t r = ca410_set_istate(handle, CA_ITEM_CHANNEL, ch, nullptr);
    if (r != CA_OK) {
        cloge(glog, 0, "[ca410SetChannel]: ca410_set_istate err, 0x%x\n", r);
        return r;
    }
    clogd(glog, 5, "[ca410SetChannel]: ch %d done\n", ch);
    return CA_OK;
}

extern "C" CA410_API int32_t CA410_CALL ca410SetMeasureSpeed(ca410_dev *handle, int32_t speed) {
    const export_call call;
    if (speed < 0 || speed > 3) {
        cloge(glog, 0, "[ca410SetMeasureSpeed]: invalid args of speed %d, need [0:3]\n", speed);
        return CA_E_ARGS;
    }
    const int32_t r = ca410_set_istate(handle, CA_ITEM_MEASURE_SPEED, speed, nullptr);
    if (r != CA_OK) {
        cloge(glog, 0, "[ca410SetMeasureSpeed]: ca410_set_istate err, 0x%x\n", r);
        return r;
    }
    clogd(glog, 5, "[ca410SetMeasureSpeed]: speed = %d done\n", speed);
    return CA_OK;
}

extern "C" CA410_API int32_t CA410_CALL ca410BlackCalibration(ca410_dev *handle) {
    const export_call call;
    const int32_t r = ca410_set_istate(handle, CA_ITEM_ZERO_CAL, 0, nullptr);
    if (r != CA_OK) {
        cloge(glog, 0, "[ca410BlackCalibration]: ca410_set_istate err, 0x%x\n", r);
        return CA_E_ZERO_CAL;
    }
    clogd(glog, 5, "[ca410BlackCalibration]: done\n");
    return CA_OK;
}
