// Lasting state under SIGKILL: the ca410-sim program, started with a state
// file that holds five user channels, takes setting changes over its serial
// line (each one rewrites the file) and is killed with SIGKILL at a random
// moment, many times over. Every restart must accept the file (never a torn
// one), find every stored channel, and hold either the last acknowledged
// setting or the one in flight when the kill came.
//
// CA410_KILL_RUNS sets the number of kills (default 200).
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "ca410_sim.h"
#include "sim/sim_host.h"

namespace {

constexpr int kChannels = 5;

// "key=value" out of a settings line of the control socket.
int setting(const std::string &line, const std::string &key) {
    const auto at = line.find(" " + key + "=");
    return at == std::string::npos ? -1 : std::atoi(line.c_str() + at + key.size() + 2);
}

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
        for (int n = 1; n <= kChannels; n++) {
            sim_channel c;
            c.number = n * 11;
            c.name = "KEEP" + std::to_string(n);
            seed.put_channel(c);
        }
    }

    std::mt19937 random(12345);
    int speed = 1;  // the power-on speed, then the last acknowledged one
    int in_flight = -1, torn_windows = 0, lost = 0;
    for (int run = 0; run < runs; run++) {
        sim_program p({"--state", state, "--control", ctl});
        const std::string first = p.line();
        ASSERT_NE(first.find("serving on "), std::string::npos) << "run " << run << ": " << first;
        const std::string port = first.substr(first.rfind(' ') + 1);
        p.line();  // the control socket's line
        {
            // What the last kill left: accepted, complete, old or new.
            control_client control(ctl);
            const std::string s = control.ask("settings");
            const int found = setting(s, "speed");
            EXPECT_TRUE(found == speed || found == in_flight)
                << "run " << run << ": speed " << found << ", acknowledged " << speed
                << ", in flight " << in_flight;
            const std::string ch = control.ask("channels");
            const bool all = ch.rfind("ok " + std::to_string(kChannels), 0) == 0;
            EXPECT_TRUE(all) << "run " << run << ": " << ch;
            lost += all ? 0 : 1;
            speed = found;
        }

        sim_host host(port);
        ASSERT_TRUE(host.ok());
        std::atomic<bool> killed{false};
        std::thread killer([&, delay = random() % 40] {
            std::this_thread::sleep_for(std::chrono::milliseconds(delay));
            kill(p.pid(), SIGKILL);
            killed = true;
        });
        in_flight = -1;
        while (!killed) {
            const int next = (speed + 1) % 4;
            in_flight = next;
            host.write("FSC," + std::to_string(next) + "\r");
            if (host.read_answer(std::chrono::milliseconds(300)) != "OK00\r") break;
            speed = next;
            in_flight = -1;
        }
        killer.join();
        p.kill9();
        if (access((state + ".tmp").c_str(), F_OK) == 0) torn_windows++;
    }
    std::printf("state under kill: %d kills, %d inside a write (a .tmp left), %d states lost\n",
                runs, torn_windows, lost);
    RecordProperty("kills", runs);
    RecordProperty("kills_inside_a_write", torn_windows);
    unlink(state.c_str());
    unlink((state + ".tmp").c_str());
    unlink(ctl.c_str());
}

}  // namespace
