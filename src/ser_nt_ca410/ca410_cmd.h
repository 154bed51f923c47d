// The command exchange: one frame out, one answer back, classified by its
// status into a result code. The frame building and the answer handling are
// pure functions over bytes so that they can be tested without a port.
#pragma once

#include <cstddef>
#include <cstdint>

#include "ca410.h"
#include "clog/clog.h"

constexpr int32_t CA_FRAME_SIZE = 128;    // head, arguments, CR and NUL
constexpr int32_t CA_ANSWER_SIZE = 1024;  // at most 1023 answer bytes and a NUL

// Sends command `command` (1 to 40) with `args_len` characters of `args`
// (0: all of them; `args` may be null for none) and reads the answer up to
// its carriage return within `timeout_ms` (for the write and again for the
// read). On success, or with CA_E_PART_DATA, `data` (may be null; then
// `data_size` is ignored, else at least 1) receives the answer's data without
// status, leading comma and carriage return, NUL-terminated, and `*data_len`
// (may be null) its length. Returns a result code: 0, 37 (bad arguments;
// `*data_len` not written), 38 (time-out), 39 (other port failure or an
// unknown instrument error), 52 (answer too short), 49 (data cut to fit), or
// the code of an "ER" answer. After a failure `*data_len` is 0 and `data`
// is untouched.
int32_t ca_command(ca410_dev *handle, int32_t command, const char *args, int32_t args_len,
                   char *data, int32_t data_size, int32_t *data_len, uint32_t timeout_ms);

// Formats an argument text into `out` (`size` bytes) without the host's
// locale. Returns its length, or -1 when it does not fit: a cut argument is
// never sent (`out` is then empty).
int32_t ca_format_args(char *out, size_t size, const char *format, ...) CLOG_PRINTF(3, 4);

// Whether a caller's text may go into a frame: printable ASCII without the
// comma, which would split the instrument's fields (a carriage return would
// end the frame and start another command).
bool ca_text_is_sendable(const char *text);

// Builds the frame for `command` into `frame` (CA_FRAME_SIZE bytes, zero
// filled first): the head, `n_args` characters of `args` (may be null when
// `n_args` is 0), a carriage return. Returns the frame's length, or 0 when the
// command number is out of range or the frame would not fit.
int32_t ca_build_frame(int32_t command, const char *args, int32_t n_args, char *frame);

// Classifies an answer of `received` bytes (NUL-terminated after them) and
// delivers its data as ca_command does, logging the same messages. Stores
// the data length in `*data_len` (must not be null). Returns the result code.
int32_t ca_take_answer(const char *answer, int32_t received, char *data, int32_t data_size,
                       int32_t *data_len);

// Result code for the two code characters after "ER" (read with automatic
// base detection, so "08" reads as 0); logs the instrument's message.
int32_t ecode(const char *code);
// Logs the warning bits of an acknowledgement (`answer` is the whole answer,
// its third and fourth characters the warning number) and returns the number,
// reduced by 64 when above 63.
int32_t wcode(const char *answer);
// Hex dump of `length` bytes of `buffer` into the log (level 6 header, level 0 bytes).
void buf_dump(const void *buffer, int32_t length);
