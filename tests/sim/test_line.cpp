// The instrument on its pseudo-terminal, driven by a plain POSIX host, its
// lasting state, and the ca410-sim program as a user starts it.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cctype>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "ca410_sim.h"
#include "sim_control.h"
#include "sim_host.h"

using namespace std::chrono_literals;
using steady = std::chrono::steady_clock;

namespace {

// An instrument taking over the stale link a killed instance left, a host on it.
class sim_line : public ::testing::Test {
  protected:
    void SetUp() override {
        o.link_path = dir.path + "/port";
        ASSERT_EQ(symlink("/dev/pts/999999", o.link_path.c_str()), 0);
        instrument = std::make_unique<ca410_sim>(o);
        ASSERT_TRUE(instrument->start(nullptr));
        host = std::make_unique<sim_host>(o.link_path);
    }
    // Pairs of what is sent and what comes back. A lower-case line goes to the
    // control language, a frame (or "": nothing sent) to the line. A trailing
    // '*' makes a prefix; no answer is silence, the frame recorded unanswered.
    void play(const std::vector<std::string> &steps) {
        for (std::size_t i = 0; i + 1 < steps.size(); i += 2) {
            const std::string &in = steps[i], &want = steps[i + 1];
            SCOPED_TRACE(in + " -> " + want.substr(0, 40));
            const auto n = !want.empty() && want.back() == '*' ? want.size() - 1 : want.npos;
            bool quit = false;
            if (std::islower(static_cast<unsigned char>(in[0]))) {
                EXPECT_EQ(sim::control_execute(*instrument, in, &quit).substr(0, n),
                          want.substr(0, n));
                continue;
            }
            const std::size_t frames = instrument->frames().size() + 1;
            if (!in.empty()) {
                host->read_quiet(0ms);
                host->write(in + "\r");
            }
            if (want.empty()) {
                EXPECT_TRUE(instrument->wait_frames(frames, 2000ms));
                EXPECT_EQ(host->read_quiet(200ms), "");
                EXPECT_EQ(instrument->frames().back().answer, "");
            } else {
                const auto got = host->read_answer(want.back() == '\r' ? 2000ms : 300ms);
                EXPECT_EQ(got.substr(0, n), want.substr(0, n));
            }
        }
    }
    temp_dir dir;
    sim_options o;
    std::unique_ptr<ca410_sim> instrument;
    std::unique_ptr<sim_host> host;
};

TEST_F(sim_line, RecordsEveryFrameWithItsAnswerAndTimes) {
    host->write("STR");
    EXPECT_FALSE(instrument->wait_frames(1, 50ms));  // a frame in pieces is one frame
    host->write(",23\r\n");                          // CR LF from a terminal: the LF opens no frame
    EXPECT_EQ(host->read_answer(), "OK00,0\r");
    play({"STR,0", "OK00,0\r", "frames", "ok 2 STR,23\\r STR,0\\r"});
    const auto f = instrument->frames();
    EXPECT_EQ(f.at(0).answer + f.at(1).answer, "OK00,0\rOK00,0\r");
    EXPECT_GE(f.at(0).received - f.at(0).first_byte, 40ms);
}

TEST_F(sim_line, ControlLinesFaultsPacingAndBusyTimes) {
    play({"show 1 0 0", "ok XYZ 41.24000 21.26000 1.93000", "show 0.5, 0 ,0",
          "ok XYZ 8.97538 4.62698 0.42004", "show-xyz 1 2.5 3", "ok XYZ 1.00000 2.50000 3.00000",
          "show 1,,0", "error: usage: show R G B", "show 1.5 0 0",
          "error: show: each of R G B is 0 to 1, not 1.5", "settings", "ok display_mode=0 *",
          "display gamma 1 0 1",
          "error: display gamma: green gamma is more than 0 and at most 10, not 0",
          "display preset imperfect", "ok", "show 1 1 1", "ok XYZ 93.84464 98.80000 116.99539",
          "display", "ok red=35.5149*", "display preset ideal", "ok", "fault error-next 100",
          "error: fault error-next: CODE is 0 to 99, not 100", "fault answer-frame STR,\\q",
          "error: usage: fault answer-frame*", "fault boom",
          "error: unknown fault 'boom' (try help)", "dance",
          "error: unknown command 'dance' (try help)",
          // An echo is recorded, not answered.
          "OK00", "",
          // Frames answered with an error are not executed.
          "fault error-next 22 2", "ok", "MCH,1,7", "ER22\r", "STR,3", "ER22\r", "STR,3",
          "OK00,0\r", "fault error-head MES, 10", "ok", "ZRC", "OK00\r", "MES,1", "ER10\r", "MES,1",
          "ER10\r", "fault error-head MES 0", "ok", "MES,1", "OK00,*",
          // Armed answers stay until cleared; without a text, none.
          "fault answer-frame TDR,40,1,7", "ok", "fault answer-frame MCH,1,7 OK00,P1,7,1,2,3,4",
          "ok", "TDR,39,1,7", "OK00,CH39,*", "TDR,40,1,7", "", "MCH,1,7", "OK00,P1,7,1,2,3,4\r",
          "STR,3", "OK00,0\r", "fault clear", "ok", "TDR,40,1,7", "OK00,CH40,*",
          // An error keeps its code but uses up a warning.
          "fault warning-next 65 2", "ok", "STR,0", "OK65,0\r", "MDS,2", "ER10\r", "MDS,7",
          "OK00\r", "fault silent-next", "ok", "MCH,1,9", "", "STR,3", "OK00,0\r",
          "fault garbage-next \\x15\\x00zz", "ok", "STR,0", std::string("\x15\0zzOK00,7\r", 11),
          "fault no-cr-next", "ok", "STR,0", "OK00,7", "STR,0", "OK00,7\r",
          "fault late-next 100 LATE", "ok", "STR,0", "OK00,7\r", "", "LATE",
          // A gap after 5 bytes.
          "fault split-next 5 500", "ok", "STR,1", "OK00,", "", "3\r", "fault long-next 1500", "ok",
          "MDS,7", "OK00," + std::string(1494, '0') + "\r", "fault chatter on", "ok", "", "####*",
          "fault chatter off", "ok"});
    host->read_quiet(60ms);
    EXPECT_EQ(host->read_quiet(100ms), "");  // the chatter is off
    // Every usage message is its command's line of the help.
    const std::string help = sim::control_execute(*instrument, "help", nullptr);
    for (const char *bad : {"port now", "pace", "fault chatter maybe", "fault split-next 1"}) {
        const std::string usage = sim::control_execute(*instrument, bad, nullptr);
        EXPECT_NE(help.find(" " + usage.substr(14) + " |"), std::string::npos) << usage;
    }
    instrument->fault_answer_for_frame("STR,7", "");
    EXPECT_EQ(host->exchange("STR,7"), "\r");  // an empty armed answer
    play({"FSC,2", "OK00\r", "pace on", "ok", "fault long-next 700", "ok", "zrc-ms 200", "ok",
          "measure-ms 2 150", "ok"});
    const std::pair<const char *, milliseconds> timed[] = {
        {"MDS,7", 190ms}, {"ZRC", 200ms}, {"MES,1", 150ms}};  // 700 characters at 38400 7E2: 200 ms
    for (const auto &[frame, ms] : timed) {
        const auto start = steady::now();
        EXPECT_EQ(host->exchange(frame).substr(0, 4), "OK00") << frame;
        EXPECT_GE(steady::now() - start, ms) << frame;
    }
}

// Hang-up halfway through an answer, return on a fresh line the link follows, stop.
TEST_F(sim_line, HangsUpComesBackAndStops) {
    const std::string whole = host->exchange("IDO,0,1");
    play({"fault hangup-next", "ok"});
    host->write("IDO,0,1\r");
    const std::string part = host->read_quiet(100ms);
    EXPECT_EQ(part, whole.substr(0, whole.size() / 2));
    EXPECT_TRUE(host->hung_up(2000ms));
    EXPECT_EQ(instrument->frames().at(1).answer, part);  // the record holds what went out
    host = std::make_unique<sim_host>(o.link_path);
    EXPECT_EQ(host->exchange("IDO,0,1"), whole);
    instrument->stop();
    EXPECT_TRUE(host->hung_up(2000ms));
    EXPECT_EQ(instrument->port_path(), "");
    EXPECT_NE(access(o.link_path.c_str(), F_OK), 0);
}

// Settings and channels come back exactly, not the zero calibration, no temporary
// is left; a corrupt file is refused, named, and left as it is.
TEST(sim_state, SurvivesARestartAndACorruptFileIsLeftAlone) {
    temp_dir dir;
    sim_options o;
    o.state_file = dir.path + "/state";
    std::ofstream(o.state_file) << " \n\t\n";  // blank: a fresh state
    sim_channel odd;  // blanks, the encoding's own characters, full precision
    odd.number = 42;
    odd.name = "a %b=c ";
    odd.target[1] = {1.0 / 3.0, 2.5, -0.125};
    odd.matrix[4] = 1.0000000000000002;
    {
        ca410_sim sim(o);
        ASSERT_TRUE(sim.start(nullptr));
        sim_host host(sim.port_path());
        for (const char *frame : {"ZRC", "MDS,7", "SCS,4,59.94"})
            EXPECT_EQ(host.exchange(frame), "OK00\r") << frame;
        sim.put_channel(odd);
        EXPECT_NE(access((o.state_file + ".tmp").c_str(), F_OK), 0);
    }
    std::stringstream good;
    good << std::ifstream(o.state_file).rdbuf();
    {
        ca410_sim sim(o);
        ASSERT_TRUE(sim.start(nullptr));
        const sim_settings s = sim.settings();
        EXPECT_EQ(std::tie(s.display_mode, s.sync_mode, s.internal_freq_hz, s.zero_cal_status),
                  std::make_tuple(7, 4, 59.94, 0));
        const sim_channel c = sim.channel(42).value_or(sim_channel{});
        EXPECT_EQ(std::tie(c.number, c.name, c.target, c.matrix),
                  std::tie(odd.number, odd.name, odd.target, odd.matrix));
    }
    const std::string text = good.str();
    std::string flipped = text, error;
    flipped[flipped.find("display_mode ") + 13] = '5';
    const std::pair<std::string, const char *> damages[] = {
        {text.substr(0, text.size() / 2), "no checksum line"},
        {flipped, "checksum does not match"},
        {text.substr(0, text.rfind("checksum")) + "checksum xyz\n", "malformed checksum line"}};
    for (const auto &[damaged, why] : damages) {
        std::ofstream(o.state_file, std::ios::trunc) << damaged;
        EXPECT_FALSE(ca410_sim(o).start(&error));
        EXPECT_NE(error.find("state file " + o.state_file + " is corrupt"), error.npos) << error;
        EXPECT_NE(error.find(why), std::string::npos) << error;
        std::stringstream now;
        now << std::ifstream(o.state_file).rdbuf();
        EXPECT_EQ(now.str(), damaged);
    }
    unlink(o.state_file.c_str());
}

// Port, link, socket and options in effect, another instance refused both, and a
// prompt clean stop on SIGTERM, SIGINT or "quit" while a zero calibration runs.
TEST(sim_executable, ServesAsStartedAndStopsPromptly) {
    for (const int how : {SIGTERM, SIGINT, 0}) {
        temp_dir dir;
        const std::string link = dir.path + "/port", ctl = dir.path + "/ctl";
        sim_program p({"--link", link, "--control", ctl, "--show-xyz", "10,20,30", "--fault",
                       "error-next 99 1"});
        const std::string first = p.line(), port = first.substr(first.rfind(' ') + 1);
        EXPECT_EQ(p.line(), "ca410-sim: linked at " + link);
        EXPECT_EQ(p.line(), "ca410-sim: control socket " + ctl);
        sim_program b({"--link", link}), c({"--control", ctl}), d({"--gamma", "2,0,2"});
        EXPECT_EQ(b.finish(0) + c.finish(0) + d.finish(0), 4);
        EXPECT_EQ(d.line(), "ca410-sim: --gamma: green gamma is more than 0 and at most 10, not 0");
        EXPECT_EQ(b.line(), "ca410-sim: " + link + " links to " + port +
                                ", the line of another running instance; not taking it over");
        EXPECT_NE(c.line().find(ctl + " is the control socket of another"), std::string::npos);
        sim_host host(link);
        control_client client(ctl);
        EXPECT_EQ(host.exchange("IDO,0,1"), "ER99\r");
        for (const char *frame : {"ZRC", "MDS,7"}) EXPECT_EQ(host.exchange(frame), "OK00\r");
        EXPECT_EQ(host.exchange("MES,1").substr(0, 37), "OK00,P1,7,10.000000,20.000000,30.0000");
        EXPECT_EQ(client.ask("zrc-ms 5000"), "ok");
        host.write("ZRC\r");
        const auto start = steady::now();
        if (how == 0) {
            EXPECT_EQ(client.ask("quit"), "ok bye");
        }
        EXPECT_EQ(p.finish(how), 0) << how;
        EXPECT_LT(steady::now() - start, 1s) << how;
        EXPECT_EQ(p.line(), "ca410-sim: stopped");
        EXPECT_EQ(access(link.c_str(), F_OK) + access(ctl.c_str(), F_OK), -2);  // both gone
    }
}

}  // namespace
