// One instrument-style exchange (drain, write "OK00\r", read to one "\r")
// over a pseudo-terminal whose master echoes every frame back.
//
// The exchange waits by design: the drain's one 20 ms read on a quiet line,
// and, when the answer does not fill the buffer, the 20 ms quiet-line end of
// the read that takes it. overhead_ms is the wall time per exchange minus
// those waits (design_ms); cpu_ms is the calling thread's CPU time per
// exchange and cpu_ms_process that of the whole process, echo peer included.
// Goals: overhead_ms under 1, cpu_ms under 0.2.
#include <benchmark/benchmark.h>
#include <poll.h>

#include <array>
#include <atomic>
#include <chrono>
#include <ctime>
#include <string>

#include "clog/clog.h"
#include "cmat/clock.h"
#include "ser_nt_com/ser_com.h"
#include "serial/pty_pair.h"

namespace {

constexpr char kFrame[] = "OK00\r";
constexpr int32_t kFrameLength = sizeof kFrame - 1;
constexpr double kQuietReadMs = 20.0;

double cpu_ms(clockid_t which) {
    timespec ts{};
    clock_gettime(which, &ts);
    return static_cast<double>(ts.tv_sec) * 1e3 + static_cast<double>(ts.tv_nsec) / 1e6;
}

// Echoes each frame (up to and including "\r") as soon as it is complete.
void echo_frames(pty_pair &pty, const std::atomic<bool> &stop) {
    std::string pending;
    std::array<char, 256> buf{};
    while (!stop) {
        pollfd p{pty.master(), POLLIN, 0};
        if (poll(&p, 1, 50) <= 0) continue;
        const ssize_t n = read(pty.master(), buf.data(), buf.size());
        if (n <= 0) continue;
        pending.append(buf.data(), static_cast<size_t>(n));
        for (size_t end; (end = pending.find('\r')) != std::string::npos;) {
            pty.send(std::string_view(pending).substr(0, end + 1));
            pending.erase(0, end + 1);
        }
    }
}

// range(0): 0 = a 128-byte answer buffer as the instrument layer uses (the
// answer read ends on the quiet line); 1 = a buffer the answer fills exactly
// (the answer read ends on the byte count).
void BM_Exchange(benchmark::State &state) {
    const bool exact_fit = state.range(0) != 0;
    ser_platform = nullptr;
    cmat_clock = nullptr;
    clog_debug_override quiet(glog, -1);

    pty_pair pty;
    if (!pty.ok()) {
        state.SkipWithError("no pseudo-terminals on this machine");
        return;
    }
    ser_com *sc = new_ser_com(pty.slave_path().c_str());
    if (sc == nullptr || ser_com_setport_ex(sc, SER_FLOW_RTSCTS, SER_BAUD_38400, SER_PARITY_EVEN,
                                            SER_STOP_2, SER_WORD_7, 0) != 0) {
        ser_com_del(sc);
        state.SkipWithError("cannot open the pty slave");
        return;
    }
    pty_peer peer([&pty](const std::atomic<bool> &stop) { echo_frames(pty, stop); });

    std::array<char, 128> answer{};
    const int32_t answer_size = exact_fit ? kFrameLength + 1 : static_cast<int32_t>(answer.size());
    const double design_ms = exact_fit ? kQuietReadMs : 2 * kQuietReadMs;

    const double cpu_thread_start = cpu_ms(CLOCK_THREAD_CPUTIME_ID);
    const double cpu_process_start = cpu_ms(CLOCK_PROCESS_CPUTIME_ID);
    const auto wall_start = std::chrono::steady_clock::now();
    for (auto _ : state) {
        int32_t count = 0;
        const uint32_t status = ser_com_write_read_ex(sc, kFrame, 0, answer.data(), answer_size,
                                                      &count, "\r", 1, 1000, 1);
        if (status != 0 || count != kFrameLength) {
            state.SkipWithError("exchange failed");
            break;
        }
        benchmark::DoNotOptimize(answer.data());
    }
    const double wall_ms =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - wall_start)
            .count();
    const double n = static_cast<double>(state.iterations());
    if (n > 0) {
        state.counters["design_ms"] = design_ms;
        state.counters["overhead_ms"] = wall_ms / n - design_ms;
        state.counters["cpu_ms"] = (cpu_ms(CLOCK_THREAD_CPUTIME_ID) - cpu_thread_start) / n;
        state.counters["cpu_ms_process"] =
            (cpu_ms(CLOCK_PROCESS_CPUTIME_ID) - cpu_process_start) / n;
    }
    peer.join();
    ser_com_del(sc);
}

// Wall time per iteration is dominated by the designed waits, so the
// iteration count is fixed rather than chosen from CPU time.
BENCHMARK(BM_Exchange)
    ->ArgName("exact_fit")
    ->Arg(0)
    ->Arg(1)
    ->Iterations(50)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace
