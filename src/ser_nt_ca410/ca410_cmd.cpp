#include "ser_nt_ca410/ca410_cmd.h"

#include <climits>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "clog/clog.h"
#include "cmat/number_text.h"
#include "ser_nt_ca410/ca410_codes.h"
#include "ser_nt_ca410/ca410_failure.h"
#include "ser_nt_com/ser_com.h"

namespace {

constexpr int32_t STATUS_LEN = 4;  // "OKnn" / "ERnn"

bool is_printable(unsigned char c) {
    return c >= 0x20 && c <= 0x7e;
}

}  // namespace

int32_t ecode(const char *code) {
    if (!code) code = "";
    // Base 0 on purpose: the instrument's codes are two digits with a leading
    // zero, so "08" and "09" fall out of octal and read as 0.
    long value = strtol_c(code, nullptr, 0);
    cloge(glog, 0, "[ecode]: [%s] : ", code);
    const ca_instrument_error *e = ca_instrument_error_find(value);
    failure_set_instrument(nullptr, value, e ? e->message : nullptr);
    if (e) {
        cloge(glog, 0, "%s", e->message);
    } else {
        cloge(glog, 0, "unknown err %d", static_cast<int>(value));
    }
    cloge(glog, 0, "\n");
    return e ? e->result : CA_E_COMM;
}

int32_t wcode(const char *answer) {
    if (!answer || std::strlen(answer) < STATUS_LEN) return 0;
    const char number[3] = {answer[2], answer[3], '\0'};
    long value = strtol_c(number, nullptr, 0);
    // Warning numbers above 63 carry a flag in bit 6 that says nothing of its own.
    if (value > 63) value -= 64;
    if (value != 0) {
        cloge(glog, 0, "[wcode]: [OK%02d], ", static_cast<int>(value));
        if (value & 1) cloge(glog, 0, "user calibration data err,");
        if (value & 2) cloge(glog, 0, "probe temperature shifted 6,");
        if (value & 4) cloge(glog, 0, "probe temperature shifted 6");
        cloge(glog, 0, "\n");
    }
    return static_cast<int32_t>(value);
}

void buf_dump(const void *buffer, int32_t length) {
    clogd(glog, 6, "[buf_dump]: ------------ start ----------\n");
    if (!buffer) return;
    const auto *bytes = static_cast<const unsigned char *>(buffer);
    for (int32_t i = 0; i < length; ++i) {
        const unsigned char b = bytes[i];
        const bool line_end = (i + 1) % 16 == 0;
        if (is_printable(b)) {
            clogd(glog, 0, line_end ? "%02x[ %c] \n" : "%02x[ %c] ", i, b);
        } else {
            clogd(glog, 0, line_end ? "%02x[%02x] \n" : "%02x[%02x] ", i, b);
        }
        if ((i + 1) % 256 == 0) clogd(glog, 0, "-------------- 256x%d ---------------\n", i / 256);
    }
}

int32_t ca_format_args(char *out, size_t size, const char *format, ...) {
    va_list args;
    va_start(args, format);
    const int n = vsnprintf_c(out, size, format, args);
    va_end(args);
    if (n < 0 || static_cast<size_t>(n) >= size) {
        if (size > 0) out[0] = '\0';
        return -1;
    }
    return n;
}

bool ca_text_is_sendable(const char *text) {
    for (const char *p = text; p && *p; ++p) {
        if (!is_printable(static_cast<unsigned char>(*p)) || *p == ',') return false;
    }
    return true;
}

int32_t ca_build_frame(int32_t command, const char *args, int32_t n_args, char *frame) {
    if (command < 1 || command > CA_CMD_COUNT || n_args < 0 || (n_args > 0 && !args)) return 0;
    std::memset(frame, 0, CA_FRAME_SIZE);
    const std::string_view head = keystr[command];
    // Room for the carriage return and the NUL.
    if (head.size() + static_cast<size_t>(n_args) + 2 > static_cast<size_t>(CA_FRAME_SIZE))
        return 0;
    size_t pos = head.copy(frame, head.size());
    if (n_args > 0) {
        std::memcpy(frame + pos, args, static_cast<size_t>(n_args));
        pos += static_cast<size_t>(n_args);
    }
    frame[pos++] = '\r';
    return static_cast<int32_t>(pos);
}

int32_t ca_take_answer(const char *answer, int32_t received, char *data, int32_t data_size,
                       int32_t *data_len) {
    *data_len = 0;
    if (received <= STATUS_LEN) {
        cloge(glog, 0, "[ca_command]: receive len=%d < %d , err\n", received, STATUS_LEN + 1);
        return CA_E_RECEIVE;
    }
    if (answer[0] == 'E' && answer[1] == 'R') {
        const char status[STATUS_LEN + 1] = {answer[0], answer[1], answer[2], answer[3], '\0'};
        const int32_t result = ecode(status + 2);
        cloge(glog, 0, "[ca_command]: receive err, [%s]\n", status);
        return result;
    }

    int32_t result = CA_OK;
    if (std::memcmp(answer, "OK00", STATUS_LEN) != 0) wcode(answer);

    // The length still counts the comma that leads the data.
    int32_t len = received - STATUS_LEN;
    if (std::memchr(answer + STATUS_LEN, '\r', static_cast<size_t>(received - STATUS_LEN)))
        len -= 1;

    if (data) {
        // Compared before the comma is dropped, so data that would just fit
        // without it is still cut by one character.
        if (data_size <= len) {
            result = CA_E_PART_DATA;
            cloge(glog, 0, "[ca_command]: data size %d > rbuf size %d, part data returned\n", len,
                  data_size);
            len = data_size - 1;
        }
        const char *from = answer + STATUS_LEN;
        if (*from == ',') {
            ++from;
            --len;
        }
        // A one-byte buffer cut before a leading comma would go negative.
        if (len < 0) len = 0;
        int32_t copied = 0;
        while (copied < len && from[copied] != '\0') {
            data[copied] = from[copied];
            ++copied;
        }
        data[copied] = '\0';
        clogd(glog, 8, "[ca_command]: return (%d bytes) [%s]\n", len, data);
    }
    *data_len = len;
    return result;
}

int32_t ca_command(ca410_dev *handle, int32_t command, const char *args, int32_t args_len,
                   char *data, int32_t data_size, int32_t *data_len, uint32_t timeout_ms) {
    if (!handle || !handle->sercom || command < 1 || command > CA_CMD_COUNT) {
        cloge(glog, 0, "[ca_command]: invalid args\n");
        return CA_E_ARGS;
    }
    int32_t n_args = 0;
    if (args) {
        const size_t available = std::strlen(args);
        if (args_len < 0 || static_cast<size_t>(args_len) > available) {
            cloge(glog, 0, "[ca_command]: invalid args, args_len %d of %d characters\n", args_len,
                  static_cast<int>(available > INT32_MAX ? INT32_MAX : available));
            return CA_E_ARGS;
        }
        const size_t n = args_len != 0 ? static_cast<size_t>(args_len) : available;
        // Anything longer than a frame fails the fit test below all the same.
        n_args = static_cast<int32_t>(n > CA_FRAME_SIZE ? CA_FRAME_SIZE : n);
    }
    if (data && data_size < 1) {
        cloge(glog, 0, "[ca_command]: invalid args, data size %d\n", data_size);
        return CA_E_ARGS;
    }

    char frame[CA_FRAME_SIZE];
    if (ca_build_frame(command, args, n_args, frame) == 0) {
        cloge(glog, 0, "[ca_command]: invalid args, %d argument characters do not fit a frame\n",
              n_args);
        return CA_E_ARGS;
    }
    clogd(glog, 8, "[ca_command]: send [%s]\n", frame);

    char answer[CA_ANSWER_SIZE];
    int32_t received = 0;
    const auto timeout = static_cast<int32_t>(timeout_ms > INT32_MAX ? INT32_MAX : timeout_ms);
    const uint32_t status = ser_com_write_read_ex(handle->sercom, frame, 0, answer, CA_ANSWER_SIZE,
                                                  &received, "\r", 1, timeout, 1);

    int32_t len = 0;
    int32_t result;
    const char *port = handle->sercom->port_name;
    if (status & SER_ERR_TIMEOUT) {
        result = CA_E_TIMEOUT;
        char detail[48];
        snprintf_c(detail, sizeof detail, "nothing within %u ms", static_cast<unsigned>(timeout));
        failure_set(CA410_CAUSE_NO_ANSWER, port, 0, detail);
        cloge(glog, 0, "[ca_command]: communication timeout err, 0x%x\n", result);
    } else if (status != 0) {
        result = CA_E_COMM;
        failure_set_from_system(CA410_CAUSE_PORT_LOST, port, nullptr);
        cloge(glog, 0, "[ca_command]: communication failed, 0x%x\n", result);
    } else {
        result = ca_take_answer(answer, received, data, data_size, &len);
        if (result == CA_E_RECEIVE) failure_set(CA410_CAUSE_BAD_ANSWER, port, 0, "too short");
        if (result != CA_OK) failure_set_port(port);
    }
    if (data_len) *data_len = len;
    return result;
}
