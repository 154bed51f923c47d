#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "clog/clog.h"
#include "support/log_capture.h"

namespace {

// Runs `body` with the static channel's thresholds set, restoring them after.
struct thresholds {
    thresholds(int32_t verb, int32_t debug)
        : saved_verb(default_log.verb), saved_debug(default_log.debug) {
        default_log.verb = verb;
        default_log.debug = debug;
    }
    ~thresholds() {
        default_log.verb = saved_verb;
        default_log.debug = saved_debug;
    }
    int32_t saved_verb, saved_debug;
};

// Everything of a record but its reference count, as a comparable whole.
auto fields(const clog &log) {
    return std::make_tuple(log.verb, log.debug, log.reserved, std::string(log.reserved_text),
                           log.context, log.v_log, log.d_log, log.e_log);
}

TEST(ClogDefaults, StaticChannelStartsQuietWithDefaultOutputs) {
    EXPECT_EQ(glog, &default_log);
    EXPECT_EQ(default_log.refcount, 1);
    EXPECT_EQ(fields(default_log), std::make_tuple(0, 0, 0, std::string(), nullptr, &default_v_log,
                                                   &default_de_log, &default_de_log));
}

TEST(ClogStreams, DebugWritesOnlyAtOrBelowItsThreshold) {
    const struct {
        int32_t debug, level;
        bool written;
    } cases[] = {{5, 5, true},  {5, 6, false},  {5, 4, true},   {0, 0, true},
                 {0, 1, false}, {-1, 0, false}, {-1, -1, true}, {8, 8, true}};
    for (const auto &c : cases) {
        thresholds t(0, c.debug);
        testing::internal::CaptureStderr();
        clogd(glog, c.level, "[t]: %d\n", c.level);
        EXPECT_EQ(testing::internal::GetCapturedStderr(),
                  c.written ? "[t]: " + std::to_string(c.level) + "\n" : "")
            << "level " << c.level << ", debug " << c.debug;
    }
}

TEST(ClogStreams, VerboseGoesToStdoutDebugAndErrorToStderr) {
    thresholds t(3, 3);
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    clogv(glog, 3, "v%d\n", 1);
    clogv(glog, 4, "hidden\n");
    clogd(glog, 3, "d%d\n", 2);
    cloge(glog, 0, "e%d\n", 3);
    const std::string out = testing::internal::GetCapturedStdout();
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(out, "v1\n");
    EXPECT_EQ(err, "d2\ne3\n");
}

TEST(ClogStreams, ErrorsPassAtAnyLevelEvenWithNegativeThresholds) {
    thresholds t(-5, -5);
    testing::internal::CaptureStderr();
    cloge(glog, 7, "a\n");
    cloge(glog, 1, "b\n");
    cloge(glog, 0, "c\n");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "a\nb\nc\n");
}

TEST(ClogStreams, NullChannelIsAcceptedEverywhere) {
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    clogv(nullptr, 0, "x");
    clogd(nullptr, 0, "x");
    cloge(nullptr, 0, "x");
    dump_bytes(nullptr, "p", "abc", 0, 3);
    clog_set_debug(nullptr, 3);
    clog_set_verb(nullptr, 3);
    EXPECT_EQ(clog_del(nullptr), 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}

TEST(ClogRecord, NewRecordIsSetUpFromItsArguments) {
    int context = 0;
    clog *log = new_clog(nullptr, -2, 7, &context);
    ASSERT_NE(log, nullptr);
    EXPECT_EQ(log->refcount, 1);
    EXPECT_EQ(fields(*log), std::make_tuple(-2, 7, 0, std::string(), &context, &default_v_log,
                                            &default_de_log, &default_de_log));
    clog_set_debug(log, 2);
    clog_set_verb(log, 1);
    EXPECT_EQ(log->debug, 2);
    EXPECT_EQ(log->verb, 1);
    EXPECT_EQ(clog_del(log), 0);
}

TEST(ClogRecord, ReferenceCountingSharesOneRecord) {
    clog *log = new_clog_default(nullptr);
    EXPECT_EQ(fields(*log), fields(default_log));
    clog *again = new_clog(log, 5, 5, nullptr);  // other arguments ignored
    EXPECT_EQ(again, log);
    EXPECT_EQ(log->refcount, 2);
    EXPECT_EQ(log->debug, 0);
    EXPECT_EQ(clog_del(log), 0);
    EXPECT_EQ(log->refcount, 1);
    // Still usable after the first release.
    testing::internal::CaptureStderr();
    clogd(log, 0, "alive\n");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "alive\n");
    EXPECT_EQ(clog_del(log), 0);  // frees; ASan reports a leak or double free otherwise
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

TEST(DumpBytes, ShortInputMakesOnePaddedLineWithDotsForNonPrinting) {
    EXPECT_EQ(dump("rx ", {0x41, 0x42, 0x0a}, 0),
              std::vector<std::string>{"rx 0000: 41 42 0a" + spaces(13 * 3) + "  AB.\n"});
    EXPECT_EQ(dump("", {0xe9, 0x7f, 0x1f, 0x7e}, 0),
              std::vector<std::string>{"0000: e9 7f 1f 7e" + spaces(12 * 3) + "  ...~\n"});
}

TEST(DumpBytes, SeventeenBytesMakeTwoLines) {
    std::vector<unsigned char> bytes;
    for (int i = 0; i < 17; i++) bytes.push_back(static_cast<unsigned char>('a' + i));
    const auto lines = dump(nullptr, bytes, 0);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0],
              "0000: 61 62 63 64 65 66 67 68 69 6a 6b 6c 6d 6e 6f 70  abcdefghijklmnop\n");
    EXPECT_EQ(lines[1], "0010: 71" + spaces(15 * 3) + "  q\n");
}

TEST(DumpBytes, AddressesCountFromBase) {
    const std::vector<unsigned char> bytes(32, 0x20);
    const auto lines = dump("", bytes, 0x1000);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].substr(0, 5), "1000:");
    EXPECT_EQ(lines[1].substr(0, 5), "1010:");
    // A space shows as itself in the character column.
    EXPECT_EQ(lines[0].substr(lines[0].size() - 19), "  " + spaces(16) + "\n");
    const auto wide = dump("", {0x00}, 0x12345);
    EXPECT_EQ(wide[0].substr(0, 6), "12345:");
    // Near the top of the signed range the address wraps into eight digits.
    const auto top = dump("", bytes, 0x7ffffff8);
    EXPECT_EQ(top[1].substr(0, 9), "80000008:");
}

TEST(DumpBytes, WritesNothingForEmptyInputOrWhenDebugIsNegative) {
    EXPECT_TRUE(dump("", {}, 0).empty());
    EXPECT_TRUE(dump("", {1, 2, 3}, 0, -1).empty());
    log_capture capture(0);
    dump_bytes(glog, "", "abc", 0, -4);
    EXPECT_TRUE(capture.debug().empty());
}

TEST(DumpBytes, OverlongPrefixIsCutToFitTheLineBuffer) {
    const std::string prefix(300, 'p');
    const auto lines = dump(prefix.c_str(), std::vector<unsigned char>(16, 'x'), 0x7fffff00);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].size(), 199u);  // the whole 200-byte buffer less its terminator
    EXPECT_EQ(lines[0].substr(0, 124), std::string(123, 'p') + "7");
    EXPECT_EQ(lines[0].back(), '\n');
}

}  // namespace
