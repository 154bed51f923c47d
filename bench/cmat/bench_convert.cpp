// xsp2cie_convert with the default converter (CIE 1931 2 degree, 1 nm steps
// from 360 nm to 829 nm) on a 1 nm input spectrum. Goal: 50,000 conversions
// a second on one core, and not one heap allocation inside a conversion.
#include <benchmark/benchmark.h>

#include <atomic>
#include <cmath>
#include <cstdlib>
#include <new>

#include "cmat/xsp2cie.h"

namespace {
std::atomic<long> allocations{0};
}  // namespace

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define BENCH_UNDER_ASAN 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#define BENCH_UNDER_ASAN 1
#endif

#if defined(__GLIBC__) && !defined(BENCH_UNDER_ASAN)
// The library allocates with the C allocator, so count that: glibc lets a
// program replace malloc, calloc, realloc and free, and these forward to its
// own implementation. operator new ends up in malloc as well.
extern "C" {
void *__libc_malloc(size_t size);
void *__libc_calloc(size_t count, size_t size);
void *__libc_realloc(void *p, size_t size);
void __libc_free(void *p);

void *malloc(size_t size) noexcept {
    allocations.fetch_add(1, std::memory_order_relaxed);
    return __libc_malloc(size);
}
void *calloc(size_t count, size_t size) noexcept {
    allocations.fetch_add(1, std::memory_order_relaxed);
    return __libc_calloc(count, size);
}
void *realloc(void *p, size_t size) noexcept {
    allocations.fetch_add(1, std::memory_order_relaxed);
    return __libc_realloc(p, size);
}
void free(void *p) noexcept {
    __libc_free(p);
}
}
#else
// Elsewhere (and under AddressSanitizer, which owns malloc) count operator new.
void *operator new(std::size_t size) {
    allocations.fetch_add(1, std::memory_order_relaxed);
    if (void *p = std::malloc(size ? size : 1)) return p;
    throw std::bad_alloc();
}
void operator delete(void *p) noexcept {
    std::free(p);
}
void operator delete(void *p, std::size_t) noexcept {
    std::free(p);
}
#endif

namespace {

xspect input_spectrum() {
    // A smooth 1 nm spectrum over 380 nm to 780 nm, like a display white.
    xspect sp{};
    sp.count = 401;
    sp.wl_short = 380.0;
    sp.wl_long = 780.0;
    sp.norm = 1.0;
    for (int k = 0; k < sp.count; ++k) {
        const double nm = 380.0 + k;
        sp.values[k] = std::exp(-0.5 * std::pow((nm - 450.0) / 12.0, 2)) +
                       0.8 * std::exp(-0.5 * std::pow((nm - 545.0) / 30.0, 2)) +
                       0.9 * std::exp(-0.5 * std::pow((nm - 610.0) / 15.0, 2));
    }
    return sp;
}

void BM_xsp2cie_convert(benchmark::State &state) {
    xsp2cie *conv = new_xsp2cie(0, nullptr, 0);
    if (!conv) {
        state.SkipWithError("new_xsp2cie failed");
        return;
    }
    const xspect in = input_spectrum();
    double xyz[3];
    long during = 0;
    for (auto _ : state) {
        const long before = allocations.load(std::memory_order_relaxed);
        xsp2cie_convert(conv, xyz, &in);
        during += allocations.load(std::memory_order_relaxed) - before;
        benchmark::DoNotOptimize(xyz);
        benchmark::ClobberMemory();
    }
    xsp2cie_del(conv);
    state.counters["allocs_per_conversion"] =
        benchmark::Counter(static_cast<double>(during), benchmark::Counter::kAvgIterations);
    state.counters["conversions_per_s"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
    if (during != 0) state.SkipWithError("a conversion allocated memory");
}
BENCHMARK(BM_xsp2cie_convert);

}  // namespace
