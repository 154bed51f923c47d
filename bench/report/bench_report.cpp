// `ca410 report`'s work on a 100-patch file of the simulator's imperfect
// display, the browser excluded: read, evaluate, write HTML and JSON.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>

#include "cgats.h"
#include "patches.h"
#include "report_eval.h"
#include "report_html.h"
#include "report_json.h"
#include "sim_display.h"

namespace {

// full:53 is 101 patches: 53 greys, the primaries and the checker's colours.
std::string measurement_file() {
    const cli::patch_list patches = cli::builtin_patches("full:53");
    const std::string path =
        (std::filesystem::temp_directory_path() / "bench_report_100.ti3").string();
    const sim_display display = *sim_display_preset("imperfect");
    auto writer = cli::measurement_writer::create(path, cli::file_format::cgats, {}, patches);
    for (const cli::patch &p : patches) {
        const sim_xyz xyz = sim::display_light(display, p.rgb, 1e6);
        writer->append({p.id, p.name, p.rgb, {xyz[0], xyz[1], xyz[2]}, {}, 1});
    }
    writer->finish();
    return path;
}

void report_of_file(benchmark::State &state) {
    const std::string path = measurement_file();
    std::size_t bytes = 0, patches = 0;
    for (auto _ : state) {
        const cli::measurement_file file = cli::read_measurements(path);
        const auto e = cli::report::evaluate(file.readings, cli::report::load_profile("srgb"));
        const cli::report::report_source source{path, file.header, "2024-01-01T00:00:00Z"};
        const std::string html = cli::report::report_html(e, source);
        const std::string json = cli::report::report_json(e, source).dump(2);
        bytes = html.size() + json.size();
        patches = file.readings.size();
        benchmark::DoNotOptimize(bytes);
    }
    state.counters["patches"] = static_cast<double>(patches);
    state.counters["output_bytes"] = static_cast<double>(bytes);
    std::remove(path.c_str());
}
BENCHMARK(report_of_file)->Unit(benchmark::kMillisecond);

}  // namespace
