// A 100-patch sequence (grey:100, one reading each, written to a file patch
// by patch) on the virtual instrument at line rate, against its floor: the
// settle time of every patch plus each exchange's floor as bench_operations
// counts it (two 20 ms quiet-line reads, the frame and its answer on the
// wire at 38400 baud and 11 bits a character, the instrument's measuring
// time), from the instrument's record of frames.
//
// Counters per run: wall_ms, floor_ms, ratio (wall / floor; goal under
// 1.02), patches, exchanges, overhead_ms_per_patch.
#include <benchmark/benchmark.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "sequence_sim.h"

namespace {

constexpr double kQuietReadMs = 20.0;
constexpr std::array<int, 4> kMeasureMs = {20, 40, 80, 160};
constexpr int kSettleMs = 20;
constexpr const char *kPatchSet = "grey:100";

double floor_ms(ca410_sim &sim, std::size_t patches, std::size_t *exchanges) {
    const int speed = sim.settings().measure_speed;
    double ms = static_cast<double>(patches) * kSettleMs;
    const auto frames = sim.frames();
    for (const frame_record &f : frames) {
        ms += 2 * kQuietReadMs +
              static_cast<double>(f.bytes.size() + f.answer.size()) * ca410_sim::char_time_ms;
        if (f.bytes.rfind("MES,", 0) == 0) ms += kMeasureMs[static_cast<std::size_t>(speed)];
    }
    *exchanges = frames.size();
    return ms;
}

void BM_Sequence100(benchmark::State &state) {
    cli::hold_library_log(0);  // the library's notes shown only with a failure, as the tool does
    cli::sim_instrument instrument(*sim_display_preset("imperfect"), true);
    for (int speed = 0; speed < 4; ++speed)
        instrument.sim().set_measure_ms(speed, kMeasureMs[static_cast<std::size_t>(speed)]);
    if (instrument.start() != cli::exit_ok) {
        state.SkipWithError("no virtual instrument");
        return;
    }
    const cli::patch_list patches = cli::builtin_patches(kPatchSet);
    const std::string path =
        (std::filesystem::temp_directory_path() / "bench_sequence.ti3").string();
    double wall = 0, floor = 0;
    std::size_t exchanges = 0;
    for (auto _ : state) {
        auto writer = cli::measurement_writer::create(path, cli::file_format::cgats,
                                                      {"", "", "bench", "", kPatchSet, 0}, patches);
        instrument.sim().clear_frames();
        const auto t0 = std::chrono::steady_clock::now();
        const cli::sequence_result r = cli::measure_patches(
            instrument.instrument(), patches, instrument.shower(), {kSettleMs, 1}, writer.get());
        const auto t1 = std::chrono::steady_clock::now();
        if (r.status != cli::exit_ok) {
            state.SkipWithError("the sequence failed");
            break;
        }
        writer->finish();
        const double ms = std::chrono::duration<double, std::milli>(t1 - t0).count();
        state.SetIterationTime(ms / 1e3);
        std::size_t n = 0;
        wall += ms;
        floor += floor_ms(instrument.sim(), patches.size(), &n);
        exchanges += n;
    }
    std::filesystem::remove(path);
    const auto iterations = static_cast<double>(state.iterations());
    const auto count = static_cast<double>(patches.size());
    state.counters["wall_ms"] = wall / iterations;
    state.counters["floor_ms"] = floor / iterations;
    state.counters["ratio"] = wall / floor;
    state.counters["patches"] = count;
    state.counters["exchanges"] = static_cast<double>(exchanges) / iterations;
    state.counters["overhead_ms_per_patch"] = (wall - floor) / iterations / count;
}

}  // namespace

BENCHMARK(BM_Sequence100)->UseManualTime()->Iterations(2)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
