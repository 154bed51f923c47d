// The instrument on its pseudo-terminal: the record, every fault, timing,
// hang-up and return, lasting state and the control language, driven by a
// plain POSIX host.
#include <gtest/gtest.h>
#include <termios.h>
#include <unistd.h>

#include <cctype>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "ca410_sim.h"
#include "sim_control.h"
#include "sim_host.h"
#include "sim_state.h"

using namespace std::chrono_literals;
using steady = std::chrono::steady_clock;

namespace {

const std::string identity = "OK00,CA-410,CA-P427,CA-410 SIM     ,1.21.0004,41000001,27000001\r";

std::string control(ca410_sim &sim, const std::string &line) {
    bool quit = false;
    return sim::control_execute(sim, line, &quit);
}

// Pairs of what is sent and what comes back. A lower-case line goes to the
// control language; a frame (or "": nothing sent) to the line. A trailing '*'
// makes a prefix; an empty answer is silence, the frame recorded unanswered.
void play(ca410_sim &sim, sim_host &host, const std::vector<std::string> &steps) {
    for (std::size_t i = 0; i + 1 < steps.size(); i += 2) {
        const std::string &in = steps[i], &want = steps[i + 1];
        SCOPED_TRACE(in + " -> " + want.substr(0, 40));
        const std::size_t n = !want.empty() && want.back() == '*' ? want.size() - 1 : want.npos;
        if (!in.empty() && std::islower(static_cast<unsigned char>(in[0]))) {
            EXPECT_EQ(control(sim, in).substr(0, n), want.substr(0, n));
            continue;
        }
        const std::size_t frames = sim.frames().size() + (in.empty() ? 0 : 1);
        if (!in.empty()) {
            host.read_quiet(0ms);
            host.write(in + "\r");
        }
        if (want.empty()) {
            EXPECT_TRUE(sim.wait_frames(frames, 2000ms));
            EXPECT_EQ(host.read_quiet(200ms), "");
            EXPECT_EQ(sim.frames().back().answer, "");
        } else {
            const auto got = host.read_answer(want.back() == '\r' ? 2000ms : 300ms);
            EXPECT_EQ(got.substr(0, n), want.substr(0, n));
        }
    }
}

class SimLine : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string error;
        ASSERT_TRUE(sim.start(&error)) << error;
        host = std::make_unique<sim_host>(sim.port_path());
        ASSERT_TRUE(host->ok());
    }
    ca410_sim sim;
    std::unique_ptr<sim_host> host;
};

TEST_F(SimLine, RecordsEveryFrameWithItsAnswerAndTimes) {
    const auto before = steady::now();
    EXPECT_EQ(host->exchange("IDO,0,1"), identity);
    host->write("NOPE\r\n");  // CR LF from a terminal: the LF opens no frame
    EXPECT_EQ(host->read_answer(), "ER10\r");
    host->write("STR");
    EXPECT_FALSE(sim.wait_frames(3, 50ms));  // a frame in pieces is one frame
    host->write(",23\r");
    EXPECT_EQ(host->read_answer(), "OK00,0\r");
    const auto frames = sim.frames();
    ASSERT_EQ(frames.size(), 3u);
    const std::string bytes[] = {"IDO,0,1\r", "NOPE\r", "STR,23\r"};
    const std::string answers[] = {identity, "ER10\r", "OK00,0\r"};
    for (std::size_t i = 0; i < frames.size(); ++i) {
        EXPECT_EQ(frames[i].bytes, bytes[i]);
        EXPECT_EQ(frames[i].answer, answers[i]);
        EXPECT_LE(i ? frames[i - 1].received : before, frames[i].first_byte);
        EXPECT_LE(frames[i].first_byte, frames[i].received);
    }
    EXPECT_GE(frames[2].received - frames[2].first_byte, 50ms);
    EXPECT_EQ(control(sim, "frames"), "ok 3 IDO,0,1\\r NOPE\\r STR,23\\r");
    sim.clear_frames();
    EXPECT_TRUE(sim.frames().empty());
}

TEST_F(SimLine, EachFaultAnswersAsArmed) {
    play(sim, *host,
         {"OK00", "",  // an echo is recorded, not answered
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
          "fault split-next 5 500", "ok", "STR,1", "OK00,", "", "3\r",  // a gap after 5 bytes
          "fault long-next 1500", "ok", "MDS,7", "OK00," + std::string(1494, '0') + "\r",
          "fault chatter on", "ok", "", "####*", "fault chatter off", "ok"});
    host->read_quiet(60ms);
    EXPECT_EQ(host->read_quiet(100ms), "");  // the chatter is off
    sim.fault_answer_for_frame("STR,7", "");
    EXPECT_EQ(host->exchange("STR,7"), "\r");  // an empty armed answer
}

TEST_F(SimLine, LateBytesAndChatterForItsTime) {
    ASSERT_EQ(control(sim, "fault late-next 100 LATE"), "ok");
    const auto start = steady::now();
    host->write("STR,0\r");
    EXPECT_EQ(host->read_answer() + host->read_quiet(300ms), "OK00,0\rLATE");
    EXPECT_GE(steady::now() - start, 100ms);
    EXPECT_EQ(sim.frames()[0].answer, "OK00,0\r");
    ASSERT_EQ(control(sim, "fault chatter on 100"), "ok");
    EXPECT_EQ(host->read_quiet(60ms, 1000ms).substr(0, 5), "#####");
    EXPECT_EQ(host->read_quiet(100ms), "");
}

TEST_F(SimLine, PacingAndBusyTimes) {
    play(sim, *host,
         {"pace on", "ok", "fault long-next 700", "ok", "zrc-ms 200", "ok", "measure-ms 2 150",
          "ok"});
    auto start = steady::now();
    EXPECT_EQ(host->exchange("MDS,7").size(), 700u);
    EXPECT_GE(steady::now() - start, 190ms);  // 700 characters at 38400 7E2: 200 ms
    start = steady::now();
    EXPECT_EQ(host->exchange("ZRC"), "OK00\r");
    EXPECT_GE(steady::now() - start, 200ms);
    EXPECT_EQ(host->exchange("FSC,2"), "OK00\r");
    start = steady::now();
    EXPECT_EQ(host->exchange("MES,1").substr(0, 5), "OK00,");
    EXPECT_GE(steady::now() - start, 150ms);
}

TEST_F(SimLine, ControlLinesGetOneAnswerEach) {
    play(sim, *host,
         {"show 1 0 0",
          "ok XYZ 41.24000 21.26000 1.93000",
          "show 0.5, 0 ,0",
          "ok XYZ 8.97538 4.62698 0.42004",  // gamma 2.2
          "show-xyz 1 2.5 3",
          "ok XYZ 1.00000 2.50000 3.00000",
          "show 1,,0",
          "error: usage: show R G B (blanks or commas between)",
          "show 1.5 0 0",
          "error: show: each of R G B is 0 to 1, not 1.5",
          "show-xyz 1,-2,3",
          "error: show-xyz: each of X Y Z is 0 or more, not -2",
          "channels",
          "ok 0",
          "settings",
          "ok display_mode=0 *",
          "port",
          "ok /dev/pts/*",
          "measure-ms 4 10",
          "error: measure-ms: SPEED is 0 to 3, not 4",
          "zrc-ms -1",
          "error: zrc-ms: MS is 0 or more, not -1",
          "pace maybe",
          "error: usage: pace on|off",
          "fault error-next 100",
          "error: fault error-next: CODE is 0 to 99, not 100",
          "fault answer-frame STR,\\q",
          "error: usage: fault answer-frame*",
          "fault boom",
          "error: unknown fault 'boom'",
          "dance",
          "error: unknown command 'dance' (try help)"});
    bool quit = false;
    EXPECT_EQ(sim::control_execute(sim, "", &quit), "error: empty command");
    EXPECT_EQ(sim::control_execute(sim, "quit", &quit), "ok bye");
    EXPECT_TRUE(quit);
}

// Hang-up halfway through an answer, the return on a fresh line the link
// follows, and the stop; a link left by a killed instance is taken over.
TEST(SimInstance, HangsUpComesBackAndStops) {
    temp_dir dir;
    sim_options o;
    o.link_path = dir.path + "/port";
    ASSERT_EQ(symlink((dir.path + "/gone").c_str(), o.link_path.c_str()), 0);
    ca410_sim sim(o);
    std::string error;
    ASSERT_TRUE(sim.start(&error)) << error;
    const std::string first = sim.port_path();
    sim_host host(o.link_path);
    ASSERT_EQ(control(sim, "fault hangup-next"), "ok");
    host.write("IDO,0,1\r");
    const std::string part = host.read_quiet(100ms);
    EXPECT_EQ(part, identity.substr(0, identity.size() / 2));
    EXPECT_TRUE(host.hung_up(2000ms));
    EXPECT_EQ(sim.frames()[0].answer, part);
    EXPECT_NE(sim.port_path(), first);
    // A Win32 host under Wine asks for 7E2 with RTS/CTS on every open; a pty
    // takes it only from the settings it started with, put back after each host.
    for (int i = 0; i < 3; ++i) {
        sim_host again(o.link_path, false);
        EXPECT_EQ(again.exchange("IDO,0,1"), identity);  // earlier closes dealt with by now
        termios t{};
        ASSERT_EQ(tcgetattr(again.fd(), &t), 0);
        EXPECT_EQ(t.c_cflag & (CSIZE | PARENB | CSTOPB | CRTSCTS), CS8) << i;
        EXPECT_EQ(t.c_iflag, 0u) << i;
        t.c_iflag |= IGNBRK | INPCK;
        t.c_cflag = (t.c_cflag & ~CSIZE) | CS7 | PARENB | CSTOPB | CRTSCTS;
        EXPECT_EQ(tcsetattr(again.fd(), TCSANOW, &t), 0) << i;
    }
    sim_host last(o.link_path);
    sim.stop();
    EXPECT_TRUE(last.hung_up(2000ms));
    EXPECT_EQ(sim.port_path(), "");
    EXPECT_NE(access(o.link_path.c_str(), F_OK), 0);
}

// Lasting state: every value exactly across a restart, zero calibration not
// kept, written through a temporary renamed into place; a corrupt file is
// refused, named, and left as it is.
TEST(SimState, SurvivesARestartAndACorruptFileIsLeftAlone) {
    temp_dir dir;
    sim_options o;
    o.state_file = dir.path + "/state";
    std::ofstream(o.state_file) << " \n\t\n";  // blank: a fresh state
    sim_channel odd;  // blanks, the encoding's own characters, full precision
    odd.number = 42;
    odd.name = "a %b=c ";
    odd.target[1] = {1.0 / 3.0, 2.5, -0.125};
    odd.measured[3] = {1e-9, 12345.678, 0.1};
    odd.matrix[4] = 1.0000000000000002;
    odd.date = {2031, 12, 31, 23, 59, 58};
    for (int run = 0; run < 2; ++run) {
        ca410_sim sim(o);
        std::string error;
        ASSERT_TRUE(sim.start(&error)) << error;
        sim_host host(sim.port_path());
        if (run == 0) {
            play(sim, host,
                 {"ZRC", "OK00\r", "MDS,7", "OK00\r", "FSC,3", "OK00\r", "SCS,4,59.94", "OK00\r",
                  "RGS,0,0,1,4", "OK00\r", "MCH,1,5", "OK00\r", "IDS,01,05,Kept", "OK00\r"});
            sim.put_channel(odd);
        } else {
            play(sim, host,
                 {"STR,0", "OK00,7\r", "STR,7", "OK00,3\r", "STR,28", "OK00,59.94\r", "RGR,0,0",
                  "OK00,1,4\r", "STR,3", "OK00,5\r", "STR,4", "OK00,Kept      \r", "STR,23",
                  "OK00,0\r"});
        }
        EXPECT_NE(access((o.state_file + ".tmp").c_str(), F_OK), 0);
    }
    sim::lasting_state st;
    std::string error;
    ASSERT_EQ(sim::load_state_file(o.state_file, &st, &error), sim::load_result::loaded) << error;
    ASSERT_EQ(st.channels.size(), 2u);
    const sim_channel &c = st.channels[1];
    EXPECT_EQ(std::tie(c.number, c.name, c.target, c.measured, c.matrix, c.date),
              std::tie(odd.number, odd.name, odd.target, odd.measured, odd.matrix, odd.date));
    EXPECT_EQ(st.settings.internal_freq_hz, 59.94);

    std::string flipped = sim::serialize_state(st);
    const std::string good = flipped;
    flipped[flipped.find("display_mode ") + 13] = '5';
    const std::pair<std::string, const char *> damages[] = {
        {good.substr(0, good.size() / 2), "no checksum line"},
        {flipped, "checksum does not match"},
        {good.substr(0, good.rfind("checksum")) + "checksum xyz\n", "malformed checksum line"}};
    for (const auto &[text, why] : damages) {
        std::ofstream(o.state_file, std::ios::trunc) << text;
        ca410_sim sim(o);
        EXPECT_FALSE(sim.start(&error));
        EXPECT_NE(error.find("state file " + o.state_file + " is corrupt"), error.npos) << error;
        EXPECT_NE(error.find(why), std::string::npos) << error;
        std::stringstream now;
        now << std::ifstream(o.state_file).rdbuf();
        EXPECT_EQ(now.str(), text);
    }
    unlink(o.state_file.c_str());
}

}  // namespace
