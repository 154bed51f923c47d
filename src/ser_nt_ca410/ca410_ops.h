// The instrument operations below the exported functions: settings,
// initialisation and identity, measurement, the calibration channel
// directory and the user WRGB calibration. Each checks its handle (a null
// handle or one without a port gives CA_E_NOT_READY) and its arguments
// (CA_E_ARGS, nothing sent), makes its exchanges through ca_command and
// returns a result code.
#pragma once

#include <cstdint>

#include "ca410.h"

// --- answer parsing, shared by every operation

// Splits `data` in place at commas, a run of commas counting as one
// separator (empty fields take no position). Stores pointers to at most
// `max_fields` fields and returns how many fields there are in all.
int32_t ca_split_fields(char *data, char **fields, int32_t max_fields);
// Integer with automatic base detection (0x hexadecimal, leading 0 octal,
// else decimal), stopping at the first character that does not fit; 0 for
// text that does not begin with a number.
long ca_read_int(const char *text);
// Decimal floating-point text; 0 for text that does not begin with a number.
double ca_read_double(const char *text);

// --- settings

// Settings item numbers: indexes into cfgs.
enum : int32_t {
    CA_ITEM_DISPLAY_MODE = 0,
    CA_ITEM_SYNC_MODE = 1,
    CA_ITEM_CHANNEL = 2,
    CA_ITEM_CHANNEL_NAME = 3,
    CA_ITEM_LUM_UNIT = 4,
    CA_ITEM_MEASURE_SPEED = 5,
    CA_ITEM_PROBE_DISPLAY = 6,
    CA_ITEM_PROBE_OUTPUT = 7,
    CA_ITEM_TEMPERATURE_SHIFT = 8,
    CA_ITEM_EXTERNAL_SYNC = 9,
    CA_ITEM_MANUAL_SYNC_TIME = 10,
    CA_ITEM_TRIGGER_MODE = 11,
    CA_ITEM_TRIGGER_DELAY = 12,
    CA_ITEM_ZERO_CAL = 13,
    CA_ITEM_SIMULTANEOUS = 14,
    CA_ITEM_INTERNAL_SYNC = 15,
};
constexpr int32_t CA_CFG_COUNT = 16;

// How a set item's value goes out.
enum class cfg_arg : uint8_t {
    value,         // "%d"
    sync,          // "%d", or "%d,TEXT" for the modes 4 and 5 that carry a frequency or time
    channel,       // "1,%d"
    channel_name,  // "01,%02d,NAME" (the first 10 characters of the text)
    none,          // nothing: the command alone
};

// Everything known of one settings item. The first three fields are the
// catalogue proper; the rest say where the item lives in the handle, how
// it is set and what the log says of it.
struct cfg_entry {
    int32_t id;                      // the item's number for "STR,"
    int32_t cmd;                     // the command that sets it; 0: read only
    const char *name;                // for the log
    uint8_t ca410_dev::*byte_field;  // where a read stores an integer (null: not here)
    double ca410_dev::*real_field;   // where a read stores a floating-point value
    uint8_t ca410_dev::*set_field;   // where a successful set stores the value (null: nowhere)
    cfg_arg arg;
    int32_t low, high;          // the values a set takes,
    const char *bound_message;  // refused with this message (null: no bound)
    const char *read_message;   // after a read, with the stored value (null: none)
    const char *set_message;    // after a set, with the stored value (null: none)
    uint32_t set_timeout_ms;
    bool first_character_only;  // a read takes only the answer's first character
    bool external_sync_only;    // readable in sync mode 2 (external) only
};
extern const cfg_entry cfgs[CA_CFG_COUNT];

// Reads item `item` (0 to 15) into the handle.
int32_t ca410_get_state(ca410_dev *handle, int32_t item);
// Checks `value` (and `text` for the sync modes 4 and 5 and the channel
// name) for item `item`, sends it, and on success stores it in the handle.
int32_t ca410_set_istate(ca410_dev *handle, int32_t item, int32_t value, const char *text);
// Reads every item in catalogue order (the external sync frequency only in
// sync mode 2); stops at the first failure, keeping what was read.
int32_t ca410_get_config(ca410_dev *handle);

// --- initialisation, identity, reset and ranges

int32_t ca410_get_firmware_info(ca410_dev *handle);
int32_t ca410_set_reset(ca410_dev *handle, int32_t type);
int32_t ca410_get_range(ca410_dev *handle, int32_t type);
int32_t ca410_set_range(ca410_dev *handle, int32_t type, int32_t mode, int32_t range);

// --- measurement

// One "MES," in format `fmt` (1 or 2), retried once with a shorter time-out
// when the brightness is over the range. `meas` (may be null) receives the
// three values.
int32_t ca410_measure(ca410_dev *handle, int32_t fmt, double *meas);

// --- calibration channel directory

// The calibration data of one channel as the one-channel read finds it.
struct ca410_calfile_info {
    int32_t channel;
    int32_t cal_type;
    int32_t disp_mode;
    char name[11];
    double target[4][3];
    double measure[4][3];
};

int32_t ca410_get_callist(ca410_dev *handle);
void ca410_free_list(ca410_dev *handle);
int32_t ca410_get_calfile(ca410_dev *handle, int32_t channel, int32_t disp_mode,
                          ca410_calfile_info *info);
int32_t ca410_ch_info(ca410_dev *handle, int32_t channel, int32_t disp_mode);
int32_t ca410_ch_reset(ca410_dev *handle, int32_t channel);

// --- user WRGB calibration

int32_t ca410_calmode_set(ca410_dev *handle, uint32_t mode);
int32_t ca410_set_cal_target(ca410_dev *handle, int32_t color_type, int32_t disp_mode,
                             const double *target);
int32_t ca410_ch_enter(ca410_dev *handle, int32_t channel, int32_t year, int32_t month, int32_t day,
                       int32_t hour);
