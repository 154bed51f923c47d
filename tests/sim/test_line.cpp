// The instrument on its pseudo-terminal: the record, every fault, pacing,
// hang-up and reconnection, driven by a plain POSIX host.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>

#include "ca410_sim.h"
#include "sim_host.h"

using namespace std::chrono_literals;
using steady = std::chrono::steady_clock;

namespace {

const std::string identity = "OK00,CA-410,CA-P427,CA-410 SIM     ,1.21.0004,41000001,27000001\r";

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

TEST_F(SimLine, EchoedAnswersAreRecordedButNotAnswered) {
    host->write("OK00\r");
    ASSERT_TRUE(sim.wait_frames(1, 2000ms));
    EXPECT_EQ(host->read_quiet(100ms), "");
    EXPECT_EQ(sim.frames()[0].answer, "");
}

TEST_F(SimLine, ErrorForTheNextFramesWithoutExecutingThem) {
    sim.fault_error_next(22, 2);
    EXPECT_EQ(host->exchange("MCH,1,7"), "ER22\r");
    EXPECT_EQ(host->exchange("STR,3"), "ER22\r");
    EXPECT_EQ(host->exchange("STR,3"), "OK00,0\r");  // MCH was not executed
}

TEST_F(SimLine, ErrorForOneHeadUntilCleared) {
    sim.fault_error_for_head("MES,", 10);
    EXPECT_EQ(host->exchange("ZRC"), "OK00\r");
    EXPECT_EQ(host->exchange("MES,1"), "ER10\r");
    EXPECT_EQ(host->exchange("MES,1"), "ER10\r");
    sim.fault_error_for_head("ZRC", 21);
    EXPECT_EQ(host->exchange("ZRC"), "ER21\r");
    sim.fault_error_for_head("MES", 0);
    EXPECT_EQ(host->exchange("MES,1").substr(0, 5), "OK00,");
}

TEST_F(SimLine, ArmedAnswerForOneFrameUntilCleared) {
    sim.fault_answer_for_frame("TDR,40,1,7", std::nullopt);
    sim.fault_answer_for_frame("MCH,1,7", "OK00,P1,7,1,2,3,4");
    sim.fault_answer_for_frame("STR,7", "");
    EXPECT_EQ(host->exchange("TDR,39,1,7").substr(0, 10), "OK00,CH39,");
    host->write("TDR,40,1,7\r");
    ASSERT_TRUE(sim.wait_frames(2, 2000ms));
    EXPECT_EQ(host->read_quiet(200ms), "");
    EXPECT_EQ(host->exchange("MCH,1,7"), "OK00,P1,7,1,2,3,4\r");
    EXPECT_EQ(host->exchange("STR,7"), "\r");
    EXPECT_EQ(host->exchange("STR,3"), "OK00,0\r");  // MCH was not executed
    sim.clear_faults();
    EXPECT_EQ(host->exchange("TDR,40,1,7").substr(0, 10), "OK00,CH40,");
}

TEST_F(SimLine, WarningNumberReplacesOk00) {
    sim.fault_warning_next(65, 2);
    EXPECT_EQ(host->exchange("STR,0"), "OK65,0\r");
    EXPECT_EQ(host->exchange("MDS,7"), "OK65\r");
    EXPECT_EQ(host->exchange("MDS,7"), "OK00\r");
    sim.fault_warning_next(4, 1);
    EXPECT_EQ(host->exchange("MDS,2"), "ER10\r");  // errors keep their code
}

TEST_F(SimLine, SilentFrameIsLostAndNotExecuted) {
    sim.fault_silent_next(1);
    host->write("MCH,1,9\r");
    ASSERT_TRUE(sim.wait_frames(1, 2000ms));
    EXPECT_EQ(host->read_quiet(200ms), "");
    EXPECT_EQ(host->exchange("STR,3"), "OK00,0\r");
    EXPECT_EQ(sim.frames()[0].answer, "");
}

TEST_F(SimLine, AnswerSplitInTwoBurstsWithAGap) {
    sim.fault_split_next(5, 600);
    const auto start = steady::now();
    host->write("STR,1\r");
    EXPECT_EQ(host->read_quiet(200ms), "OK00,");
    EXPECT_EQ(host->read_answer(), "3\r");
    EXPECT_GE(steady::now() - start, 600ms);
}

TEST_F(SimLine, GarbageBeforeTheAnswer) {
    sim.fault_garbage_next(std::string("\x15\0zz", 4));
    EXPECT_EQ(host->exchange("STR,0"), std::string("\x15\0zzOK00,0\r", 11));
    EXPECT_EQ(host->exchange("STR,0"), "OK00,0\r");
}

TEST_F(SimLine, LateBytesAfterTheAnswer) {
    sim.fault_late_bytes_next("LATE", 100);
    const auto start = steady::now();
    host->write("STR,0\r");
    const std::string all = host->read_answer() + host->read_quiet(300ms);
    EXPECT_EQ(all, "OK00,0\rLATE");
    EXPECT_GE(steady::now() - start, 100ms);
    EXPECT_EQ(sim.frames()[0].answer, "OK00,0\r");
}

TEST_F(SimLine, AnswerWithoutCarriageReturn) {
    sim.fault_no_cr_next();
    host->write("STR,0\r");
    EXPECT_EQ(host->read_answer(300ms), "OK00,0");
    EXPECT_EQ(host->exchange("STR,0"), "OK00,0\r");
}

TEST_F(SimLine, AnswerLongerThan1023Bytes) {
    sim.fault_long_answer_next(1500);
    const std::string a = host->exchange("MDS,7");
    ASSERT_EQ(a.size(), 1500u);
    EXPECT_EQ(a.substr(0, 6), "OK00,0");
    EXPECT_EQ(a.back(), '\r');
    EXPECT_EQ(a.find('\r'), 1499u);
}

TEST_F(SimLine, ChatteringLineNeverFallsQuietUntilSwitchedOff) {
    sim.fault_chatter(true);
    const std::string noise = host->read_quiet(40ms, 300ms);
    EXPECT_GE(noise.size(), 5u);
    EXPECT_EQ(noise.find_first_not_of('#'), std::string::npos);
    sim.fault_chatter(false);
    host->read_quiet(60ms);
    EXPECT_EQ(host->read_quiet(100ms), "");

    sim.fault_chatter(true, 100);  // by itself it stops after 100 ms
    host->read_quiet(60ms, 1000ms);
    EXPECT_EQ(host->read_quiet(100ms), "");
}

TEST_F(SimLine, HangUpInTheMiddleThenServeOnAFreshLine) {
    sim.fault_hangup_next();
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

TEST_F(SimLine, PacedAnswerTakesItsLineTime) {
    sim.set_pacing(true);
    sim.fault_long_answer_next(700);  // 700 characters: 200 ms at 38400 7E2
    const auto start = steady::now();
    EXPECT_EQ(host->exchange("MDS,7").size(), 700u);
    EXPECT_GE(steady::now() - start, 190ms);
}

TEST_F(SimLine, ZeroCalibrationAndMeasurementTakeTheirTime) {
    sim.set_zrc_ms(200);
    sim.set_measure_ms(0, 250);
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

}  // namespace
