// Scripted, recording serial backend with a virtual clock, for unit tests of
// the serial logic and of everything built on it. Every platform call is
// recorded with the values passed; results, incoming bytes, line errors and
// port-list values are scripted. Time passes only on the virtual clock: a
// read that would wait advances it instead of sleeping.
#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "cmat/clock.h"
#include "ser_nt_com/platform/ser_platform.h"

namespace ser_fake {

enum class op {
    open_port,
    close,
    get_state,
    set_state,
    purge,
    set_timeouts,
    read,
    write,
    clear_error,
    list_open,
    list_value,
    list_close,
    sleep,  // a msec_sleep on the virtual clock
};

const char *op_name(op o);

// One recorded call. Only the fields of its operation are meaningful.
struct call {
    op what;
    uint32_t at_ms = 0;     // virtual time when the call began
    std::string port_name;  // open_port
    std::string path;       // open_port: the device path the backend built
    ser_dcb dcb{};          // set_state: the record passed
    ser_timeouts timeouts{};
    uint32_t flags = 0;      // purge
    uint32_t count = 0;      // read/write: bytes asked for; sleep: ms
    std::string data;        // write: bytes passed; read: bytes delivered
    uint32_t index = 0;      // list_value
    uint32_t name_size = 0;  // list_value: sizes passed in
    uint32_t data_size = 0;
};

// Bytes that the "instrument" sends, `delay_ms` after the previous chunk was
// delivered (or after the read that meets it began). Delays count down only
// while a read waits, not during sleeps or writes; a purge of the receive
// queue drops the chunks at the head whose delay has run out. A chunk with `fail`
// set makes the read that reaches it fail after delivering what it has.
struct chunk {
    std::string bytes;
    uint32_t delay_ms = 0;
    bool fail = false;
};

// An exchange step: the host must write exactly `expect`; then `reply`
// becomes incoming. Unexpected writes are recorded as mismatches.
struct exchange_step {
    std::string expect;
    std::vector<chunk> reply;
};

// A value of the port list.
struct list_entry {
    std::string name;
    std::string data;
    uint32_t type = SER_LIST_TYPE_STRING;
    int32_t result = SER_LIST_SUCCESS;  // a non-success code is returned instead of the value
};

struct state {
    // Results to give.
    bool open_ok = true;
    bool get_state_ok = true;
    bool set_state_ok = true;
    bool set_timeouts_ok = true;
    bool write_ok = true;
    uint32_t write_accept = UINT32_MAX;  // bytes a write call takes at most
    uint32_t write_ms = 0;  // virtual time a complete write takes; a short one takes its time-out
    bool clear_error_ok = true;
    uint32_t line_errors = 0;  // CE_* flags handed out (and cleared) by clear_error
    uint32_t last_error = 0;
    int32_t problem = SER_PROBLEM_OTHER;  // what classify_error makes of last_error
    ser_dcb reported_dcb{};               // what get_state reports
    int32_t list_open_result = SER_LIST_SUCCESS;
    int32_t list_close_result = SER_LIST_SUCCESS;
    std::vector<list_entry> list;

    // Traffic.
    std::deque<chunk> incoming;
    std::deque<exchange_step> script;
    std::vector<std::string> mismatches;  // writes that did not match the script
    std::string written;                  // every byte written, in order
    std::string pending_host;             // written bytes not yet matched to a step

    // Record.
    std::vector<call> calls;
    uint32_t now_ms = 0;  // the virtual clock
    ser_timeouts current_timeouts{};
    int open_handles = 0;
};

// The fake's state; tests set it up and read it back.
state &get();
// Clears the state and makes the fake backend and its virtual clock current.
void install();
// Puts the native backend and the platform clock back.
void uninstall();

const ser_platform_ops *backend();
const cmat_clock_ops *clock();

// Helpers for tests.
void push_incoming(const std::string &bytes, uint32_t delay_ms = 0);
void expect_exchange(const std::string &host_bytes, const std::string &reply,
                     uint32_t delay_ms = 0);
std::vector<call> calls_of(op what);

// Installs the fake for the lifetime of a scope (a test fixture member).
struct scoped_install {
    scoped_install() { install(); }
    ~scoped_install() { uninstall(); }
};

}  // namespace ser_fake
