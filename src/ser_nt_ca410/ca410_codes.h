// The instrument's vocabulary: the command table, the result codes with their
// names and meanings, and the tables that turn an answer's status ("ERnn",
// "OKnn") into result codes and log texts.
#pragma once

#include <cstdint>

#include "ca410.h"

// Command heads indexed by command number; entry 0 is null (no command 0).
constexpr int32_t CA_CMD_COUNT = 40;
extern const char *const keystr[CA_CMD_COUNT + 1];

// Command numbers, named after their heads. The numbering is fixed by
// position in the table, including heads that no operation sends.
enum : int32_t {
    CA_CMD_IDO = 1,  // firmware identity
    CA_CMD_RST = 2,  // reset of measurement settings
    CA_CMD_COM = 3,
    CA_CMD_BPS = 4,
    CA_CMD_BPR = 5,  // no comma
    CA_CMD_MDS = 6,  // display mode
    CA_CMD_DPR = 7,
    CA_CMD_OPR = 8,
    CA_CMD_LDS = 9,
    CA_CMD_LDR = 10,  // no comma
    CA_CMD_CDS = 11,
    CA_CMD_SCS = 12,
    CA_CMD_FSC = 13,
    CA_CMD_TMS = 14,
    CA_CMD_TDS = 15,
    CA_CMD_MMS = 16,
    CA_CMD_FMS = 17,
    CA_CMD_JCS = 18,
    CA_CMD_STR = 19,  // read one settings item
    CA_CMD_RGS = 20,
    CA_CMD_RGR = 21,
    CA_CMD_LUS = 22,
    CA_CMD_ZRC = 23,  // zero calibration; no comma, no arguments
    CA_CMD_MCH = 24,
    CA_CMD_TDR = 25,
    CA_CMD_UCS = 26,
    CA_CMD_UWT = 27,
    CA_CMD_URD = 28,
    CA_CMD_UGR = 29,
    CA_CMD_UBL = 30,
    CA_CMD_ETR = 31,
    CA_CMD_IDS = 32,
    CA_CMD_MCS = 33,
    CA_CMD_MAD = 34,
    CA_CMD_MDD = 35,
    CA_CMD_TAD = 36,
    CA_CMD_TDD = 37,
    CA_CMD_MES = 38,  // measurement
    CA_CMD_JDR = 39,
    CA_CMD_FDR = 40,
};

// Exchange time-outs in milliseconds.
constexpr uint32_t CA_TIMEOUT_MS = 1000;           // most commands
constexpr uint32_t CA_TIMEOUT_MEASURE_MS = 3000;   // "MES,"
constexpr uint32_t CA_TIMEOUT_ZRC_MS = 6000;       // zero calibration
constexpr uint32_t CA_TIMEOUT_IDENTIFY_MS = 2000;  // identification at open and in the scan

// One result code with its name and meaning, for messages and tools.
struct ca_result_info {
    int32_t code;
    const char *name;
    const char *meaning;
};

// The entry for `code`, or null for a number that is not a result code.
const ca_result_info *ca_result_find(int32_t code);
// Every result code, in increasing order; `*count` receives their number.
const ca_result_info *ca_result_table(int32_t *count);

// One row of the instrument error table: "ER" code, result, message.
struct ca_instrument_error {
    int32_t instrument_code;
    int32_t result;
    const char *message;
};

// The row for an instrument error code, or null when it has none.
const ca_instrument_error *ca_instrument_error_find(long instrument_code);
