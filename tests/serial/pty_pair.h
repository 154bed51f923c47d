// A pseudo-terminal pair: the library opens the slave, the test plays the instrument.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <string>
#include <string_view>
#include <thread>

class pty_pair {
  public:
    pty_pair() : master_(posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC)) {
        char name[128] = {};
        if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0 ||
            ptsname_r(master_, name, sizeof name) != 0) {
            return;
        }
        slave_path_ = name;
        fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
    }
    ~pty_pair() {
        if (master_ >= 0) close(master_);
    }
    bool ok() const { return !slave_path_.empty(); }
    int master() const { return master_; }
    const std::string &slave_path() const { return slave_path_; }  // "/dev/pts/N"

    // Sends all of `bytes` to the library's side.
    bool send(std::string_view bytes) {
        while (!bytes.empty()) {
            const ssize_t n = ::write(master_, bytes.data(), bytes.size());
            if (n > 0) bytes.remove_prefix(static_cast<size_t>(n));
            if (n < 0 && errno != EAGAIN && errno != EINTR) return false;
            if (n <= 0) std::this_thread::sleep_for(std::chrono::milliseconds(2));  // full
        }
        return true;
    }

    // What the library wrote: once `want` bytes are in, or after `ms` with what came.
    std::string receive(size_t want, int ms) {
        std::string got;
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        char buf[4096];
        while (got.size() < want && std::chrono::steady_clock::now() < end) {
            const ssize_t n = ::read(master_, buf, std::min(sizeof buf, want - got.size()));
            if (n > 0) got.append(buf, static_cast<size_t>(n));
            if (n <= 0) std::this_thread::sleep_for(std::chrono::milliseconds(2));  // none yet
        }
        return got;
    }

  private:
    int master_ = -1;
    std::string slave_path_;
};

using clock_type = std::chrono::steady_clock;

inline long long ms_since(clock_type::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(clock_type::now() - start).count();
}

// Runs the instrument's side on a thread, joined at scope end; `body` polls `stop`.
class pty_peer {
  public:
    explicit pty_peer(std::function<void(const std::atomic<bool> &stop)> body)
        : thread_([this, body = std::move(body)] { body(stop_); }) {}
    ~pty_peer() { join(); }
    void join() {
        stop_ = true;
        if (thread_.joinable()) thread_.join();
    }

  private:
    std::atomic<bool> stop_{false};
    std::thread thread_;
};
