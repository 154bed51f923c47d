// Why the calling thread's last call failed, kept for hosts
// (ca410_last_failure). Recorded where the failure is found: a port that
// does not open, an identification that does not come, an exchange that
// times out or breaks, an instrument's error answer.
#pragma once

#include <cstdint>

#include "ca410_host.h"
#include "clog/clog.h"

// Starts afresh: every exported instrument function calls it first.
void failure_clear();
// Records `cause` for `port` (may be null) with the system error behind it
// (0: none) and a detail after the cause's words (may be null).
void failure_set(int32_t cause, const char *port, uint32_t system_error, const char *detail);
// Records the instrument's error answer `code` and its message (null for a
// number without an entry).
void failure_set_instrument(const char *port, long code, const char *message);
// Records a failure of the port in use from the platform's last system
// error: the cause that error means (gone, busy, ...) or `fallback`.
void failure_set_from_system(int32_t fallback, const char *port, const char *detail);
// Names the port of the failure recorded last.
void failure_set_port(const char *port);
const ca410_failure &failure_current();

// The span of one exported instrument function on this thread: it starts
// with no failure recorded and ends with the log's last line handed to the
// host's handler whole, also when its message had no line end.
class export_call {
  public:
    export_call() { failure_clear(); }
    ~export_call() { clog_end_line(); }
    export_call(const export_call &) = delete;
    export_call &operator=(const export_call &) = delete;
};
