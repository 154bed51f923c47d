#include "ser_nt_ca410/ca410_codes.h"

#include <array>
#include <cstddef>

const char *const keystr[CA_CMD_COUNT + 1] = {
    nullptr, "IDO,", "RST,", "COM,", "BPS,", "BPR",  "MDS,", "DPR,", "OPR,", "LDS,", "LDR",
    "CDS,",  "SCS,", "FSC,", "TMS,", "TDS,", "MMS,", "FMS,", "JCS,", "STR,", "RGS,", "RGR,",
    "LUS,",  "ZRC",  "MCH,", "TDR,", "UCS,", "UWT,", "URD,", "UGR,", "UBL,", "ETR,", "IDS,",
    "MCS,",  "MAD,", "MDD,", "TAD,", "TDD,", "MES,", "JDR,", "FDR,",
};

namespace {

constexpr std::array<ca_result_info, 33> results{{
    {CA_OK, "CA_OK", "success"},
    {CA_E_DELETE_CHANNEL, "CA_E_DELETE_CHANNEL", "deleting a calibration channel failed"},
    {CA_E_INVALID_VALUE, "CA_E_INVALID_VALUE",
     "instrument error 03: colour difference or calibration value invalid"},
    {CA_E_CAL_MEASURE, "CA_E_CAL_MEASURE",
     "instrument error 05: user calibration failed because of the measured values"},
    {CA_E_CAL_INPUT, "CA_E_CAL_INPUT",
     "instrument error 06: user calibration failed because of wrong input"},
    {CA_E_INVALID_COMMAND, "CA_E_INVALID_COMMAND", "instrument error 10: invalid command"},
    {CA_E_CHANNEL_WRITE, "CA_E_CHANNEL_WRITE",
     "instrument error 16: writing calibration channel data failed"},
    {CA_E_NO_SYNC, "CA_E_NO_SYNC", "instrument error 20: external sync mode without a sync signal"},
    {CA_E_LIGHT_LEAK, "CA_E_LIGHT_LEAK",
     "instrument error 21: zero calibration saw outer light leaking in"},
    {CA_E_OVER_RANGE, "CA_E_OVER_RANGE",
     "instrument error 22: measured brightness exceeds the range"},
    {CA_E_CALC, "CA_E_CALC", "instrument error 24: measurement calculation error"},
    {CA_E_MEMORY, "CA_E_MEMORY", "instrument errors 31 and 32: memory data write or read error"},
    {CA_E_GET_RANGE, "CA_E_GET_RANGE", "reading the colour range failed"},
    {CA_E_FLICKER_RANGE, "CA_E_FLICKER_RANGE",
     "instrument error 50: flicker measurement in contrast mode exceeds the range"},
    {CA_E_FLICKER_SYNC, "CA_E_FLICKER_SYNC",
     "instrument error 51: flicker measurement in contrast mode, sync signal outside the range"},
    {CA_E_FLICKER, "CA_E_FLICKER", "instrument error 53: flicker measurement failed"},
    {CA_E_CAL_DATE, "CA_E_CAL_DATE", "instrument error 91: periodical calibration date error"},
    {CA_E_PROGRAM, "CA_E_PROGRAM", "instrument error 99: instrument program error"},
    {CA_E_ARGS, "CA_E_ARGS", "invalid arguments"},
    {CA_E_TIMEOUT, "CA_E_TIMEOUT", "communication time-out"},
    {CA_E_COMM, "CA_E_COMM",
     "communication failed, or the instrument sent an error code without an entry"},
    {CA_E_OPEN, "CA_E_OPEN", "opening the instrument failed (port, identification or memory)"},
    {CA_E_ZERO_CAL, "CA_E_ZERO_CAL", "zero calibration failed"},
    {CA_E_GET_CALLIST, "CA_E_GET_CALLIST", "reading the calibration channel list failed"},
    {CA_E_RESET, "CA_E_RESET", "resetting the measurement settings failed"},
    {CA_E_GET_CONFIG, "CA_E_GET_CONFIG",
     "reading the configuration failed, or setting the user calibration mode failed"},
    {CA_E_PARSE, "CA_E_PARSE",
     "an answer has too few fields, or names another channel or display mode than asked for"},
    {CA_E_PART_DATA, "CA_E_PART_DATA",
     "the answer's data did not fit the buffer; the part that fits has been returned"},
    {CA_E_NOT_READY, "CA_E_NOT_READY",
     "no usable device: null handle, no port, or not initialised or zero-calibrated"},
    {CA_E_FIRMWARE, "CA_E_FIRMWARE", "reading the firmware identity failed"},
    {CA_E_RECEIVE, "CA_E_RECEIVE",
     "the answer was too short, carried no data, or has too few fields"},
    {CA_E_DISPLAY_MODE, "CA_E_DISPLAY_MODE", "setting the display mode failed"},
    {CA_E_MEASURE, "CA_E_MEASURE", "the measurement failed"},
}};

constexpr bool results_ascending() {
    for (size_t i = 1; i < results.size(); ++i) {
        if (results[i - 1].code >= results[i].code) return false;
    }
    return true;
}
static_assert(results_ascending(), "result codes must be listed once each, ascending");
static_assert(results.back().code == CA_E_MEASURE, "the table ends with the last code");

// The messages are the instrument's own wording, misspellings included:
// host software matches on them.
constexpr std::array<ca_instrument_error, 16> instrument_errors{{
    {3, CA_E_INVALID_VALUE, "input color difference value or calib val , invalid value"},
    {5, CA_E_CAL_MEASURE, "user calibration failed because measure values"},
    {6, CA_E_CAL_INPUT, "user calibration failed because wrang input"},
    {10, CA_E_INVALID_COMMAND, "invalide command"},
    {16, CA_E_CHANNEL_WRITE, "write calibration channel data error"},
    {20, CA_E_NO_SYNC, "when sync_mode EXTERNAL,no sync signal input"},
    {21, CA_E_LIGHT_LEAK, "zero calibration outer light leak"},
    {22, CA_E_OVER_RANGE, "measure brightness exceed the range"},
    {24, CA_E_CALC, "measure calculate error"},
    {31, CA_E_MEMORY, "memory data write and read error"},
    {32, CA_E_MEMORY, "memory data write and read error"},
    {50, CA_E_FLICKER_RANGE, "flicker measure in contrast , exceed range"},
    {51, CA_E_FLICKER_SYNC, "flicker measure in contrast , sync signal outside range"},
    {53, CA_E_FLICKER, "flicker measure failed"},
    {91, CA_E_CAL_DATE, "periodical calibration date error"},
    {99, CA_E_PROGRAM, "instrument program error"},
}};

}  // namespace

const ca_result_info *ca_result_find(int32_t code) {
    for (const auto &r : results) {
        if (r.code == code) return &r;
    }
    return nullptr;
}

const ca_result_info *ca_result_table(int32_t *count) {
    if (count) *count = static_cast<int32_t>(results.size());
    return results.data();
}

const ca_instrument_error *ca_instrument_error_find(long instrument_code) {
    for (const auto &e : instrument_errors) {
        if (e.instrument_code == instrument_code) return &e;
    }
    return nullptr;
}
