// Scripted serial backend on a virtual clock. Reads follow the Win32
// time-out rules that the serial logic relies on: return when the count is
// in, ReadIntervalTimeout ms after the last byte once one has arrived, or
// ReadTotalTimeoutConstant ms after the call began.
#include "ser_nt_com/platform/fake.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace ser_fake {
namespace {

state g_state;

void advance(uint32_t ms) {
    g_state.now_ms += ms;
}

call &record(op what) {
    call c;
    c.what = what;
    c.at_ms = g_state.now_ms;
    g_state.calls.push_back(c);
    return g_state.calls.back();
}

// Handles are small non-null tokens; the fake never dereferences them.
ser_handle token_for(int n) {
    return reinterpret_cast<ser_handle>(static_cast<uintptr_t>(0x1000 + n));
}

bool fake_open(const char *port_name, char *path, size_t path_size, ser_handle *handle) {
    call &c = record(op::open_port);
    c.port_name = port_name;
    snprintf(path, path_size, "\\\\.\\%s", port_name);
    c.path = path;
    if (!g_state.open_ok) return false;
    *handle = token_for(++g_state.open_handles);
    return true;
}

void fake_close(ser_handle) {
    record(op::close);
}

bool fake_get_state(ser_handle, ser_dcb *dcb) {
    call &c = record(op::get_state);
    if (!g_state.get_state_ok) return false;
    *dcb = g_state.reported_dcb;
    c.dcb = *dcb;
    return true;
}

bool fake_set_state(ser_handle, const ser_dcb *dcb) {
    call &c = record(op::set_state);
    c.dcb = *dcb;
    return g_state.set_state_ok;
}

void fake_purge(ser_handle, uint32_t flags) {
    record(op::purge).flags = flags;
    // Bytes that have already arrived are in the receive queue: dropped.
    if (flags & SER_PURGE_RXCLEAR) {
        while (!g_state.incoming.empty() && g_state.incoming.front().delay_ms == 0) {
            g_state.incoming.pop_front();
        }
    }
}

bool fake_set_timeouts(ser_handle, const ser_timeouts *timeouts) {
    record(op::set_timeouts).timeouts = *timeouts;
    if (!g_state.set_timeouts_ok) return false;
    g_state.current_timeouts = *timeouts;
    return true;
}

bool fake_read(ser_handle, void *buffer, uint32_t count, uint32_t *got) {
    const size_t index = g_state.calls.size();
    record(op::read).count = count;
    const ser_timeouts &t = g_state.current_timeouts;
    const uint32_t total = t.ReadTotalTimeoutConstant + t.ReadTotalTimeoutMultiplier * count;
    auto *out = static_cast<char *>(buffer);
    uint32_t delivered = 0;
    uint32_t waited = 0;
    bool ok = true;
    while (delivered < count) {
        // Once a byte is in, the next must come within the interval.
        uint32_t limit = total - std::min(waited, total);
        if (delivered > 0 && t.ReadIntervalTimeout != 0) {
            limit = std::min(limit, t.ReadIntervalTimeout);
        }
        if (g_state.incoming.empty()) {
            advance(limit);
            break;
        }
        chunk &next = g_state.incoming.front();
        if (next.delay_ms >= limit) {
            advance(limit);
            next.delay_ms -= limit;
            break;
        }
        advance(next.delay_ms);
        waited += next.delay_ms;
        next.delay_ms = 0;
        const size_t n = std::min<size_t>(count - delivered, next.bytes.size());
        memcpy(out + delivered, next.bytes.data(), n);
        next.bytes.erase(0, n);
        delivered += static_cast<uint32_t>(n);
        if (next.bytes.empty()) {
            const bool fail = next.fail;
            g_state.incoming.pop_front();
            if (fail) {
                ok = false;
                break;
            }
        }
    }
    *got = delivered;
    g_state.calls[index].data.assign(out, delivered);
    return ok;
}

void match_script(const std::string &bytes) {
    std::string &pending = g_state.pending_host;
    if (g_state.script.empty()) return;
    pending += bytes;
    while (!g_state.script.empty() && pending.size() >= g_state.script.front().expect.size()) {
        exchange_step step = g_state.script.front();
        g_state.script.pop_front();
        const std::string sent = pending.substr(0, step.expect.size());
        pending.erase(0, step.expect.size());
        if (sent != step.expect) g_state.mismatches.push_back(sent);
        for (const chunk &c : step.reply) g_state.incoming.push_back(c);
    }
}

bool fake_write(ser_handle, const void *data, uint32_t count, uint32_t *written) {
    call &c = record(op::write);
    c.count = count;
    if (!g_state.write_ok) {
        *written = 0;
        return false;
    }
    // As WriteFile: a write that cannot take every byte returns only when its
    // time-out has run out; a complete one takes write_ms, at most as long.
    const uint32_t n = std::min(count, g_state.write_accept);
    const uint32_t limit = g_state.current_timeouts.WriteTotalTimeoutConstant +
                           g_state.current_timeouts.WriteTotalTimeoutMultiplier * count;
    advance(n < count ? limit : std::min(g_state.write_ms, limit));
    const std::string bytes(static_cast<const char *>(data), n);
    c.data = bytes;
    g_state.written += bytes;
    *written = n;
    match_script(bytes);
    return true;
}

bool fake_clear_error(ser_handle, uint32_t *errors) {
    record(op::clear_error);
    if (!g_state.clear_error_ok) return false;
    *errors = g_state.line_errors;
    g_state.line_errors = 0;
    return true;
}

uint32_t fake_last_error() {
    return g_state.last_error;
}

int32_t fake_list_open(ser_list_key *key) {
    record(op::list_open);
    *key = &g_state;
    return g_state.list_open_result;
}

int32_t fake_list_value(ser_list_key, uint32_t index, char *name, uint32_t *name_size,
                        uint32_t *type, uint8_t *data, uint32_t *data_size) {
    call &c = record(op::list_value);
    c.index = index;
    c.name_size = *name_size;
    c.data_size = *data_size;
    if (index >= g_state.list.size()) return SER_LIST_NO_MORE_ITEMS;
    const list_entry &e = g_state.list[index];
    if (e.result != SER_LIST_SUCCESS) return e.result;
    if (e.name.size() + 1 > *name_size || e.data.size() + 1 > *data_size) {
        return SER_LIST_MORE_DATA;
    }
    memcpy(name, e.name.c_str(), e.name.size() + 1);
    memcpy(data, e.data.c_str(), e.data.size() + 1);
    *name_size = static_cast<uint32_t>(e.name.size());
    *data_size = static_cast<uint32_t>(e.data.size() + 1);
    *type = e.type;
    return SER_LIST_SUCCESS;
}

int32_t fake_list_close(ser_list_key) {
    record(op::list_close);
    return g_state.list_close_result;
}

// Scripted: the problem a test gives the error code.
int32_t fake_classify_error(uint32_t error) {
    return error == g_state.last_error ? g_state.problem : SER_PROBLEM_OTHER;
}

void fake_port_details(const char *name, const char *, ser_port_details *details) {
    *details = ser_port_details{};
    snprintf(details->description, sizeof details->description, "fake %s", name);
}

const ser_platform_ops kFakeOps = [] {
    ser_platform_ops ops{};
    ops.name = "fake";
    ops.open_port = fake_open;
    ops.close = fake_close;
    ops.get_state = fake_get_state;
    ops.set_state = fake_set_state;
    ops.purge = fake_purge;
    ops.set_timeouts = fake_set_timeouts;
    ops.read = fake_read;
    ops.write = fake_write;
    ops.clear_error = fake_clear_error;
    ops.last_error = fake_last_error;
    ops.classify_error = fake_classify_error;
    ops.list_open = fake_list_open;
    ops.list_value = fake_list_value;
    ops.list_close = fake_list_close;
    ops.port_details = fake_port_details;
    return ops;
}();

void clock_sleep(uint32_t ms) {
    record(op::sleep).count = ms;
    advance(ms);
}

uint32_t clock_tick() {
    return g_state.now_ms;
}

bool clock_frequency(int64_t *frequency) {
    *frequency = 1000;
    return true;
}

int64_t clock_counter() {
    return g_state.now_ms;
}

const cmat_clock_ops kFakeClock = {clock_sleep, clock_tick, clock_frequency, clock_counter};

}  // namespace

const char *op_name(op o) {
    static constexpr const char *kNames[] = {
        "open_port", "close",       "get_state", "set_state",  "purge",      "set_timeouts", "read",
        "write",     "clear_error", "list_open", "list_value", "list_close", "sleep",
    };
    return kNames[static_cast<int>(o)];
}

state &get() {
    return g_state;
}

void install() {
    g_state = state{};
    ser_platform = &kFakeOps;
    cmat_clock = &kFakeClock;
}

void uninstall() {
    ser_platform = nullptr;
    cmat_clock = nullptr;
}

const ser_platform_ops *backend() {
    return &kFakeOps;
}
const cmat_clock_ops *clock() {
    return &kFakeClock;
}

void push_incoming(const std::string &bytes, uint32_t delay_ms) {
    g_state.incoming.push_back(chunk{bytes, delay_ms, false});
}

void expect_exchange(const std::string &host_bytes, const std::string &reply, uint32_t delay_ms) {
    exchange_step step;
    step.expect = host_bytes;
    if (!reply.empty()) step.reply.push_back(chunk{reply, delay_ms, false});
    g_state.script.push_back(step);
}

std::vector<call> calls_of(op what) {
    std::vector<call> out;
    std::copy_if(g_state.calls.begin(), g_state.calls.end(), std::back_inserter(out),
                 [what](const call &c) { return c.what == what; });
    return out;
}

}  // namespace ser_fake
