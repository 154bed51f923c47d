#include "clog/clog.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "cmat/number_text.h"

namespace {

// The level of the message being written on this thread, for a line handler.
thread_local int32_t message_level = CLOG_LEVEL_FAILURE;

// The host's line handler. `installed` lets the common case (none) pass
// without the lock; the handler itself is only touched under it.
std::mutex handler_lock;
std::atomic<bool> installed{false};
clog_line_handler line_handler = nullptr;
void *line_context = nullptr;

// A line being put together on this thread: some messages come in pieces
// (a head, then the text, then the line end), and one has no line end.
struct pending_line {
    char text[1024];
    size_t used = 0;
    int32_t level = 0;
};
thread_local pending_line pending;

void deliver_pending() {
    pending.text[pending.used] = '\0';
    line_handler(line_context, pending.level, pending.text);
    pending.used = 0;
}

void to_handler(void *, const char *text, size_t n) {
    for (size_t i = 0; i < n; ++i) {
        if (text[i] == '\n') {
            deliver_pending();
            continue;
        }
        if (pending.used == 0) pending.level = message_level;
        if (pending.used + 1 == sizeof pending.text)
            deliver_pending();  // a very long line, in parts
        pending.text[pending.used++] = text[i];
    }
}

// Whole lines to the handler; false when there is none.
bool write_to_handler(const char *format, va_list args) {
    if (!installed.load(std::memory_order_acquire)) return false;
    std::lock_guard<std::mutex> hold(handler_lock);
    if (!line_handler) return false;
    // A message that starts a new head ("[function]: ...") ends a line left
    // without its line end.
    if (pending.used > 0 && format[0] == '[') deliver_pending();
    vformat_c({to_handler, nullptr}, format, args);
    return true;
}

}  // namespace

void clog_end_line() {
    if (!installed.load(std::memory_order_acquire) || pending.used == 0) return;
    std::lock_guard<std::mutex> hold(handler_lock);
    if (line_handler) deliver_pending();
}

void clog_set_line_handler(clog_line_handler handler, void *context) {
    std::lock_guard<std::mutex> hold(handler_lock);
    line_handler = handler;
    line_context = context;
    installed.store(handler != nullptr, std::memory_order_release);
}

// Numbers always with a decimal point: the host's locale is the host's.
void default_v_log(void *, clog *, const char *format, va_list args) {
    vfprintf_c(stdout, format, args);
    fflush(stdout);
}

void default_de_log(void *, clog *, const char *format, va_list args) {
    if (write_to_handler(format, args)) return;
    vfprintf_c(stderr, format, args);
    fflush(stderr);
}

clog default_log = {1, 0, 0, 0, {0}, nullptr, default_v_log, default_de_log, default_de_log};
clog *const glog = &default_log;

clog *new_clog(clog *log, int32_t verb, int32_t debug, void *context) {
    if (log != nullptr) {
        log->refcount++;
        return log;
    }
    auto *made = static_cast<clog *>(calloc(1, sizeof(clog)));
    if (made == nullptr) {
        cloge(glog, 1, "new_clog: malloc failed, call exit1\n");
        exit(1);
    }
    made->refcount = 1;
    made->verb = verb;
    made->debug = debug;
    made->reserved = 0;
    made->reserved_text[0] = '\0';
    made->context = context;
    made->v_log = default_v_log;
    made->d_log = default_de_log;
    made->e_log = default_de_log;
    return made;
}

clog *new_clog_default(clog *log) {
    return new_clog(log, 0, 0, nullptr);
}

int32_t clog_del(clog *log) {
    if (log == nullptr) return 0;
    if (--log->refcount <= 0) free(log);
    return 0;
}

namespace {

// The thresholds are plain fields that callers may also write directly; the
// library reads and writes them atomically (relaxed) so that a level changed
// while other threads log is a clean change, not a data race.
int32_t load_level(const int32_t *field) {
#if defined(__GNUC__)
    return __atomic_load_n(field, __ATOMIC_RELAXED);
#else
    return *static_cast<const volatile int32_t *>(field);
#endif
}

void store_level(int32_t *field, int32_t level) {
#if defined(__GNUC__)
    __atomic_store_n(field, level, __ATOMIC_RELAXED);
#else
    *static_cast<volatile int32_t *>(field) = level;
#endif
}

// The calling thread's innermost override; each links to the one outside it.
thread_local const clog_debug_override *innermost = nullptr;

}  // namespace

int32_t clog_debug_level(const clog *log) {
    if (log == nullptr) return INT32_MIN;
    for (const clog_debug_override *o = innermost; o != nullptr; o = o->outer_) {
        if (o->log_ == log) return o->level_;
    }
    return load_level(&log->debug);
}

clog_debug_override::clog_debug_override(clog *log, int32_t level)
    : log_(log), level_(level), outer_(innermost) {
    innermost = this;
}

clog_debug_override::~clog_debug_override() {
    innermost = outer_;
}

void clog_set_debug(clog *log, int32_t level) {
    if (log != nullptr) store_level(&log->debug, level);
}

void clog_set_verb(clog *log, int32_t level) {
    if (log != nullptr) store_level(&log->verb, level);
}

void clogv(clog *log, int32_t level, const char *format, ...) {
    if (log == nullptr || level > load_level(&log->verb)) return;
    va_list args;
    va_start(args, format);
    log->v_log(log->context, log, format, args);
    va_end(args);
}

void clogd(clog *log, int32_t level, const char *format, ...) {
    if (log == nullptr || level > clog_debug_level(log)) return;
    message_level = level;
    va_list args;
    va_start(args, format);
    log->d_log(log->context, log, format, args);
    va_end(args);
}

void cloge(clog *log, int32_t, const char *format, ...) {
    if (log == nullptr) return;
    message_level = CLOG_LEVEL_FAILURE;
    va_list args;
    va_start(args, format);
    log->e_log(log->context, log, format, args);
    va_end(args);
}

namespace {

constexpr size_t kDumpLineSize = 200;
// A full line with an eight-digit address takes 77 characters besides the
// prefix, its terminator included; longer prefixes are cut to fit.
constexpr size_t kDumpMaxPrefix = kDumpLineSize - 77;

// Appends formatted text to a fixed line buffer, never past its end.
struct dump_line {
    char text[kDumpLineSize];
    size_t used = 0;

    void reset() {
        used = 0;
        text[0] = '\0';
    }
    void append(const char *format, ...) CLOG_PRINTF(2, 3) {
        va_list args;
        va_start(args, format);
        int n = vsnprintf_c(text + used, sizeof text - used, format, args);
        va_end(args);
        if (n > 0) used += std::min(static_cast<size_t>(n), sizeof text - 1 - used);
    }
};

}  // namespace

void dump_bytes(clog *log, const char *prefix, const void *data, int32_t base, int32_t length) {
    // Filtered out: format nothing.
    if (length <= 0 || log == nullptr || clog_debug_level(log) < 0) return;
    if (prefix == nullptr) prefix = "";
    const int prefix_len = static_cast<int>(strnlen(prefix, kDumpMaxPrefix));
    const auto *bytes = static_cast<const unsigned char *>(data);
    dump_line line;
    line.reset();
    for (int32_t i = 0; i < length; i++) {
        if (i % 16 == 0) {
            // Unsigned: the address wraps instead of overflowing near INT32_MAX.
            line.append("%.*s%04x:", prefix_len, prefix,
                        static_cast<uint32_t>(i) + static_cast<uint32_t>(base));
        }
        line.append(" %02x", bytes[i]);
        if (i + 1 == length || (i + 1) % 16 == 0) {
            const int32_t line_start = i - i % 16;
            for (int32_t missing = i % 16 + 1; missing < 16; missing++) line.append("   ");
            line.append("  ");
            for (int32_t j = line_start; j <= i; j++) {
                const unsigned char c = bytes[j];
                line.append("%c", (c >= 0x20 && c < 0x7f) ? c : '.');
            }
            line.append("\n");
            clogd(log, 0, "%s", line.text);
            line.reset();
        }
    }
}
