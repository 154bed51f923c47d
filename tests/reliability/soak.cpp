// Fault soak: workers drive their own virtual instruments on their own threads
// with random operations and faults. Every call keeps its time bound, result
// set and the log threshold; after a fault the same call succeeds (after a
// hang-up, on a reopened handle). Exit status 0 when nothing failed.
//   soak [SEED [CALLS [WORKERS]]]    (defaults 1, 2000, 4)
#include <atomic>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
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
#include "sim_control.h"

namespace {

using clock_type = std::chrono::steady_clock;
constexpr int32_t kLogLevel = 8, kExchange = -1;  // kExchange: any code of one exchange
constexpr int kChannel = 5, kFaultMs = 500;       // a stored channel; a fault's settling time

std::atomic<long> g_calls{0}, g_faults{0}, g_failures{0}, g_reopens{0};

void sink(void *, clog *, const char *format, va_list args) {
    char line[16384];
    vsnprintf(line, sizeof line, format, args);
}

void fail(int worker, long call, const std::string &what) {
    g_failures++;
    std::fprintf(stderr, "soak: worker %d call %ld: %s\n", worker, call, what.c_str());
}

const std::set<int32_t> kInitCodes{CA_OK,           CA_E_FIRMWARE,  CA_E_RESET,       CA_E_ZERO_CAL,
                                   CA_E_GET_CONFIG, CA_E_GET_RANGE, CA_E_DISPLAY_MODE};

struct operation {
    const char *name;
    int weight;
    int exchanges;   // at most, without faults
    int timeout_ms;  // the longest time-out among its exchanges
    std::set<int32_t> allowed;
};

// Initialisation also covers the zero calibration and the settings reads.
const operation kOps[] = {
    {"measure", 40, 2, 3000, {CA_OK, CA_E_MEASURE}},
    {"set-speed", 25, 1, 1000, {kExchange}},
    {"calfile", 6, 2, 1000, {kExchange, CA_E_PARSE}},
    {"callist", 1, 99, 1000, {CA_OK, CA_E_GET_CALLIST}},
    {"init", 4, 22, 6000, kInitCodes},
};

bool allowed(const operation &o, int32_t rc) {
    if (o.allowed.count(rc)) return true;
    if (!o.allowed.count(kExchange)) return false;
    // Success, cut data, time-out, port failure, short answer, an instrument error.
    for (long c = 0; c < 100; c++) {
        const ca_instrument_error *e = ca_instrument_error_find(c);
        if (e && e->result == rc) return true;
    }
    return rc == CA_OK || rc == CA_E_TIMEOUT || rc == CA_E_COMM || rc == CA_E_PART_DATA ||
           rc == CA_E_RECEIVE;
}

int32_t run(size_t op, ca410_dev *d, std::mt19937 &r) {
    double xyz[3];
    ca410_calfile file;
    ca410_callist_entry *list = nullptr;
    int32_t count = 0, rc = CA_OK;
    switch (op) {
        case 0:
            return ca410MeasureXYZ(d, xyz);
        case 1:
            return ca410SetMeasureSpeed(d, r() % 4);
        case 2:
            return ca410GetCalfile(d, kChannel, &file);
        case 3:
            rc = ca410GetCallist(d, &list, &count);
            ca410DeleteCallist(&list);
            return rc;
        default:
            return ca410DeviceInit(d);
    }
}

// Faults as the control socket arms them, each "%d" a random number in
// [first, first + span). Each may add up to kFaultMs to a call.
struct fault {
    const char *line;
    int first = 0, span = 1, first2 = 0, span2 = 1;
};
const fault kFaults[] = {
    {"fault silent-next"},
    {"fault split-next %d %d", 1, 12, 5, 400},
    {"fault garbage-next \\x15#%d", 0, 10000000},
    {"fault late-next %d OK00,late\\r", 10, 300},
    {"fault no-cr-next"},
    {"fault long-next %d", 1100, 800},
    {"fault chatter on %d", 50, 400},
    {"fault error-next %d", 1, 99},
    {"fault hangup-next %d", 0, 8},
    {"fault hangup-next"},
};

void worker(int id, unsigned seed, long calls) {
    std::mt19937 r(seed * 7919u + static_cast<unsigned>(id));
    ca410_sim sim;
    if (!sim.start(nullptr)) return fail(id, 0, "simulator");
    sim.show_xyz(30.0 + id, 40.0, 50.0);
    sim_channel ch;
    ch.number = kChannel;
    ch.name = "SOAK";
    sim.put_channel(ch);
    ca410_dev *dev = nullptr;
    const auto open = [&] {
        return ca410DeviceOpen(&dev, sim.port_path().c_str(), 0) == CA_OK &&
               ca410DeviceInit(dev) == CA_OK;
    };
    const auto timed = [&](size_t op, long n, int bound_ms) {
        const auto t0 = clock_type::now();
        const int32_t rc = run(op, dev, r);
        const auto ms =
            std::chrono::duration_cast<std::chrono::milliseconds>(clock_type::now() - t0).count();
        const std::string name = kOps[op].name;
        g_calls++;
        if (ms > bound_ms) fail(id, n, name + " took " + std::to_string(ms) + " ms");
        if (!allowed(kOps[op], rc)) fail(id, n, name + " returned " + std::to_string(rc));
        if (default_log.debug != kLogLevel || clog_debug_level(glog) != kLogLevel)
            fail(id, n, "log threshold moved to " + std::to_string(clog_debug_level(glog)));
        return rc;
    };

    std::vector<int> weights;
    for (const auto &o : kOps) weights.push_back(o.weight);
    std::discrete_distribution<size_t> pick(weights.begin(), weights.end());
    if (!open()) {
        fail(id, 0, "open and init");
        calls = 0;
    }
    for (long n = 1; n <= calls; n++) {
        const size_t op = pick(r);
        // Each normal exchange: a 20 ms drain, the frame, the answer.
        const int normal_ms = kOps[op].exchanges * 150 + 500;
        if (r() % 100 >= 8) {
            timed(op, n, normal_ms);
            continue;
        }
        g_faults++;
        const std::string port = sim.port_path();
        const fault &f = kFaults[r() % std::size(kFaults)];
        char line[80];
        std::snprintf(line, sizeof line, f.line, static_cast<int>(f.first + r() % f.span),
                      static_cast<int>(f.first2 + r() % f.span2));
        bool quit = false;
        if (sim::control_execute(sim, line, &quit) != "ok") fail(id, n, line);
        // A drain that may run to its bound, the write and the read each up
        // to the time-out, and a retry.
        timed(op, n, normal_ms + SER_DRAIN_MAX_MS + 2 * kOps[op].timeout_ms + 1000 + kFaultMs);
        sim.clear_faults();
        sim.fault_chatter(false);
        std::this_thread::sleep_for(std::chrono::milliseconds(kFaultMs));
        if (std::strstr(line, "hangup")) {
            ca410DeviceRelease(dev);
            dev = nullptr;
            for (int i = 0; i < 600 && sim.port_path() == port; i++)
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            g_reopens++;
            if (!open()) {
                fail(id, n, "reopen after a hang-up");
                break;
            }
        }
        if (timed(op, n, normal_ms) != CA_OK) fail(id, n, line + std::string(": no recovery"));
    }
    ca410DeviceRelease(dev);
}

}  // namespace

int main(int argc, char **argv) {
    const unsigned seed = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 1;
    const long calls = argc > 2 ? std::atol(argv[2]) : 2000;
    const int workers = argc > 3 ? std::atoi(argv[3]) : 4;
    default_log.d_log = default_log.e_log = sink;
    clog_set_debug(glog, kLogLevel);

    const auto t0 = clock_type::now();
    std::vector<std::thread> threads;
    for (int w = 0; w < workers; w++) threads.emplace_back(worker, w, seed, calls / workers);
    for (auto &t : threads) t.join();
    const double s = std::chrono::duration<double>(clock_type::now() - t0).count();
    std::printf("soak: seed %u, %d workers, %ld calls, %ld faults armed, %ld reopens, %.1f s\n",
                seed, workers, g_calls.load(), g_faults.load(), g_reopens.load(), s);
    std::printf("soak: %ld passed, %ld failed\n", g_calls - g_failures, g_failures.load());
    return g_failures == 0 && g_calls > 0 ? 0 : 1;
}
