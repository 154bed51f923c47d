// The ca410-sim program as a user starts it: it prints its port, answers a
// frame sent by another program, stops promptly and cleanly, and leaves the
// link and socket of another running instance alone.
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <string>
#include <vector>

#include "sim_host.h"

namespace {

TEST(SimProgram, PrintsItsPortAndAnswersTheIdentification) {
    temp_dir dir;
    const std::string link = dir.path + "/port", ctl = dir.path + "/ctl";
    sim_program p({"--link", link, "--control", ctl, "--show-xyz", "10,20,30"});
    const std::string first = p.line();
    const std::string prefix = "ca410-sim: serving on ";
    ASSERT_EQ(first.substr(0, prefix.size()), prefix) << first;
    const std::string port = first.substr(prefix.size());
    EXPECT_EQ(p.line(), "ca410-sim: linked at " + link);
    EXPECT_EQ(p.line(), "ca410-sim: control socket " + ctl);

    sim_host host(port);
    ASSERT_TRUE(host.ok());
    host.write("IDO,0,1\r");
    EXPECT_EQ(host.read_answer().substr(0, 12), "OK00,CA-410,");

    // The display through the control socket.
    EXPECT_EQ(control_client(ctl).ask("show-xyz 1 2 3"), "ok XYZ 1.00000 2.00000 3.00000");
    ASSERT_EQ(host.exchange("ZRC"), "OK00\r");
    ASSERT_EQ(host.exchange("MDS,7"), "OK00\r");
    const auto f = answer_fields(host.exchange("MES,1"));
    ASSERT_GE(f.size(), 7u);
    EXPECT_EQ(f[2], "1.000000");
    EXPECT_EQ(f[3], "2.000000");

    EXPECT_EQ(p.finish(SIGTERM), 0);
    EXPECT_EQ(p.line(), "ca410-sim: stopped");
    EXPECT_NE(access(link.c_str(), F_OK), 0);
    EXPECT_NE(access(ctl.c_str(), F_OK), 0);
}

TEST(SimProgram, RefusesACorruptStateFile) {
    temp_dir dir;
    const std::string state = dir.path + "/state";
    std::ofstream(state) << "not a state\n";
    sim_program p({"--state", state});
    EXPECT_EQ(p.finish(0), 1);
    const std::string err = p.line();
    EXPECT_NE(err.find("is corrupt"), std::string::npos) << err;
    std::ifstream in(state);
    std::string content;
    std::getline(in, content);
    EXPECT_EQ(content, "not a state");
    unlink(state.c_str());
}

TEST(SimProgram, FaultOptionIsArmedAtStart) {
    sim_program p({"--fault", "error-next 99 1"});
    const std::string first = p.line();
    sim_host host(first.substr(first.rfind(' ') + 1));
    ASSERT_TRUE(host.ok());
    EXPECT_EQ(host.exchange("IDO,0,1"), "ER99\r");
    EXPECT_EQ(host.exchange("IDO,0,1").substr(0, 12), "OK00,CA-410,");
    EXPECT_EQ(p.finish(SIGINT), 0);
}

TEST(SimProgram, RefusesTheLinkOrControlSocketOfARunningInstance) {
    temp_dir dir;
    const std::string link = dir.path + "/port", ctl = dir.path + "/ctl",
                      other = dir.path + "/other";
    sim_program a({"--link", link, "--control", ctl});
    a.line();
    a.line();
    ASSERT_EQ(a.line(), "ca410-sim: control socket " + ctl);

    sim_program b({"--link", link});
    EXPECT_EQ(b.finish(0), 1);
    const std::string why = b.line();
    EXPECT_NE(why.find(link + " links to /dev/"), std::string::npos) << why;
    EXPECT_NE(why.find("another running instance"), std::string::npos) << why;

    sim_program c({"--link", other, "--control", ctl});
    EXPECT_EQ(c.finish(0), 1);
    std::string line, all;
    while (!(line = c.line()).empty()) all += line + "\n";
    EXPECT_NE(all.find(ctl + " is the control socket of another running instance"),
              std::string::npos)
        << all;
    EXPECT_NE(access(other.c_str(), F_OK), 0);  // its own link taken back

    // The first one still serves, on both.
    sim_host host(link);
    ASSERT_TRUE(host.ok());
    EXPECT_EQ(host.exchange("IDO,0,1").substr(0, 12), "OK00,CA-410,");
    EXPECT_EQ(control_client(ctl).ask("pace off"), "ok");
    EXPECT_EQ(a.finish(SIGTERM), 0);
}

// From the signal or the "quit" to the exit, with a host on the line and a
// control client connected. The bound is generous for a loaded machine; the
// program takes a few milliseconds.
TEST(SimProgram, StopsPromptlyOnSigtermSigintOrQuit) {
    for (const int how : {SIGTERM, SIGINT, 0}) {
        temp_dir dir;
        const std::string link = dir.path + "/port", ctl = dir.path + "/ctl";
        sim_program p({"--link", link, "--control", ctl, "--zrc-ms", "5000"});
        p.line();
        p.line();
        ASSERT_EQ(p.line(), "ca410-sim: control socket " + ctl);
        sim_host host(link);
        ASSERT_TRUE(host.ok());
        host.write("ZRC\r");  // busy for 5 s
        control_client client(ctl);
        ASSERT_EQ(client.ask("port").substr(0, 3), "ok ");
        const auto start = std::chrono::steady_clock::now();
        if (how == 0) {
            EXPECT_EQ(client.ask("quit"), "ok bye");
        }
        EXPECT_EQ(p.finish(how), 0) << how;
        const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                            std::chrono::steady_clock::now() - start)
                            .count();
        EXPECT_LT(ms, 1000) << "signal " << how;
        EXPECT_EQ(p.line(), "ca410-sim: stopped");
        EXPECT_NE(access(link.c_str(), F_OK), 0);
        EXPECT_NE(access(ctl.c_str(), F_OK), 0);
    }
}

}  // namespace
