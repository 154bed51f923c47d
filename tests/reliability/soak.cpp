// Fault soak: mixed operations against virtual instruments whose faults are
// armed at random. After each call: it returned within its time-out bound
// plus a little slack, its result is one the operation may return, the log
// threshold is where it was; after a faulted call the fault is cleared and
// the same operation on the same handle must succeed (after a hang-up the
// handle is released and the instrument reopened on its new port, as a host
// would). Memory is checked by LeakSanitizer in the sanitizer build.
//
//   soak [--seed N] [--calls N] [--workers N]
//
// Each worker drives its own instrument through its own handle on its own
// thread; the figures are printed at the end. Exit status 0 when nothing failed.
#include <atomic>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <mutex>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "ca410.h"
#include "ca410_sim.h"
#include "clog/clog.h"
#include "ser_nt_ca410/ca410_codes.h"
#include "ser_nt_com/ser_com.h"

namespace {

using clock_type = std::chrono::steady_clock;
constexpr int32_t kLogLevel = 8;
constexpr int kChannel = 5;  // a stored user channel

std::atomic<long> g_calls{0}, g_faults{0}, g_failures{0}, g_reopens{0};
std::mutex g_print;

void sink(void *, clog *, const char *format, va_list args) {
    char line[16384];
    vsnprintf(line, sizeof line, format, args);
}

void fail(int worker, long call, const std::string &what) {
    g_failures++;
    std::lock_guard<std::mutex> hold(g_print);
    std::fprintf(stderr, "soak: worker %d call %ld: %s\n", worker, call, what.c_str());
}

// Codes a single exchange may end with: success, cut data, time-out, port
// failure, short answer, or an instrument error's code.
std::set<int32_t> exchange_codes() {
    std::set<int32_t> codes{CA_OK, CA_E_TIMEOUT, CA_E_COMM, CA_E_PART_DATA, CA_E_RECEIVE};
    for (long c = 0; c < 100; c++) {
        if (const ca_instrument_error *e = ca_instrument_error_find(c)) codes.insert(e->result);
    }
    return codes;
}

struct operation {
    const char *name;
    int weight;
    int exchanges;   // at most, without faults
    int timeout_ms;  // the longest time-out among its exchanges
    std::set<int32_t> allowed;
    std::function<int32_t(ca410_dev *, std::mt19937 &)> run;
};

std::vector<operation> operations() {
    const std::set<int32_t> exchange = exchange_codes();
    std::set<int32_t> calfile_codes = exchange;
    calfile_codes.insert(CA_E_PARSE);
    return {
        {"measure",
         40,
         2,
         3000,
         {CA_OK, CA_E_MEASURE},
         [](ca410_dev *d, std::mt19937 &) {
             double xyz[3];
             return ca410MeasureXYZ(d, xyz);
         }},
        {"set-speed", 15, 1, 1000, exchange,
         [](ca410_dev *d, std::mt19937 &r) { return ca410SetMeasureSpeed(d, r() % 4); }},
        {"set-channel", 10, 1, 1000, exchange,
         [](ca410_dev *d, std::mt19937 &) { return ca410SetChannel(d, 0); }},
        {"black-calibration",
         6,
         1,
         6000,
         {CA_OK, CA_E_ZERO_CAL},
         [](ca410_dev *d, std::mt19937 &) { return ca410BlackCalibration(d); }},
        {"device-stat",
         3,
         16,
         1000,
         {CA_OK, CA_E_GET_CONFIG},
         [](ca410_dev *d, std::mt19937 &) {
             ca410_dev_stat s;
             return ca410GetDeviceStat(d, &s);
         }},
        {"calfile", 6, 2, 1000, calfile_codes,
         [](ca410_dev *d, std::mt19937 &) {
             ca410_calfile f;
             return ca410GetCalfile(d, kChannel, &f);
         }},
        {"callist",
         1,
         99,
         1000,
         {CA_OK, CA_E_GET_CALLIST},
         [](ca410_dev *d, std::mt19937 &) {
             ca410_callist_entry *list = nullptr;
             int32_t count = 0;
             const int32_t rc = ca410GetCallist(d, &list, &count);
             ca410DeleteCallist(&list);
             return rc;
         }},
        {"init",
         2,
         22,
         6000,
         {CA_OK, CA_E_FIRMWARE, CA_E_RESET, CA_E_ZERO_CAL, CA_E_GET_CONFIG, CA_E_GET_RANGE,
          CA_E_DISPLAY_MODE},
         [](ca410_dev *d, std::mt19937 &) { return ca410DeviceInit(d); }},
    };
}

enum class fault { silent, split, garbage, late, no_cr, long_answer, chatter, error, hangup };
constexpr int kFaultKinds = 9;

struct armed {
    fault kind;
    int wait_after_ms = 0;  // before the fault counts as cleared
    int extra_ms = 0;       // time the fault may add beyond the time-outs
};

armed arm(ca410_sim &sim, std::mt19937 &r) {
    armed a{static_cast<fault>(r() % kFaultKinds)};
    switch (a.kind) {
        case fault::silent:
            sim.fault_silent_next();
            break;
        case fault::split:
            sim.fault_split_next(1 + r() % 12, 5 + static_cast<int>(r() % 400));
            a.extra_ms = 400;
            break;
        case fault::garbage:
            sim.fault_garbage_next(std::string("\x15#", 2) + std::string(r() % 8, 'z'));
            break;
        case fault::late: {
            const int after = 10 + static_cast<int>(r() % 300);
            sim.fault_late_bytes_next("OK00,late\r", after);
            a.wait_after_ms = after + 100;
            break;
        }
        case fault::no_cr:
            sim.fault_no_cr_next();
            break;
        case fault::long_answer:
            sim.fault_long_answer_next(1100 + r() % 800);
            break;
        case fault::chatter: {
            const int ms = 50 + static_cast<int>(r() % 400);
            sim.fault_chatter(true, ms);
            a.wait_after_ms = ms + 50;
            a.extra_ms = ms;
            break;
        }
        case fault::error: {
            static const int codes[] = {3, 5, 10, 22, 24, 31, 51, 77, 99};
            sim.fault_error_next(codes[r() % 9]);
            break;
        }
        case fault::hangup:
            sim.fault_hangup_next(r() % 2 ? ca410_sim::half_answer : r() % 8);
            break;
    }
    return a;
}

// Opens the instrument where it serves now and initialises it.
bool reopen(ca410_sim &sim, ca410_dev **dev, const std::string &old_port) {
    ca410DeviceRelease(*dev);
    *dev = nullptr;
    const auto until = clock_type::now() + std::chrono::seconds(3);
    while (sim.port_path() == old_port && clock_type::now() < until) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    g_reopens++;
    return ca410DeviceOpen(dev, sim.port_path().c_str(), 0) == CA_OK &&
           ca410DeviceInit(*dev) == CA_OK;
}

void worker(int id, unsigned seed, long calls) {
    std::mt19937 r(seed * 7919u + static_cast<unsigned>(id));
    const auto ops = operations();
    int total_weight = 0;
    for (const auto &o : ops) total_weight += o.weight;

    ca410_sim sim;
    std::string error;
    if (!sim.start(&error)) {
        fail(id, 0, "simulator: " + error);
        return;
    }
    sim.show_xyz(30.0 + id, 40.0, 50.0);
    sim_channel ch;
    ch.number = kChannel;
    ch.name = "SOAK";
    sim.put_channel(ch);
    ca410_dev *dev = nullptr;
    if (ca410DeviceOpen(&dev, sim.port_path().c_str(), 0) != CA_OK ||
        ca410DeviceInit(dev) != CA_OK) {
        fail(id, 0, "open and init");
        ca410DeviceRelease(dev);
        return;
    }

    const auto timed = [&](const operation &o, long n, int bound_ms) {
        const auto t0 = clock_type::now();
        const int32_t rc = o.run(dev, r);
        const auto ms =
            std::chrono::duration_cast<std::chrono::milliseconds>(clock_type::now() - t0).count();
        g_calls++;
        if (ms > bound_ms) {
            fail(id, n,
                 std::string(o.name) + " took " + std::to_string(ms) + " ms, bound " +
                     std::to_string(bound_ms));
        }
        if (!o.allowed.count(rc))
            fail(id, n, std::string(o.name) + " returned " + std::to_string(rc));
        if (default_log.debug != kLogLevel || clog_debug_level(glog) != kLogLevel) {
            fail(id, n, "log threshold moved to " + std::to_string(clog_debug_level(glog)));
        }
        return rc;
    };

    for (long n = 1; n <= calls; n++) {
        int pick = static_cast<int>(r() % static_cast<unsigned>(total_weight));
        size_t i = 0;
        while (pick >= ops[i].weight) pick -= ops[i++].weight;
        const operation &o = ops[i];
        // Each normal exchange: a 20 ms drain, the frame, the answer.
        const int normal_ms = o.exchanges * 150;
        if (r() % 100 >= 8) {
            timed(o, n, normal_ms + 500);
            continue;
        }
        g_faults++;
        const std::string port = sim.port_path();
        const armed a = arm(sim, r);
        // A faulted exchange: a drain that may run to its bound, the write
        // and the read each up to the time-out, and a retry.
        timed(o, n,
              normal_ms + static_cast<int>(SER_DRAIN_MAX_MS) + 2 * o.timeout_ms + 1000 +
                  a.extra_ms + 500);
        sim.clear_faults();
        if (a.kind == fault::chatter) sim.fault_chatter(false);
        if (a.wait_after_ms)
            std::this_thread::sleep_for(std::chrono::milliseconds(a.wait_after_ms));
        if (a.kind == fault::hangup && !reopen(sim, &dev, port)) {
            fail(id, n, "reopen after a hang-up");
            break;
        }
        if (timed(o, n, normal_ms + 500) != CA_OK)
            fail(id, n, std::string(o.name) + " after the fault");
    }
    ca410DeviceRelease(dev);
}

}  // namespace

int main(int argc, char **argv) {
    unsigned seed = 1;
    long calls = 2000;
    int workers = 4;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (!std::strcmp(argv[i], "--seed")) seed = static_cast<unsigned>(std::atol(argv[i + 1]));
        if (!std::strcmp(argv[i], "--calls")) calls = std::atol(argv[i + 1]);
        if (!std::strcmp(argv[i], "--workers")) workers = std::atoi(argv[i + 1]);
    }
    if (workers < 1) workers = 1;
    default_log.d_log = sink;
    default_log.e_log = sink;
    clog_set_debug(glog, kLogLevel);

    const auto t0 = clock_type::now();
    std::vector<std::thread> threads;
    for (int w = 0; w < workers; w++) threads.emplace_back(worker, w, seed, calls / workers);
    for (auto &t : threads) t.join();
    const double s = std::chrono::duration<double>(clock_type::now() - t0).count();

    std::printf("soak: seed %u, %d workers, %ld calls, %ld faults armed, %ld reopens, %.1f s\n",
                seed, workers, g_calls.load(), g_faults.load(), g_reopens.load(), s);
    std::printf("soak: %ld passed, %ld failed\n", g_calls.load() - g_failures.load(),
                g_failures.load());
    return g_failures.load() == 0 ? 0 : 1;
}
