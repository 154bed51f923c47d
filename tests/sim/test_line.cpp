// The instrument on its pseudo-terminal: the record, every fault, pacing,
// hang-up and reconnection, driven by a plain POSIX host; faults and timings
// are set through the control language, as the ca410-sim program sets them.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <vector>

#include "ca410_sim.h"
#include "sim_control.h"
#include "sim_host.h"

using namespace std::chrono_literals;
using steady = std::chrono::steady_clock;

namespace {

const std::string identity = "OK00,CA-410,CA-P427,CA-410 SIM     ,1.21.0004,41000001,27000001\r";

std::string control(ca410_sim &sim, const std::string &line) {
    bool quit = false;
    return sim::control_execute(sim, line, &quit);
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

TEST_F(SimLine, RecordsEveryFrameExactlyWithItsAnswer) {
    const auto before = steady::now();
    EXPECT_EQ(host->exchange("IDO,0,1"), identity);
    EXPECT_EQ(host->exchange("ZRC"), "OK00\r");
    host->write("NOPE\r\n");  // CR LF from a terminal: the LF opens no frame
    EXPECT_EQ(host->read_answer(), "ER10\r");
    EXPECT_EQ(host->exchange("STR,23"), "OK00,2\r");

    const auto frames = sim.frames();
    ASSERT_EQ(frames.size(), 4u);
    const char *bytes[] = {"IDO,0,1\r", "ZRC\r", "NOPE\r", "STR,23\r"};
    const char *answers[] = {identity.c_str(), "OK00\r", "ER10\r", "OK00,2\r"};
    for (std::size_t i = 0; i < frames.size(); ++i) {
        EXPECT_EQ(frames[i].bytes, bytes[i]);
        EXPECT_EQ(frames[i].answer, answers[i]);
        EXPECT_LE(before, frames[i].first_byte);
        EXPECT_LE(frames[i].first_byte, frames[i].received);
        if (i > 0) {
            EXPECT_LE(frames[i - 1].received, frames[i].first_byte);
        }
    }
    sim.clear_frames();
    EXPECT_TRUE(sim.frames().empty());
}

TEST_F(SimLine, FrameArrivingInPiecesIsOneFrame) {
    host->write("STR");
    ASSERT_FALSE(sim.wait_frames(1, 50ms));
    host->write(",0\r");
    EXPECT_EQ(host->read_answer(), "OK00,0\r");
    ASSERT_EQ(sim.frames().size(), 1u);
    EXPECT_EQ(sim.frames()[0].bytes, "STR,0\r");
}

// A fault armed through the control language, then frames and their answers:
// "" is silence (the frame recorded with no answer), a trailing '*' a prefix,
// and an answer without a carriage return is read until a short time-out.
struct script_case {
    const char *name;
    std::vector<std::string> steps;  // pairs: what is sent, what comes back
};

class SimLineScript : public SimLine, public ::testing::WithParamInterface<script_case> {};

TEST_P(SimLineScript, AnswersAsArmed) {
    const auto &steps = GetParam().steps;
    std::size_t frames = 0;
    for (std::size_t i = 0; i + 1 < steps.size(); i += 2) {
        const std::string &in = steps[i], &want = steps[i + 1];
        SCOPED_TRACE(in);
        if (in.rfind("fault ", 0) == 0) {
            ASSERT_EQ(control(sim, in), want);
            continue;
        }
        ++frames;
        host->read_quiet(0ms);
        host->write(in + "\r");
        if (want.empty()) {
            ASSERT_TRUE(sim.wait_frames(frames, 2000ms));
            EXPECT_EQ(host->read_quiet(200ms), "");
            EXPECT_EQ(sim.frames().back().answer, "");
        } else if (want.back() == '*') {
            EXPECT_EQ(host->read_answer().substr(0, want.size() - 1),
                      want.substr(0, want.size() - 1));
        } else {
            EXPECT_EQ(host->read_answer(want.back() == '\r' ? 2000ms : 300ms), want);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Faults, SimLineScript,
    ::testing::Values(
        script_case{"EchoedAnswerIsRecordedButNotAnswered", {"OK00", ""}},
        // The frames answered with an error are not executed.
        script_case{"ErrorForTheNextFrames",
                    {"fault error-next 22 2", "ok", "MCH,1,7", "ER22\r", "STR,3", "ER22\r", "STR,3",
                     "OK00,0\r"}},
        script_case{"ErrorForOneHeadUntilCleared",
                    {"fault error-head MES, 10", "ok", "ZRC", "OK00\r", "MES,1", "ER10\r", "MES,1",
                     "ER10\r", "fault error-head ZRC 21", "ok", "ZRC", "ER21\r",
                     "fault error-head MES 0", "ok", "MES,1", "OK00,*"}},
        script_case{
            "ArmedAnswerForOneFrameUntilCleared",
            {"fault answer-frame TDR,40,1,7", "ok", "fault answer-frame MCH,1,7 OK00,P1,7,1,2,3,4",
             "ok", "TDR,39,1,7", "OK00,CH39,*", "TDR,40,1,7", "", "MCH,1,7", "OK00,P1,7,1,2,3,4\r",
             "STR,3", "OK00,0\r", "fault clear", "ok", "TDR,40,1,7", "OK00,CH40,*"}},
        // Errors keep their code.
        script_case{"WarningNumberReplacesOk00",
                    {"fault warning-next 65 2", "ok", "STR,0", "OK65,0\r", "MDS,7", "OK65\r",
                     "MDS,7", "OK00\r", "fault warning-next 4", "ok", "MDS,2", "ER10\r"}},
        script_case{"SilentFrameIsLostAndNotExecuted",
                    {"fault silent-next", "ok", "MCH,1,9", "", "STR,3", "OK00,0\r"}},
        script_case{"GarbageBeforeTheAnswer",
                    {"fault garbage-next \\x15\\x00zz", "ok", "STR,0",
                     std::string("\x15\0zzOK00,0\r", 11), "STR,0", "OK00,0\r"}},
        script_case{"AnswerWithoutCarriageReturn",
                    {"fault no-cr-next", "ok", "STR,0", "OK00,0", "STR,0", "OK00,0\r"}}),
    [](const auto &info) { return std::string(info.param.name); });

// An armed empty text answers a lone carriage return.
TEST_F(SimLine, ArmedEmptyAnswer) {
    sim.fault_answer_for_frame("STR,7", "");
    EXPECT_EQ(host->exchange("STR,7"), "\r");
}

TEST_F(SimLine, AnswerSplitInTwoBurstsWithAGap) {
    ASSERT_EQ(control(sim, "fault split-next 5 600"), "ok");
    const auto start = steady::now();
    host->write("STR,1\r");
    EXPECT_EQ(host->read_quiet(200ms), "OK00,");
    EXPECT_EQ(host->read_answer(), "3\r");
    EXPECT_GE(steady::now() - start, 600ms);
}

TEST_F(SimLine, LateBytesAfterTheAnswer) {
    ASSERT_EQ(control(sim, "fault late-next 100 LATE"), "ok");
    const auto start = steady::now();
    host->write("STR,0\r");
    const std::string all = host->read_answer() + host->read_quiet(300ms);
    EXPECT_EQ(all, "OK00,0\rLATE");
    EXPECT_GE(steady::now() - start, 100ms);
    EXPECT_EQ(sim.frames()[0].answer, "OK00,0\r");
}

TEST_F(SimLine, AnswerLongerThan1023Bytes) {
    ASSERT_EQ(control(sim, "fault long-next 1500"), "ok");
    const std::string a = host->exchange("MDS,7");
    ASSERT_EQ(a.size(), 1500u);
    EXPECT_EQ(a.substr(0, 6), "OK00,0");
    EXPECT_EQ(a.back(), '\r');
    EXPECT_EQ(a.find('\r'), 1499u);
}

TEST_F(SimLine, ChatteringLineNeverFallsQuietUntilSwitchedOff) {
    ASSERT_EQ(control(sim, "fault chatter on"), "ok");
    const std::string noise = host->read_quiet(40ms, 300ms);
    EXPECT_GE(noise.size(), 5u);
    EXPECT_EQ(noise.find_first_not_of('#'), std::string::npos);
    ASSERT_EQ(control(sim, "fault chatter off"), "ok");
    host->read_quiet(60ms);
    EXPECT_EQ(host->read_quiet(100ms), "");

    // By itself it stops after 100 ms.
    ASSERT_EQ(control(sim, "fault chatter on 100"), "ok");
    host->read_quiet(60ms, 1000ms);
    EXPECT_EQ(host->read_quiet(100ms), "");
}

TEST_F(SimLine, HangUpInTheMiddleThenServeOnAFreshLine) {
    ASSERT_EQ(control(sim, "fault hangup-next"), "ok");
    host->write("IDO,0,1\r");
    const std::string part = host->read_quiet(100ms);
    EXPECT_EQ(part, identity.substr(0, identity.size() / 2));
    EXPECT_TRUE(host->hung_up(2000ms));
    EXPECT_EQ(sim.frames()[0].answer, part);

    sim_host again(sim.port_path());
    ASSERT_TRUE(again.ok());
    EXPECT_EQ(again.exchange("IDO,0,1"), identity);
}

TEST_F(SimLine, HostsMayOpenAndCloseThePortAgainAndAgain) {
    host.reset();
    for (int i = 0; i < 10; ++i) {
        sim_host h(sim.port_path());
        ASSERT_TRUE(h.ok()) << i;
        EXPECT_EQ(h.exchange("IDO,0,1"), identity) << i;
    }
}

// A Win32 host under Wine asks for 7E2 with RTS/CTS on every open. A pty
// keeps 8 bits and no parity, and glibc fails a request of which the kernel
// applied nothing: only a line put back after the previous host can take it.
TEST_F(SimLine, LineSettingsComeBackAfterAHostCloses) {
    const auto set_7e2 = [](int fd) {
        termios t{};
        tcgetattr(fd, &t);
        t.c_iflag |= IGNBRK | INPCK;
        t.c_cflag = (t.c_cflag & ~CSIZE) | CS7 | PARENB | CSTOPB | CRTSCTS;
        return tcsetattr(fd, TCSANOW, &t);
    };
    // The simulation looks at hosts' closes before it answers a frame: once
    // a host has its answer, every earlier close has been dealt with.
    const auto exchange = [](int fd) {
        std::string answer;
        if (::write(fd, "IDO,0,1\r", 8) != 8) return answer;
        char c = 0;
        pollfd p{fd, POLLIN, 0};
        while (answer.find('\r') == std::string::npos && poll(&p, 1, 2000) > 0 &&
               ::read(fd, &c, 1) == 1)
            answer += c;
        return answer;
    };
    host.reset();
    for (int i = 0; i < 3; ++i) {
        const int fd = ::open(sim.port_path().c_str(), O_RDWR | O_NOCTTY);
        ASSERT_GE(fd, 0);
        EXPECT_EQ(exchange(fd), identity) << i;
        termios fresh{};
        tcgetattr(fd, &fresh);
        EXPECT_EQ(fresh.c_cflag & (CSIZE | PARENB | CSTOPB | CRTSCTS), CS8) << i;
        EXPECT_EQ(fresh.c_iflag, 0u) << i;
        EXPECT_EQ(set_7e2(fd), 0) << i;
        ::close(fd);
    }
}

TEST_F(SimLine, PacedAnswerTakesItsLineTime) {
    // 700 characters: 200 ms at 38400 7E2.
    ASSERT_EQ(control(sim, "pace on"), "ok");
    ASSERT_EQ(control(sim, "fault long-next 700"), "ok");
    const auto start = steady::now();
    EXPECT_EQ(host->exchange("MDS,7").size(), 700u);
    EXPECT_GE(steady::now() - start, 190ms);
}

TEST_F(SimLine, ZeroCalibrationAndMeasurementTakeTheirTime) {
    ASSERT_EQ(control(sim, "zrc-ms 200"), "ok");
    ASSERT_EQ(control(sim, "measure-ms 0 250"), "ok");
    auto start = steady::now();
    EXPECT_EQ(host->exchange("ZRC"), "OK00\r");
    EXPECT_GE(steady::now() - start, 200ms);
    EXPECT_EQ(host->exchange("FSC,0"), "OK00\r");
    start = steady::now();
    EXPECT_EQ(host->exchange("MES,1").substr(0, 5), "OK00,");
    EXPECT_GE(steady::now() - start, 250ms);
}

TEST_F(SimLine, StopHangsUpTheLine) {
    sim.stop();
    EXPECT_FALSE(sim.running());
    EXPECT_TRUE(host->hung_up(2000ms));
    EXPECT_EQ(sim.port_path(), "");
    sim.stop();  // twice is harmless
}

TEST(SimInstances, SeveralAtOnceWithLinks) {
    temp_dir dir;
    sim_options a, b;
    a.link_path = dir.path + "/a";
    b.link_path = dir.path + "/b";
    b.identity.serial = "41000002";
    {
        ca410_sim sa(a), sb(b);
        std::string error;
        ASSERT_TRUE(sa.start(&error)) << error;
        ASSERT_TRUE(sb.start(&error)) << error;
        EXPECT_NE(sa.port_path(), sb.port_path());
        sim_host ha(a.link_path), hb(b.link_path);
        ASSERT_TRUE(ha.ok() && hb.ok());
        EXPECT_EQ(ha.exchange("IDO,0,1"), identity);
        EXPECT_NE(hb.exchange("IDO,0,1").find(",41000002,"), std::string::npos);

        // The link follows a hang-up.
        sa.fault_hangup_next(0);
        ha.write("IDO,0,1\r");
        EXPECT_TRUE(ha.hung_up(2000ms));
        sim_host again(a.link_path);
        ASSERT_TRUE(again.ok());
        EXPECT_EQ(again.exchange("IDO,0,1"), identity);
    }
    struct stat st {};
    EXPECT_NE(lstat(a.link_path.c_str(), &st), 0);  // removed on stop
    EXPECT_NE(lstat(b.link_path.c_str(), &st), 0);
}

TEST(SimInstances, LinkRefusesToReplaceARegularFile) {
    temp_dir dir;
    sim_options o;
    o.link_path = dir.path + "/file";
    FILE *f = fopen(o.link_path.c_str(), "w");
    ASSERT_NE(f, nullptr);
    fclose(f);
    ca410_sim sim(o);
    std::string error;
    EXPECT_FALSE(sim.start(&error));
    EXPECT_NE(error.find("not a symbolic link"), std::string::npos) << error;
    unlink(o.link_path.c_str());
}

// The link of a running instance is refused, and left as it is; a link to a
// line that is gone (its instance was killed) is taken over.
TEST(SimInstances, ALiveLinkIsRefusedAndAStaleOneTakenOver) {
    temp_dir dir;
    sim_options o;
    o.link_path = dir.path + "/port";
    ca410_sim first(o), second(o);
    std::string error;
    ASSERT_TRUE(first.start(&error)) << error;
    EXPECT_FALSE(second.start(&error));
    EXPECT_EQ(error, o.link_path + " links to " + first.port_path() +
                         ", the line of another running instance; not taking it over");
    EXPECT_FALSE(second.running());
    {
        sim_host host(o.link_path);  // still the first one's line
        ASSERT_TRUE(host.ok());
        EXPECT_EQ(host.exchange("IDO,0,1"), identity);
    }
    first.stop();

    ASSERT_EQ(symlink((dir.path + "/gone").c_str(), o.link_path.c_str()), 0);
    ASSERT_TRUE(second.start(&error)) << error;
    sim_host host(o.link_path);
    ASSERT_TRUE(host.ok());
    EXPECT_EQ(host.exchange("IDO,0,1"), identity);
}

}  // namespace
