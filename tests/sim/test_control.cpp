// The control language of the ca410-sim program and its socket.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <string>

#include "sim_control.h"
#include "sim_host.h"

namespace {

struct line_case {
    const char *line;
    const char *answer;  // exact, or a prefix when it ends in '*'
};

class ControlLines : public ::testing::TestWithParam<line_case> {};

TEST_P(ControlLines, AnswerOneLine) {
    ca410_sim sim;
    bool quit = false;
    const std::string answer = sim::control_execute(sim, GetParam().line, &quit);
    const std::string want = GetParam().answer;
    if (!want.empty() && want.back() == '*')
        EXPECT_EQ(answer.substr(0, want.size() - 1), want.substr(0, want.size() - 1));
    else
        EXPECT_EQ(answer, want);
    EXPECT_EQ(answer.find('\n'), std::string::npos);
    EXPECT_EQ(quit, std::string(GetParam().line) == "quit");
}

// The commands that arm faults and timings answer "ok" in the line tests.
INSTANTIATE_TEST_SUITE_P(
    Table, ControlLines,
    ::testing::Values(
        line_case{"show 1 0 0", "ok XYZ 41.24000 21.26000 1.93000"},
        line_case{"show 0.5 0 0", "ok XYZ 8.97538 4.62698 0.42004"},  // gamma 2.2
        line_case{"show-xyz 1 2.5 3", "ok XYZ 1.00000 2.50000 3.00000"},
        line_case{"show 1,0,0", "ok XYZ 41.24000 21.26000 1.93000"},
        line_case{"show 0.5, 0 ,0", "ok XYZ 8.97538 4.62698 0.42004"},
        line_case{"show 1 0", "error: usage: show R G B (blanks or commas between)"},
        line_case{"show 1,,0", "error: usage: show R G B (blanks or commas between)"},
        line_case{"show 1.5 0 0", "error: show: each of R G B is 0 to 1, not 1.5"},
        line_case{"show-xyz 1,-2,3", "error: show-xyz: each of X Y Z is 0 or more, not -2"},
        line_case{"show-xyz a b c", "error: usage: show-xyz X Y Z*"}, line_case{"frames", "ok 0"},
        line_case{"clear-frames", "ok"}, line_case{"channels", "ok 0"},
        line_case{"settings", "ok display_mode=0 *"},
        line_case{"measure-ms 4 10", "error: measure-ms: SPEED is 0 to 3, not 4"},
        line_case{"measure-ms 1", "error: usage: measure-ms SPEED MS"},
        line_case{"zrc-ms -1", "error: zrc-ms: MS is 0 or more, not -1"},
        line_case{"pace", "error: usage: pace on|off"},
        line_case{"pace maybe", "error: usage: pace on|off"},
        line_case{"fault error-next 100", "error: fault error-next: CODE is 0 to 99, not 100"},
        line_case{"fault warning-next 7 -1", "error: fault warning-next: N is 0 or more, not -1"},
        line_case{"fault answer-frame", "error: usage: fault answer-frame*"},
        line_case{"fault answer-frame STR,\\q", "error: usage: fault answer-frame*"},
        line_case{"fault garbage-next \\q", "error: usage: fault garbage-next*"},
        line_case{"fault chatter maybe", "error: usage: fault chatter*"},
        line_case{"fault boom", "error: unknown fault 'boom'"},
        line_case{"", "error: empty command"}, line_case{"help", "ok commands:*"},
        line_case{"dance", "error: unknown command 'dance' (try help)"},
        line_case{"quit", "ok bye"}));

TEST(ControlBytes, EscapesRoundTrip) {
    const std::string raw("A \r\n\t\\\x01\x7f\xff", 9);
    const std::string text = sim::escape_bytes(raw);
    EXPECT_EQ(text, "A\\x20\\r\\n\\t\\\\\\x01\\x7f\\xff");
    std::string back;
    ASSERT_TRUE(sim::unescape_bytes(text, &back));
    EXPECT_EQ(back, raw);
    EXPECT_FALSE(sim::unescape_bytes("\\x4", &back));
    EXPECT_FALSE(sim::unescape_bytes("tail\\", &back));
}

TEST(ControlSocket, ServesLinesAndQuits) {
    ca410_sim sim;
    std::string error;
    ASSERT_TRUE(sim.start(&error)) << error;
    temp_dir dir;
    const std::string path = dir.path + "/ctl";
    std::atomic<bool> quit{false};
    sim::control_server server(sim);
    ASSERT_TRUE(server.start(
        path, [&] { quit = true; }, &error))
        << error;

    control_client ctl(path);
    ASSERT_GE(ctl.fd, 0);
    const auto ask = [&](const char *line) { return ctl.ask(line); };
    EXPECT_EQ(ask("port"), "ok " + sim.port_path());

    // The host's frames show in the record, escaped, one word each.
    sim_host host(sim.port_path());
    ASSERT_TRUE(host.ok());
    EXPECT_EQ(ask("fault error-next 31"), "ok");
    EXPECT_EQ(host.exchange("IDO,0,1"), "ER31\r");
    EXPECT_EQ(ask("frames"), "ok 1 IDO,0,1\\r");
    EXPECT_EQ(ask("quit"), "ok bye");
    server.stop();
    EXPECT_TRUE(quit);
    EXPECT_NE(access(path.c_str(), F_OK), 0);
}

// A socket another server listens on is refused; one left behind by a
// killed instance (nobody listening) is replaced.
TEST(ControlSocket, ALiveSocketIsRefusedAndAStaleOneReplaced) {
    ca410_sim sim;
    temp_dir dir;
    const std::string path = dir.path + "/ctl", stale = dir.path + "/stale";
    sim::control_server first(sim), second(sim), third(sim);
    std::string error;
    ASSERT_TRUE(first.start(path, nullptr, &error)) << error;
    EXPECT_FALSE(second.start(path, nullptr, &error));
    EXPECT_EQ(error,
              path + " is the control socket of another running instance; not taking it over");
    EXPECT_EQ(control_client(path).ask("pace on"), "ok");  // the first still serves

    const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s", stale.c_str());
    ASSERT_EQ(bind(fd, reinterpret_cast<const sockaddr *>(&addr), sizeof addr), 0);
    close(fd);  // the file stays, nobody listens
    ASSERT_TRUE(third.start(stale, nullptr, &error)) << error;
    EXPECT_EQ(control_client(stale).ask("pace off"), "ok");
    first.stop();
    third.stop();
}

}  // namespace
