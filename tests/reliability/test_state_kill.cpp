// Lasting state: ca410-sim on a state file with five channels takes speed
// changes (each rewrites the file) and is SIGKILLed at random, CA410_KILL_RUNS
// times (200). Every restart accepts the file, finds every channel, and holds
// the last acknowledged speed or the one in flight.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <random>
#include <string>
#include <thread>

#include "ca410_sim.h"
#include "sim/sim_host.h"

namespace {

TEST(StateUnderKill, EveryRestartFindsTheOldOrTheNewStateAndEveryChannel) {
    const char *env = std::getenv("CA410_KILL_RUNS");
    const int runs = env ? std::atoi(env) : 200;
    temp_dir dir;
    ASSERT_FALSE(dir.path.empty());
    const std::string state = dir.path + "/state", ctl = dir.path + "/ctl";
    {
        sim_options o;
        o.state_file = state;
        ca410_sim seed(o);
        ASSERT_TRUE(seed.start(nullptr));
        for (int n = 1; n <= 5; n++) {
            sim_channel c;
            c.number = n * 11;
            c.name = "KEEP" + std::to_string(n);
            seed.put_channel(c);
        }
    }

    std::mt19937 random(12345);
    int speed = 1;  // the power-on speed, then the last acknowledged one
    int in_flight = -1;
    for (int run = 0; run < runs; run++) {
        SCOPED_TRACE("run " + std::to_string(run));
        sim_program p({"--state", state, "--control", ctl});
        const std::string first = p.line();
        ASSERT_NE(first.find("serving on "), std::string::npos) << first;
        p.line();  // the control socket's line
        {
            control_client control(ctl);
            const std::string s = control.ask("settings");
            const auto at = s.find(" speed=");
            const int found = at == std::string::npos ? -1 : std::atoi(s.c_str() + at + 7);
            EXPECT_TRUE(found == speed || found == in_flight)
                << "speed " << found << ", acknowledged " << speed << ", in flight " << in_flight;
            EXPECT_EQ(control.ask("channels").rfind("ok 5", 0), size_t{0});
            speed = found;
        }

        sim_host host(first.substr(first.rfind(' ') + 1));
        ASSERT_TRUE(host.ok());
        std::atomic<bool> killed{false};
        std::thread killer([&, delay = random() % 40] {
            std::this_thread::sleep_for(std::chrono::milliseconds(delay));
            kill(p.pid(), SIGKILL);
            killed = true;
        });
        for (in_flight = -1; !killed; in_flight = -1) {
            in_flight = (speed + 1) % 4;
            host.write("FSC," + std::to_string(in_flight) + "\r");
            if (host.read_answer(std::chrono::milliseconds(300)) != "OK00\r") break;
            speed = in_flight;
        }
        killer.join();
        p.kill9();
    }
    {  // a last clean run takes away the lock file and any temporary a kill left
        sim_options o;
        o.state_file = state;
        EXPECT_TRUE(ca410_sim(o).start(nullptr));
    }
    for (const char *f : {"/state", "/ctl"}) unlink((dir.path + f).c_str());
    EXPECT_EQ(rmdir(dir.path.c_str()), 0);  // nothing else left behind
}

}  // namespace
