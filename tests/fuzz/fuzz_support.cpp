#include "fuzz_support.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>

#include "clog/clog.h"
#include "ser_nt_ca410/ca410_codes.h"
#include "ser_nt_ca410/ca410_dev.h"
#include "ser_nt_com/ser_com.h"

namespace fuzz {
namespace {

std::vector<answer> g_answers;
size_t g_next = 0;
ser_platform_ops g_ops;
ca410_dev *g_dev = nullptr;

// Formats every message as the real outputs would, and drops it.
void sink(void *, clog *, const char *format, va_list args) {
    char line[16384];
    vsnprintf(line, sizeof line, format, args);
}

// A frame is complete with its carriage return: the next answer comes in.
bool hooked_write(ser_handle h, const void *data, uint32_t count, uint32_t *written) {
    const bool ok = ser_fake::backend()->write(h, data, count, written);
    const auto *bytes = static_cast<const char *>(data);
    bool frame_end = false;
    for (uint32_t i = 0; i < *written; i++) frame_end = frame_end || bytes[i] == '\r';
    if (frame_end && g_next < g_answers.size()) {
        for (const auto &c : g_answers[g_next]) ser_fake::get().incoming.push_back(c);
        g_next++;
    }
    return ok;
}

std::vector<harness> &registry() {
    static std::vector<harness> all;
    return all;
}

}  // namespace

std::vector<answer> parse_answers(const uint8_t *data, size_t size) {
    std::vector<answer> out;
    answer current{ser_fake::chunk{}};
    const auto finish = [&] {
        out.push_back(std::move(current));
        current = answer{ser_fake::chunk{}};
    };
    for (size_t i = 0; i < size; i++) {
        const char c = static_cast<char>(data[i]);
        if (c == '\n') {
            finish();
        } else if (c == '|' && i + 1 < size) {
            current.push_back(ser_fake::chunk{"", static_cast<uint32_t>(data[++i] % 64) * 50u});
        } else if (c == '!' && (i + 1 == size || data[i + 1] == '\n')) {
            current.back().fail = true;
        } else {
            current.back().bytes += c;
        }
    }
    finish();
    return out;
}

quiet_log::quiet_log() : saved_(default_log) {
    default_log.debug = 8;
    default_log.d_log = sink;
    default_log.e_log = sink;
}

quiet_log::~quiet_log() {
    default_log = saved_;
}

bool is_result_code(int32_t rc) {
    static const int32_t codes[] = {0,  1,  16, 17, 18, 19, 20, 21, 22, 23, 24,
                                    25, 26, 32, 33, 34, 35, 36, 37, 38, 39, 40,
                                    42, 44, 46, 47, 48, 49, 50, 51, 52, 54, 55};
    for (int32_t c : codes) {
        if (rc == c) return true;
    }
    return false;
}

bool is_exchange_result(int32_t rc) {
    if (rc == CA_OK || rc == CA_E_TIMEOUT || rc == CA_E_COMM || rc == CA_E_PART_DATA ||
        rc == CA_E_RECEIVE)
        return true;
    for (long code = 0; code < 100; code++) {
        const ca_instrument_error *e = ca_instrument_error_find(code);
        if (e && e->result == rc) return true;
    }
    return false;
}

scripted_line::scripted_line(std::vector<answer> answers) {
    ser_fake::install();
    g_answers = std::move(answers);
    g_next = 0;
    g_ops = *ser_fake::backend();
    g_ops.write = hooked_write;
    ser_platform = &g_ops;
}

scripted_line::~scripted_line() {
    if (g_dev) {
        ca410_dev_release(g_dev);
        g_dev = nullptr;
    }
    ser_fake::uninstall();
}

ca410_dev *scripted_line::device() {
    if (!g_dev) {
        g_dev = static_cast<ca410_dev *>(calloc(1, sizeof(ca410_dev)));
        g_dev->sercom = new_ser_com("COM7");
        ser_com_setport(g_dev->sercom, SER_FLOW_RTSCTS, SER_BAUD_38400, SER_PARITY_EVEN, SER_STOP_2,
                        SER_WORD_7);
    }
    return g_dev;
}

const std::vector<harness> &harnesses() {
    return registry();
}

registrar::registrar(const char *name, entry_fn run) {
    registry().push_back({name, run});
}

}  // namespace fuzz
