// What a simulator beside other users and programs must withstand: files
// planted beside its own, a second instance, clients that never read, no
// descriptors left, and requests for more memory than a test ever needs.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "ca410_sim.h"
#include "sim_control.h"
#include "sim_host.h"

using namespace std::chrono_literals;
namespace fs = std::filesystem;

namespace {

// What is planted at dir/NAME before an instance starts on dir/state and
// dir/port: l a link to dir/victim, p an empty 0600 file, b 300000 bytes, f a FIFO.
TEST(sim_hardening, PlantedFilesSecondInstancesAndOversizedStateFiles) {
    const struct {
        const char *name, kind, *error;
    } cases[] = {{"state.tmp", 'l', ""},
                 {"state", 'p', ""},
                 {"state.lock", 'l', "cannot open the lock file"},
                 {"state", 'b', "is larger than 256 KiB"},
                 {"state", 'f', "is not a regular file"},
                 {"port", 'l', "/port is a symbolic link to "}};
    for (const auto &c : cases) {
        temp_dir dir;
        const std::string at = dir.path + "/" + c.name, victim = dir.path + "/victim";
        std::ofstream(victim) << "mine";
        if (c.kind == 'l') symlink(victim.c_str(), at.c_str());
        if (c.kind == 'p') (void)std::ofstream(at), fs::permissions(at, fs::perms(0600));
        if (c.kind == 'b') std::ofstream(at) << std::string(300000, 'x');
        if (c.kind == 'f') mkfifo(at.c_str(), 0600);
        struct stat before = {}, after = {};
        lstat(at.c_str(), &before);
        sim_options o;
        o.state_file = dir.path + "/state";
        o.link_path = dir.path + "/port";
        std::string error;
        {
            ca410_sim sim(o);
            EXPECT_EQ(sim.start(&error), *c.error == '\0') << c.name;
            EXPECT_NE(error.find(c.error), std::string::npos) << error;
            sim.set_settings(sim.settings());  // one more save
            EXPECT_FALSE(ca410_sim(o).start(&error));
            EXPECT_NE(error.find(sim.running() ? "is in use by another running" : c.error),
                      error.npos);
        }
        lstat(at.c_str(), &after);
        EXPECT_EQ(after.st_mode, before.st_mode) << c.name;  // a 0600 state stays so
        EXPECT_TRUE(!*c.error || after.st_size == before.st_size) << c.name;
        EXPECT_EQ(fs::file_size(victim), 4u);  // "mine", not a state written through a link
        fs::remove_all(dir.path);
    }
}

TEST(sim_hardening, ControlSocketIsTheOwnersAloneUnderAnyUmask) {
    temp_dir dir;
    ca410_sim sim;
    sim::control_server server(sim);
    const mode_t old = umask(0);
    ASSERT_TRUE(server.start(dir.path + "/ctl", nullptr, nullptr));
    umask(old);
    EXPECT_EQ(fs::status(dir.path + "/ctl").permissions(), fs::perms(0600));
}

long cpu_ticks(int pid) {
    std::stringstream stat;
    stat << std::ifstream("/proc/" + std::to_string(pid) + "/stat").rdbuf();
    std::istringstream in(stat.str().substr(stat.str().rfind(')') + 2));  // from field 3
    std::string skip;
    for (int field = 3; field < 14; ++field) in >> skip;
    long utime = 0, stime = 0;
    in >> utime >> stime;
    return utime + stime;
}

// A client that never reads, one too many, no descriptors left: the others are
// answered, nothing spins, and SIGTERM still stops the program at once.
TEST(sim_hardening, ClientsThatNeverReadOrTooManyStopNothing) {
    temp_dir dir;
    const std::string ctl = dir.path + "/ctl";
    sim_program p({"--control", ctl});
    p.line(), p.line();
    control_client mute(ctl);
    while (send(mute.fd, "help\n", 5, MSG_DONTWAIT) == 5) {
    }
    std::vector<std::unique_ptr<control_client>> others;
    for (int i = 0; i < 15; ++i) others.push_back(std::make_unique<control_client>(ctl));
    EXPECT_EQ(others.back()->ask("port").substr(0, 12), "ok /dev/pts/");
    EXPECT_EQ(control_client(ctl).read_line(), "error: too many control clients");
    others.clear();
    std::this_thread::sleep_for(100ms);  // until the server has closed them
    const auto fds =
        std::distance(fs::directory_iterator("/proc/" + std::to_string(p.pid()) + "/fd"),
                      fs::directory_iterator());
    const rlimit one_more{static_cast<rlim_t>(fds + 1), static_cast<rlim_t>(fds + 1)};
    ASSERT_EQ(prlimit(p.pid(), RLIMIT_NOFILE, &one_more, nullptr), 0);
    control_client first(ctl), second(ctl), third(ctl);  // the last two wait unaccepted
    EXPECT_EQ(first.ask("port").substr(0, 3), "ok ");
    const long before = cpu_ticks(p.pid());
    std::this_thread::sleep_for(500ms);
    EXPECT_LT(cpu_ticks(p.pid()) - before, 15);  // ticks of 10 ms: under a third of a core
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(p.finish(SIGTERM), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);
}

TEST(sim_hardening, OversizedRequestsAreRefusedAndTheRecordKeepsItsCap) {
    ca410_sim sim;
    ASSERT_TRUE(sim.start(nullptr));
    for (std::size_t i = 0; i < ca410_sim::max_armed_frames; ++i)
        sim.fault_answer_for_frame("STR," + std::to_string(i), "OK00");
    const std::pair<const char *, const char *> refusals[] = {
        {"fault long-next 100000000000",
         "error: fault long-next: LENGTH is 0 to 65536, not 100000000000"},
        {"fault answer-frame MES,1",
         "error: fault answer-frame: 256 frames are armed already (fault clear disarms them)"}};
    for (const auto &[command, answer] : refusals)
        EXPECT_EQ(sim::control_execute(sim, command, nullptr), answer);
    // Echoed answers are recorded, never answered: the line stays quiet.
    sim_host host(sim.port_path());
    const std::size_t sent = ca410_sim::max_frames + 10;
    std::string echoes;
    for (int i = 0; i < 200; ++i) echoes += "OK00\r";
    for (std::size_t n = 0; n < sent; n += 200) {
        host.write(echoes.substr(0, 5 * std::min<std::size_t>(200, sent - n)));
        sim.wait_frames(std::min(n + 200, sent), 2000ms);
    }
    ASSERT_TRUE(sim.wait_frames(sent, 5000ms));
    EXPECT_EQ(sim.frames().size(), ca410_sim::max_frames);
    EXPECT_EQ(sim::control_execute(sim, "frames", nullptr).substr(0, 24),
              "ok 10000 dropped=10 OK00");
}

}  // namespace
