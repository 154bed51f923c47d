/*
 * ca410_host.h - host support of the CA-410 driver library.
 *
 * Additions for host programs, exported by the same library (libca410.so,
 * ca410.dll) beside the 19 instrument functions of ca410.h, whose names,
 * arguments and behaviour they leave as they are. Their names are lower
 * case with underscores, so that the two sets never mix:
 *
 *   result codes   the name and meaning of every CA_* code, for messages
 *   log handler    the library's diagnostic lines to the host (a window, a
 *                  service's log, Python's logging) instead of standard error
 *   last failure   why the last call on this thread failed, in words: the
 *                  system's reason behind a failed open (no such port, not a
 *                  serial port, in use, permission denied, no answer) or the
 *                  instrument's own error
 *   ports          the machine's serial ports with what the system knows of
 *                  them, and the scan for CA-410s
 *
 * Plain C (C99 or later, or C++), fixed-width types; include it after or
 * instead of ca410.h (it includes it).
 */
#ifndef CA410_HOST_H
#define CA410_HOST_H

#include "ca410.h"

#ifdef __cplusplus
extern "C" {
#endif

/* The library's version, "MAJOR.MINOR.PATCH", as built (CA410_VERSION_STRING
 * of the headers it was built with). A constant string. */
CA410_API const char *CA410_CALL ca410_version(void);

/* ---- Result codes ------------------------------------------------------ */

/* The name of a result code ("CA_E_TIMEOUT"), or NULL for a number that is
 * not one. A constant string. */
CA410_API const char *CA410_CALL ca410_result_name(int32_t code);

/* What a result code means ("communication time-out"), or NULL for a number
 * that is not one. A constant string. */
CA410_API const char *CA410_CALL ca410_result_meaning(int32_t code);

/* The result codes in increasing order: writes at most `capacity` of them to
 * `codes` (may be NULL when `capacity` is 0) and returns how many there are. */
CA410_API int32_t CA410_CALL ca410_result_codes(int32_t *codes, int32_t capacity);

/* ---- Log handler ------------------------------------------------------- */

/* The level of a failure line; progress lines carry their detail level, 0
 * (hex dumps) to 8 (every byte on the line). Failure lines are written at
 * every log level, some of them on success too (the settings read notes a
 * sync mode that has no external frequency, for example). */
#define CA410_LOG_FAILURE (-1)

/*
 * Receives one diagnostic line: `level` as above, `line` the text without
 * its line end (valid during the call only; printable bytes as the library
 * wrote them, which may include an instrument's answer). Called on the
 * thread that logs, one call at a time (calls from several threads are
 * serialised); it must not call back into the library.
 */
typedef void(CA410_CALL *ca410_log_handler)(void *context, int32_t level, const char *line);

/*
 * Sends the library's diagnostic lines to `handler` (with `context`) instead
 * of standard error, for the whole process, from the next line on; NULL puts
 * standard error back. Safe to call from any thread at any time: when it
 * returns, no call to the old handler is running or will start.
 * ca410DeviceOpen's log level still chooses which progress lines are made.
 *
 * Returns: CA_OK.
 */
CA410_API int32_t CA410_CALL ca410_set_log_handler(ca410_log_handler handler, void *context);

/* ---- The last failure -------------------------------------------------- */

/* Why a call failed, as far as the library can tell. */
enum ca410_cause {
    CA410_CAUSE_NONE = 0,          /* no failure recorded by the last call */
    CA410_CAUSE_NO_SUCH_PORT = 1,  /* the port does not exist (not plugged in, mistyped) */
    CA410_CAUSE_NOT_SERIAL = 2,    /* the name is a file, folder or device that is no serial port */
    CA410_CAUSE_PORT_BUSY = 3,     /* another program has the port open */
    CA410_CAUSE_PERMISSION = 4,    /* the user may not open the port */
    CA410_CAUSE_LINE_SETTINGS = 5, /* the port refused the line settings */
    CA410_CAUSE_NO_ANSWER = 6,     /* nothing answered within the time-out */
    CA410_CAUSE_NOT_CA410 = 7,     /* something answered, but not as a CA-410 does */
    CA410_CAUSE_INSTRUMENT = 8,    /* the instrument answered an error (its number is given) */
    CA410_CAUSE_PORT_LOST = 9,     /* the port failed during an exchange (unplugged, reset) */
    CA410_CAUSE_BAD_ANSWER = 10,   /* an answer too short, cut, or not of the expected form */
    CA410_CAUSE_NO_MEMORY = 11,    /* no memory */
    CA410_CAUSE_SYSTEM = 12        /* another system error (its code is given) */
};

/* The last failure recorded on the calling thread. */
typedef struct ca410_failure {
    int32_t cause;            /* a CA410_CAUSE_* value */
    int32_t instrument_error; /* the instrument's error number ("ER05" gives 5), or -1 */
    uint32_t system_error;    /* errno or GetLastError() behind a port failure, or 0 */
    char port[64];            /* the port concerned, or "" (cut to fit) */
    char text[192];           /* the cause in words, e.g. "no such port" or "instrument error
                                 05: user calibration failed because measure values" */
} ca410_failure;

/*
 * Copies the last failure recorded on the calling thread. Each of the 19
 * instrument functions starts afresh (CA410_CAUSE_NONE) and records the
 * cause of the failure it returns, so ask right after a call has failed.
 *
 * failure  the caller's record; must not be NULL.
 *
 * Returns: CA_OK, or CA_E_ARGS for NULL.
 */
CA410_API int32_t CA410_CALL ca410_last_failure(ca410_failure *failure);

/* The words of a cause ("no such port"), or NULL for an unknown number. */
CA410_API const char *CA410_CALL ca410_cause_text(int32_t cause);

/* ---- Ports ------------------------------------------------------------- */

/* One serial port and what the system knows of it. Texts are NUL-terminated
 * and empty when unknown. */
typedef struct ca410_port {
    char name[128];         /* what ca410DeviceOpen takes: "COM3", "/dev/ttyUSB0" */
    char description[128];  /* the device's product name, or the system's name for it */
    char manufacturer[64];  /* the USB device's maker */
    char serial_number[64]; /* the USB device's serial number */
    uint16_t usb_vendor_id; /* 0 when not a USB device, or not known */
    uint16_t usb_product_id;
} ca410_port;

/*
 * Lists the machine's serial ports, in the system's order (on Linux and
 * macOS natural order of the device paths; on Windows the registry's).
 *
 * ports     room for `capacity` records; may be NULL when `capacity` is 0.
 * capacity  0 or more.
 * count     place for the number of ports there are (may be more than
 *           `capacity`; then the first `capacity` are written); must not be
 *           NULL.
 *
 * Returns: CA_OK (no ports: *count 0), CA_E_ARGS.
 */
CA410_API int32_t CA410_CALL ca410_list_ports(ca410_port *ports, int32_t capacity, int32_t *count);

/*
 * Probes every listed port for a CA-410 (opens it, asks it to identify
 * itself within 2 s, closes it) and returns those where one answered, as
 * ca410_list_ports does. Ports that fail to open or answer are left out;
 * their lines go to the log (at failure level).
 *
 * Returns: CA_OK (none found: *count 0), CA_E_ARGS.
 */
CA410_API int32_t CA410_CALL ca410_scan_ports(ca410_port *found, int32_t capacity, int32_t *count);

#ifdef __cplusplus
}
#endif

/* Part of the binary interface, as the records of ca410.h. */
#if defined(__cplusplus)
static_assert(sizeof(ca410_failure) == 268, "ca410_failure layout");
static_assert(sizeof(ca410_port) == 388, "ca410_port layout");
#elif defined(__STDC_VERSION__) && __STDC_VERSION__ >= 201112L
_Static_assert(sizeof(ca410_failure) == 268, "ca410_failure layout");
_Static_assert(sizeof(ca410_port) == 388, "ca410_port layout");
#endif

#endif /* CA410_HOST_H */
