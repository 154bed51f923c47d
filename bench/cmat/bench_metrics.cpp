// The colour library's array calls on a million items on one core:
// CIEDE2000 of pairs (goal: 10 million pairs a second), CIELAB of colours,
// and the PQ curve. bench_delta_e.py sets the same CIEDE2000 call beside
// NumPy.
#include <benchmark/benchmark.h>

#include <random>
#include <vector>

#include "ca410_colour.h"

namespace {

constexpr int32_t million = 1000000;

// Display-like colours: L* 0 to 100, a* and b* -100 to 100, fixed seed.
std::vector<double> random_lab(int32_t n, uint64_t seed) {
    std::mt19937_64 rng(seed);
    std::uniform_real_distribution<double> l(0.0, 100.0), ab(-100.0, 100.0);
    std::vector<double> v(3 * static_cast<size_t>(n));
    for (int32_t i = 0; i < n; ++i)
        v[3 * i] = l(rng), v[3 * i + 1] = ab(rng), v[3 * i + 2] = ab(rng);
    return v;
}

void items_per_second(benchmark::State &state, const char *name) {
    state.counters[name] = benchmark::Counter(static_cast<double>(state.iterations()) * million,
                                              benchmark::Counter::kIsRate);
}

void BM_delta_e_2000_million_pairs(benchmark::State &state) {
    const std::vector<double> a = random_lab(million, 1), b = random_lab(million, 2);
    std::vector<double> out(million);
    for (auto _ : state) {
        if (ca410ColourDeltaEArray(CA_DELTA_E_2000, a.data(), b.data(), out.data(), million) != 0)
            state.SkipWithError("ca410ColourDeltaEArray failed");
        benchmark::DoNotOptimize(out.data());
    }
    items_per_second(state, "pairs_per_s");
}
BENCHMARK(BM_delta_e_2000_million_pairs)->Unit(benchmark::kMillisecond);

void BM_xyz_to_lab_million_colours(benchmark::State &state) {
    const std::vector<double> xyz = random_lab(million, 3);  // any positive-ish values do
    const double white[3] = {95.047, 100.0, 108.883};
    std::vector<double> out(xyz.size());
    for (auto _ : state) {
        if (ca410ColourConvertArray(CA_CONVERT_XYZ_TO_LAB, white, xyz.data(), out.data(),
                                    million) != 0)
            state.SkipWithError("ca410ColourConvertArray failed");
        benchmark::DoNotOptimize(out.data());
    }
    items_per_second(state, "colours_per_s");
}
BENCHMARK(BM_xyz_to_lab_million_colours)->Unit(benchmark::kMillisecond);

void BM_pq_million_values(benchmark::State &state) {
    std::vector<double> signal(million), out(million);
    for (int32_t i = 0; i < million; ++i) signal[i] = i / (million - 1.0);
    for (auto _ : state) {
        if (ca410ColourEOTF(CA_CURVE_PQ, nullptr, signal.data(), out.data(), million) != 0)
            state.SkipWithError("ca410ColourEOTF failed");
        benchmark::DoNotOptimize(out.data());
    }
    items_per_second(state, "values_per_s");
}
BENCHMARK(BM_pq_million_values)->Unit(benchmark::kMillisecond);

}  // namespace
