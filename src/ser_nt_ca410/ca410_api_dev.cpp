// Exported functions: open and release.
#include "ca410.h"
#include "clog/clog.h"
#include "ser_nt_ca410/ca410_dev.h"
#include "ser_nt_ca410/ca410_failure.h"

namespace {
constexpr int32_t LOG_LEVEL_MAX = 8;
}

// Nothing below throws (the modules are written C-style over the C library),
// so no exception can reach the C caller.
extern "C" CA410_API int32_t CA410_CALL ca410DeviceOpen(ca410_dev **handle_out, const char *port,
                                                        int32_t log_level) {
    const export_call call;
    if (!handle_out || !port) {
        cloge(glog, 0, "[ca410DeviceOpen]: invalid args\n");
        return CA_E_ARGS;
    }
    if (log_level > 0) {
        // The levels are process-wide: every handle logs through the one channel.
        const int32_t level = log_level > LOG_LEVEL_MAX ? LOG_LEVEL_MAX : log_level;
        clog_set_debug(glog, level);
        clog_set_verb(glog, level);
        clogd(glog, 1, "[ca410DeviceOpen]: log level %d\n", level);
    }
    ca410_dev *dev = ca410_dev_create(port);
    if (!dev) {
        cloge(glog, 0, "[ca410DeviceOpen]: ca410_dev_create err\n");
        return CA_E_OPEN;
    }
    *handle_out = dev;
    return CA_OK;
}

extern "C" CA410_API int32_t CA410_CALL ca410DeviceRelease(ca410_dev *handle) {
    const export_call call;
    ca410_dev_release(handle);
    return CA_OK;
}
