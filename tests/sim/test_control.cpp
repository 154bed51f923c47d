// The control language of the ca410-sim program and its socket.
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
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
    ::testing::Values(line_case{"show 1 0 0", "ok XYZ 41.24000 21.26000 1.93000"},
                      line_case{"show 0.5 0 0", "ok XYZ 8.97538 4.62698 0.42004"},  // gamma 2.2
                      line_case{"show-xyz 1 2.5 3", "ok XYZ 1.00000 2.50000 3.00000"},
                      line_case{"show 1 0", "error: usage: show R G B"},
                      line_case{"show-xyz a b c", "error: usage: show-xyz X Y Z"},
                      line_case{"frames", "ok 0"}, line_case{"clear-frames", "ok"},
                      line_case{"channels", "ok 0"}, line_case{"settings", "ok display_mode=0 *"},
                      line_case{"measure-ms 4 10", "error: usage: measure-ms*"},
                      line_case{"fault error-next 100", "error: usage: fault error-next*"},
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

}  // namespace
