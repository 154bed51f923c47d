// The host-support interface against the virtual instrument: why an open
// failed, the last failure of a session, the log handler against what
// standard error shows, the result texts and the port lists' arguments.
#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <regex>
#include <string>
#include <thread>
#include <tuple>
#include <utility>
#include <vector>

#include "ca410_host.h"
#include "clog/clog.h"
#include "protocol/sim_device.h"

namespace {

using lines = std::vector<std::pair<int32_t, std::string>>;

lines received;
void collect(void *, int32_t level, const char *line) {
    received.emplace_back(level, line);
}

// What the library writes to standard error during `run`.
template <class F>
std::string stderr_of(F run) {
    std::fflush(stderr);
    const std::string path = ::testing::TempDir() + "ca410_stderr";
    const int saved = dup(2);
    const int file = open(path.c_str(), O_CREAT | O_TRUNC | O_WRONLY, 0600);
    dup2(file, 2);
    run();
    std::fflush(stderr);
    dup2(saved, 2);
    close(saved);
    close(file);
    std::ifstream in(path);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

ca410_failure last() {
    ca410_failure f{};
    EXPECT_EQ(ca410_last_failure(&f), CA_OK);
    return f;
}

class host : public sim_device_test {};

TEST_F(host, AFailedOpenSaysWhy) {
    const std::string file = ::testing::TempDir() + "ca410_not_a_port";
    std::ofstream(file) << "x";
    ca410DeviceRelease(dev);  // the instrument's port is free but for the busy case
    dev = nullptr;
    const struct {
        std::string port;  // empty: the instrument's
        void (*arm)(ca410_sim &);
        int32_t cause;
        uint32_t system_error;
        const char *text;  // its beginning
    } cases[] = {
        {"/dev/ca410_no_such_port", [](ca410_sim &) {}, CA410_CAUSE_NO_SUCH_PORT, ENOENT,
         "no such port: system error 2"},
        {file, [](ca410_sim &) {}, CA410_CAUSE_NOT_SERIAL, ENOTTY,
         "not a serial port: system error 25"},
        {"/tmp", [](ca410_sim &) {}, CA410_CAUSE_NOT_SERIAL, EISDIR,
         "not a serial port: system error 21"},
        {"", [](ca410_sim &s) { s.fault_silent_next(5); }, CA410_CAUSE_NO_ANSWER, 0,
         "no answer: nothing identified itself within 2 s"},
        {"", [](ca410_sim &s) { s.set_identity_answer("OK00,CA-310,1"); }, CA410_CAUSE_NOT_CA410, 0,
         "no CA-410 answered: the answer was \"OK00,CA-310,"},
    };
    ca410_dev *other = nullptr;
    for (const auto &c : cases) {
        SCOPED_TRACE(c.text);
        const std::string port = c.port.empty() ? sim->port_path() : c.port;
        c.arm(*sim);
        EXPECT_EQ(ca410DeviceOpen(&other, port.c_str(), 0), CA_E_OPEN);
        const ca410_failure f = last();
        EXPECT_EQ(f.cause, c.cause);
        EXPECT_EQ(f.system_error, c.system_error);
        EXPECT_EQ(std::string(f.text).rfind(c.text, 0), 0u) << f.text;
        EXPECT_EQ(f.port, port);
        sim->clear_faults();
        sim->set_identity_answer("");
    }
    // Another program holds the port.
    ASSERT_EQ(ca410DeviceOpen(&dev, sim->port_path().c_str(), 0), CA_OK);
    EXPECT_EQ(ca410DeviceOpen(&other, sim->port_path().c_str(), 0), CA_E_OPEN);
    EXPECT_EQ(last().cause, CA410_CAUSE_PORT_BUSY);
    EXPECT_STREQ(last().text, "in use by another program: system error 16");
    // The next call starts afresh.
    ca410DeviceRelease(nullptr);
    EXPECT_EQ(last().cause, CA410_CAUSE_NONE);
    std::remove(file.c_str());
}

TEST_F(host, ASessionsFailuresSayWhy) {
    sim->fault_error_next(10);
    EXPECT_EQ(ca410SetChannel(dev, 3), CA_E_INVALID_COMMAND);
    ca410_failure f = last();
    EXPECT_EQ(
        std::make_tuple(f.cause, f.instrument_error, std::string(f.text), std::string(f.port)),
        std::make_tuple(int32_t{CA410_CAUSE_INSTRUMENT}, 10,
                        std::string("instrument error 10: invalide command"), sim->port_path()));
    sim->fault_silent_next(1);
    EXPECT_EQ(ca410SetChannel(dev, 3), CA_E_TIMEOUT);
    EXPECT_STREQ(last().text, "no answer: nothing within 1000 ms");
    EXPECT_EQ(ca410SetChannel(dev, 3), CA_OK);
    EXPECT_EQ(last().cause, CA410_CAUSE_NONE);
    EXPECT_EQ(ca410_last_failure(nullptr), CA_E_ARGS);
}

// The handler gets the lines standard error would show, with their levels,
// and standard error nothing; NULL puts standard error back.
TEST_F(host, TheLogHandlerGetsWhatStandardErrorWouldShow) {
    const auto session = [this] {
        sim->fault_error_next(10);
        ca410SetChannel(dev, 3);  // failure lines, one made of three pieces
        clog_set_debug(glog, 8);
        ca410SetChannel(dev, 4);  // progress lines of every level
        clog_set_debug(glog, 0);
        ca410WRGBCalibEnd(dev, 0, "", 2024, 1, 1, 0);  // a line without its line end
        ca410SetChannel(dev, 5);
    };
    const std::string shown = stderr_of(session);
    received.clear();
    ASSERT_EQ(ca410_set_log_handler(collect, nullptr), CA_OK);
    EXPECT_EQ(stderr_of(session), "");
    ASSERT_EQ(ca410_set_log_handler(nullptr, nullptr), CA_OK);
    std::string joined;
    for (const auto &[level, line] : received) joined += line + "\n";
    // Times taken differ from run to run; the last line, which has no line
    // end of its own, ends with its call.
    const std::regex took("took [0-9]+");
    EXPECT_EQ(std::regex_replace(joined, took, "took N"),
              std::regex_replace(shown + "\n", took, "took N"));
    const lines expected_heads{
        {CA410_LOG_FAILURE, "[ecode]: [10] : invalide command"},
        {CA410_LOG_FAILURE, "[ca_command]: receive err, [ER10]"},
    };
    EXPECT_EQ(lines(received.begin(), received.begin() + 2), expected_heads);
    EXPECT_NE(std::find(received.begin(), received.end(),
                        std::make_pair(8, std::string("[ca_command]: send [MCH,1,4\r]"))),
              received.end());
    EXPECT_EQ(stderr_of([] { cloge(glog, 0, "[test]: back\n"); }), "[test]: back\n");
}

// Lines of several threads arrive whole, each once.
TEST(host_log, LinesOfSeveralThreadsStayWhole) {
    received.clear();
    ca410_set_log_handler(collect, nullptr);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([t] {
            for (int i = 0; i < 500; ++i)
                cloge(glog, 0, "[thread %d]: line %d of %s\n", t, i, "500");
        });
    }
    for (auto &t : threads) t.join();
    ca410_set_log_handler(nullptr, nullptr);
    ASSERT_EQ(received.size(), 2000u);
    int counts[4] = {};
    for (const auto &[level, line] : received) {
        int t = -1, i = -1;
        ASSERT_EQ(std::sscanf(line.c_str(), "[thread %d]: line %d of 500", &t, &i), 2) << line;
        EXPECT_EQ(line,
                  "[thread " + std::to_string(t) + "]: line " + std::to_string(i) + " of 500");
        ++counts[t];
    }
    EXPECT_EQ(std::vector<int>(counts, counts + 4), std::vector<int>(4, 500));
}

TEST(host_api, ResultTextsAndListArguments) {
    EXPECT_STREQ(ca410_result_name(CA_E_TIMEOUT), "CA_E_TIMEOUT");
    EXPECT_STREQ(ca410_result_meaning(CA_E_TIMEOUT), "communication time-out");
    EXPECT_EQ(ca410_result_name(41), nullptr);
    EXPECT_EQ(ca410_result_meaning(-1), nullptr);
    int32_t codes[40] = {};
    ASSERT_EQ(ca410_result_codes(codes, 40), 33);
    EXPECT_EQ(std::make_pair(codes[0], codes[32]), std::make_pair(0, 55));
    EXPECT_EQ(ca410_result_codes(nullptr, 0), 33);
    EXPECT_STREQ(ca410_cause_text(CA410_CAUSE_PORT_BUSY), "in use by another program");
    EXPECT_EQ(ca410_cause_text(99), nullptr);
    EXPECT_STREQ(ca410_version(), CA410_VERSION_STRING);
    int32_t count = -1;
    ca410_port port{};
    EXPECT_EQ(ca410_list_ports(nullptr, 1, &count), CA_E_ARGS);
    EXPECT_EQ(ca410_list_ports(&port, -1, &count), CA_E_ARGS);
    EXPECT_EQ(ca410_scan_ports(&port, 1, nullptr), CA_E_ARGS);
    // Whatever this machine has, the count is told without room for any.
    EXPECT_EQ(ca410_list_ports(nullptr, 0, &count), CA_OK);
    EXPECT_GE(count, 0);
}

}  // namespace
