// ca410 demo: a working day of the library against the virtual instrument,
// run in-process, each step printed with its result and checked against what
// the simulated display really emits.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "ca410_sim.h"
#include "cgats.h"
#include "commands.h"
#include "gamut.h"
#include "options.h"
#include "patches.h"
#include "progress.h"
#include "report_command.h"
#include "sim_display.h"
#include "sim_main.h"

namespace cli {

namespace {

using clock_type = std::chrono::steady_clock;

// What a step came to: the library's result code, whether the outcome is
// what it should be, and a line for the reader.
struct outcome {
    int32_t code = CA_OK;
    bool as_expected = true;
    std::string detail;
};

outcome failed_check(std::string why) {
    return {CA_OK, false, std::move(why)};
}

class day {
  public:
    // Runs one step unless an earlier one went wrong; prints its line.
    bool step(const std::string &title, const std::function<outcome()> &body) {
        if (status_ != exit_ok) return false;
        if (interrupted()) {
            status_ = exit_interrupted;
            std::printf("    interrupted before: %s\n", title.c_str());
            return false;
        }
        ++number_;
        std::printf("%3d  %-36s ", number_, title.c_str());
        std::fflush(stdout);
        const auto start = clock_type::now();
        const outcome o = body();
        const double ms =
            std::chrono::duration<double, std::milli>(clock_type::now() - start).count();
        if (o.code != CA_OK) {
            status_ = exit_failed;
            std::printf("FAILED  %s\n", result_text(o.code).c_str());
            if (!o.detail.empty()) std::printf("%43s%s\n", "", o.detail.c_str());
        } else if (!o.as_expected) {
            status_ = exit_check;
            std::printf("WRONG   %s\n", o.detail.c_str());
        } else {
            std::printf("ok %6.0f ms  %s\n", ms, o.detail.c_str());
        }
        std::fflush(stdout);
        return status_ == exit_ok;
    }
    int status() const { return status_; }
    int steps() const { return number_; }

  private:
    int number_ = 0;
    int status_ = exit_ok;
};

std::string fmt(const char *format, ...) __attribute__((format(printf, 1, 2)));
std::string fmt(const char *format, ...) {
    char buf[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(buf, sizeof buf, format, args);
    va_end(args);
    return buf;
}

std::string describe(const figures &f) {
    std::string text =
        fmt("X %s  Y %s  Z %s  x %s  y %s", figure_text(fX, f[fX], no_value).c_str(),
            figure_text(fY, f[fY], no_value).c_str(), figure_text(fZ, f[fZ], no_value).c_str(),
            figure_text(fx, f[fx], no_value).c_str(), figure_text(fy, f[fy], no_value).c_str());
    if (f[fcct])
        text += fmt("  CCT %s K  Δuv %s", figure_text(fcct, f[fcct], no_value).c_str(),
                    figure_text(fduv, f[fduv], no_value, true).c_str());
    return text;
}

// The simulator answers with six decimals; anything further off than that
// (and than the display's measurement noise allows) is wrong.
bool near(const double *got, const double *want, double tolerance) {
    for (int k = 0; k < 3; ++k) {
        if (std::fabs(got[k] - want[k]) > tolerance * std::max(1.0, std::fabs(want[k])))
            return false;
    }
    return true;
}

std::string xyz_text(const double *v) {
    return fmt("%.4f %.4f %.4f", v[0], v[1], v[2]);
}

// Drive levels of full white, red, green and blue.
constexpr double levels[4][3] = {{1, 1, 1}, {1, 0, 0}, {0, 1, 0}, {0, 0, 1}};

// The demo's calibration: the channel, its name, and a reference meter that
// reads every colour 2 % brighter than the instrument's factory calibration.
constexpr int demo_channel = 7;
constexpr const char *demo_name = "DEMO";
constexpr double reference_gain = 1.02;

// The patch set the demo measures for its display report, and the profile
// the report judges by.
constexpr const char *demo_patches = "full";
constexpr const char *demo_profile = "srgb";

// What the demo writes besides its lines.
struct demo_files {
    std::string display = "ideal";  // a sim_display_preset name
    std::string svg;                // the xy diagram, if asked for
    std::string report = "ca410-demo-report.html";
    std::string measurements;  // the measurement file, if asked for
};

// Everything the steps share.
struct demo_state {
    demo_state(const global_options &options, sim_options instrument, demo_files out)
        : g(options),
          noise(instrument.display.noise),
          sim(std::move(instrument)),
          files(std::move(out)) {}

    // Relative error a reading may have: the answer's six decimals, or
    // several standard deviations of the display's measurement noise.
    double tolerance(double exact) const { return std::max(exact, 8.0 * noise); }

    const global_options &g;
    double noise;
    ca410_sim sim;
    demo_files files;
    ca410_dev *dev = nullptr;
    std::string instrument;  // "CA-410 S/N ..."
    wrgb_xyz factory{}, shown{}, targets{}, calibrated{};
    gamut_report gamut;
    std::vector<patch_reading> readings;
    std::optional<report::evaluation> report;
};

outcome start_instrument(demo_state &s) {
    std::string error;
    if (!s.sim.start(&error)) return failed_check("cannot start: " + error);
    return outcome{CA_OK, true, "serving on " + s.sim.port_path()};
}

outcome open_port(demo_state &s) {
    const int32_t rc = ca410DeviceOpen(&s.dev, s.sim.port_path().c_str(), s.g.log_level);
    if (rc != CA_OK) return outcome{rc, false, "port " + s.sim.port_path()};
    if (std::strcmp(s.dev->model, "CA-410") != 0)
        return failed_check("model '" + instrument_text(s.dev->model) + "', not CA-410");
    return outcome{CA_OK, true, std::string("a ") + s.dev->model + " answered"};
}

outcome initialise(demo_state &s) {
    const int32_t rc = ca410DeviceInit(s.dev);
    if (rc != CA_OK) return outcome{rc, false, ""};
    if (s.dev->init != 1 || s.dev->zero_calibration_status != 2 || s.dev->display_mode != 7)
        return failed_check("handle not initialised, zero-calibrated and in mode 7");
    return outcome{CA_OK, true, "reset, zero calibration, settings read, X Y Z mode"};
}

outcome identity(demo_state &s) {
    ca410_dev_info info{};
    const int32_t rc = ca410GetDeviceInfo(s.dev, &info);
    if (rc != CA_OK) return outcome{rc, false, ""};
    if (info.name[0] == '\0' || info.sn[0] == '\0')
        return failed_check("empty name or serial number");
    s.instrument = instrument_text(s.dev->model) + " S/N " + instrument_text(info.sn);
    return outcome{CA_OK, true,
                   instrument_text(info.name) + ", serial " + instrument_text(info.sn) +
                       ", version " + instrument_text(info.vn)};
}

outcome zero_calibration(demo_state &s) {
    int32_t rc = ca410BlackCalibration(s.dev);
    ca410_dev_stat stat{};
    if (rc == CA_OK) rc = ca410GetDeviceStat(s.dev, &stat);
    if (rc != CA_OK) return outcome{rc, false, ""};
    if (stat.zero_cal != 1) return failed_check("the instrument reports it not done");
    return outcome{CA_OK, true, fmt("done; channel %d, speed %d", stat.cal_ch, stat.meas_speed)};
}

outcome measure_colours(demo_state &s) {
    std::string shown_text;
    for (std::size_t c = 0; c < 4; ++c) {
        s.sim.show_rgb(levels[c][0], levels[c][1], levels[c][2]);
        const int32_t rc = ca410MeasureXYZ(s.dev, s.factory[c].data());
        if (rc != CA_OK) return outcome{rc, false, std::string("at ") + colour_names[c]};
        const sim_xyz shown = s.sim.shown_xyz();
        s.shown[c] = shown;
        if (!near(s.factory[c].data(), shown.data(), s.tolerance(1e-6)))
            return failed_check(std::string(colour_names[c]) + ": read " +
                                xyz_text(s.factory[c].data()) + ", shown " +
                                xyz_text(shown.data()));
    }
    return outcome{CA_OK, true, "white: " + describe(figures_of(s.factory[white].data()))};
}

outcome calibrate(demo_state &s) {
    for (std::size_t c = 0; c < 4; ++c) {
        for (int k = 0; k < 3; ++k) s.targets[c][k] = s.factory[c][k] * reference_gain;
    }
    using wrgb_step = int32_t (*)(ca410_dev *, const double *, double *);
    const wrgb_step steps[4] = {ca410WRGBCalibWhite, ca410WRGBCalibRed, ca410WRGBCalibGreen,
                                ca410WRGBCalibBlue};
    for (std::size_t c = 0; c < 4; ++c) {
        s.sim.show_rgb(levels[c][0], levels[c][1], levels[c][2]);
        const int32_t rc = steps[c](s.dev, s.targets[c].data(), s.calibrated[c].data());
        if (rc != CA_OK) return outcome{rc, false, std::string("at ") + colour_names[c]};
    }
    std::tm today{};
    const std::time_t now = std::time(nullptr);
    localtime_r(&now, &today);
    const int32_t rc = ca410WRGBCalibEnd(s.dev, demo_channel, demo_name, today.tm_year + 1900,
                                         today.tm_mon + 1, today.tm_mday, today.tm_hour);
    if (rc != CA_OK) return outcome{rc, false, "storing"};
    return outcome{CA_OK, true,
                   fmt("channel %d '%s', %04d-%02d-%02d %02d h; targets %.0f %% above the "
                       "factory reading",
                       demo_channel, demo_name, today.tm_year + 1900, today.tm_mon + 1,
                       today.tm_mday, today.tm_hour, 100.0 * (reference_gain - 1.0))};
}

outcome list_channels(demo_state &s) {
    ca410_callist_entry *list = nullptr;
    int32_t count = 0;
    int32_t rc;
    {
        progress_line progress("walking channels 1 to 99");
        rc = ca410GetCallist(s.dev, &list, &count);
    }
    if (rc != CA_OK) return outcome{rc, false, ""};
    std::string names;
    bool found = false;
    for (const ca410_callist_entry *e = list; e != nullptr; e = e->next) {
        names +=
            fmt("%s%d '", names.empty() ? "" : ", ", e->channel) + instrument_text(e->name) + "'";
        found |= e->channel == demo_channel && std::strcmp(e->name, demo_name) == 0;
    }
    ca410DeleteCallist(&list);
    const std::string detail =
        fmt("%d channel%s%s", count, count == 1 ? "" : "s", count ? ": " : "") + names;
    if (!found) return failed_check(detail + "; the new channel is missing");
    return outcome{CA_OK, true, detail};
}

outcome read_back(demo_state &s) {
    ca410_calfile cal{};
    const int32_t rc = ca410GetCalfile(s.dev, demo_channel, &cal);
    if (rc != CA_OK) return outcome{rc, false, ""};
    if (std::strcmp(cal.name, demo_name) != 0)
        return failed_check("name '" + instrument_text(cal.name) + "'");
    for (std::size_t c = 0; c < 4; ++c) {
        if (!near(cal.target[c], s.targets[c].data(), 1e-6) ||
            !near(cal.measure[c], s.calibrated[c].data(), 1e-6))
            return failed_check(std::string(colour_names[c]) + " differs: target " +
                                xyz_text(cal.target[c]) + ", measured " + xyz_text(cal.measure[c]));
    }
    return outcome{CA_OK, true,
                   fmt("'%s', type %d; white target %s, as sent", demo_name, cal.cal_type,
                       xyz_text(cal.target[white]).c_str())};
}

outcome measure_through_channel(demo_state &s) {
    int32_t rc = ca410SetChannel(s.dev, demo_channel);
    s.sim.show_rgb(1, 1, 1);
    double xyz[3];
    if (rc == CA_OK) rc = ca410MeasureXYZ(s.dev, xyz);
    if (rc != CA_OK) return outcome{rc, false, ""};
    if (!near(xyz, s.targets[white].data(), s.tolerance(1e-5)))
        return failed_check("read " + xyz_text(xyz) + ", target " +
                            xyz_text(s.targets[white].data()));
    return outcome{CA_OK, true, "X Y Z " + xyz_text(xyz) + ", the target (factory reading x 1.02)"};
}

outcome delete_channel(demo_state &s) {
    int32_t rc = ca410SetChannel(s.dev, 0);
    if (rc == CA_OK) rc = ca410DeleteCalfile(s.dev, demo_channel);
    // A channel without a user calibration reads back as type 0.
    ca410_calfile cal{};
    if (rc == CA_OK) rc = ca410GetCalfile(s.dev, demo_channel, &cal);
    if (rc != CA_OK) return outcome{rc, false, ""};
    if (cal.cal_type != 0)
        return failed_check(fmt("channel %d still has type %d", demo_channel, cal.cal_type));
    return outcome{CA_OK, true,
                   fmt("back on channel 0; channel %d reads back empty", demo_channel)};
}

outcome gamut(demo_state &s) {
    std::string error;
    gamut_report model;
    if (!make_gamut_report(s.factory, &s.gamut, &error) ||
        !make_gamut_report(s.shown, &model, &error))
        return failed_check(error);
    // The measured gamut is the one the display's model emits.
    if (std::fabs(s.gamut.area_vs_srgb - model.area_vs_srgb) > 0.005 + 4 * s.noise ||
        std::fabs(s.gamut.covers_srgb - model.covers_srgb) > 0.005 + 4 * s.noise)
        return failed_check(
            fmt("area %.3f x sRGB, covers %.1f %% of sRGB; the display: %.3f, "
                "%.1f %%",
                s.gamut.area_vs_srgb, 100.0 * s.gamut.covers_srgb, model.area_vs_srgb,
                100.0 * model.covers_srgb));
    return outcome{CA_OK, true, "the display's own gamut (" + s.files.display + " display):"};
}

outcome xy_diagram(demo_state &s) {
    if (s.files.svg.empty()) return outcome{CA_OK, true, "not asked for (--svg FILE)"};
    std::string error;
    if (!write_gamut_svg(s.files.svg, s.gamut, &error)) return failed_check(error);
    return outcome{CA_OK, true, "written to " + printable(s.files.svg)};
}

file_format format_of_path(const std::string &path) {
    const std::size_t dot = path.rfind('.');
    const std::string ext = dot == std::string::npos ? "" : path.substr(dot + 1);
    if (ext == "csv") return file_format::csv;
    if (ext == "json" || ext == "jsonl") return file_format::json;
    return file_format::cgats;
}

outcome measure_patch_set(demo_state &s) {
    const patch_list patches = builtin_patches(demo_patches);
    measurement_header header;
    header.instrumentation = s.instrument;
    header.descriptor = "ca410 demo: the virtual instrument's " + s.files.display + " display";
    header.patch_set = demo_patches;
    std::unique_ptr<measurement_writer> writer;
    try {
        if (!s.files.measurements.empty())
            writer = measurement_writer::create(
                s.files.measurements, format_of_path(s.files.measurements), header, patches);
        progress_line progress("measuring " + std::to_string(patches.size()) + " patches");
        for (const patch &p : patches) {
            s.sim.show_rgb(p.rgb[0], p.rgb[1], p.rgb[2]);
            patch_reading r{p.id, p.name, p.rgb, {}, {}, 1};
            const int32_t rc = ca410MeasureXYZ(s.dev, r.xyz.data());
            if (rc != CA_OK) return outcome{rc, false, "at " + p.id};
            if (writer) writer->append(r);
            s.readings.push_back(r);
        }
        if (writer) writer->finish();
    } catch (const file_error &e) {
        return failed_check(e.what());
    }
    const std::string saved =
        s.files.measurements.empty() ? "" : ", saved in " + printable(s.files.measurements);
    return outcome{CA_OK, true,
                   fmt("%zu patches (grey, primaries, checker)", patches.size()) + saved};
}

// The ideal display passes the office sRGB profile; the imperfect one's
// faults fail it.
outcome display_report(demo_state &s) {
    s.report = report::evaluate(s.readings, report::load_profile(demo_profile));
    measurement_header header;
    header.instrumentation = s.instrument;
    header.created = report::utc_now();
    header.descriptor = "ca410 demo: the virtual instrument's " + s.files.display + " display";
    const report::report_source source{"(measured by ca410 demo)", header, header.created};
    std::string error;
    if (!report::write_reports(*s.report, source, s.files.report, "", &error))
        return failed_check(error);
    const bool fails = s.report->overall == report::verdict::fail;
    const bool should_fail = s.files.display != "ideal";
    const std::string detail = std::string(fails ? "FAIL" : "PASS") + " against " + demo_profile +
                               "; written to " + printable(s.files.report);
    if (fails != should_fail)
        return failed_check(detail + (should_fail ? ", though the display has faults"
                                                  : ", though the display is ideal"));
    return outcome{CA_OK, true,
                   detail + (should_fail ? ", as the display's faults make it:"
                                         : ", as an ideal display does:")};
}

outcome release_port(demo_state &s) {
    ca410DeviceRelease(s.dev);
    s.dev = nullptr;
    return outcome{CA_OK, true, ""};
}

void show_gamut(const demo_state &s) {
    print_gamut_report(stdout, s.gamut, "       ");
}

void show_report(const demo_state &s) {
    report::print_summary(stdout, *s.report, "       ");
}

// The day, in order; some steps show more below their line.
const struct {
    const char *title;
    outcome (*run)(demo_state &);
    void (*then)(const demo_state &);
} steps[] = {
    {"start the virtual instrument", start_instrument, nullptr},
    {"open the port", open_port, nullptr},
    {"initialise", initialise, nullptr},
    {"identity", identity, nullptr},
    {"zero calibration", zero_calibration, nullptr},
    {"measure white, red, green, blue", measure_colours, nullptr},
    {"WRGB calibration into a channel", calibrate, nullptr},
    {"list the channels", list_channels, nullptr},
    {"read the channel back", read_back, nullptr},
    {"measure white through the channel", measure_through_channel, nullptr},
    {"delete the channel", delete_channel, nullptr},
    {"gamut report", gamut, show_gamut},
    {"xy diagram", xy_diagram, nullptr},
    {"measure the standard patch set", measure_patch_set, nullptr},
    {"display report", display_report, show_report},
    {"release the port", release_port, nullptr},
};

int cmd_demo(const global_options &g, const demo_files &files) {
    const auto start = clock_type::now();
    std::printf("ca410 demo: a working day with the virtual instrument (%s display)\n\n",
                files.display.c_str());
    day d;
    sim_options instrument;
    instrument.display = *sim_display_preset(files.display);
    demo_state state(g, instrument, files);
    for (const auto &step : steps) {
        if (d.step(step.title, [&] { return step.run(state); }) && step.then) step.then(state);
    }
    if (state.dev != nullptr) ca410DeviceRelease(state.dev);
    state.sim.stop();
    const double seconds = std::chrono::duration<double>(clock_type::now() - start).count();
    if (d.status() == exit_ok)
        std::printf("\nall %d steps did what they should, in %.1f s\n", d.steps(), seconds);
    else
        std::printf("\nstopped at step %d after %.1f s\n", d.steps(), seconds);
    return d.status();
}

}  // namespace

void add_sim(CLI::App &app, context &ctx) {
    CLI::App *sim = app.add_subcommand(
        "sim", "run the virtual instrument (the ca410-sim program; 'ca410 sim --help')");
    sim->prefix_command();
    sim->fallthrough(false);
    sim->set_help_flag();  // --help goes to the simulator
    sim->callback([&ctx, sim] {
        std::vector<std::string> args = sim->remaining();
        std::string name = "ca410 sim";
        std::vector<char *> sim_argv{name.data()};
        for (std::string &a : args) sim_argv.push_back(a.data());
        sim_argv.push_back(nullptr);
        ctx.status = ca410_sim_main(static_cast<int>(sim_argv.size() - 1), sim_argv.data());
    });
}

void add_demo(CLI::App &app, context &ctx) {
    auto files = std::make_shared<demo_files>();
    CLI::App *sub = app.add_subcommand(
        "demo",
        "a working day on the built-in virtual instrument: open, initialise, measure, calibrate "
        "a channel, read it back, delete it, the gamut report, the standard patch set and its "
        "display report\nExample: ca410 demo --display imperfect --report r.html");
    add_display_option(sub, files->display,
                       "the simulated display: ideal (sRGB, gamma 2.2; its report passes) or "
                       "imperfect (faults its report fails on; tools/sim/README.md)");
    sub->add_option("--svg", files->svg,
                    "also draw the gamut's xy diagram into FILE (checked first)")
        ->type_name("FILE")
        ->check(writable_file());
    sub->add_option("--report", files->report, "the display report's HTML page (checked first)")
        ->type_name("FILE")
        ->check(writable_file());
    sub->add_option("--measurements", files->measurements,
                    "also save the patch set's readings: CGATS, or CSV / JSON Lines for a name "
                    "ending .csv / .json (checked first)")
        ->type_name("FILE")
        ->check(writable_file());
    sub->callback([&ctx, files] { ctx.run([&] { return cmd_demo(ctx.global, *files); }); });
}

}  // namespace cli
