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

const cfg_entry cfgs[CA_CFG_COUNT] = {
    {0, CA_CMD_MDS, "display mode"},
    {1, CA_CMD_SCS, "sync mode"},
    {3, CA_CMD_MCH, "calibration channel number"},
    {4, CA_CMD_IDS, "calibration channel name"},
    {6, CA_CMD_LUS, "luminance unit"},
    {7, CA_CMD_FSC, "measurement speed"},
    {11, CA_CMD_DPR, "display probe number"},
    {12, CA_CMD_OPR, "output probe number"},
    {15, 0, "temperature shift"},
    {16, CA_CMD_SCS, "External sync frequence"},
    {17, CA_CMD_SCS, "Manual sync measure time"},
    {18, CA_CMD_TMS, "trigger mode"},
    {19, CA_CMD_TDS, "trigger delay"},
    {23, CA_CMD_ZRC, "zero calibration status"},
    {26, CA_CMD_MMS, "simultaneous measure control"},
    {28, CA_CMD_SCS, "Internal sync frequence"},
};

namespace {

constexpr int32_t STATE_DATA_SIZE = 256;
constexpr int32_t SET_ARGS_SIZE = 64;
constexpr size_t SYNC_TEXT_MAX = 6;
constexpr int CHANNEL_NAME_MAX = 10;

bool usable(const ca410_dev *handle) {
    return handle && handle->sercom;
}

bool is_sync_item(int32_t item) {
    return item == 1 || item == 9 || item == 10 || item == 15;
}

const char *or_null(const char *text) {
    return text ? text : "(null)";
}

// The item's 8-bit field, or null for the items kept elsewhere or not at all.
uint8_t *byte_field(ca410_dev *dev, int32_t item) {
    switch (item) {
        case 0:
            return &dev->display_mode;
        case 1:
            return &dev->sync_mode;
        case 2:
            return &dev->current_channel;
        case 4:
            return &dev->lum_unit;
        case 5:
            return &dev->measure_speed;
        case 6:
            return &dev->probe_display;
        case 7:
            return &dev->probe_output;
        case 11:
            return &dev->trigger_mode;
        case 12:
            return &dev->trigger_delay;
        case 13:
            return &dev->zero_calibration_status;
        case 14:
            return &dev->simultaneous_measure;
        default:
            return nullptr;
    }
}

double *double_field(ca410_dev *dev, int32_t item) {
    switch (item) {
        case 8:
            return &dev->temperature_shift;
        case 10:
            return &dev->manual_mode_measure_time;
        case 15:
            return &dev->internal_freq;
        default:
            return nullptr;
    }
}

// The message after a read, by item; null where the item logs nothing.
const char *const read_messages[CA_CFG_COUNT] = {
    "[ca410_get_state]: display_mode = [%d]\n",
    "[ca410_get_state]: sync_mode = [%d]\n",
    "[ca410_get_state]: current channel = [%d]\n",
    nullptr,
    "[ca410_get_state]: lum_unit = [%d]\n",
    "[ca410_get_state]: measure_speed = [%d]\n",
    "[ca410_get_state]: probe_display = [%d]\n",
    "[ca410_get_state]: probe_output = [%d]\n",
    "[ca410_get_state]: temperature shift = [%.4f]\n",
    nullptr,
    "[ca410_get_state]: manual_mode_measure_time = [%.4f] msec\n",
    "[ca410_get_state]:  trigger_mode = [%d]\n",
    "[ca410_get_state]:  trigger_delay = [%d] msec\n",
    "[ca410_get_state]: zero_calibration_status = [%d]\n",
    "[ca410_get_state]: simultaneous measure control = [%d]\n",
    "[ca410_get_state]: internal_freq = [%.4f]Hz\n",
};

// The message after a successful set, by item; null where the item logs
// nothing of its own (3 has its own two-value line, 8 cannot be set).
const char *const set_messages[CA_CFG_COUNT] = {
    "[ca410_set_istate]: set display_mode --> [%d]\n",
    "[ca410_set_istate]: set sync mode --> [%d]\n",
    "[ca410_set_istate]: set current channel  --> [%d]\n",
    nullptr,
    "[ca410_set_istate]: set luminance unit --> [%d]\n",
    "[ca410_set_istate]: set measure_speed --> [%d]\n",
    "[ca410_set_istate]: set probe_display --> [%d]\n",
    "[ca410_set_istate]: set probe_output --> [%d]\n",
    nullptr,
    "[ca410_set_istate]: set sync mode --> [%d]\n",
    "[ca410_set_istate]: set sync mode --> [%d]\n",
    "[ca410_set_istate]: set trigger_mode --> [%d]\n",
    "[ca410_set_istate]: set trigger delay --> [%d] msec\n",
    nullptr,
    "[ca410_set_istate]: set simultaneous measure --> [%d]\n",
    "[ca410_set_istate]: set sync mode --> [%d]\n",
};

// A value bound of the settable items: the range and the message naming it.
struct value_bound {
    int32_t low, high;
    const char *message;
};

const value_bound *bound_of(int32_t item) {
    static const value_bound sync{
        0, 5, "[ca410_set_istate]: [%s] invalid args , val = [%d], need [0:5]\n"};
    static const value_bound channel{0, 99,
                                     "[ca410_set_istate]: [%s] invalid num = [%d], need [0:99]\n"};
    static const value_bound lum{0, 1,
                                 "[ca410_set_istate]: [%s] invalid args, val = [%d], need [0:1]\n"};
    static const value_bound probe_display{
        1, 10, "[ca410_set_istate]: [%s] invalid args, val = [%d] ,need [1:10]\n"};
    static const value_bound probe_output{
        1, 10, "[ca410_set_istate]: [%s] invalid args, val = [%d] , need[1:10]\n"};
    static const value_bound delay{
        0, 100, "[ca410_set_istate]: [%s] invalid args, val = [%d], need [0:100] msec\n"};
    switch (item) {
        case 1:
        case 9:
        case 10:
        case 15:
            return &sync;
        case 2:
            return &channel;
        case 4:
            return &lum;
        case 6:
            return &probe_display;
        case 7:
            return &probe_output;
        case 12:
            return &delay;
        default:
            return nullptr;
    }
}

}  // namespace

int32_t ca410_get_state(ca410_dev *handle, int32_t item) {
    if (!usable(handle) || item < 0 || item >= CA_CFG_COUNT) {
        cloge(glog, 0, "[ca410_get_state]: invalide args\n");
        return CA_E_NOT_READY;
    }
    const cfg_entry &entry = cfgs[item];
    char args[16];
    snprintf_c(args, sizeof args, "%d", entry.id);
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

    // The output probe number is one digit; longer data is cut to its first
    // character before it is read.
    if (item == 7 && std::strlen(data) >= 2) data[1] = '\0';
    if (uint8_t *field = byte_field(handle, item)) {
        *field = static_cast<uint8_t>(ca_read_int(data));
        clogd(glog, 6, read_messages[item], *field);
    } else if (double *value = double_field(handle, item)) {
        *value = ca_read_double(data);
        clogd(glog, 6, read_messages[item], *value);
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

    char args[SET_ARGS_SIZE];
    snprintf_c(args, sizeof args, "%d", value);
    if (const value_bound *b = bound_of(item); b && (value < b->low || value > b->high)) {
        cloge(glog, 0, b->message, head, value);
        return CA_E_ARGS;
    }
    if (is_sync_item(item) && (value == 4 || value == 5)) {
        // Modes 4 and 5 carry a frequency or time that goes out unchanged.
        const size_t n = text ? std::strlen(text) : 0;
        if (n < 1 || n > SYNC_TEXT_MAX) {
            cloge(glog, 0, "[ca410_set_istate]: [%s] invalid args, [%s], need 1-6 bytes\n", head,
                  or_null(text));
            return CA_E_ARGS;
        }
        if (!ca_text_is_sendable(text)) {
            cloge(glog, 0,
                  "[ca410_set_istate]: [%s] invalid args, printable ASCII without comma only\n",
                  head);
            return CA_E_ARGS;
        }
        snprintf_c(args, sizeof args, "%d,%s", value, text);
    } else if (item == 2) {
        snprintf_c(args, sizeof args, "1,%d", value);
    } else if (item == 3) {
        if (value < 0 || value > 99 || !text || !*text || !ca_text_is_sendable(text)) {
            cloge(glog, 0, "[ca410_set_istate]: [%s] invalid args, id[%d] name[%s]\n", head, value,
                  or_null(text));
            return CA_E_ARGS;
        }
        snprintf_c(args, sizeof args, "01,%02d,%.*s", value, CHANNEL_NAME_MAX, text);
    } else if (item == CA_ITEM_ZERO_CAL) {
        args[0] = '\0';
    }

    const uint32_t timeout = item == CA_ITEM_ZERO_CAL ? CA_TIMEOUT_ZRC_MS : CA_TIMEOUT_MS;
    char data[STATE_DATA_SIZE] = {};
    int32_t len = 0;
    const int32_t r = ca_command(handle, entry.cmd, args, 0, data, STATE_DATA_SIZE, &len, timeout);
    if (r != CA_OK) {
        cloge(glog, 0, "[ca410_set_istate]: cmd (%s) err, 0x%x\n", head, r);
        return r;
    }

    if (item == 3) {
        clogd(glog, 6, "[ca410_set_istate]: set channel[%d] name [%s]\n", value, text);
    } else if (item != CA_ITEM_ZERO_CAL) {
        // Writing the zero calibration item runs the calibration; the
        // status field changes only when it is read back.
        uint8_t *field = byte_field(handle, is_sync_item(item) ? 1 : item);
        *field = static_cast<uint8_t>(value);
        clogd(glog, 6, set_messages[item], *field);
    }
    return CA_OK;
}

int32_t ca410_get_config(ca410_dev *handle) {
    for (int32_t item = 0; item < CA_CFG_COUNT; ++item) {
        // The external sync frequency can only be read in external sync mode.
        if (item == CA_ITEM_EXTERNAL_SYNC && handle && handle->sync_mode != 2) {
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
    failure_clear();
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
    failure_clear();
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
    failure_clear();
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
    failure_clear();
    const int32_t r = ca410_set_istate(handle, CA_ITEM_ZERO_CAL, 0, nullptr);
    if (r != CA_OK) {
        cloge(glog, 0, "[ca410BlackCalibration]: ca410_set_istate err, 0x%x\n", r);
        return CA_E_ZERO_CAL;
    }
    clogd(glog, 5, "[ca410BlackCalibration]: done\n");
    return CA_OK;
}
