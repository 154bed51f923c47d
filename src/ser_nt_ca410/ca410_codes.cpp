#include "ser_nt_ca410/ca410_codes.h"

#include <array>
#include <cstddef>
#include <iterator>

const char *const keystr[CA_CMD_COUNT + 1] = {
    nullptr, "IDO,", "RST,", "COM,", "BPS,", "BPR",  "MDS,", "DPR,", "OPR,", "LDS,", "LDR",
    "CDS,",  "SCS,", "FSC,", "TMS,", "TDS,", "MMS,", "FMS,", "JCS,", "STR,", "RGS,", "RGR,",
    "LUS,",  "ZRC",  "MCH,", "TDR,", "UCS,", "UWT,", "URD,", "UGR,", "UBL,", "ETR,", "IDS,",
    "MCS,",  "MAD,", "MDD,", "TAD,", "TDD,", "MES,", "JDR,", "FDR,",
};

namespace {

#define CA410_RESULT_ROW(name, number, meaning) {name, #name, meaning},
constexpr ca_result_info results[] = {CA410_RESULTS(CA410_RESULT_ROW)};
#undef CA410_RESULT_ROW

constexpr bool results_ascending() {
    for (size_t i = 1; i < std::size(results); ++i) {
        if (results[i - 1].code >= results[i].code) return false;
    }
    return true;
}
static_assert(results_ascending(), "result codes must be listed once each, ascending");
static_assert(std::size(results) == 33, "33 result codes");

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
    if (count) *count = static_cast<int32_t>(std::size(results));
    return results;
}

const ca_instrument_error *ca_instrument_error_find(long instrument_code) {
    for (const auto &e : instrument_errors) {
        if (e.instrument_code == instrument_code) return &e;
    }
    return nullptr;
}
