// Log channel: one record with two thresholds and three output functions.
// Every module of the library writes through the static channel `glog`.
#pragma once

#include <cstdarg>
#include <cstdint>

#if defined(__GNUC__)
#define CLOG_PRINTF(fmt_index, first_arg) __attribute__((format(printf, fmt_index, first_arg)))
#else
#define CLOG_PRINTF(fmt_index, first_arg)
#endif

struct clog;

// An output function writes the formatted message unchanged (no prefix, no
// line end added); `context` is the channel's own context pointer.
typedef void (*clog_output_fn)(void *context, clog *log, const char *format, va_list args);

struct clog {
    int32_t refcount;
    int32_t verb;   // clogv passes levels <= verb
    int32_t debug;  // clogd passes levels <= debug
    int32_t reserved;
    char reserved_text[512];
    void *context;
    clog_output_fn v_log;
    clog_output_fn d_log;
    clog_output_fn e_log;
};

// A host's receiver of whole log lines (without their line end), with the
// level of the message that began the line: the clogd level, or
// CLOG_LEVEL_FAILURE for cloge.
typedef void (*clog_line_handler)(void *context, int32_t level, const char *line);
constexpr int32_t CLOG_LEVEL_FAILURE = -1;

// Sends what the default output functions write (clogd's and cloge's
// messages) to `handler` as whole lines instead of standard error; null puts
// standard error back. Thread-safe: calls to the handler are serialised, and
// once this returns the old handler is neither running nor called again.
void clog_set_line_handler(clog_line_handler handler, void *context);
// Hands a line this thread left without its line end to the handler, if
// there is one (standard error shows it joined to the next message).
void clog_end_line();

// Standard output, flushed after each message.
void default_v_log(void *context, clog *log, const char *format, va_list args);
// Standard error, flushed after each message.
void default_de_log(void *context, clog *log, const char *format, va_list args);

// The library's one channel and the pointer every module logs through.
extern clog default_log;
extern clog *const glog;

// Returns `log` with one more holder, or a new channel when `log` is null.
// Ends the process with exit status 1 when no memory can be had.
clog *new_clog(clog *log, int32_t verb, int32_t debug, void *context);
clog *new_clog_default(clog *log);
// Drops one holder; frees the record when none is left. Always 0.
int32_t clog_del(clog *log);

void clog_set_debug(clog *log, int32_t level);
void clog_set_verb(clog *log, int32_t level);

void clogv(clog *log, int32_t level, const char *format, ...) CLOG_PRINTF(3, 4);
void clogd(clog *log, int32_t level, const char *format, ...) CLOG_PRINTF(3, 4);
void cloge(clog *log, int32_t level, const char *format, ...) CLOG_PRINTF(3, 4);

// Hex dump at debug level 0, sixteen bytes a line: "<prefix><addr>: xx xx ..  chars\n".
// A prefix longer than the line buffer allows is cut to fit.
void dump_bytes(clog *log, const char *prefix, const void *data, int32_t base, int32_t length);

// Effective debug threshold of `log` on the calling thread: the innermost
// clog_debug_override of this thread for `log`, else the channel's own.
int32_t clog_debug_level(const clog *log);

// Lowers or raises the debug threshold of `log` for a stretch of work on the
// calling thread only: clogd and dump_bytes on this thread use `level` until
// the object goes out of scope; other threads, and the channel's own `debug`
// field, are untouched. Overrides nest (the innermost one for a channel
// wins). Kept per thread so that one thread's drain or directory walk
// neither silences nor lets through another thread's messages, and a saved
// value can never be put back over a newer one.
class clog_debug_override {
  public:
    clog_debug_override(clog *log, int32_t level);
    ~clog_debug_override();
    clog_debug_override(const clog_debug_override &) = delete;
    clog_debug_override &operator=(const clog_debug_override &) = delete;

  private:
    friend int32_t clog_debug_level(const clog *log);
    const clog *log_;
    int32_t level_;
    const clog_debug_override *outer_;  // the thread's previous innermost override
};
