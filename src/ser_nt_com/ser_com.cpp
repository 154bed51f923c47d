// Serial port object: creation, port listing, opening and line settings.
#include "ser_nt_com/ser_com.h"

#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "clog/clog.h"
#include "cmat/clock.h"

namespace {

constexpr int32_t kMinOpenDelayMs = 160;
constexpr uint32_t kSettleDelayMs = 50;
constexpr uint32_t kCloseDelayMs = 100;
constexpr uint32_t kPurgeAll =
    SER_PURGE_TXABORT | SER_PURGE_RXABORT | SER_PURGE_TXCLEAR | SER_PURGE_RXCLEAR;
constexpr uint32_t kListBufferSize = 500;
constexpr size_t kDevicePathSize = 100;

struct baud_entry {
    uint32_t rate;
    const char *text;
};

// Index 0 means "never set"; 1 to 14 are the rates a port can be given.
constexpr std::array<baud_entry, 15> kBaudTable{{
    {0, "not configured"},
    {110, "110"},
    {300, "300"},
    {600, "600"},
    {1200, "1200"},
    {2400, "2400"},
    {4800, "4800"},
    {9600, "9600"},
    {14400, "14400"},
    {19200, "19200"},
    {38400, "38400"},
    {57600, "57600"},
    {115200, "115200"},
    {230400, "230400"},
    {921600, "921600"},
}};

const ser_platform_ops &platform() {
    return *ser_platform_active();
}

char *copy_text(const char *text) {
    const size_t size = strlen(text) + 1;
    auto *copy = static_cast<char *>(malloc(size));
    if (copy != nullptr) memcpy(copy, text, size);
    return copy;
}

const char *name_or_null(const ser_com *sc) {
    return sc->port_name != nullptr ? sc->port_name : "(null)";
}

const char *short_value_name(const char *name) {
    const char *last = strrchr(name, '\\');
    return last != nullptr ? last + 1 : name;
}

// Applies one stored setting to the DCB. False (after closing the port and
// logging) when the stored value is 0, that is, never set.
bool apply_flow_control(ser_com *sc, ser_dcb &dcb) {
    switch (sc->flow_control) {
        case 0:
            ser_com_close(sc);
            cloge(glog, 0, "[ser_com_setport_ex]: illegal flow control %d\n", sc->flow_control);
            return false;
        case SER_FLOW_XONXOFF:
            dcb.fOutX = 1;
            dcb.fInX = 1;
            dcb.XonChar = 0x11;
            dcb.XoffChar = 0x13;
            break;
        case SER_FLOW_RTSCTS:
            dcb.fOutxCtsFlow = 1;
            dcb.fRtsControl = SER_RTS_CONTROL_HANDSHAKE;
            break;
        case SER_FLOW_DTRDSR:
            dcb.fOutxDsrFlow = 1;
            dcb.fDtrControl = SER_DTR_CONTROL_HANDSHAKE;
            break;
        default:  // 1 and unknown codes: no flow control
            break;
    }
    return true;
}

bool apply_parity(ser_com *sc, ser_dcb &dcb) {
    switch (sc->parity) {
        case 0:
            ser_com_close(sc);
            cloge(glog, 0, "[ser_com_setport_ex]: illegal parity setting %d\n", sc->parity);
            return false;
        case SER_PARITY_NONE:
            dcb.fParity = 0;
            dcb.Parity = SER_NOPARITY;
            break;
        case SER_PARITY_ODD:
            dcb.fParity = 1;
            dcb.Parity = SER_ODDPARITY;
            break;
        case SER_PARITY_EVEN:
            dcb.fParity = 1;
            dcb.Parity = SER_EVENPARITY;
            break;
        default:  // unknown codes keep what the port reported
            break;
    }
    return true;
}

bool apply_stop_bits(ser_com *sc, ser_dcb &dcb) {
    switch (sc->stop_bits) {
        case 0:
            ser_com_close(sc);
            cloge(glog, 0, "[ser_com_setport_ex]: illegal stop bits %d\n", sc->stop_bits);
            return false;
        case SER_STOP_1:
            dcb.StopBits = SER_ONESTOPBIT;
            break;
        case SER_STOP_2:
            dcb.StopBits = SER_TWOSTOPBITS;
            break;
        default:
            break;
    }
    return true;
}

bool apply_word_length(ser_com *sc, ser_dcb &dcb) {
    const auto code = static_cast<uint32_t>(sc->word_length);
    if (code == 0) {
        ser_com_close(sc);
        cloge(glog, 0, "[ser_com_setport_ex]: illegal word length %d\n", sc->word_length);
        return false;
    }
    if (code <= 4) dcb.ByteSize = static_cast<uint8_t>(code + 4);  // codes 1..4 are 5..8 bits
    return true;
}

bool apply_baud_rate(ser_com *sc, ser_dcb &dcb) {
    const auto index = static_cast<uint32_t>(sc->baud_rate);
    if (index == 0 || index >= kBaudTable.size()) {
        ser_com_close(sc);
        cloge(glog, 0, "[ser_com_setport_ex]: illegal baud rate! (0x%x)\n", index);
        return false;
    }
    dcb.BaudRate = kBaudTable[index].rate;
    return true;
}

}  // namespace

ser_com *new_ser_com(const char *port_name) {
    auto *sc = static_cast<ser_com *>(calloc(1, sizeof(ser_com)));
    if (sc == nullptr) {
        cloge(glog, 0, "[new_ser_com]: calloc err\n");
        return nullptr;
    }
    if (port_name != nullptr) {
        sc->port_name = copy_text(port_name);
        if (sc->port_name == nullptr) {
            free(sc);
            cloge(glog, 0, "[new_ser_com]: calloc err\n");
            return nullptr;
        }
    }
    return sc;
}

void ser_com_del(ser_com *sc) {
    if (sc == nullptr) return;
    if (sc->handle != nullptr) {
        platform().close(sc->handle);
        sc->handle = nullptr;
        msec_sleep(kCloseDelayMs);
    }
    free(sc->port_name);
    free(sc);
}

int32_t ser_com_is_open(ser_com *sc) {
    if (sc == nullptr) return 0;
    sc->is_open = sc->handle != nullptr ? 1 : 0;
    return sc->is_open;
}

void ser_com_close(ser_com *sc) {
    if (sc == nullptr) return;
    if (sc->handle != nullptr) {
        platform().close(sc->handle);
        sc->handle = nullptr;
        sc->is_open = 0;
        msec_sleep(kCloseDelayMs);
    }
    sc->is_open = 0;
}

const char *baud_rate_to_str(int32_t index) {
    const auto i = static_cast<uint32_t>(index);
    return i < kBaudTable.size() ? kBaudTable[i].text : "unknown";
}

int32_t get_serial_path(char **list, int32_t max) {
    clogd(glog, 8, "[get_serial_path]:  start\n");
    if (list == nullptr && max > 0) {
        cloge(glog, 0, "[get_serial_path]: invalid args\n");
        return 0;
    }
    const ser_platform_ops &ops = platform();
    ser_list_key key = nullptr;
    if (ops.list_open(&key) != SER_LIST_SUCCESS) {
        cloge(glog, 0, "[get_serial_path]: RegOpenKeyEx  error, no serial ports appeared\n");
        return 0;
    }
    clogd(glog, 8, "[get_serial_path]: start parse KEY\n");
    int32_t stored = 0;
    for (uint32_t index = 0;; index++) {
        char name[kListBufferSize];
        char data[kListBufferSize];
        uint32_t name_size = kListBufferSize;
        uint32_t data_size = kListBufferSize;
        uint32_t type = 0;
        const int32_t result = ops.list_value(key, index, name, &name_size, &type,
                                              reinterpret_cast<uint8_t *>(data), &data_size);
        if (result == SER_LIST_NO_MORE_ITEMS) {
            clogd(glog, 8, "[get_serial_path]: got ERROR_NO_MORE_ITEMS\n");
            break;
        }
        if (result != SER_LIST_SUCCESS) {
            clogd(glog, 8, "[get_serial_path]: RegEnumValue err, %d\n", result);
            break;
        }
        name[kListBufferSize - 1] = '\0';
        data[kListBufferSize - 1] = '\0';
        if (type != SER_LIST_TYPE_STRING) {
            clogd(glog, 8, "[get_serial_path]: RegEnumValue not return string type\n");
            continue;
        }
        clogd(glog, 8, "[get_serial_path]: vname = [%s] value=[%s]\n", name, data);
        clogd(glog, 8, "[get_serial_path]:  get [%s]\n", short_value_name(name));
        if (stored < max) {
            char *copy = copy_text(data);
            if (copy != nullptr) list[stored++] = copy;
        }
    }
    const int32_t closed = ops.list_close(key);
    if (closed != SER_LIST_SUCCESS) {
        cloge(glog, 0, "[get_serial_path]:  RegCloseKey err, %d\n", closed);
    }
    return 0;
}

uint32_t ser_com_setport_ex(ser_com *sc, int32_t flow_control, int32_t baud_rate, int32_t parity,
                            int32_t stop_bits, int32_t word_length, int32_t msdely) {
    if (sc == nullptr) {
        cloge(glog, 0, "[ser_com_setport_ex]: invalid args\n");
        return SER_ERR_FAIL;
    }
    clogd(glog, 8, "[ser_com_setport_ex]  [%s] is_open=%d\n", name_or_null(sc), sc->is_open);
    clogd(glog, 8,
          "[ser_com_setport_ex] : args Flow control = %d  Baud Rate   = %s   Parity = %d\n",
          flow_control, baud_rate_to_str(baud_rate), parity);
    clogd(glog, 8,
          "[ser_com_setport_ex] : args Stop bits    = %d  Word length = %d   msdely = %d\n",
          stop_bits, word_length, msdely);

    if (flow_control != 0) sc->flow_control = flow_control;
    if (baud_rate != 0) sc->baud_rate = baud_rate;
    if (parity != 0) sc->parity = parity;
    if (stop_bits != 0) sc->stop_bits = stop_bits;
    if (word_length != 0) sc->word_length = word_length;

    const ser_platform_ops &ops = platform();
    if (sc->is_open == 0) {
        clogd(glog, 8, "[ser_com_setport_ex]: start open [%s]\n", name_or_null(sc));
        char path[kDevicePathSize] = {0};
        ser_handle handle = nullptr;
        if (!ops.open_port(sc->port_name != nullptr ? sc->port_name : "", path, sizeof path,
                           &handle)) {
            cloge(glog, 0, "[ser_com_setport_ex]: open [%s] err %d\n", path,
                  static_cast<int>(ops.last_error()));
            return SER_ERR_FAIL;
        }
        msec_sleep(static_cast<uint32_t>(msdely < kMinOpenDelayMs ? kMinOpenDelayMs : msdely));
        sc->handle = handle;
        sc->is_open = 1;
    }

    ser_dcb dcb{};
    if (!ops.get_state(sc->handle, &dcb)) {
        cloge(glog, 0, "[ser_com_setport_ex]: read [%s] state err %d\n", name_or_null(sc),
              static_cast<int>(ops.last_error()));
        ser_com_close(sc);
        return SER_ERR_FAIL;
    }

    dcb.fBinary = 1;
    dcb.fOutxCtsFlow = 0;
    dcb.fOutxDsrFlow = 0;
    dcb.fDtrControl = SER_DTR_CONTROL_ENABLE;
    dcb.fDsrSensitivity = 0;
    dcb.fTXContinueOnXoff = 1;
    dcb.fOutX = 0;
    dcb.fInX = 0;
    dcb.fErrorChar = 0;
    dcb.fNull = 0;
    dcb.fRtsControl = SER_RTS_CONTROL_ENABLE;
    dcb.fAbortOnError = 0;

    if (!apply_flow_control(sc, dcb) || !apply_parity(sc, dcb) || !apply_stop_bits(sc, dcb) ||
        !apply_word_length(sc, dcb) || !apply_baud_rate(sc, dcb)) {
        return SER_ERR_FAIL;
    }

    ops.purge(sc->handle, kPurgeAll);
    if (!ops.set_state(sc->handle, &dcb)) {
        const uint32_t error = ops.last_error();
        ser_com_close(sc);
        cloge(glog, 0, "[ser_com_setport_ex]: SetCommState err ,%d\n", static_cast<int>(error));
        return SER_ERR_FAIL;
    }
    ops.purge(sc->handle, kPurgeAll);
    msec_sleep(kSettleDelayMs);
    clogd(glog, 7, "[ser_com_setport_ex]:  done\n");
    return 0;
}

uint32_t ser_com_setport(ser_com *sc, int32_t flow_control, int32_t baud_rate, int32_t parity,
                         int32_t stop_bits, int32_t word_length) {
    return ser_com_setport_ex(sc, flow_control, baud_rate, parity, stop_bits, word_length, 0);
}
