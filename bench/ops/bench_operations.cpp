// Exported operations against the virtual instrument at line rate, each
// against its floor: per exchange the two 20 ms quiet-line reads the
// exchange makes by design (the drain before the frame and the end of the
// answer's read), the frame and the answer on the wire at 38400 baud with 11
// bits a character (taken from the instrument's record of frames), and the
// time the instrument is set to work (zero calibration, measurement).
//
// Counters per call: wall_ms, floor_ms, ratio (wall / floor; goal under
// 1.02), exchanges, cpu_us_per_exchange (the calling thread; goal under
// 200) and allocs (heap allocations on the calling thread; goal 0 for a
// measurement).
#include <benchmark/benchmark.h>
#include <time.h>

#include <array>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <new>
#include <string>

#include "ca410.h"
#include "ca410_sim.h"
#include "clog/clog.h"
#include "ser_nt_com/platform/ser_platform.h"

namespace {

thread_local bool counting = false;
thread_local long allocations = 0;

void note_allocation() {
    if (counting) ++allocations;
}

}  // namespace

extern "C" {
void *__real_malloc(size_t);
void *__real_calloc(size_t, size_t);
void *__real_realloc(void *, size_t);
void *__wrap_malloc(size_t n) {
    note_allocation();
    return __real_malloc(n);
}
void *__wrap_calloc(size_t n, size_t size) {
    note_allocation();
    return __real_calloc(n, size);
}
void *__wrap_realloc(void *p, size_t n) {
    note_allocation();
    return __real_realloc(p, n);
}
}

// Counted, then as the default one: malloc, which the default delete frees.
void *operator new(size_t n) {
    note_allocation();
    if (void *p = std::malloc(n ? n : 1)) return p;
    throw std::bad_alloc();
}

namespace {

constexpr double kQuietReadMs = 20.0;
constexpr int kZeroCalMs = 100;
constexpr std::array<int, 4> kMeasureMs = {20, 40, 80, 160};

double thread_cpu_ms() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) * 1e3 + static_cast<double>(ts.tv_nsec) / 1e6;
}

// One instrument at line rate and one initialised handle on it, shared by
// every benchmark of the run.
struct bench_instrument {
    std::unique_ptr<ca410_sim> sim;
    ca410_dev *dev = nullptr;
    int speed = 1;

    bench_instrument() {
        ser_platform = nullptr;
        clog_set_debug(glog, -1);  // failures only, as a host would run
        sim_options o;
        o.pace = true;
        o.zrc_ms = kZeroCalMs;
        o.measure_ms = kMeasureMs;
        sim = std::make_unique<ca410_sim>(o);
        std::string error;
        if (!sim->start(&error) || ca410DeviceOpen(&dev, sim->port_path().c_str(), 0) != CA_OK ||
            ca410DeviceInit(dev) != CA_OK || ca410SetMeasureSpeed(dev, speed) != CA_OK) {
            std::fprintf(stderr, "bench: no instrument: %s\n", error.c_str());
            std::exit(1);
        }
    }
    ~bench_instrument() { ca410DeviceRelease(dev); }

    // The floor of what the instrument received since the last clear.
    double floor_ms(size_t *exchanges) const {
        double ms = 0;
        int measure_speed = speed;
        const auto frames = sim->frames();
        for (const auto &f : frames) {
            ms += 2 * kQuietReadMs +
                  static_cast<double>(f.bytes.size() + f.answer.size()) * ca410_sim::char_time_ms;
            if (f.bytes.rfind("MES,", 0) == 0) ms += kMeasureMs[measure_speed];
            if (f.bytes == "ZRC\r") ms += kZeroCalMs;
            if (f.bytes.rfind("FSC,", 0) == 0) measure_speed = std::atoi(f.bytes.c_str() + 4);
        }
        *exchanges = frames.size();
        return ms;
    }
};

bench_instrument &instrument() {
    static bench_instrument b;
    return b;
}

// Runs `op` once per iteration and reports it against its floor.
template <typename Op>
void run(benchmark::State &state, Op op) {
    bench_instrument &b = instrument();
    double wall = 0, floor = 0, cpu = 0;
    size_t exchanges = 0;
    long allocs = 0;
    for (auto _ : state) {
        b.sim->clear_frames();
        allocations = 0;
        const double cpu0 = thread_cpu_ms();
        const auto t0 = std::chrono::steady_clock::now();
        counting = true;
        const int32_t r = op(b);
        counting = false;
        const auto t1 = std::chrono::steady_clock::now();
        cpu += thread_cpu_ms() - cpu0;
        allocs += allocations;
        if (r != CA_OK) {
            state.SkipWithError(("result " + std::to_string(r)).c_str());
            return;
        }
        const double ms = std::chrono::duration<double, std::milli>(t1 - t0).count();
        state.SetIterationTime(ms / 1e3);
        size_t n = 0;
        wall += ms;
        floor += b.floor_ms(&n);
        exchanges += n;
    }
    const auto iterations = static_cast<double>(state.iterations());
    state.counters["wall_ms"] = wall / iterations;
    state.counters["floor_ms"] = floor / iterations;
    state.counters["ratio"] = wall / floor;
    state.counters["exchanges"] = static_cast<double>(exchanges) / iterations;
    state.counters["cpu_us_per_exchange"] = 1e3 * cpu / static_cast<double>(exchanges);
    state.counters["allocs"] = static_cast<double>(allocs) / iterations;
}

void BM_DeviceInit(benchmark::State &state) {
    run(state, [](bench_instrument &b) {
        // Initialisation resets the measurement settings, speed included.
        const int32_t r = ca410DeviceInit(b.dev);
        b.speed = b.dev->measure_speed;
        return r;
    });
}

void BM_GetDeviceStat(benchmark::State &state) {
    run(state, [](bench_instrument &b) {
        ca410_dev_stat stat;
        return ca410GetDeviceStat(b.dev, &stat);
    });
}

void BM_SetChannel(benchmark::State &state) {
    run(state, [](bench_instrument &b) { return ca410SetChannel(b.dev, 0); });
}

void BM_MeasureXYZ(benchmark::State &state) {
    bench_instrument &b = instrument();
    b.speed = static_cast<int>(state.range(0));
    if (ca410SetMeasureSpeed(b.dev, b.speed) != CA_OK) state.SkipWithError("speed not set");
    run(state, [](bench_instrument &i) {
        double xyz[3];
        return ca410MeasureXYZ(i.dev, xyz);
    });
}

// The same without line-rate pacing: the characters of an answer then come
// in one burst instead of one wake-up each, which shows the library's own CPU
// cost per exchange. (Its ratio is below 1: the floor counts wire time the
// unpaced line does not take.)
void BM_MeasureXYZUnpaced(benchmark::State &state) {
    bench_instrument &b = instrument();
    b.sim->set_pacing(false);
    run(state, [](bench_instrument &i) {
        double xyz[3];
        return ca410MeasureXYZ(i.dev, xyz);
    });
    b.sim->set_pacing(true);
}

void BM_GetCallist(benchmark::State &state) {
    run(state, [](bench_instrument &b) {
        ca410_callist_entry *list = nullptr;
        int32_t count = 0;
        const int32_t r = ca410GetCallist(b.dev, &list, &count);
        ca410DeleteCallist(&list);
        return r;
    });
}

void BM_WRGBCalibration(benchmark::State &state) {
    run(state, [](bench_instrument &b) {
        static const double targets[4][3] = {{95.05, 100.0, 108.9},
                                             {41.24, 21.26, 1.93},
                                             {35.76, 71.52, 11.92},
                                             {18.05, 7.22, 95.05}};
        static const double levels[4][3] = {{1, 1, 1}, {1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
        using step_fn = int32_t (*)(ca410_dev *, const double *, double *);
        static const step_fn steps[4] = {ca410WRGBCalibWhite, ca410WRGBCalibRed,
                                         ca410WRGBCalibGreen, ca410WRGBCalibBlue};
        for (int i = 0; i < 4; ++i) {
            b.sim->show_rgb(levels[i][0], levels[i][1], levels[i][2]);
            if (const int32_t r = steps[i](b.dev, targets[i], nullptr); r != CA_OK) return r;
        }
        b.sim->show_rgb(1, 1, 1);
        return ca410WRGBCalibEnd(b.dev, 5, "bench", 2026, 12, 5, 12);
    });
}

}  // namespace

BENCHMARK(BM_DeviceInit)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GetDeviceStat)->UseManualTime()->Iterations(5)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SetChannel)->UseManualTime()->Iterations(20)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MeasureXYZ)
    ->UseManualTime()
    ->DenseRange(0, 3)
    ->Iterations(10)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MeasureXYZUnpaced)->UseManualTime()->Iterations(10)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GetCallist)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WRGBCalibration)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
