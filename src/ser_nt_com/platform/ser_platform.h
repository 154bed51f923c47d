// The narrow platform interface under the serial layer. The serial logic is
// written once against these operations, in the terms of the Win32
// communications API; each backend (win32, posix, fake) provides them.
#pragma once

#include <cstddef>
#include <cstdint>

// Opaque open port; never null for an open port.
typedef void *ser_handle;
// Opaque port-list key.
typedef void *ser_list_key;

// Line settings record: the Win32 DCB fields that the serial logic touches,
// plus the ones it leaves as the port reported them.
struct ser_dcb {
    uint32_t BaudRate;
    uint32_t fBinary;
    uint32_t fParity;
    uint32_t fOutxCtsFlow;
    uint32_t fOutxDsrFlow;
    uint32_t fDtrControl;  // SER_DTR_CONTROL_*
    uint32_t fDsrSensitivity;
    uint32_t fTXContinueOnXoff;
    uint32_t fOutX;
    uint32_t fInX;
    uint32_t fErrorChar;
    uint32_t fNull;
    uint32_t fRtsControl;  // SER_RTS_CONTROL_*
    uint32_t fAbortOnError;
    uint16_t XonLim;
    uint16_t XoffLim;
    uint8_t ByteSize;  // 5 to 8
    uint8_t Parity;    // SER_*PARITY
    uint8_t StopBits;  // SER_ONESTOPBIT / SER_TWOSTOPBITS
    char XonChar;
    char XoffChar;
    char ErrorChar;
    char EofChar;
    char EvtChar;
};

// Values of the DCB fields, as Win32 numbers them.
enum : uint32_t {
    SER_DTR_CONTROL_DISABLE = 0,
    SER_DTR_CONTROL_ENABLE = 1,
    SER_DTR_CONTROL_HANDSHAKE = 2,
    SER_RTS_CONTROL_DISABLE = 0,
    SER_RTS_CONTROL_ENABLE = 1,
    SER_RTS_CONTROL_HANDSHAKE = 2,
    SER_RTS_CONTROL_TOGGLE = 3,
};
enum : uint8_t {
    SER_NOPARITY = 0,
    SER_ODDPARITY = 1,
    SER_EVENPARITY = 2,
    SER_ONESTOPBIT = 0,
    SER_ONE5STOPBITS = 1,
    SER_TWOSTOPBITS = 2,
};

// The five time-out fields, in milliseconds, as Win32 COMMTIMEOUTS.
struct ser_timeouts {
    uint32_t ReadIntervalTimeout;
    uint32_t ReadTotalTimeoutMultiplier;
    uint32_t ReadTotalTimeoutConstant;
    uint32_t WriteTotalTimeoutMultiplier;
    uint32_t WriteTotalTimeoutConstant;
};

// PurgeComm flags.
enum : uint32_t {
    SER_PURGE_TXABORT = 0x1,
    SER_PURGE_RXABORT = 0x2,
    SER_PURGE_TXCLEAR = 0x4,
    SER_PURGE_RXCLEAR = 0x8,
};

// ClearCommError flags.
enum : uint32_t {
    SER_CE_RXOVER = 0x1,
    SER_CE_OVERRUN = 0x2,
    SER_CE_RXPARITY = 0x4,
    SER_CE_FRAME = 0x8,
    SER_CE_BREAK = 0x10,
};

// Results of the port-list walk (Win32 registry codes).
enum : int32_t {
    SER_LIST_SUCCESS = 0,
    SER_LIST_MORE_DATA = 234,
    SER_LIST_NO_MORE_ITEMS = 259,
};
// Value type of a text value in the port list (REG_SZ).
enum : uint32_t { SER_LIST_TYPE_STRING = 1 };

// What a system error code means for a port, for the words a host shows.
enum ser_port_problem : int32_t {
    SER_PROBLEM_OTHER = 0,
    SER_PROBLEM_MISSING,     // no such port
    SER_PROBLEM_NOT_SERIAL,  // a file, a folder or another kind of device
    SER_PROBLEM_BUSY,        // open in another program
    SER_PROBLEM_DENIED,      // not allowed to this user
    SER_PROBLEM_SETTINGS,    // the line settings were refused
    SER_PROBLEM_GONE,        // the device went away while in use
    SER_PROBLEM_NO_MEMORY,
};

// What the system knows of a listed port; empty texts and 0 where nothing.
struct ser_port_details {
    char description[128];
    char manufacturer[64];
    char serial_number[64];
    uint16_t usb_vendor_id;
    uint16_t usb_product_id;
};

struct ser_platform_ops {
    const char *name;

    // Opens the port `port_name` for synchronous reading and writing, shared
    // with nobody. Writes the device path it used into `path` (at most
    // `path_size` bytes, terminated) for the log. On success stores a non-null
    // handle in `*handle` and returns true; on failure returns false and the
    // reason is in last_error().
    bool (*open_port)(const char *port_name, char *path, size_t path_size, ser_handle *handle);
    // Closes the port. Its result is not looked at.
    void (*close)(ser_handle handle);
    // Reads the port's current line settings. False on failure.
    bool (*get_state)(ser_handle handle, ser_dcb *dcb);
    // Applies the line settings. False on failure.
    bool (*set_state)(ser_handle handle, const ser_dcb *dcb);
    // Ends pending transfers and empties the queues named by `flags`.
    void (*purge)(ser_handle handle, uint32_t flags);
    // Sets the time-outs for the following reads and writes. False on failure.
    bool (*set_timeouts)(ser_handle handle, const ser_timeouts *timeouts);
    // Reads up to `count` bytes. Returns when `count` bytes have arrived, or
    // ReadIntervalTimeout ms after the last byte once one has arrived, or
    // ReadTotalTimeoutConstant ms after the call began; `*got` is what arrived
    // (possibly 0). False only when the read failed; `*got` is still valid.
    bool (*read)(ser_handle handle, void *buffer, uint32_t count, uint32_t *got);
    // Writes `count` bytes within WriteTotalTimeoutConstant ms; `*written` is
    // what went out. False only when the write failed.
    bool (*write)(ser_handle handle, const void *data, uint32_t count, uint32_t *written);
    // Fetches and clears the port's line-error flags (SER_CE_*). False when
    // they cannot be fetched.
    bool (*clear_error)(ser_handle handle, uint32_t *errors);
    // The system error code of the last failed call on this thread, for log
    // messages.
    uint32_t (*last_error)();
    // What a code that last_error() gave means (a ser_port_problem).
    int32_t (*classify_error)(uint32_t error);

    // The port-list walk: open the list, fetch value `index` with its name,
    // type and data into sized buffers (sizes in, lengths out), close it.
    // Results are SER_LIST_* codes or another platform error code.
    int32_t (*list_open)(ser_list_key *key);
    int32_t (*list_value)(ser_list_key key, uint32_t index, char *name, uint32_t *name_size,
                          uint32_t *type, uint8_t *data, uint32_t *data_size);
    int32_t (*list_close)(ser_list_key key);
    // What the system knows of the port a list value names (`name` and
    // `data` as list_value gave them) into `details`, zero-filled first.
    void (*port_details)(const char *name, const char *data, ser_port_details *details);
};

// The platform's own backend (win32 on Windows, posix elsewhere).
const ser_platform_ops *ser_platform_native();
// The backend in use; null (the default) means the native one. Tests point it
// at the fake backend and back.
extern const ser_platform_ops *ser_platform;
// The backend in use, resolved.
const ser_platform_ops *ser_platform_active();
