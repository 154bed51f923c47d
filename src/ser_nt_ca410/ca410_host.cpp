// The host-support functions of ca410_host.h: result code texts, the log
// handler, the last failure, and the port listing and scan.
#include "ca410_host.h"

#include <cstdlib>
#include <cstring>
#include <iterator>
#include <mutex>
#include <vector>

#include "clog/clog.h"
#include "cmat/number_text.h"
#include "ser_nt_ca410/ca410_codes.h"
#include "ser_nt_ca410/ca410_dev.h"
#include "ser_nt_ca410/ca410_failure.h"
#include "ser_nt_com/ser_com.h"

namespace {

// The words of each cause; the library's messages and hosts show them.
struct cause_words {
    int32_t cause;
    const char *words;
};
constexpr cause_words causes[] = {
    {CA410_CAUSE_NONE, "no failure recorded"},
    {CA410_CAUSE_NO_SUCH_PORT, "no such port"},
    {CA410_CAUSE_NOT_SERIAL, "not a serial port"},
    {CA410_CAUSE_PORT_BUSY, "in use by another program"},
    {CA410_CAUSE_PERMISSION, "permission denied"},
    {CA410_CAUSE_LINE_SETTINGS, "the port refused the line settings"},
    {CA410_CAUSE_NO_ANSWER, "no answer"},
    {CA410_CAUSE_NOT_CA410, "no CA-410 answered"},
    {CA410_CAUSE_INSTRUMENT, "the instrument answered an error"},
    {CA410_CAUSE_PORT_LOST, "the port failed (unplugged?)"},
    {CA410_CAUSE_BAD_ANSWER, "an answer of the wrong form"},
    {CA410_CAUSE_NO_MEMORY, "no memory"},
    {CA410_CAUSE_SYSTEM, "system error"},
};

// The host's handler, called through a forwarder of the log's own kind (on
// Windows the two calling conventions need not be the same). Changed only
// while the log has no handler, under `setting`.
std::mutex setting;
ca410_log_handler host_handler = nullptr;

void to_host(void *context, int32_t level, const char *line) {
    host_handler(context, level, line);
}

// The listed ports with their details; the walk's names, not yet probed.
std::vector<ca410_port> listed_ports() {
    std::vector<ca410_port> out;
    const ser_platform_ops *ops = ser_platform_active();
    ser_list_key key = nullptr;
    if (ops->list_open(&key) != SER_LIST_SUCCESS) return out;
    for (uint32_t index = 0;; ++index) {
        char name[256];
        char data[256];
        uint32_t name_size = sizeof name, data_size = sizeof data, type = 0;
        const int32_t r = ops->list_value(key, index, name, &name_size, &type,
                                          reinterpret_cast<uint8_t *>(data), &data_size);
        if (r == SER_LIST_NO_MORE_ITEMS) break;
        if (r != SER_LIST_SUCCESS || type != SER_LIST_TYPE_STRING) continue;
        name[sizeof name - 1] = data[sizeof data - 1] = '\0';
        if (!ca410_scan_name_is_candidate(data, ca410_scan_requires_com)) continue;
        ser_port_details details{};
        ops->port_details(name, data, &details);
        ca410_port port{};
        snprintf_c(port.name, sizeof port.name, "%s", data);
        std::memcpy(port.description, details.description, sizeof port.description);
        std::memcpy(port.manufacturer, details.manufacturer, sizeof port.manufacturer);
        std::memcpy(port.serial_number, details.serial_number, sizeof port.serial_number);
        port.usb_vendor_id = details.usb_vendor_id;
        port.usb_product_id = details.usb_product_id;
        out.push_back(port);
    }
    ops->list_close(key);
    return out;
}

int32_t hand_out(const std::vector<ca410_port> &ports, ca410_port *out, int32_t capacity,
                 int32_t *count) {
    const auto n = static_cast<int32_t>(ports.size());
    for (int32_t i = 0; i < n && i < capacity; ++i) out[i] = ports[static_cast<size_t>(i)];
    *count = n;
    return CA_OK;
}

bool bad_list_args(const ca410_port *ports, int32_t capacity, const int32_t *count) {
    return !count || capacity < 0 || (capacity > 0 && !ports);
}

}  // namespace

// Nothing below lets an exception out: the port lists catch what their
// allocations may throw.
extern "C" {

CA410_API const char *CA410_CALL ca410_version(void) {
    return CA410_VERSION_STRING;
}

CA410_API const char *CA410_CALL ca410_result_name(int32_t code) {
    const ca_result_info *info = ca_result_find(code);
    return info ? info->name : nullptr;
}

CA410_API const char *CA410_CALL ca410_result_meaning(int32_t code) {
    const ca_result_info *info = ca_result_find(code);
    return info ? info->meaning : nullptr;
}

CA410_API int32_t CA410_CALL ca410_result_codes(int32_t *codes, int32_t capacity) {
    int32_t count = 0;
    const ca_result_info *table = ca_result_table(&count);
    for (int32_t i = 0; codes && i < count && i < capacity; ++i) codes[i] = table[i].code;
    return count;
}

CA410_API int32_t CA410_CALL ca410_set_log_handler(ca410_log_handler handler, void *context) {
    std::lock_guard<std::mutex> hold(setting);
    clog_set_line_handler(nullptr, nullptr);
    host_handler = handler;
    if (handler) clog_set_line_handler(to_host, context);
    return CA_OK;
}

CA410_API int32_t CA410_CALL ca410_last_failure(ca410_failure *failure) {
    if (!failure) return CA_E_ARGS;
    *failure = failure_current();
    return CA_OK;
}

CA410_API const char *CA410_CALL ca410_cause_text(int32_t cause) {
    for (const auto &c : causes) {
        if (c.cause == cause) return c.words;
    }
    return nullptr;
}

CA410_API int32_t CA410_CALL ca410_list_ports(ca410_port *ports, int32_t capacity, int32_t *count) {
    if (bad_list_args(ports, capacity, count)) return CA_E_ARGS;
    try {
        return hand_out(listed_ports(), ports, capacity, count);
    } catch (...) {
        return CA_E_OPEN;
    }
}

CA410_API int32_t CA410_CALL ca410_scan_ports(ca410_port *found, int32_t capacity, int32_t *count) {
    if (bad_list_args(found, capacity, count)) return CA_E_ARGS;
    try {
        std::vector<ca410_port> answered;
        for (const ca410_port &port : listed_ports()) {
            ser_com *sc = new_ser_com(port.name);
            if (sc && ser_com_check_ca410(sc) == 0) answered.push_back(port);
            ser_com_del(sc);
        }
        return hand_out(answered, found, capacity, count);
    } catch (...) {
        return CA_E_OPEN;
    }
}

}  // extern "C"
