// The log channel, the byte dump, and the clock.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <tuple>
#include <vector>

#include "clog/clog.h"
#include "cmat/clock.h"
#include "ser_nt_com/platform/fake.h"
#include "support/log_capture.h"

namespace {

// The first calls latch the counts and return 0; the tick count wraps modulo 2^32.
// In a child process, so that it runs first and leaves the latches unset.
TEST(Clock, FirstCallsLatchAndTheCountWraps) {
    EXPECT_EXIT(
        {
            ser_fake::install();
            uint32_t &now = ser_fake::get().now_ms;
            now = 5000;
            const bool usec_ok = usec_time() == 0.0 && (now += 3, usec_time() == 3000.0);
            now = 0xFFFFFF00u;
            const bool msec_ok = msec_time() == 0 && (now += 0x180, msec_time() == 0x180u);
            msec_sleep(25);
            const bool slept = ser_fake::calls_of(ser_fake::op::sleep).back().count == 25u;
            std::exit(usec_ok && msec_ok && slept && msec_time() == 0x180u + 25u ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
}

auto fields(const clog &log) {
    return std::make_tuple(log.refcount, log.verb, log.debug, log.reserved,
                           std::string(log.reserved_text), log.context, log.v_log, log.d_log,
                           log.e_log);
}

TEST(ClogRecord, NewRecordsAndTheirReferenceCounts) {
    int context = 0;
    clog *log = new_clog(nullptr, -2, 7, &context);
    EXPECT_EQ(fields(*log), std::make_tuple(1, -2, 7, 0, std::string(), (void *)&context,
                                            &default_v_log, &default_de_log, &default_de_log));
    clog_set_debug(log, 2);
    clog_set_verb(log, 1);
    EXPECT_EQ(new_clog(log, 5, 5, nullptr), log);  // shared; other arguments ignored
    EXPECT_EQ(std::make_tuple(log->refcount, log->debug, log->verb), std::make_tuple(2, 2, 1));
    EXPECT_EQ(clog_del(log), 0);
    EXPECT_EQ(log->refcount, 1);
    testing::internal::CaptureStderr();
    clogd(log, 0, "alive\n");  // still usable after the first release
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "alive\n");
    EXPECT_EQ(clog_del(log), 0);  // frees; ASan reports a leak or double free otherwise
}

// Errors pass at any level, even below negative thresholds; null channels are ignored.
TEST(ClogStreams, ThresholdsAndStreams) {
    const clog saved = default_log;
    for (const auto &[threshold, out, err] :
         {std::tuple{3, "v1\n", "d2\ne0\ne7\n"}, std::tuple{-5, "", "e0\ne7\n"}}) {
        default_log.verb = default_log.debug = threshold;
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
        clogv(glog, 3, "v%d\n", 1);
        clogv(glog, 4, "hidden\n");
        clogd(glog, 3, "d%d\n", 2);
        clogd(glog, 4, "hidden\n");
        cloge(glog, 0, "e%d\n", 0);
        cloge(glog, 7, "e7\n");
        EXPECT_EQ(testing::internal::GetCapturedStdout(), out);
        EXPECT_EQ(testing::internal::GetCapturedStderr(), err);
    }
    default_log = saved;
    clogv(nullptr, 0, "x");
    clogd(nullptr, 0, "x");
    cloge(nullptr, 0, "x");
    dump_bytes(nullptr, "p", "abc", 0, 3);
    clog_set_debug(nullptr, 3);
    clog_set_verb(nullptr, 3);
    EXPECT_EQ(clog_del(nullptr), 0);
}

std::vector<std::string> dump(const char *prefix, const std::vector<unsigned char> &bytes,
                              int32_t base, int32_t debug = 0) {
    log_capture capture(debug);
    dump_bytes(glog, prefix, bytes.data(), base, static_cast<int32_t>(bytes.size()));
    return capture.debug();
}

// Lines of 16 bytes, padded, dots for what does not print; none when filtered.
// An overlong prefix is cut to fit the 200-byte line buffer.
TEST(DumpBytes, LinesAddressesAndPrefix) {
    EXPECT_EQ(dump("rx ", {0x41, 0x42, 0x0a, 0xe9, 0x7f, 0x1f, 0x7e}, 0),
              std::vector<std::string>{"rx 0000: 41 42 0a e9 7f 1f 7e" + std::string(27, ' ') +
                                       "  AB....~\n"});
    std::vector<unsigned char> bytes;
    for (int i = 0; i < 17; i++) bytes.push_back(static_cast<unsigned char>('a' + i));
    EXPECT_EQ(dump(nullptr, bytes, 0),
              (std::vector<std::string>{
                  "0000: 61 62 63 64 65 66 67 68 69 6a 6b 6c 6d 6e 6f 70  abcdefghijklmnop\n",
                  "0010: 71" + std::string(45, ' ') + "  q\n"}));
    EXPECT_TRUE(dump("", {}, 0).empty());
    EXPECT_TRUE(dump("", {1, 2, 3}, 0, -1).empty());
    log_capture capture(0);
    dump_bytes(glog, "", "abc", 0, -4);
    EXPECT_TRUE(capture.debug().empty());
    const std::vector<unsigned char> spaces32(32, 0x20);
    const auto lines = dump("", spaces32, 0x1000);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].substr(0, 5) + lines[1].substr(0, 5), "1000:1010:");
    EXPECT_EQ(lines[0].substr(lines[0].size() - 19), std::string(18, ' ') + "\n");
    EXPECT_EQ(dump("", {0x00}, 0x12345)[0].substr(0, 6), "12345:");
    EXPECT_EQ(dump("", spaces32, 0x7ffffff8)[1].substr(0, 9), "80000008:");  // wraps
    EXPECT_EQ(dump(std::string(300, 'p').c_str(), std::vector<unsigned char>(16, 'x'), 0x7fffff00),
              std::vector<std::string>{std::string(123, 'p') +
                                       "7fffff00: 78 78 78 78 78 78 78 78 78 78 78 78 78 78 78 78"
                                       "  xxxxxxxxxxxxxxxx\n"});
}

}  // namespace
