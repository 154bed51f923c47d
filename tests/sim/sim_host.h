// A minimal host for the simulator's tests: the slave side of its
// pseudo-terminal, opened and driven with plain POSIX calls.
#ifndef CA410_TESTS_SIM_HOST_H
#define CA410_TESTS_SIM_HOST_H

#include <chrono>
#include <csignal>
#include <string>
#include <vector>

class sim_host {
  public:
    explicit sim_host(const std::string &port);
    ~sim_host();
    sim_host(const sim_host &) = delete;
    sim_host &operator=(const sim_host &) = delete;

    bool ok() const { return fd_ >= 0; }
    void write(const std::string &bytes);
    // Everything up to and including the first carriage return, or what came
    // before the time-out.
    std::string read_answer(std::chrono::milliseconds timeout = std::chrono::milliseconds(2000));
    // Everything that arrives until the line has been quiet for `quiet`.
    std::string read_quiet(std::chrono::milliseconds quiet,
                           std::chrono::milliseconds limit = std::chrono::milliseconds(2000));
    // Throws away pending input, sends the frame and a carriage return, reads
    // the answer.
    std::string exchange(const std::string &frame);
    // True when the line reports a hang-up (read error or POLLHUP) in time.
    bool hung_up(std::chrono::milliseconds timeout);

  private:
    int fd_ = -1;
};

// A fresh directory under /tmp, removed (when empty) at the end of the scope.
struct temp_dir {
    temp_dir();
    ~temp_dir();
    std::string path;
};

// A client of the program's control socket; empty answers once it is gone.
struct control_client {
    explicit control_client(const std::string &path);
    ~control_client();
    control_client(const control_client &) = delete;
    control_client &operator=(const control_client &) = delete;
    // Sends one line, returns the answer line without its newline.
    std::string ask(const std::string &line);
    int fd = -1;
};

// The ca410-sim program (CA410_SIM_PROGRAM, defined by every test target that
// compiles this) as a child, its standard output and error on one pipe.
class sim_program {
  public:
    explicit sim_program(std::vector<std::string> args);
    ~sim_program();  // SIGKILL when still running
    sim_program(const sim_program &) = delete;
    sim_program &operator=(const sim_program &) = delete;
    // One line of output, waiting up to 5 s.
    std::string line();
    // Exit status after `sig` (0: none sent), or -1.
    int finish(int sig);
    void kill9() { finish(SIGKILL); }
    int pid() const { return pid_; }

  private:
    int pid_ = -1;
    int out_ = -1;
    bool reaped_ = false;
};

// Data fields of an answer "OKnn,a,b,c\r": {"a", "b", "c"} (empty fields kept).
std::vector<std::string> answer_fields(const std::string &answer);

#endif
