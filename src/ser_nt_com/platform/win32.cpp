// Win32 backend: the communications and registry calls, passed through.
#include <windows.h>

#include <cstdio>

#include "ser_nt_com/platform/ser_platform.h"

namespace {

HANDLE as_handle(ser_handle handle) {
    return static_cast<HANDLE>(handle);
}

bool win32_open(const char *port_name, char *path, size_t path_size, ser_handle *handle) {
    // The device namespace reaches COM10 and above as well as COM1..COM9.
    snprintf(path, path_size, "\\\\.\\%s", port_name);
    HANDLE h =
        CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    *handle = h;
    return true;
}

void win32_close(ser_handle handle) {
    CloseHandle(as_handle(handle));
}

// The DCB fields that ser_dcb carries, for copying in either direction.
// (Bit fields: no pointers to members, so a field list it is.)
#define SER_DCB_FIELDS(COPY)                                                                    \
    COPY(BaudRate)                                                                              \
    COPY(fBinary)                                                                               \
    COPY(fParity) COPY(fOutxCtsFlow) COPY(fOutxDsrFlow) COPY(fDtrControl) COPY(fDsrSensitivity) \
        COPY(fTXContinueOnXoff) COPY(fOutX) COPY(fInX) COPY(fErrorChar) COPY(fNull)             \
            COPY(fRtsControl) COPY(fAbortOnError) COPY(XonLim) COPY(XoffLim) COPY(ByteSize)     \
                COPY(Parity) COPY(StopBits) COPY(XonChar) COPY(XoffChar) COPY(ErrorChar)        \
                    COPY(EofChar) COPY(EvtChar)

bool win32_get_state(ser_handle handle, ser_dcb *out) {
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!GetCommState(as_handle(handle), &dcb)) return false;
#define SER_COPY_OUT(field) out->field = dcb.field;
    SER_DCB_FIELDS(SER_COPY_OUT)
#undef SER_COPY_OUT
    return true;
}

bool win32_set_state(ser_handle handle, const ser_dcb *in) {
    // The fields not carried in ser_dcb are reserved and must be zero.
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
#define SER_COPY_IN(field) dcb.field = in->field;
    SER_DCB_FIELDS(SER_COPY_IN)
#undef SER_COPY_IN
    return SetCommState(as_handle(handle), &dcb) != 0;
}

void win32_purge(ser_handle handle, uint32_t flags) {
    PurgeComm(as_handle(handle), flags);
}

bool win32_set_timeouts(ser_handle handle, const ser_timeouts *t) {
    COMMTIMEOUTS timeouts{};
    timeouts.ReadIntervalTimeout = t->ReadIntervalTimeout;
    timeouts.ReadTotalTimeoutMultiplier = t->ReadTotalTimeoutMultiplier;
    timeouts.ReadTotalTimeoutConstant = t->ReadTotalTimeoutConstant;
    timeouts.WriteTotalTimeoutMultiplier = t->WriteTotalTimeoutMultiplier;
    timeouts.WriteTotalTimeoutConstant = t->WriteTotalTimeoutConstant;
    return SetCommTimeouts(as_handle(handle), &timeouts) != 0;
}

bool win32_read(ser_handle handle, void *buffer, uint32_t count, uint32_t *got) {
    DWORD n = 0;
    const BOOL ok = ReadFile(as_handle(handle), buffer, count, &n, nullptr);
    *got = n;
    return ok != 0;
}

bool win32_write(ser_handle handle, const void *data, uint32_t count, uint32_t *written) {
    DWORD n = 0;
    const BOOL ok = WriteFile(as_handle(handle), data, count, &n, nullptr);
    *written = n;
    return ok != 0;
}

bool win32_clear_error(ser_handle handle, uint32_t *errors) {
    DWORD flags = 0;
    if (!ClearCommError(as_handle(handle), &flags, nullptr)) return false;
    *errors = flags;
    return true;
}

uint32_t win32_last_error() {
    return GetLastError();
}

int32_t win32_list_open(ser_list_key *key) {
    HKEY opened = nullptr;
    const LONG result =
        RegOpenKeyExA(HKEY_LOCAL_MACHINE, "HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ, &opened);
    *key = opened;
    return result;
}

int32_t win32_list_value(ser_list_key key, uint32_t index, char *name, uint32_t *name_size,
                         uint32_t *type, uint8_t *data, uint32_t *data_size) {
    DWORD name_len = *name_size;
    DWORD data_len = *data_size;
    DWORD value_type = 0;
    const LONG result = RegEnumValueA(static_cast<HKEY>(key), index, name, &name_len, nullptr,
                                      &value_type, data, &data_len);
    *name_size = name_len;
    *data_size = data_len;
    *type = value_type;
    return result;
}

int32_t win32_list_close(ser_list_key key) {
    return RegCloseKey(static_cast<HKEY>(key));
}

int32_t win32_classify_error(uint32_t error) {
    switch (error) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
        case ERROR_INVALID_NAME:
        case ERROR_BAD_PATHNAME:
            return SER_PROBLEM_MISSING;
        case ERROR_INVALID_FUNCTION:
        case ERROR_NOT_SUPPORTED:
        case ERROR_INVALID_HANDLE:
            return SER_PROBLEM_NOT_SERIAL;
        // A COM port that another program holds answers "access denied".
        case ERROR_ACCESS_DENIED:
        case ERROR_SHARING_VIOLATION:
        case ERROR_BUSY:
            return SER_PROBLEM_BUSY;
        case ERROR_INVALID_PARAMETER:
            return SER_PROBLEM_SETTINGS;
        case ERROR_DEVICE_NOT_CONNECTED:
        case ERROR_GEN_FAILURE:
        case ERROR_OPERATION_ABORTED:
        case ERROR_BAD_COMMAND:
            return SER_PROBLEM_GONE;
        case ERROR_NOT_ENOUGH_MEMORY:
        case ERROR_OUTOFMEMORY:
            return SER_PROBLEM_NO_MEMORY;
        default:
            return SER_PROBLEM_OTHER;
    }
}

// The registry knows the port's device name ("\Device\USBSER000").
void win32_port_details(const char *name, const char *, ser_port_details *details) {
    *details = ser_port_details{};
    snprintf(details->description, sizeof details->description, "%s", name ? name : "");
}

// Filled by name, so that no operation can land in another's place.
const ser_platform_ops kWin32Ops = [] {
    ser_platform_ops ops{};
    ops.name = "win32";
    ops.open_port = win32_open;
    ops.close = win32_close;
    ops.get_state = win32_get_state;
    ops.set_state = win32_set_state;
    ops.purge = win32_purge;
    ops.set_timeouts = win32_set_timeouts;
    ops.read = win32_read;
    ops.write = win32_write;
    ops.clear_error = win32_clear_error;
    ops.last_error = win32_last_error;
    ops.classify_error = win32_classify_error;
    ops.list_open = win32_list_open;
    ops.list_value = win32_list_value;
    ops.list_close = win32_list_close;
    ops.port_details = win32_port_details;
    return ops;
}();

}  // namespace

const ser_platform_ops *ser_platform_native() {
    return &kWin32Ops;
}
