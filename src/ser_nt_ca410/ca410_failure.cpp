#include "ser_nt_ca410/ca410_failure.h"

#include <cstring>

#include "cmat/number_text.h"
#include "ser_nt_com/platform/ser_platform.h"

namespace {

thread_local ca410_failure current{CA410_CAUSE_NONE, -1, 0, {}, {}};

// The platform's reading of a system error, as a cause.
int32_t cause_of_problem(int32_t problem, int32_t fallback) {
    switch (problem) {
        case SER_PROBLEM_MISSING:
            return CA410_CAUSE_NO_SUCH_PORT;
        case SER_PROBLEM_NOT_SERIAL:
            return CA410_CAUSE_NOT_SERIAL;
        case SER_PROBLEM_BUSY:
            return CA410_CAUSE_PORT_BUSY;
        case SER_PROBLEM_DENIED:
            return CA410_CAUSE_PERMISSION;
        case SER_PROBLEM_SETTINGS:
            return CA410_CAUSE_LINE_SETTINGS;
        case SER_PROBLEM_GONE:
            return CA410_CAUSE_PORT_LOST;
        case SER_PROBLEM_NO_MEMORY:
            return CA410_CAUSE_NO_MEMORY;
        default:
            return fallback;
    }
}

}  // namespace

void failure_clear() {
    current = ca410_failure{CA410_CAUSE_NONE, -1, 0, {}, {}};
}

void failure_set(int32_t cause, const char *port, uint32_t system_error, const char *detail) {
    current.cause = cause;
    current.instrument_error = -1;
    current.system_error = system_error;
    snprintf_c(current.port, sizeof current.port, "%s", port ? port : "");
    const char *words = ca410_cause_text(cause);
    if (detail && *detail) {
        snprintf_c(current.text, sizeof current.text, "%s: %s", words, detail);
    } else {
        snprintf_c(current.text, sizeof current.text, "%s", words);
    }
}

void failure_set_instrument(const char *port, long code, const char *message) {
    failure_set(CA410_CAUSE_INSTRUMENT, port, 0, nullptr);
    current.instrument_error = static_cast<int32_t>(code);
    snprintf_c(current.text, sizeof current.text, "instrument error %02ld: %s", code,
               message ? message : "a number without an entry");
}

void failure_set_from_system(int32_t fallback, const char *port, const char *detail) {
    const ser_platform_ops *ops = ser_platform_active();
    const uint32_t error = ops->last_error();
    const int32_t cause = cause_of_problem(ops->classify_error(error), fallback);
    char text[sizeof current.text];
    if (detail && *detail) {
        snprintf_c(text, sizeof text, "%s (system error %u)", detail, static_cast<unsigned>(error));
    } else {
        snprintf_c(text, sizeof text, "system error %u", static_cast<unsigned>(error));
    }
    failure_set(cause, port, error, error ? text : detail);
}

void failure_set_port(const char *port) {
    snprintf_c(current.port, sizeof current.port, "%s", port ? port : "");
}

const ca410_failure &failure_current() {
    return current;
}
