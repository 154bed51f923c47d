// Lasting state: the file format, the round trip across runs, and the
// refusal of a corrupt file.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>

#include "ca410_sim.h"
#include "sim_host.h"
#include "sim_state.h"

namespace {

std::string read_file(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

void write_file(const std::string &path, const std::string &text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
}

class StateDir : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_FALSE(dir.path.empty()); }
    void TearDown() override {
        unlink(file.c_str());
        unlink((file + ".tmp").c_str());
    }
    temp_dir dir;
    std::string file = dir.path + "/state";
};

sim_channel odd_channel() {
    sim_channel c;
    c.number = 42;
    c.name = "a %b=c ";  // blanks and the encoding's own characters
    c.target[1] = {1.0 / 3.0, 2.5, -0.125};
    c.measured[3] = {1e-9, 12345.678, 0.1};
    c.matrix[4] = 1.0000000000000002;
    c.date = {2031, 12, 31, 23, 59, 58};
    return c;
}

TEST(StateFormat, RoundTripIsExact) {
    sim::lasting_state st;
    st.settings.display_mode = 7;
    st.settings.internal_freq_hz = 59.94;
    st.settings.color_range_mode = 1;
    st.channels.push_back(odd_channel());
    std::string error;
    const auto back = sim::parse_state(sim::serialize_state(st), &error);
    ASSERT_TRUE(back.has_value()) << error;
    EXPECT_EQ(back->settings.display_mode, 7);
    EXPECT_EQ(back->settings.internal_freq_hz, 59.94);
    EXPECT_EQ(back->settings.color_range_mode, 1);
    ASSERT_EQ(back->channels.size(), 1u);
    const sim_channel &c = back->channels[0];
    const sim_channel o = odd_channel();
    EXPECT_EQ(c.number, o.number);
    EXPECT_EQ(c.name, o.name);
    EXPECT_EQ(c.target, o.target);
    EXPECT_EQ(c.measured, o.measured);
    EXPECT_EQ(c.matrix, o.matrix);
    EXPECT_EQ(c.date, o.date);
}

struct corruption {
    const char *name;
    std::string (*damage)(std::string);
    const char *why;
};

class CorruptStateFile : public StateDir, public ::testing::WithParamInterface<corruption> {};

TEST_P(CorruptStateFile, IsRefusedAndLeftUntouched) {
    sim::lasting_state st;
    st.channels.push_back(odd_channel());
    const std::string damaged = GetParam().damage(sim::serialize_state(st));
    write_file(file, damaged);

    ca410_sim sim([&] {
        sim_options o;
        o.state_file = file;
        return o;
    }());
    std::string error;
    EXPECT_FALSE(sim.start(&error));
    EXPECT_FALSE(sim.running());
    EXPECT_NE(error.find("state file " + file + " is corrupt"), std::string::npos) << error;
    EXPECT_NE(error.find(GetParam().why), std::string::npos) << error;
    EXPECT_EQ(read_file(file), damaged);
    struct stat sb {};
    EXPECT_NE(stat((file + ".tmp").c_str(), &sb), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Damages, CorruptStateFile,
    ::testing::Values(corruption{"CutShort",
                                 [](std::string s) { return s.substr(0, s.size() / 2); },
                                 "no checksum line"},
                      corruption{"FlippedDigit",
                                 [](std::string s) {
                                     s[s.find("display_mode ") + 13] = '5';
                                     return s;
                                 },
                                 "checksum does not match"},
                      corruption{"BadChecksumLine",
                                 [](std::string s) {
                                     return s.substr(0, s.rfind("checksum")) + "checksum xyz\n";
                                 },
                                 "malformed checksum line"}),
    [](const auto &info) { return std::string(info.param.name); });

// An empty file holds no state yet: the instrument starts at power-on and
// writes its state there.
TEST_F(StateDir, EmptyFileStartsAFreshState) {
    for (const char *empty : {"", "\n", " \n\t\n"}) {
        write_file(file, empty);
        sim_options o;
        o.state_file = file;
        o.settings.measure_speed = 2;
        ca410_sim sim(o);
        std::string error;
        ASSERT_TRUE(sim.start(&error)) << error;
        EXPECT_EQ(sim.settings().measure_speed, 2);
        EXPECT_TRUE(sim.channels().empty());
        sim.stop();
        sim::lasting_state st;
        EXPECT_EQ(sim::load_state_file(file, &st, &error), sim::load_result::loaded) << error;
    }
}

TEST_F(StateDir, SettingsAndChannelsSurviveARestart) {
    sim_options o;
    o.state_file = file;
    {
        ca410_sim sim(o);
        std::string error;
        ASSERT_TRUE(sim.start(&error)) << error;
        EXPECT_FALSE(read_file(file).empty());  // written at first start
        sim_host host(sim.port_path());
        ASSERT_TRUE(host.ok());
        for (const char *frame :
             {"ZRC", "MDS,7", "FSC,3", "RGS,0,0,1,4", "MCH,1,5", "IDS,01,05,Kept"})
            ASSERT_EQ(host.exchange(frame), "OK00\r") << frame;
        sim.put_channel(odd_channel());
        struct stat sb {};
        EXPECT_NE(stat((file + ".tmp").c_str(), &sb), 0);  // renamed into place
    }
    ca410_sim sim(o);
    std::string error;
    ASSERT_TRUE(sim.start(&error)) << error;
    sim_host host(sim.port_path());
    ASSERT_TRUE(host.ok());
    EXPECT_EQ(host.exchange("STR,0"), "OK00,7\r");
    EXPECT_EQ(host.exchange("STR,7"), "OK00,3\r");
    EXPECT_EQ(host.exchange("STR,3"), "OK00,5\r");
    EXPECT_EQ(host.exchange("STR,4"), "OK00,Kept      \r");
    EXPECT_EQ(host.exchange("RGR,0,0"), "OK00,1,4\r");
    EXPECT_EQ(host.exchange("STR,23"), "OK00,0\r");  // the zero calibration is not kept
    const auto c = sim.channel(42);
    ASSERT_TRUE(c.has_value());
    EXPECT_EQ(c->name, odd_channel().name);
    EXPECT_EQ(c->matrix, odd_channel().matrix);
}

}  // namespace
