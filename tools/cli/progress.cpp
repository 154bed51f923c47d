#include "progress.h"

#include <unistd.h>

#include <chrono>
#include <cstdio>

namespace cli {

progress_line::progress_line(std::string what) : what_(std::move(what)) {
    if (!isatty(STDERR_FILENO)) return;
    thread_ = std::thread([this] {
        static const char spin[] = "|/-\\";
        const auto start = std::chrono::steady_clock::now();
        // Drawn at least once, so that even a quick call shows what it did.
        unsigned i = 0;
        do {
            const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
            std::fprintf(stderr, "\r%c %s %.1f s\x1b[K", spin[i++ % 4], what_.c_str(),
                         elapsed.count());
            std::fflush(stderr);
            for (int t = 0; t < 10 && !done_.load(); ++t)
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
        } while (!done_.load());
        std::fputs("\r\x1b[K", stderr);
        std::fflush(stderr);
    });
}

progress_line::~progress_line() {
    done_.store(true);
    if (thread_.joinable()) thread_.join();
}

}  // namespace cli
