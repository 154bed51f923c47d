#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "clog/clog.h"
#include "support/log_capture.h"

namespace {

using testing::internal::CaptureStderr;
using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStderr;
using testing::internal::GetCapturedStdout;

// Everything of a record but its reference count, as a comparable whole.
auto fields(const clog &log) {
    return std::make_tuple(log.verb, log.debug, log.reserved, std::string(log.reserved_text),
                           log.context, log.v_log, log.d_log, log.e_log);
}

TEST(ClogRecord, StaticAndNewRecordsAndTheirReferenceCounts) {
    EXPECT_EQ(glog, &default_log);
    EXPECT_EQ(default_log.refcount, 1);
    EXPECT_EQ(fields(default_log), std::make_tuple(0, 0, 0, std::string(), nullptr, &default_v_log,
                                                   &default_de_log, &default_de_log));
    int context = 0;
    clog *log = new_clog(nullptr, -2, 7, &context);
    EXPECT_EQ(log->refcount, 1);
    EXPECT_EQ(fields(*log), std::make_tuple(-2, 7, 0, std::string(), &context, &default_v_log,
                                            &default_de_log, &default_de_log));
    clog_set_debug(log, 2);
    clog_set_verb(log, 1);
    EXPECT_EQ(new_clog(log, 5, 5, nullptr), log);  // shared; other arguments ignored
    EXPECT_EQ(std::make_tuple(log->refcount, log->debug, log->verb), std::make_tuple(2, 2, 1));
    EXPECT_EQ(clog_del(log), 0);
    EXPECT_EQ(log->refcount, 1);
    CaptureStderr();
    clogd(log, 0, "alive\n");  // still usable after the first release
    EXPECT_EQ(GetCapturedStderr(), "alive\n");
    EXPECT_EQ(clog_del(log), 0);  // frees; ASan reports a leak or double free otherwise
    log = new_clog_default(nullptr);
    EXPECT_EQ(fields(*log), fields(default_log));
    EXPECT_EQ(clog_del(log), 0);
}

// Verbose goes to stdout, debug and errors to stderr; errors pass at any
// level, even with negative thresholds.
TEST(ClogStreams, ThresholdsAndStreams) {
    const clog saved = default_log;
    for (const auto &[threshold, out, err] :
         {std::tuple{3, "v1\n", "d2\ne0\ne7\n"}, std::tuple{-5, "", "e0\ne7\n"}}) {
        default_log.verb = default_log.debug = threshold;
        CaptureStdout();
        CaptureStderr();
        clogv(glog, 3, "v%d\n", 1);
        clogv(glog, 4, "hidden\n");
        clogd(glog, 3, "d%d\n", 2);
        clogd(glog, 4, "hidden\n");
        cloge(glog, 0, "e%d\n", 0);
        cloge(glog, 7, "e7\n");
        EXPECT_EQ(GetCapturedStdout(), out);
        EXPECT_EQ(GetCapturedStderr(), err);
    }
    default_log = saved;
    CaptureStdout();
    CaptureStderr();
    clogv(nullptr, 0, "x");
    clogd(nullptr, 0, "x");
    cloge(nullptr, 0, "x");
    dump_bytes(nullptr, "p", "abc", 0, 3);
    clog_set_debug(nullptr, 3);
    clog_set_verb(nullptr, 3);
    EXPECT_EQ(clog_del(nullptr), 0);
    EXPECT_EQ(GetCapturedStdout() + GetCapturedStderr(), "");
}

std::vector<std::string> dump(const char *prefix, const std::vector<unsigned char> &bytes,
                              int32_t base, int32_t debug = 0) {
    log_capture capture(debug);
    dump_bytes(glog, prefix, bytes.data(), base, static_cast<int32_t>(bytes.size()));
    return capture.debug();
}

std::string spaces(int n) {
    return std::string(static_cast<size_t>(n), ' ');
}

// Lines of 16 bytes, padded, with dots for what does not print.
TEST(DumpBytes, Lines) {
    EXPECT_EQ(dump("rx ", {0x41, 0x42, 0x0a}, 0),
              std::vector<std::string>{"rx 0000: 41 42 0a" + spaces(13 * 3) + "  AB.\n"});
    EXPECT_EQ(dump("", {0xe9, 0x7f, 0x1f, 0x7e}, 0),
              std::vector<std::string>{"0000: e9 7f 1f 7e" + spaces(12 * 3) + "  ...~\n"});
    std::vector<unsigned char> bytes;
    for (int i = 0; i < 17; i++) bytes.push_back(static_cast<unsigned char>('a' + i));
    EXPECT_EQ(dump(nullptr, bytes, 0),
              (std::vector<std::string>{
                  "0000: 61 62 63 64 65 66 67 68 69 6a 6b 6c 6d 6e 6f 70  abcdefghijklmnop\n",
                  "0010: 71" + spaces(15 * 3) + "  q\n"}));
    EXPECT_TRUE(dump("", {}, 0).empty());
    EXPECT_TRUE(dump("", {1, 2, 3}, 0, -1).empty());  // debug negative
    log_capture capture(0);
    dump_bytes(glog, "", "abc", 0, -4);
    EXPECT_TRUE(capture.debug().empty());
}

TEST(DumpBytes, AddressesAndPrefix) {
    const std::vector<unsigned char> spaces32(32, 0x20);
    const auto lines = dump("", spaces32, 0x1000);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].substr(0, 5) + lines[1].substr(0, 5), "1000:1010:");
    EXPECT_EQ(lines[0].substr(lines[0].size() - 19), "  " + spaces(16) + "\n");
    EXPECT_EQ(dump("", {0x00}, 0x12345)[0].substr(0, 6), "12345:");
    // Near the top of the signed range the address wraps into eight digits.
    EXPECT_EQ(dump("", spaces32, 0x7ffffff8)[1].substr(0, 9), "80000008:");
    // An overlong prefix is cut to fit the 200-byte line buffer.
    const std::vector<unsigned char> x16(16, 'x');
    const auto cut = dump(std::string(300, 'p').c_str(), x16, 0x7fffff00);
    ASSERT_EQ(cut.size(), 1u);
    EXPECT_EQ(cut[0].size(), 199u);
    EXPECT_EQ(cut[0].substr(0, 132), std::string(123, 'p') + "7fffff00:");
    EXPECT_EQ(cut[0].back(), '\n');
}

}  // namespace
