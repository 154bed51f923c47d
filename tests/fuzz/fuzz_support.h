// Shared by the fuzz harnesses. An input is the instrument's answers to the
// host's frames, one a line; '|' and a byte D delay the rest of an answer by
// (D % 64) * 50 ms of virtual time (past every time-out); a final '!' makes
// the port fail after it.
#pragma once

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "ca410.h"
#include "clog/clog.h"
#include "ser_nt_ca410/ca410_codes.h"
#include "ser_nt_ca410/ca410_dev.h"
#include "ser_nt_ca410/ca410_ops.h"
#include "ser_nt_com/platform/fake.h"
#include "ser_nt_com/ser_com.h"

namespace fuzz {

// Every log line formatted at full detail, as the real outputs would, and
// dropped (each harness is a program of its own: nothing to restore).
inline void quiet_log() {
    default_log.debug = 8;
    default_log.d_log = default_log.e_log = [](void *, clog *, const char *format, va_list args) {
        char line[16384];
        vsnprintf(line, sizeof line, format, args);
    };
}

inline std::string g_rest;  // the answers not sent yet
inline bool g_more = true;  // whether g_rest holds one more
inline ser_platform_ops g_ops;

// A frame is complete with its carriage return: the next answer comes in.
inline bool hooked_write(ser_handle h, const void *data, uint32_t count, uint32_t *written) {
    const bool ok = ser_fake::backend()->write(h, data, count, written);
    if (!std::memchr(data, '\r', *written) || !g_more) return ok;
    auto &in = ser_fake::get().incoming;
    in.emplace_back();
    size_t i = 0;
    for (; i < g_rest.size() && g_rest[i] != '\n'; i++) {
        if (g_rest[i] == '|' && i + 1 < g_rest.size()) {
            in.push_back({"", static_cast<uint8_t>(g_rest[++i]) % 64 * 50u});
        } else if (g_rest[i] == '!' && (i + 1 == g_rest.size() || g_rest[i + 1] == '\n')) {
            in.back().fail = true;
        } else {
            in.back().bytes += g_rest[i];
        }
    }
    g_more = i < g_rest.size();
    g_rest.erase(0, i + 1);
    return ok;
}

// The fake serial backend answering each frame with the input's next answer.
class scripted_line {
  public:
    scripted_line(const uint8_t *data, size_t size) {
        quiet_log();
        ser_fake::install();
        g_rest.assign(reinterpret_cast<const char *>(data), size);
        g_more = true;
        g_ops = *ser_fake::backend();
        g_ops.write = hooked_write;
        ser_platform = &g_ops;
    }
    ~scripted_line() {
        if (dev_) ca410_dev_release(dev_);
        ser_fake::uninstall();
    }
    // A handle as after a successful open (port set up, init 0), freed here.
    ca410_dev *device() {
        if (!dev_) {
            dev_ = static_cast<ca410_dev *>(calloc(1, sizeof(ca410_dev)));
            dev_->sercom = new_ser_com("COM7");
            ser_com_setport(dev_->sercom, SER_FLOW_RTSCTS, SER_BAUD_38400, SER_PARITY_EVEN,
                            SER_STOP_2, SER_WORD_7);
        }
        return dev_;
    }

  private:
    ca410_dev *dev_ = nullptr;
};

// Ascending channels 1 to 99, terminated names, `count` entries.
inline bool well_formed(const ca410_callist_entry *list, int32_t count) {
    int32_t n = 0, last = 0;
    for (const ca410_callist_entry *e = list; e; e = e->next, n++) {
        if (e->channel <= last || e->channel > 99) return false;
        if (!std::memchr(e->name, '\0', sizeof e->name)) return false;
        last = e->channel;
    }
    return n == count;
}

}  // namespace fuzz
