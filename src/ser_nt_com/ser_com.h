// Serial port object: creation, port listing, opening and configuring, timed
// write/read and the drain-write-read exchange the instrument layer rests on.
#pragma once

#include <cstdint>

#include "ser_nt_com/platform/ser_platform.h"

// Serial status word: 0 is success, otherwise a set of these bits.
enum : uint32_t {
    SER_ERR_RXOVER = 0x2,
    SER_ERR_PARITY = 0x4,
    SER_ERR_FRAME = 0x8,
    SER_ERR_BREAK = 0x10,
    SER_ERR_TIMEOUT = 0x4000,
    SER_ERR_FAIL = 0x20000,
};

// Setting codes for ser_com_setport_ex.
enum : int32_t {
    SER_FLOW_NONE = 1,
    SER_FLOW_XONXOFF = 2,
    SER_FLOW_RTSCTS = 3,
    SER_FLOW_DTRDSR = 4,
    SER_PARITY_NONE = 1,
    SER_PARITY_ODD = 2,
    SER_PARITY_EVEN = 3,
    SER_STOP_1 = 1,
    SER_STOP_2 = 2,
    SER_WORD_5 = 1,
    SER_WORD_6 = 2,
    SER_WORD_7 = 3,
    SER_WORD_8 = 4,
    SER_BAUD_38400 = 10,
};

struct ser_com {
    char *port_name;    // owned copy of the bare port name; may be null
    ser_handle handle;  // null while closed
    int32_t is_open;
    int32_t flow_control;  // stored settings; 0 means never set
    int32_t baud_rate;
    int32_t parity;
    int32_t stop_bits;
    int32_t word_length;
};

ser_com *new_ser_com(const char *port_name);
void ser_com_del(ser_com *sc);
int32_t ser_com_is_open(ser_com *sc);
void ser_com_close(ser_com *sc);
const char *baud_rate_to_str(int32_t index);
// Stores up to `max` newly allocated port names into list[0..]; always 0.
int32_t get_serial_path(char **list, int32_t max);
uint32_t ser_com_setport_ex(ser_com *sc, int32_t flow_control, int32_t baud_rate, int32_t parity,
                            int32_t stop_bits, int32_t word_length, int32_t msdely);
uint32_t ser_com_setport(ser_com *sc, int32_t flow_control, int32_t baud_rate, int32_t parity,
                         int32_t stop_bits, int32_t word_length);

// `length` 0 means `data` is a text and its own length is written.
uint32_t ser_com_write(ser_com *sc, const void *data, int32_t length, int32_t mstime);
uint32_t ser_com_read(ser_com *sc, char *buffer, int32_t bufsize, int32_t *count, const char *tc,
                      int32_t ntc, int32_t timeout);
uint32_t ser_com_write_read_ex(ser_com *sc, const void *wbuf, int32_t wlen, char *rbuf,
                               int32_t rbufsize, int32_t *count, const char *tc, int32_t ntc,
                               int32_t timeout, int32_t rfirstw);
uint32_t ser_com_write_read(ser_com *sc, const void *wbuf, int32_t wlen, char *rbuf,
                            int32_t rbufsize, int32_t *count, const char *tc, int32_t ntc,
                            int32_t timeout);
uint32_t ser_com_find_inst(ser_com *sc);

// Log renderers. com2hex keeps one buffer; com2fix a ring of three; both
// per thread.
const char *com2hex(const void *data, int32_t length);
const char *com2fix(const char *text);

// Bounds of the drain that opens an exchange on a line that never falls quiet.
constexpr uint32_t SER_DRAIN_MAX_MS = 2000;
constexpr int SER_DRAIN_MAX_READS = 100;
