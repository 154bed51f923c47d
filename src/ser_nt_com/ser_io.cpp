// Timed write, timed read up to a count of terminators, and the
// drain-write-read exchange; plus the two renderers for the log.
#include <array>
#include <cstdio>
#include <cstring>

#include "clog/clog.h"
#include "cmat/clock.h"
#include "cmat/number_text.h"
#include "ser_nt_com/ser_com.h"

namespace {

constexpr uint32_t kQuietLineMs = 20;
constexpr int32_t kDrainBufferSize = 500;
constexpr int32_t kFindInstAnswerSize = 64;
constexpr int32_t kFindInstTimeoutMs = 200;
constexpr uint32_t kFindInstDeadlineMs = 20000;

const ser_platform_ops &platform() {
    return *ser_platform_active();
}

bool usable(const ser_com *sc) {
    return sc != nullptr && sc->is_open != 0;
}

// After a failed platform read or write: the port's line errors as status
// bits. A failure without a line error still reports 0x20000, so that it is
// never taken for success.
uint32_t failure_status(ser_com *sc, const char *clear_error_message) {
    uint32_t flags = 0;
    if (!platform().clear_error(sc->handle, &flags)) {
        clogd(glog, 8, "%s", clear_error_message);
        flags = 0;
    }
    uint32_t status = 0;
    if (flags & SER_CE_BREAK) status |= SER_ERR_BREAK;
    if (flags & SER_CE_FRAME) status |= SER_ERR_FRAME;
    if (flags & SER_CE_RXPARITY) status |= SER_ERR_PARITY;
    if (flags & SER_CE_RXOVER) status |= SER_ERR_RXOVER;
    return status != 0 ? status : SER_ERR_FAIL;
}

int32_t elapsed_since(uint32_t start) {
    return static_cast<int32_t>(msec_time() - start);
}

// Reads 20 ms at a time until a read brings nothing, so that answers the
// instrument sent late are not taken for the answer to the next command.
// Bounded, for a line that never falls quiet.
void drain_stale_input(ser_com *sc) {
    int reads = 0;
    int32_t elapsed = 0;
    bool quiet = false;
    {
        clog_debug_override silence(glog, 0);
        std::array<char, kDrainBufferSize> scratch;
        const uint32_t start = msec_time();
        while (reads < SER_DRAIN_MAX_READS && static_cast<uint32_t>(elapsed) < SER_DRAIN_MAX_MS) {
            int32_t got = 0;
            ser_com_read(sc, scratch.data(), kDrainBufferSize, &got, nullptr, kDrainBufferSize,
                         kQuietLineMs);
            reads++;
            elapsed = elapsed_since(start);
            if (got == 0) {
                quiet = true;
                break;
            }
        }
    }
    if (!quiet) {
        cloge(glog, 0,
              "[ser_com_write_read_ex]: line would not fall quiet, drain stopped after %d reads "
              "in %d ms\n",
              reads, elapsed);
    }
}

}  // namespace

uint32_t ser_com_write(ser_com *sc, const void *data, int32_t length, int32_t mstime) {
    const char *rendered = data == nullptr ? "(null)"
                           : length >= 1   ? com2hex(data, length)
                                           : com2fix(static_cast<const char *>(data));
    clogd(glog, 7, "[ser_com_write]: start write [%s]  mstime %d\n", rendered, mstime);
    if (!usable(sc)) {
        cloge(glog, 0, "[ser_com_write]:  dev not init\n");
        return SER_ERR_FAIL;
    }
    if (data == nullptr) {
        cloge(glog, 0, "[ser_com_write]: invalid args\n");
        return SER_ERR_FAIL;
    }
    const auto *bytes = static_cast<const char *>(data);
    const int32_t total = length != 0 ? length : static_cast<int32_t>(strlen(bytes));

    const ser_platform_ops &ops = platform();
    const auto limit = static_cast<uint32_t>(mstime);
    const ser_timeouts timeouts{0, 0, limit, 0, limit};
    if (!ops.set_timeouts(sc->handle, &timeouts)) {
        cloge(glog, 0, "[ser_com_write]:  SetCommTimeouts err, %d\n",
              static_cast<int>(ops.last_error()));
        return SER_ERR_FAIL;
    }

    uint32_t status = 0;
    const uint32_t start = msec_time();
    int32_t remaining = mstime;
    int32_t elapsed = 0;
    int32_t done = 0;
    while (remaining > 0 && done < total) {
        uint32_t written = 0;
        const bool ok =
            ops.write(sc->handle, bytes + done, static_cast<uint32_t>(total - done), &written);
        if (written > 0) {
            clogd(glog, 8, "[ser_com_write]: write %d bytes\n", static_cast<int>(written));
            done += static_cast<int32_t>(written);
        }
        if (!ok) {
            status = failure_status(sc, "[ser_com_write]: ClearCommError err\n");
            clogd(glog, 8, "[ser_com_write]: write err, 0x%x\n", status);
            break;
        }
        elapsed = elapsed_since(start);
        remaining = mstime - elapsed;
    }
    if (remaining <= 0) {
        clogd(glog, 8, "[ser_com_write] took %d ms > %d ms\n", elapsed, mstime);
        status |= SER_ERR_TIMEOUT;
    }
    clogd(glog, 8, "[ser_com_write] took %d ms, error 0x%x\n", elapsed, status);
    return status;
}

uint32_t ser_com_read(ser_com *sc, char *buffer, int32_t bufsize, int32_t *count, const char *tc,
                      int32_t ntc, int32_t timeout) {
    if (!usable(sc)) {
        cloge(glog, 0, "[ser_com_read]:  dev not init\n");
        return SER_ERR_FAIL;
    }
    if (bufsize < 3) {
        cloge(glog, 0, "[ser_com_read] buf size %d < 3\n", bufsize);
        return SER_ERR_FAIL;
    }
    if (buffer == nullptr) {
        cloge(glog, 0, "[ser_com_read]: invalid args\n");
        return SER_ERR_FAIL;
    }
    memset(buffer, 0, static_cast<size_t>(bufsize));
    clogd(glog, 8, "[ser_com_read]: start bufsize=[%d]  timeout=[%d]ms,  ntc=[%d]\n", bufsize,
          timeout, ntc);

    const ser_platform_ops &ops = platform();
    const auto limit = static_cast<uint32_t>(timeout);
    const ser_timeouts timeouts{kQuietLineMs, 0, limit, 0, limit};
    if (!ops.set_timeouts(sc->handle, &timeouts)) {
        cloge(glog, 0, "[ser_com_read]: SetCommTimeouts err %d\n",
              static_cast<int>(ops.last_error()));
        return SER_ERR_FAIL;
    }

    uint32_t status = 0;
    int32_t room = bufsize - 1;  // one byte stays for the terminating zero
    int32_t pos = 0;
    int32_t calls = 0;
    int32_t found = (tc == nullptr && ntc <= 0) ? -1 : 0;
    const uint32_t start = msec_time();
    int32_t remaining = timeout;
    int32_t elapsed = 0;
    while (remaining > 0 && room > 0 && found < ntc) {
        uint32_t got = 0;
        const bool ok = ops.read(sc->handle, buffer + pos, static_cast<uint32_t>(room), &got);
        calls++;
        if (got > 0) {
            // The rest of the buffer is still zero, so the new bytes form a text.
            clogd(glog, 8, "[ser_com_read]: read %d bytes, [%s]\n", static_cast<int>(got),
                  com2fix(buffer + pos));
            room -= static_cast<int32_t>(got);
            if (tc != nullptr) {
                for (uint32_t i = 0; i < got; i++) {
                    for (const char *t = tc; *t != '\0'; t++) {
                        if (buffer[pos + static_cast<int32_t>(i)] == *t) found++;
                    }
                }
                clogd(glog, 8, "[ser_com_read] tc count %d\n", found);
            } else if (ntc > 0) {
                found += static_cast<int32_t>(got);
            }
            pos += static_cast<int32_t>(got);
        }
        if (!ok) {
            status = failure_status(sc, "[ser_com_read]: ClearCommError err\n");
            clogd(glog, 8, "[ser_com_read]: read err, 0x%x, rbuf=[%s]\n", status, com2fix(buffer));
            break;
        }
        elapsed = elapsed_since(start);
        remaining = timeout - elapsed;
    }
    buffer[pos] = '\0';
    clogd(glog, 8, "[ser_com_read]: read [%d] times, [%d] bytes,took %d msec\n", calls, pos,
          elapsed);
    if (count != nullptr) *count = pos;
    if (remaining <= 0 && room > 0 && found < ntc) {
        clogd(glog, 8, "[ser_com_read]: took %d  msec out of %d msec\n", elapsed, timeout);
        status |= SER_ERR_TIMEOUT;
    }
    clogd(glog, 7, "[ser_com_read] end [%s], err 0x%x\n",
          (tc == nullptr && ntc > 0) ? com2hex(buffer, pos) : com2fix(buffer), status);
    return status;
}

uint32_t ser_com_write_read_ex(ser_com *sc, const void *wbuf, int32_t wlen, char *rbuf,
                               int32_t rbufsize, int32_t *count, const char *tc, int32_t ntc,
                               int32_t timeout, int32_t rfirstw) {
    if (!usable(sc)) {
        cloge(glog, 0, "[ser_com_write_read_ex]: dev not init\n");
        return SER_ERR_FAIL;
    }
    clogd(glog, 8, "[ser_com_write_read_ex] : rfirstw =%d  tc=[%s] ntc=%d ---   start\n", rfirstw,
          tc != nullptr ? tc : "(null)", ntc);
    if (rfirstw != 0) drain_stale_input(sc);

    uint32_t status = ser_com_write(sc, wbuf, wlen, timeout);
    if (status != 0) {
        if (status & SER_ERR_TIMEOUT) {
            clogd(glog, 8, "[ser_com_write_read_ex] ist_write timeout %d ms, err 0x%x\n", timeout,
                  status);
        } else {
            clogd(glog, 8, "[ser_com_write_read_ex] write err 0x%x\n", status);
        }
        return status;
    }
    status = ser_com_read(sc, rbuf, rbufsize, count, tc, ntc, timeout);
    if (status & SER_ERR_TIMEOUT) {
        clogd(glog, 8, "[ser_com_write_read_ex] 2nd_read timeout %d ms, err 0x%x\n", timeout,
              status);
    } else {
        clogd(glog, 8, "[ser_com_write_read_ex] 2nd_read err 0x%x\n", status);
    }
    return status;
}

uint32_t ser_com_write_read(ser_com *sc, const void *wbuf, int32_t wlen, char *rbuf,
                            int32_t rbufsize, int32_t *count, const char *tc, int32_t ntc,
                            int32_t timeout) {
    return ser_com_write_read_ex(sc, wbuf, wlen, rbuf, rbufsize, count, tc, ntc, timeout, 0);
}

uint32_t ser_com_find_inst(ser_com *sc) {
    const uint32_t deadline = msec_time() + kFindInstDeadlineMs;
    clogd(glog, 7, "[ser_com_find_inst]: timeout %d msec\n",
          static_cast<int32_t>(deadline - msec_time()));
    // 38400 first: the instrument's own rate. 14400, 230400 and 921600 are not tried.
    static constexpr std::array<int32_t, 12> kRates{10, 12, 7, 6, 5, 4, 11, 9, 3, 2, 1, 0};
    static constexpr char kProbe[] = "COM,1\r";
    for (int32_t position = 0;; position++) {
        const int32_t rate = kRates[static_cast<size_t>(position)];
        if (rate == 0) {
            clogd(glog, 8, "[ser_com_find_inst] try baud over %d----- \n", position);
            break;
        }
        const uint32_t status =
            ser_com_setport(sc, SER_FLOW_RTSCTS, rate, SER_PARITY_EVEN, SER_STOP_2, SER_WORD_7);
        if (status != 0) {
            cloge(glog, 0, "[ser_com_find_inst] ser_com_setport err 0x%x\n", status);
            return status;
        }
        clogd(glog, 7, "[ser_com_find_inst]: Trying Baud Rate[%d] -- %s\n", position,
              baud_rate_to_str(rate));
        std::array<char, kFindInstAnswerSize> answer;
        int32_t got = 0;
        ser_com_write_read_ex(sc, kProbe, sizeof kProbe - 1, answer.data(), kFindInstAnswerSize,
                              &got, "\r", 1, kFindInstTimeoutMs, 1);
    }
    clogd(glog, 6, "[ser_com_find_inst]: timeout %d msec\n",
          static_cast<int32_t>(deadline - msec_time()));
    ser_com_close(sc);
    return 0;
}

const char *com2hex(const void *data, int32_t length) {
    // 64 pairs, 63 separating spaces, "..." and the terminator. One buffer
    // per thread: a rendering stays valid until this thread's next call.
    thread_local char text[64 * 2 + 63 + 3 + 1];
    static constexpr char kDigits[] = "0123456789abcdef";
    const auto *bytes = static_cast<const unsigned char *>(data);
    size_t used = 0;
    const int32_t shown = length < 64 ? length : 64;
    for (int32_t i = 0; i < shown; i++) {
        if (i > 0) text[used++] = ' ';
        text[used++] = kDigits[bytes[i] >> 4];
        text[used++] = kDigits[bytes[i] & 0xf];
    }
    if (length > 64) {
        memcpy(text + used, "...", 3);
        used += 3;
    }
    text[used] = '\0';
    return text;
}

const char *com2fix(const char *text) {
    // The longest rendering: 9999 characters, then one of up to four, "..."
    // and the terminator.
    constexpr size_t kSlotSize = 10003 + 3 + 1;
    // Per thread, so that threads driving their own ports never write into
    // a rendering another thread is still logging.
    thread_local char slots[3][kSlotSize];
    thread_local int ring = 0;
    ring = (ring + 1) % 3;
    char *out = slots[ring];
    if (text == nullptr) {
        snprintf_c(out, kSlotSize, "(null)");
        return out;
    }
    size_t used = 0;
    for (const unsigned char *c = reinterpret_cast<const unsigned char *>(text); *c != 0; c++) {
        if (used > 9999) {
            memcpy(out + used, "...", 3);
            used += 3;
            break;
        }
        if (*c < 0x20) {
            out[used++] = '^';
            out[used++] = static_cast<char>(*c + 0x40);
        } else if (*c >= 0x80) {
            used += static_cast<size_t>(snprintf_c(out + used, kSlotSize - used, "\\%03o", *c));
        } else {
            out[used++] = static_cast<char>(*c);
        }
    }
    out[used] = '\0';
    return out;
}
