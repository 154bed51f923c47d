// Test helpers: a host on the simulator's pseudo-terminal, its socket, its program.
#ifndef CA410_TESTS_SIM_HOST_H
#define CA410_TESTS_SIM_HOST_H

#include <chrono>
#include <csignal>
#include <string>
#include <vector>

using std::chrono::milliseconds;

class sim_host {
  public:
    explicit sim_host(const std::string &port);
    ~sim_host();
    bool ok() const { return fd_ >= 0; }
    void write(const std::string &bytes);
    // What came until a carriage return, or until the time-out.
    std::string read_answer(milliseconds timeout = milliseconds(2000)) {
        return read(true, timeout, timeout);
    }
    // What arrives until the line has been quiet for `quiet`.
    std::string read_quiet(milliseconds quiet, milliseconds limit = milliseconds(2000)) {
        return read(false, quiet, limit);
    }
    std::string exchange(const std::string &frame);  // drops pending input first
    bool hung_up(milliseconds timeout);

  private:
    std::string read(bool to_cr, milliseconds quiet, milliseconds limit);
    int fd_ = -1;
    bool hung_up_ = false;
};

// A fresh directory under /tmp, removed when empty.
struct temp_dir {
    temp_dir();
    ~temp_dir();
    std::string path;
};

struct control_client {
    explicit control_client(const std::string &path);
    ~control_client();
    std::string ask(const std::string &line);  // the answer line; empty once the socket is gone
    std::string read_line();                   // without its line feed
    int fd = -1;
};

// The program CA410_SIM_PROGRAM as a child, its output and errors on one pipe.
class sim_program {
  public:
    explicit sim_program(std::vector<std::string> args);
    ~sim_program();       // SIGKILL when still running
    std::string line();   // one line of output, waiting up to 5 s
    int finish(int sig);  // exit status after `sig` (0: none sent), or -1
    void kill9() { finish(SIGKILL); }
    int pid() const { return pid_; }

  private:
    int pid_ = -1;
    int out_ = -1;
    bool reaped_ = false;
};

#endif
