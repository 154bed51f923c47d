// The ca410-sim program as a user starts it: its port, options and control
// socket, a prompt clean stop, and the link and socket of another instance.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <string>

#include "sim_host.h"

namespace {

// From the signal or "quit" to the exit while a zero calibration keeps the
// line busy; the bound is generous for a loaded machine.
TEST(SimProgram, ServesAsStartedAndStopsPromptly) {
    for (const int how : {SIGTERM, SIGINT, 0}) {
        temp_dir dir;
        const std::string link = dir.path + "/port", ctl = dir.path + "/ctl";
        sim_program p({"--link", link, "--control", ctl, "--show-xyz", "10,20,30", "--fault",
                       "error-next 99 1"});
        const std::string first = p.line(), prefix = "ca410-sim: serving on /dev/";
        ASSERT_EQ(first.substr(0, prefix.size()), prefix) << first;
        EXPECT_EQ(p.line(), "ca410-sim: linked at " + link);
        EXPECT_EQ(p.line(), "ca410-sim: control socket " + ctl);
        sim_host host(first.substr(prefix.size() - 5));
        control_client client(ctl);
        EXPECT_EQ(client.ask("port"), "ok " + first.substr(prefix.size() - 5));
        EXPECT_EQ(host.exchange("IDO,0,1"), "ER99\r");
        for (const char *frame : {"ZRC", "MDS,7"}) EXPECT_EQ(host.exchange(frame), "OK00\r");
        EXPECT_EQ(host.exchange("MES,1").substr(0, 37), "OK00,P1,7,10.000000,20.000000,30.0000");
        EXPECT_EQ(client.ask("show-xyz 1 2 3"), "ok XYZ 1.00000 2.00000 3.00000");
        EXPECT_EQ(client.ask("zrc-ms 5000"), "ok");
        host.write("ZRC\r");
        const auto start = std::chrono::steady_clock::now();
        if (how == 0) {
            EXPECT_EQ(client.ask("quit"), "ok bye");
        }
        EXPECT_EQ(p.finish(how), 0) << how;
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1)) << how;
        EXPECT_EQ(p.line(), "ca410-sim: stopped");
        EXPECT_NE(access(link.c_str(), F_OK), 0);
        EXPECT_NE(access(ctl.c_str(), F_OK), 0);
    }
}

TEST(SimProgram, LeavesTheLinkAndSocketOfARunningInstanceAndRegularFilesAlone) {
    temp_dir dir;
    const std::string link = dir.path + "/port", ctl = dir.path + "/ctl", other = dir.path + "/o";
    sim_program a({"--link", link, "--control", ctl});
    a.line();
    a.line();
    ASSERT_EQ(a.line(), "ca410-sim: control socket " + ctl);
    sim_program b({"--link", link});
    EXPECT_EQ(b.finish(0), 1);
    EXPECT_NE(b.line().find(link + " links to /dev/"), std::string::npos);
    sim_program c({"--link", other, "--control", ctl});
    EXPECT_EQ(c.finish(0), 1);
    std::string all;
    for (std::string line; !(line = c.line()).empty();) all += line + "\n";
    EXPECT_NE(
        all.find(ctl + " is the control socket of another running instance; not taking it over"),
        std::string::npos)
        << all;
    EXPECT_NE(access(other.c_str(), F_OK), 0);  // its own link taken back
    std::ofstream{other};
    sim_program d({"--link", other});
    EXPECT_EQ(d.finish(0), 1);
    EXPECT_NE(d.line().find("not a symbolic link"), std::string::npos);
    unlink(other.c_str());
    sim_host host(link);  // the first still serves, on both
    EXPECT_EQ(host.exchange("IDO,0,1").substr(0, 12), "OK00,CA-410,");
    EXPECT_EQ(control_client(ctl).ask("pace off"), "ok");
    EXPECT_EQ(a.finish(SIGTERM), 0);
}

}  // namespace
