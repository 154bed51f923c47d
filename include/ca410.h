/*
 * ca410.h - driver library for the CA-410 display colour analyser.
 *
 * The library drives one or more CA-410 instruments over serial ports
 * (38400 baud, 7 data bits, even parity, 2 stop bits, RTS/CTS). This is its
 * only public header: plain C (C99 or later, or C++), fixed-width types only.
 *
 * Result codes
 *   Every function returns a signed 32-bit result code: CA_OK (0) on success,
 *   otherwise one of the CA_E_* numbers below (CA410_RESULTS lists each with
 *   its meaning). A number means the same thing whichever function returns
 *   it. ca410_host.h adds what a host needs around them: the codes' names
 *   and meanings at run time, the cause of a failed open in words, a log
 *   handler, the port listing. Functions that run several steps return
 *   the code of the step that failed and log the inner cause; log messages
 *   print codes in hexadecimal ("0x17" is 23).
 *
 * Threads
 *   The library starts no threads. Each call blocks the calling thread until
 *   the instrument has answered or the exchange timed out. A handle must be
 *   used by one thread at a time; different handles may be used from
 *   different threads at once (one thread per instrument), with no locking
 *   by the caller. To that end the library's process-wide state is safe to
 *   share: the temporary log level of an exchange's drain and of the
 *   calibration directory walk applies to the calling thread only, the log
 *   renderers keep their buffers per thread, and the clock's start is
 *   latched once. The log channel is process-wide: its levels are shared by
 *   every handle, and ca410DeviceOpen with a level above 0 changes them for
 *   all of them (a clean change, but other threads' messages follow it at
 *   once). Messages of several threads interleave line by line.
 *
 * Logging
 *   Diagnostics go to standard error. Failures are always written; progress
 *   messages are written up to the level chosen at ca410DeviceOpen (0 to 8,
 *   8 the most detailed: every serial step and raw exchange).
 *
 * Locale
 *   The process's locale is the host's: the library neither reads nor
 *   changes it. Numbers sent to the instrument, read from its answers and
 *   written to the log always have a decimal point, also in a host that has
 *   set a locale with a decimal comma.
 *
 * Ownership
 *   The caller owns a handle from ca410DeviceOpen until it passes it to
 *   ca410DeviceRelease, and must not touch it afterwards. The handle owns its
 *   serial port and its calibration channel list; the library fills the
 *   handle's fields, which the caller may read but must not change.
 */
#ifndef CA410_H
#define CA410_H

#include <stddef.h>
#include <stdint.h>

#include "ca410_version.h" /* CA410_VERSION_MAJOR ... CA410_VERSION_STRING */

/* CA410_API marks the exported functions. Define CA410_STATIC when linking
 * the library statically; the library's own build defines
 * CA410_BUILDING_LIBRARY. */
#if defined(_WIN32)
#if defined(CA410_STATIC)
#define CA410_API
#elif defined(CA410_BUILDING_LIBRARY)
#define CA410_API __declspec(dllexport)
#else
#define CA410_API __declspec(dllimport)
#endif
/* One calling convention for every export; the export list names them plainly. */
#define CA410_CALL __cdecl
#else
#if defined(CA410_BUILDING_LIBRARY) && defined(__GNUC__) && __GNUC__ >= 4
#define CA410_API __attribute__((visibility("default")))
#else
#define CA410_API
#endif
#define CA410_CALL
#endif

/* Doubles in the records are 8-byte aligned on every target, so that the
 * layout is the same under i386 System V (which would align them to 4) as
 * under Windows and 64-bit targets. MSVC aligns them so by default. */
#if defined(__GNUC__) || defined(__clang__)
#define CA410_ALIGN8 __attribute__((aligned(8)))
#else
#define CA410_ALIGN8
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Result codes: one meaning per number, whichever function returns it.
 * 16 to 25 and 32 to 36 come from error codes the instrument answered.
 * One row each: name, number, meaning. The meanings are also the library's
 * (ca410_result_meaning() in ca410_host.h). */
#define CA410_RESULTS(X)                                                                          \
    X(CA_OK, 0, "success")                                                                        \
    X(CA_E_DELETE_CHANNEL, 1, "deleting a calibration channel failed")                            \
    X(CA_E_INVALID_VALUE, 16,                                                                     \
      "instrument error 03: colour difference or calibration value invalid")                      \
    X(CA_E_CAL_MEASURE, 17,                                                                       \
      "instrument error 05: user calibration failed because of the measured values, or a "       \
      "calibration step's measurement failed")                                                   \
    X(CA_E_CAL_INPUT, 18,                                                                         \
      "instrument error 06: user calibration failed because of wrong input, or storing the "     \
      "calibration failed")                                                                       \
    X(CA_E_INVALID_COMMAND, 19,                                                                   \
      "instrument error 10: invalid command, or a settings item that cannot be set")             \
    X(CA_E_CHANNEL_WRITE, 20, "instrument error 16: writing calibration channel data failed")     \
    X(CA_E_NO_SYNC, 21, "instrument error 20: external sync mode without a sync signal")          \
    X(CA_E_LIGHT_LEAK, 22, "instrument error 21: zero calibration saw outer light leaking in")    \
    X(CA_E_OVER_RANGE, 23, "instrument error 22: measured brightness exceeds the range")          \
    X(CA_E_CALC, 24, "instrument error 24: measurement calculation error")                        \
    X(CA_E_MEMORY, 25, "instrument errors 31 and 32: memory data write or read error")            \
    X(CA_E_GET_RANGE, 26, "reading the colour range failed")                                      \
    X(CA_E_FLICKER_RANGE, 32,                                                                     \
      "instrument error 50: flicker measurement in contrast mode exceeds the range")             \
    X(CA_E_FLICKER_SYNC, 33,                                                                      \
      "instrument error 51: flicker measurement in contrast mode, sync signal outside the "      \
      "range")                                                                                    \
    X(CA_E_FLICKER, 34, "instrument error 53: flicker measurement failed")                        \
    X(CA_E_CAL_DATE, 35, "instrument error 91: periodical calibration date error")                \
    X(CA_E_PROGRAM, 36, "instrument error 99: instrument program error")                          \
    X(CA_E_ARGS, 37, "invalid arguments: a null pointer, a number out of range, a text that "     \
                     "cannot be sent")                                                            \
    X(CA_E_TIMEOUT, 38, "communication time-out")                                                 \
    X(CA_E_COMM, 39,                                                                              \
      "communication failed, or the instrument sent an error code without an entry")             \
    X(CA_E_OPEN, 40, "opening the instrument failed (port, identification or memory)")            \
    X(CA_E_ZERO_CAL, 42, "zero calibration failed")                                               \
    X(CA_E_GET_CALLIST, 44, "reading the calibration channel list failed")                        \
    X(CA_E_RESET, 46, "resetting the measurement settings failed")                                \
    X(CA_E_GET_CONFIG, 47,                                                                        \
      "reading the configuration failed, or setting the user calibration mode failed")           \
    X(CA_E_PARSE, 48,                                                                             \
      "an answer has too few fields, names another channel or display mode than asked for, "     \
      "or carries values that are not finite numbers")                                           \
    X(CA_E_PART_DATA, 49,                                                                         \
      "the answer's data did not fit the buffer; the part that fits has been returned")          \
    X(CA_E_NOT_READY, 50,                                                                         \
      "no usable device: null handle, no port, or not initialised or zero-calibrated")           \
    X(CA_E_FIRMWARE, 51, "reading the firmware identity failed")                                  \
    X(CA_E_RECEIVE, 52, "the answer was too short, carried no data, or has too few fields")       \
    X(CA_E_DISPLAY_MODE, 54, "setting the display mode failed")                                   \
    X(CA_E_MEASURE, 55, "the measurement failed")

#define CA410_RESULT_ENUMERATOR(name, number, meaning) name = number,
enum ca410_result { CA410_RESULTS(CA410_RESULT_ENUMERATOR) };
#undef CA410_RESULT_ENUMERATOR

/* The serial port object; internal to the library. */
struct ser_com;

/* One entry of a calibration channel list. */
typedef struct ca410_callist_entry {
    int32_t channel;                  /* calibration channel number, 1 to 99 */
    char name[11];                    /* channel name, NUL-terminated, at most 10 characters */
    struct ca410_callist_entry *next; /* the next entry; NULL in the last one */
} ca410_callist_entry;

/* The device handle, made by ca410DeviceOpen and freed by ca410DeviceRelease.
 * The caller reads it; only the library writes it. */
typedef struct ca410_dev {
    int32_t init;           /* 0 after open; 1 once ca410DeviceInit has run through */
    struct ser_com *sercom; /* the open serial port; owned by the handle */
    char model[16];         /* model from the identification at open: "CA-410" */
    char name[16];          /* model name from the firmware identity */
    char sn[16];            /* serial number from the firmware identity */
    char vn[16];            /* version from the firmware identity */
    uint8_t display_mode;
    uint8_t sync_mode;
    uint8_t lum_unit;      /* luminance unit */
    uint8_t probe_display; /* display probe number */
    uint8_t probe_output;  /* output probe number */
    uint8_t measure_speed;
    uint8_t color_range;
    uint8_t flicker_range;
    uint8_t color_range_mode;
    uint8_t flicker_range_mode;
    uint8_t trigger_mode;
    uint8_t trigger_delay;           /* milliseconds, 0 to 100 */
    uint8_t zero_calibration_status; /* 2 once zero calibration is done */
    uint8_t simultaneous_measure;
    CA410_ALIGN8 double temperature_shift;
    CA410_ALIGN8 double manual_mode_measure_time; /* milliseconds */
    CA410_ALIGN8 double internal_freq;            /* hertz */
    uint8_t calmode;                              /* user calibration mode last set, 0 or 1 */
    uint8_t current_channel;                      /* current calibration channel, 0 to 99 */
    uint8_t calfile_num;                          /* number of entries in callist */
    ca410_callist_entry *callist; /* the channel list last read; owned by the handle */
} ca410_dev;

/* The calibration data of one channel. */
typedef struct ca410_calfile {
    int32_t channel;                   /* channel number */
    char name[11];                     /* channel name, NUL-terminated */
    int32_t cal_type;                  /* calibration type of the channel */
    CA410_ALIGN8 double target[4][3];  /* targets: rows white, red, green, blue; X, Y, Z each */
    CA410_ALIGN8 double measure[4][3]; /* measured values, same arrangement */
} ca410_calfile;

/* Settings summary. */
typedef struct ca410_dev_stat {
    int32_t cal_ch;     /* current calibration channel */
    int32_t meas_speed; /* measurement speed */
    int32_t zero_cal;   /* 1 when zero calibration is done, else 0 */
} ca410_dev_stat;

/* Instrument identity. The library writes the first 16 bytes of each field
 * (the text and NULs) and leaves bytes 16 to 31 as the caller had them. */
typedef struct ca410_dev_info {
    char name[32]; /* model name */
    char sn[32];   /* serial number */
    char vn[32];   /* version */
} ca410_dev_info;

/*
 * Opens the instrument on a serial port, checks that a CA-410 answers the
 * identification, and hands back a new handle (init 0; ca410DeviceInit
 * reads the rest of its fields).
 *
 * handle_out  the caller's handle slot; must not be NULL. Written only on
 *             success.
 * port        the port name as the system lists it (for example "COM3", or a
 *             device path such as "/dev/ttyUSB0"); must not be NULL.
 * log_level   1 to 8 sets the process-wide log level (values above 8 count
 *             as 8); 0 or below leaves it as it is.
 *
 * The caller owns the handle and gives it back with ca410DeviceRelease.
 *
 * Returns:
 *   CA_OK       the handle is in *handle_out
 *   CA_E_ARGS   handle_out or port is NULL
 *   CA_E_OPEN   the port could not be opened or configured, the instrument
 *               did not identify itself as a CA-410 within 2 s, or no memory;
 *               the port is closed again and *handle_out is untouched
 */
CA410_API int32_t CA410_CALL ca410DeviceOpen(ca410_dev **handle_out, const char *port,
                                             int32_t log_level);

/*
 * Closes the handle's port and frees the handle and everything it owns
 * (its calibration channel list). Lists that ca410GetCallist handed out are
 * separate and stay the caller's.
 *
 * handle  may be NULL (nothing happens). Must not be used afterwards.
 *
 * Returns:
 *   CA_OK       always
 */
CA410_API int32_t CA410_CALL ca410DeviceRelease(ca410_dev *handle);

/* ---- Initialisation, identity and reset -------------------------------- */

/*
 * Brings the instrument into a known state, in six steps, the first failure
 * ending it: reads the firmware identity (name, vn, sn), resets the
 * measurement settings, runs the zero calibration (up to 6 s), reads every
 * setting into the handle, reads the colour range, and selects display mode
 * 7 (X, Y, Z). Then sets init to 1. Each call redoes every step; a failed
 * call keeps what the steps before it wrote, and never clears init.
 *
 * handle  from ca410DeviceOpen (NULL fails in the first step: CA_E_FIRMWARE).
 *
 * Returns:
 *   CA_OK              initialised
 *   CA_E_FIRMWARE      step 1, the identity read, failed
 *   CA_E_RESET         step 2, the reset, failed
 *   CA_E_ZERO_CAL      step 3, the zero calibration, failed
 *   CA_E_GET_CONFIG    step 4, reading the settings, failed
 *   CA_E_GET_RANGE     step 5, reading the colour range, failed
 *   CA_E_DISPLAY_MODE  step 6, selecting display mode 7, failed
 */
CA410_API int32_t CA410_CALL ca410DeviceInit(ca410_dev *handle);

/*
 * Resets the instrument's measurement settings (reset type 2). The handle's
 * settings fields keep their old values until they are read again
 * (ca410GetDeviceStat, ca410DeviceInit); init does not change.
 *
 * The reset puts the instrument's display mode back to its default (x, y,
 * Lv). ca410MeasureXYZ does not select the mode, so until ca410DeviceInit
 * selects X, Y, Z again (or a calibration's white step does) its three
 * values are x, y and Lv: call ca410DeviceInit after a reset.
 *
 * Returns:
 *   CA_OK       done
 *   CA_E_RESET  the reset failed (also for a NULL handle or one without a port)
 */
CA410_API int32_t CA410_CALL ca410DeviceReset(ca410_dev *handle);

/*
 * Hands out the instrument's identity. On a handle that is not initialised
 * yet it first runs ca410DeviceInit (zero calibration included); on an
 * initialised one it sends nothing and copies the texts of the last identity
 * read.
 *
 * handle  from ca410DeviceOpen; NULL gives CA_E_NOT_READY.
 * info    the caller's record; NULL gives CA_E_ARGS. Only the first 16 bytes
 *         of each field are written (the text and NULs up to 16 bytes).
 *
 * Returns:
 *   CA_OK           *info filled
 *   CA_E_NOT_READY  handle is NULL (nothing sent)
 *   CA_E_ARGS       info is NULL (nothing sent)
 *   any code of ca410DeviceInit when it had to run and failed (*info untouched)
 */
CA410_API int32_t CA410_CALL ca410GetDeviceInfo(ca410_dev *handle, ca410_dev_info *info);

/* ---- Settings ---------------------------------------------------------- */

/*
 * Reads every setting of the instrument into the handle (15 or 16
 * exchanges) and summarises three of them.
 *
 * handle  from ca410DeviceOpen; NULL gives CA_E_GET_CONFIG.
 * stat    the caller's record; NULL gives CA_E_ARGS before anything is sent.
 *
 * Returns:
 *   CA_OK            *stat filled: cal_ch, meas_speed, zero_cal (1 when the
 *                    zero calibration is done)
 *   CA_E_ARGS        stat is NULL
 *   CA_E_GET_CONFIG  a read failed; the settings read before it are in the
 *                    handle, *stat is untouched
 */
CA410_API int32_t CA410_CALL ca410GetDeviceStat(ca410_dev *handle, ca410_dev_stat *stat);

/*
 * Selects calibration channel ch (0: the factory calibration, 1 to 99: user
 * channels) and records it in handle->current_channel.
 *
 * Returns:
 *   CA_OK           selected
 *   CA_E_ARGS       ch outside 0 to 99 (nothing sent)
 *   CA_E_NOT_READY  handle is NULL or has no port
 *   otherwise the exchange's code: CA_E_TIMEOUT, CA_E_COMM, CA_E_RECEIVE, or
 *   the instrument's error (e.g. CA_E_INVALID_COMMAND)
 */
CA410_API int32_t CA410_CALL ca410SetChannel(ca410_dev *handle, int32_t ch);

/*
 * Sets the measurement speed, 0 to 3 (the instrument's own speeds, passed
 * through), and records it in handle->measure_speed.
 *
 * Returns: as ca410SetChannel, CA_E_ARGS for a speed outside 0 to 3.
 */
CA410_API int32_t CA410_CALL ca410SetMeasureSpeed(ca410_dev *handle, int32_t speed);

/*
 * Runs the zero calibration (the probe must be capped; up to 6 s). Does not
 * re-read handle->zero_calibration_status: ca410GetDeviceStat does.
 *
 * Returns:
 *   CA_OK          done
 *   CA_E_ZERO_CAL  it failed, whatever the cause (see the log)
 */
CA410_API int32_t CA410_CALL ca410BlackCalibration(ca410_dev *handle);

/* ---- Measurement ------------------------------------------------------- */

/*
 * Measures X, Y, Z (cd/m2 for Y in luminance unit 1) through the current
 * calibration channel, retrying once when the brightness is over the
 * range. Up to 3 s, plus 1 s for the retry.
 *
 * handle  from ca410DeviceOpen, initialised (ca410DeviceInit) with the zero
 *         calibration done as last read from the instrument.
 * xyz     three doubles receiving X, Y, Z; written only on success.
 *
 * Returns:
 *   CA_OK           xyz filled
 *   CA_E_NOT_READY  handle is NULL, not initialised, or not zero-calibrated
 *                   (nothing sent)
 *   CA_E_ARGS       xyz is NULL (nothing sent)
 *   CA_E_MEASURE    the measurement failed (time-out, instrument error, an
 *                   answer that does not parse or whose values are not
 *                   finite numbers; the log has the cause)
 */
CA410_API int32_t CA410_CALL ca410MeasureXYZ(ca410_dev *handle, double *xyz);

/* ---- Calibration channels ---------------------------------------------- */

/*
 * Reads the directory of user WRGB calibration channels (asks channels 1 to
 * 99 in turn, about 99 exchanges) into the handle, and hands the caller a
 * copy of it: a linked list in increasing channel order. A channel whose
 * name is blank on the instrument is listed as "CH" and its number ("CH7").
 *
 * handle  from ca410DeviceOpen.
 * list    place for the first entry of the copy (NULL for an empty
 *         directory); may be NULL, then nothing is handed out.
 * count   place for the number of entries; may be NULL. Written only when
 *         list is not NULL.
 *
 * The copy is the caller's: it stays valid after later listings and after
 * ca410DeviceRelease, and is freed with ca410DeleteCallist (not free()).
 *
 * Returns:
 *   CA_OK             *list and *count written
 *   CA_E_GET_CALLIST  the walk failed (time-out, instrument error, an answer
 *                     for another channel, no memory for the copy, a NULL
 *                     handle); *list and *count untouched
 */
CA410_API int32_t CA410_CALL ca410GetCallist(ca410_dev *handle, ca410_callist_entry **list,
                                             int32_t *count);

/*
 * Frees a list that ca410GetCallist handed out and sets *list to NULL.
 *
 * list  place holding the first entry; NULL (or *list NULL) does nothing.
 *
 * Returns:
 *   CA_OK  always
 */
CA410_API int32_t CA410_CALL ca410DeleteCallist(ca410_callist_entry **list);

/*
 * Reads one channel's calibration data (display mode 7): its name, type, and
 * the four target and measured X, Y, Z rows (white, red, green, blue).
 *
 * handle   from ca410DeviceOpen.
 * channel  0 to 99.
 * calfile  the caller's record; may be NULL (the channel is read and checked,
 *          nothing stored). Written only on success.
 *
 * Returns:
 *   CA_OK           read
 *   CA_E_ARGS       channel outside 0 to 99 (nothing sent)
 *   CA_E_NOT_READY  handle is NULL or has no port
 *   CA_E_PARSE      the answer names another channel or display mode, or
 *                   has too few items
 *   otherwise the exchange's code (CA_E_TIMEOUT, CA_E_COMM, CA_E_RECEIVE,
 *   CA_E_PART_DATA, or the instrument's error)
 */
CA410_API int32_t CA410_CALL ca410GetCalfile(ca410_dev *handle, int32_t channel,
                                             ca410_calfile *calfile);

/*
 * Deletes one calibration channel on the instrument. The handle's own list
 * keeps it until the next ca410GetCallist.
 *
 * Returns:
 *   CA_OK                deleted
 *   CA_E_ARGS            channel outside 0 to 99 (nothing sent)
 *   CA_E_DELETE_CHANNEL  the deletion failed, whatever the cause (see the log)
 */
CA410_API int32_t CA410_CALL ca410DeleteCalfile(ca410_dev *handle, int32_t channel);

/* ---- User WRGB calibration --------------------------------------------- */

/*
 * A user calibration pairs what the instrument measures of white, red, green
 * and blue, as the display under test shows them, with the caller's target
 * X, Y, Z for each, and stores the result in a channel. Call the five steps
 * in order: White, Red, Green, Blue, End; before each colour step show that
 * colour, since the step measures whatever is shown. The library keeps no
 * record of a calibration in progress; the instrument does.
 *
 * target   three doubles X, Y, Z, the colour's target; required: finite
 *          values whose "%9f" text fits the command (below 1e12).
 * measure  place for the measured X, Y, Z; may be NULL. Written only on
 *          success.
 *
 * The white step also selects display mode 7 and user calibration mode 1.
 *
 * Returns:
 *   CA_OK              the colour was measured and its target accepted
 *   CA_E_ARGS          target is NULL, not finite or too large (nothing sent)
 *   CA_E_DISPLAY_MODE  (white only) selecting display mode 7 failed; also a
 *                      NULL handle
 *   CA_E_GET_CONFIG    (white only) selecting calibration mode 1 failed
 *   CA_E_CAL_MEASURE   the measurement failed (whatever the cause, a
 *                      time-out included; the log has it); also a NULL
 *                      handle in the red, green and blue steps
 *   CA_E_CAL_INPUT     the instrument refused the target
 */
CA410_API int32_t CA410_CALL ca410WRGBCalibWhite(ca410_dev *handle, const double *target,
                                                 double *measure);
CA410_API int32_t CA410_CALL ca410WRGBCalibRed(ca410_dev *handle, const double *target,
                                               double *measure);
CA410_API int32_t CA410_CALL ca410WRGBCalibGreen(ca410_dev *handle, const double *target,
                                                 double *measure);
CA410_API int32_t CA410_CALL ca410WRGBCalibBlue(ca410_dev *handle, const double *target,
                                                double *measure);

/*
 * Stores the calibration in a channel with its date, then names it.
 *
 * channel  1 to 99.
 * name     at most the first 9 characters are used; NULL or "" names the
 *          channel "CH" and its two-digit number ("CH05"). Printable ASCII
 *          (0x20 to 0x7e) without the comma: a name holding a carriage
 *          return, line feed, comma or any other byte is refused.
 * year     2000 to 2099; month 1 to 12; day 1 to 31 (not checked against
 *          the month); hour 0 to 23.
 *
 * Returns:
 *   CA_OK           stored (also when only the naming failed: see the log)
 *   CA_E_ARGS       channel or date out of range, or a name as above
 *                   (nothing sent)
 *   CA_E_CAL_INPUT  storing the channel failed (also a NULL handle)
 */
CA410_API int32_t CA410_CALL ca410WRGBCalibEnd(ca410_dev *handle, int32_t channel,
                                               const char *name, int32_t year, int32_t month,
                                               int32_t day, int32_t hour);

#ifdef __cplusplus
}
#endif

/* The record layouts are part of the binary interface: pin them. Pointers
 * are 4 or 8 bytes; everything else is the same on every target. */
#if defined(__cplusplus)
#define CA410_LAYOUT_ASSERT(cond, tag) static_assert(cond, #tag)
#elif defined(__STDC_VERSION__) && __STDC_VERSION__ >= 201112L
#define CA410_LAYOUT_ASSERT(cond, tag) _Static_assert(cond, #tag)
#else
#define CA410_LAYOUT_ASSERT(cond, tag) typedef char ca410_layout_##tag[(cond) ? 1 : -1]
#endif

#define CA410_PTR_SIZE_IS(p32, p64) (sizeof(void *) == 8 ? (p64) : (p32))

CA410_LAYOUT_ASSERT(sizeof(void *) == 4 || sizeof(void *) == 8, pointer_size);

CA410_LAYOUT_ASSERT(offsetof(ca410_callist_entry, channel) == 0, entry_channel);
CA410_LAYOUT_ASSERT(offsetof(ca410_callist_entry, name) == 4, entry_name);
CA410_LAYOUT_ASSERT(offsetof(ca410_callist_entry, next) == 16, entry_next);
CA410_LAYOUT_ASSERT(sizeof(ca410_callist_entry) == CA410_PTR_SIZE_IS(20, 24), entry_size);

CA410_LAYOUT_ASSERT(offsetof(ca410_dev, init) == 0, dev_init);
CA410_LAYOUT_ASSERT(offsetof(ca410_dev, sercom) == CA410_PTR_SIZE_IS(4, 8), dev_sercom);
CA410_LAYOUT_ASSERT(offsetof(ca410_dev, model) == CA410_PTR_SIZE_IS(8, 16), dev_model);
CA410_LAYOUT_ASSERT(offsetof(ca410_dev, name) == CA410_PTR_SIZE_IS(24, 32), dev_name);
CA410_LAYOUT_ASSERT(offsetof(ca410_dev, sn) == CA410_PTR_SIZE_IS(40, 48), dev_sn);
CA410_LAYOUT_ASSERT(offsetof(ca410_dev, vn) == CA410_PTR_SIZE_IS(56, 64), dev_vn);
CA410_LAYOUT_ASSERT(offsetof(ca410_dev, display_mode) == CA410_PTR_SIZE_IS(72, 80),
                    dev_display_mode);
CA410_LAYOUT_ASSERT(offsetof(ca410_dev, simultaneous_measure) == CA410_PTR_SIZE_IS(85, 93),
                    dev_simultaneous_measure);
CA410_LAYOUT_ASSERT(offsetof(ca410_dev, temperature_shift) == CA410_PTR_SIZE_IS(88, 96),
                    dev_temperature_shift);
CA410_LAYOUT_ASSERT(offsetof(ca410_dev, manual_mode_measure_time) == CA410_PTR_SIZE_IS(96, 104),
                    dev_manual_mode_measure_time);
CA410_LAYOUT_ASSERT(offsetof(ca410_dev, internal_freq) == CA410_PTR_SIZE_IS(104, 112),
                    dev_internal_freq);
CA410_LAYOUT_ASSERT(offsetof(ca410_dev, calmode) == CA410_PTR_SIZE_IS(112, 120), dev_calmode);
CA410_LAYOUT_ASSERT(offsetof(ca410_dev, current_channel) == CA410_PTR_SIZE_IS(113, 121),
                    dev_current_channel);
CA410_LAYOUT_ASSERT(offsetof(ca410_dev, calfile_num) == CA410_PTR_SIZE_IS(114, 122),
                    dev_calfile_num);
CA410_LAYOUT_ASSERT(offsetof(ca410_dev, callist) == CA410_PTR_SIZE_IS(116, 128), dev_callist);
CA410_LAYOUT_ASSERT(sizeof(ca410_dev) == CA410_PTR_SIZE_IS(120, 136), dev_size);

CA410_LAYOUT_ASSERT(offsetof(ca410_calfile, channel) == 0, calfile_channel);
CA410_LAYOUT_ASSERT(offsetof(ca410_calfile, name) == 4, calfile_name);
CA410_LAYOUT_ASSERT(offsetof(ca410_calfile, cal_type) == 16, calfile_cal_type);
CA410_LAYOUT_ASSERT(offsetof(ca410_calfile, target) == 24, calfile_target);
CA410_LAYOUT_ASSERT(offsetof(ca410_calfile, measure) == 120, calfile_measure);
CA410_LAYOUT_ASSERT(sizeof(ca410_calfile) == 216, calfile_size);

CA410_LAYOUT_ASSERT(offsetof(ca410_dev_stat, cal_ch) == 0, stat_cal_ch);
CA410_LAYOUT_ASSERT(offsetof(ca410_dev_stat, meas_speed) == 4, stat_meas_speed);
CA410_LAYOUT_ASSERT(offsetof(ca410_dev_stat, zero_cal) == 8, stat_zero_cal);
CA410_LAYOUT_ASSERT(sizeof(ca410_dev_stat) == 12, stat_size);

CA410_LAYOUT_ASSERT(offsetof(ca410_dev_info, name) == 0, info_name);
CA410_LAYOUT_ASSERT(offsetof(ca410_dev_info, sn) == 32, info_sn);
CA410_LAYOUT_ASSERT(offsetof(ca410_dev_info, vn) == 64, info_vn);
CA410_LAYOUT_ASSERT(sizeof(ca410_dev_info) == 96, info_size);

#undef CA410_PTR_SIZE_IS
#undef CA410_LAYOUT_ASSERT

#endif /* CA410_H */
