// Measurement: one "MES," exchange with its single over-range retry, and
// the exported XYZ measurement.
#include <cmath>
#include <cstdio>

#include "ca410.h"
#include "clog/clog.h"
#include "cmat/number_text.h"
#include "ser_nt_ca410/ca410_cmd.h"
#include "ser_nt_ca410/ca410_codes.h"
#include "ser_nt_ca410/ca410_failure.h"
#include "ser_nt_ca410/ca410_ops.h"

namespace {

constexpr int32_t MEASURE_DATA_SIZE = 128;
constexpr int32_t MEASURE_MIN_FIELDS = 7;
constexpr int32_t MAX_FIELDS = MEASURE_DATA_SIZE / 2;

}  // namespace

int32_t ca410_measure(ca410_dev *handle, int32_t fmt, double *meas) {
    if (!handle || !handle->sercom) {
        cloge(glog, 0, "[ca410_measure]: invalid args\n");
        return CA_E_NOT_READY;
    }
    if (fmt != 1 && fmt != 2) {
        cloge(glog, 0, "[ca410_measure]: invalid fmt = [%d], need [1:2]\n", fmt);
        return CA_E_ARGS;
    }
    char args[32] = {};
    snprintf_c(args, sizeof args, "%d", fmt);
    char data[MEASURE_DATA_SIZE] = {};
    int32_t len = 0;
    int32_t r = ca_command(handle, CA_CMD_MES, args, 0, data, MEASURE_DATA_SIZE, &len,
                           CA_TIMEOUT_MEASURE_MS);
    if (r == CA_E_INVALID_COMMAND) {
        cloge(glog, 0, "[ca410_measure]: check zero calibration or command error\n");
        return r;
    }
    if (r == CA_E_OVER_RANGE) {
        // One retry only, and with the short time-out: the instrument has
        // already chosen its range by now.
        cloge(glog, 0, "[ca410_measure]: out of range, try again\n");
        r = ca_command(handle, CA_CMD_MES, args, 0, data, MEASURE_DATA_SIZE, &len, CA_TIMEOUT_MS);
    }
    if (r != CA_OK) {
        cloge(glog, 0, "[ca410_measure]: MES cmd err, 0x%x\n", r);
        return r;
    }

    double values[3] = {0.0, 0.0, 0.0};
    int display_mode = 0;
    char *fields[MAX_FIELDS];
    const int32_t n = ca_split_fields(data, fields, MAX_FIELDS);
    if (n >= 2) display_mode = static_cast<int>(ca_read_int(fields[1]));
    for (int32_t i = 0; i < 3 && i + 2 < n; ++i) values[i] = ca_read_double(fields[i + 2]);
    if (n < MEASURE_MIN_FIELDS) {
        // The data has been split in place, so only its first field shows.
        cloge(glog, 0, "[ca410_measure]: parse [%s] err\n", data);
        return CA_E_PARSE;
    }
    // "nan" or "inf" (or a number beyond a double) is no reading a host can use.
    if (!std::isfinite(values[0]) || !std::isfinite(values[1]) || !std::isfinite(values[2])) {
        cloge(glog, 0, "[ca410_measure]: parse [%s] [%s] [%s] err, not finite\n", fields[2],
              fields[3], fields[4]);
        return CA_E_PARSE;
    }
    if (meas) {
        for (int i = 0; i < 3; ++i) meas[i] = values[i];
    }
    clogd(glog, 6, "[ca410_measure]: disp_mode=[%d]  meas: [%.7f]  [%.7f] [%.7f]\n", display_mode,
          values[0], values[1], values[2]);
    return CA_OK;
}

extern "C" CA410_API int32_t CA410_CALL ca410MeasureXYZ(ca410_dev *handle, double *xyz) {
    const export_call call;
    if (!handle) {
        cloge(glog, 0, "[ca410MeasureXYZ]: invalid args\n");
        return CA_E_NOT_READY;
    }
    if (!xyz) {
        cloge(glog, 0, "[ca410MeasureXYZ]: invalid args\n");
        return CA_E_ARGS;
    }
    if (handle->init == 0 || handle->zero_calibration_status != 2) {
        cloge(glog, 0, "[ca410MeasureXYZ]: dev not init, need zero calibration first\n");
        return CA_E_NOT_READY;
    }
    double meas[3];
    const int32_t r = ca410_measure(handle, 1, meas);
    if (r != CA_OK) {
        cloge(glog, 0, "[ca410MeasureXYZ]: ca410_measure err, 0x%x\n", r);
        return CA_E_MEASURE;
    }
    for (int i = 0; i < 3; ++i) xyz[i] = meas[i];
    clogd(glog, 4, "[ca410MeasureXYZ]: X[%f] Y[%f] Z[%f]\n", xyz[0], xyz[1], xyz[2]);
    return CA_OK;
}
