// Initialisation, identity, reset and ranges, and their exported functions.
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

constexpr int32_t IDENTITY_DATA_SIZE = 256;
constexpr int32_t RANGE_DATA_SIZE = 64;
// Every field takes at least one character and a comma.
constexpr int32_t MAX_FIELDS = IDENTITY_DATA_SIZE / 2;
constexpr size_t HANDLE_TEXT_SIZE = sizeof(ca410_dev::name);
constexpr size_t NAME_MAX = 15;
constexpr size_t VERSION_MAX = 13;
constexpr size_t SERIAL_MAX = 8;

bool usable(const ca410_dev *handle) {
    return handle && handle->sercom;
}

// Replaces the whole text field with at most `max` characters of `from`.
template <size_t N>
void put_text(char (&field)[N], const char *from, size_t max) {
    static_assert(N == 16, "identity texts are 16 bytes");
    std::memset(field, 0, N);
    std::strncpy(field, from, max);
}

}  // namespace

int32_t ca410_get_firmware_info(ca410_dev *handle) {
    if (!usable(handle)) {
        cloge(glog, 0, "[ca410_get_firmware_info]: invalide args\n");
        return CA_E_NOT_READY;
    }
    char data[IDENTITY_DATA_SIZE] = {};
    int32_t len = 0;
    const int32_t r =
        ca_command(handle, CA_CMD_IDO, "0,1", 0, data, IDENTITY_DATA_SIZE, &len, CA_TIMEOUT_MS);
    if (r != CA_OK) {
        cloge(glog, 0, "[ca410_get_firmware_info]: IDO cmd err,0x%x\n", r);
        return r;
    }
    char *fields[MAX_FIELDS];
    const int32_t n = ca_split_fields(data, fields, MAX_FIELDS);
    for (int32_t i = 0; i < n && i < MAX_FIELDS; ++i) {
        clogd(glog, 7, "[ca410_get_firmware_info]: response [%d]:[%s]\n", i, fields[i]);
    }
    if (n < 4) {
        cloge(glog, 0, "[ca410_get_firmware_info]: cannot parse response\n");
        return CA_E_RECEIVE;
    }
    put_text(handle->name, fields[2], NAME_MAX);
    // Trailing blanks go, but never the first character: a name of blanks
    // leaves one blank.
    for (size_t end = std::strlen(handle->name); end > 1 && handle->name[end - 1] == ' '; --end) {
        handle->name[end - 1] = '\0';
    }
    put_text(handle->vn, fields[3], VERSION_MAX);
    // An answer of four fields carries no serial number: none is shown
    // rather than the one of an earlier read.
    put_text(handle->sn, n >= 5 ? fields[4] : "", SERIAL_MAX);
    clogd(glog, 8, "[ca410_get_firmware_info]: model=[%s], vn=[%s], sn=[%s]\n", handle->name,
          handle->vn, handle->sn);
    return CA_OK;
}

int32_t ca410_set_reset(ca410_dev *handle, int32_t type) {
    if (!usable(handle)) {
        cloge(glog, 0, "[ca410_set_reset]: invalid args\n");
        return CA_E_NOT_READY;
    }
    if (type < 0 || type > 3) {
        // The instrument's own wording: no blank after the colon, and a
        // carriage return where the other messages end in a line feed.
        cloge(glog, 0, "[ca410_set_reset]:invalid type = [%d], need [0:3]\r", type);
        return CA_E_ARGS;
    }
    clogd(glog, 6, "[ca410_set_reset]: reset type [%d] start\n", type);
    char args[16];
    snprintf_c(args, sizeof args, "0,%d", type);
    char data[IDENTITY_DATA_SIZE] = {};
    int32_t len = 0;
    const int32_t r =
        ca_command(handle, CA_CMD_RST, args, 0, data, IDENTITY_DATA_SIZE, &len, CA_TIMEOUT_MS);
    if (r != CA_OK) {
        cloge(glog, 0, "[ca410_set_reset]: RST cmd err, 0x%x\n", r);
        return r;
    }
    clogd(glog, 6, "[ca410_set_reset]: %d done\n", type);
    return CA_OK;
}

int32_t ca410_get_range(ca410_dev *handle, int32_t type) {
    if (!usable(handle)) {
        cloge(glog, 0, "[ca410_get_range]: invalid args\n");
        return CA_E_NOT_READY;
    }
    if (type != 0 && type != 1) {
        cloge(glog, 0, "[ca410_get_range]: invalid type=[%d], need [0:1]\n", type);
        return CA_E_ARGS;
    }
    char args[16];
    snprintf_c(args, sizeof args, "0,%d", type);
    char data[RANGE_DATA_SIZE] = {};
    int32_t len = 0;
    const int32_t r =
        ca_command(handle, CA_CMD_RGR, args, 0, data, RANGE_DATA_SIZE, &len, CA_TIMEOUT_MS);
    if (r != CA_OK) {
        cloge(glog, 0, "[ca410_get_range]: RGR cmd err,0x%x\n", r);
        return r;
    }
    char *fields[RANGE_DATA_SIZE / 2];
    const int32_t n = ca_split_fields(data, fields, RANGE_DATA_SIZE / 2);
    for (int32_t i = 0; i < n && i < RANGE_DATA_SIZE / 2; ++i) {
        clogd(glog, 8, "[ca410_get_range]: (%d) [%s]\n", i, fields[i]);
    }
    if (n < 2) {
        cloge(glog, 0, "[ca410_get_range]: cannot parse response\n");
        return CA_E_RECEIVE;
    }
    const auto mode = static_cast<uint8_t>(ca_read_int(fields[0]));
    const auto range = static_cast<uint8_t>(ca_read_int(fields[1]));
    if (type == 0) {
        handle->color_range_mode = mode;
        handle->color_range = range;
        clogd(glog, 6, "[ca410_get_range]: color   range = [%d] mode = [%d]\n", range, mode);
    } else {
        handle->flicker_range_mode = mode;
        handle->flicker_range = range;
        clogd(glog, 6, "[ca410_get_range]: flicker range = [%d] mode = [%d]\n", range, mode);
    }
    return CA_OK;
}

int32_t ca410_set_range(ca410_dev *handle, int32_t type, int32_t mode, int32_t range) {
    if (!usable(handle)) {
        cloge(glog, 0, "[ca410_set_range]: invalid args\n");
        return CA_E_NOT_READY;
    }
    if (type != 0 && type != 1) {
        cloge(glog, 0, "[ca410_set_range]: invalid type=[%d], need [0:1]\n", type);
        return CA_E_ARGS;
    }
    if (mode != 0 && mode != 1) {
        cloge(glog, 0, "[ca410_set_range]: invalid mode=[%d], need [0:1]\n", mode);
        return CA_E_ARGS;
    }
    const int32_t top = type == 0 ? 6 : 4;
    if (range < 1 || range > top) {
        cloge(glog, 0, "[ca410_set_range]: invalid set = [%d], need [1:4]or[1:6]\n", range);
        return CA_E_ARGS;
    }
    char args[48];
    snprintf_c(args, sizeof args, "0,%d,%d,%d", type, mode, range);
    char data[RANGE_DATA_SIZE] = {};
    int32_t len = 0;
    const int32_t r =
        ca_command(handle, CA_CMD_RGS, args, 0, data, RANGE_DATA_SIZE, &len, CA_TIMEOUT_MS);
    if (r != CA_OK) {
        // The message names the read command although the set one was sent.
        cloge(glog, 0, "[ca410_set_range]: RGR cmd err,0x%x\n", r);
        return r;
    }
    clogd(glog, 6, "[ca410_set_range]: type [%d], mode [%d], range [%d] done\n", type, mode, range);
    return CA_OK;
}

namespace {

// The initialisation's steps in order, each with the code it fails with.
struct init_step {
    int32_t (*run)(ca410_dev *);
    const char *failure;  // the message, with the step's own result
    int32_t result;
};

const init_step init_steps[] = {
    {ca410_get_firmware_info, "[ca410DeviceInit]: get firmware err, 0x%x\n", CA_E_FIRMWARE},
    {[](ca410_dev *h) { return ca410_set_reset(h, 2); },
     "[ca410DevoceInit]: reset measure setting err, 0x%x\n", CA_E_RESET},
    {[](ca410_dev *h) { return ca410_set_istate(h, CA_ITEM_ZERO_CAL, 0, nullptr); },
     "[ca410DeviceInit]: zero calibration err, 0x%x\n", CA_E_ZERO_CAL},
    {ca410_get_config, "[ca410DeviceInit]: get configure err, 0x%x\n", CA_E_GET_CONFIG},
    {[](ca410_dev *h) { return ca410_get_range(h, 0); },
     "[ca410DeviceInit]: get color range err, 0x%x\n", CA_E_GET_RANGE},
    {[](ca410_dev *h) { return ca410_set_istate(h, CA_ITEM_DISPLAY_MODE, 7, nullptr); },
     "[ca410DeviceInit]: set display mode err, 0x%x\n", CA_E_DISPLAY_MODE},
};

}  // namespace

extern "C" CA410_API int32_t CA410_CALL ca410DeviceInit(ca410_dev *handle) {
    const export_call call;
    for (const init_step &step : init_steps) {
        const int32_t r = step.run(handle);
        if (r != CA_OK) {
            cloge(glog, 0, step.failure, r);
            return step.result;
        }
    }
    handle->init = 1;
    clogd(glog, 4, "[ca410DeviceInit]: init = %d\n", handle->init);
    return CA_OK;
}

extern "C" CA410_API int32_t CA410_CALL ca410DeviceReset(ca410_dev *handle) {
    const export_call call;
    const int32_t r = ca410_set_reset(handle, 2);
    if (r != CA_OK) {
        cloge(glog, 0, "[ca410DeviceReset]: ca410_set_reset err, 0x%x\n", r);
        return CA_E_RESET;
    }
    clogd(glog, 5, "[ca410DeviceReset]: done\n");
    return CA_OK;
}

extern "C" CA410_API int32_t CA410_CALL ca410GetDeviceInfo(ca410_dev *handle,
                                                           ca410_dev_info *info) {
    const export_call call;
    if (!handle || !info) {
        cloge(glog, 0, "[ca410GetDeviceInfo]: invalid args\n");
        return handle ? CA_E_ARGS : CA_E_NOT_READY;
    }
    if (handle->init == 0) {
        const int32_t r = ca410DeviceInit(handle);
        if (r != CA_OK) {
            cloge(glog, 0, "[ca410GetDeviceInfo]: init err, 0x%x\n", r);
            return r;
        }
    }
    // Only the first 16 bytes of each field: the caller's bytes beyond stay.
    std::strncpy(info->name, handle->name, HANDLE_TEXT_SIZE);
    std::strncpy(info->sn, handle->sn, HANDLE_TEXT_SIZE);
    std::strncpy(info->vn, handle->vn, HANDLE_TEXT_SIZE);
    clogd(glog, 5, "[ca410GetDeviceInfo]: name[%s] sn[%s] vn[%s]\n", info->name, info->sn,
          info->vn);
    return CA_OK;
}
