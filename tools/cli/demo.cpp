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

#include "ca410_sim.h"
#include "commands.h"
#include "gamut.h"
#include "progress.h"

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
        fmt("X %s  Y %s  Z %s  x %s  y %s", figure_text(fX, f[fX], "-").c_str(),
            figure_text(fY, f[fY], "-").c_str(), figure_text(fZ, f[fZ], "-").c_str(),
            figure_text(fx, f[fx], "-").c_str(), figure_text(fy, f[fy], "-").c_str());
    if (f[fcct])
        text += fmt("  CCT %s K  Δuv %s", figure_text(fcct, f[fcct], "-").c_str(),
                    figure_text(fduv, f[fduv], "-", true).c_str());
    return text;
}

// The simulator answers with six decimals; anything further off is wrong.
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

}  // namespace

int cmd_demo(const global_options &g, const std::string &svg) {
    const auto start = clock_type::now();
    std::printf("ca410 demo: a working day with the virtual instrument\n\n");
    day d;
    ca410_sim sim;  // sRGB primaries, white of Y = 100, gamma 2.2
    ca410_dev *dev = nullptr;
    wrgb_xyz factory{}, targets{}, calibrated{};
    gamut_report gamut;

    d.step("start the virtual instrument", [&] {
        std::string error;
        if (!sim.start(&error)) return failed_check("cannot start: " + error);
        return outcome{CA_OK, true, "serving on " + sim.port_path()};
    });
    d.step("open the port", [&] {
        const int32_t rc = ca410DeviceOpen(&dev, sim.port_path().c_str(), g.log_level);
        if (rc != CA_OK) return outcome{rc, false, "port " + sim.port_path()};
        if (std::strcmp(dev->model, "CA-410") != 0)
            return failed_check(std::string("model '") + dev->model + "', not CA-410");
        return outcome{CA_OK, true, std::string("a ") + dev->model + " answered"};
    });
    d.step("initialise", [&] {
        const int32_t rc = ca410DeviceInit(dev);
        if (rc != CA_OK) return outcome{rc, false, ""};
        if (dev->init != 1 || dev->zero_calibration_status != 2 || dev->display_mode != 7)
            return failed_check("handle not initialised, zero-calibrated and in mode 7");
        return outcome{CA_OK, true, "reset, zero calibration, settings read, X Y Z mode"};
    });
    d.step("identity", [&] {
        ca410_dev_info info{};
        const int32_t rc = ca410GetDeviceInfo(dev, &info);
        if (rc != CA_OK) return outcome{rc, false, ""};
        if (info.name[0] == '\0' || info.sn[0] == '\0')
            return failed_check("empty name or serial number");
        return outcome{CA_OK, true, fmt("%s, serial %s, version %s", info.name, info.sn, info.vn)};
    });
    d.step("zero calibration", [&] {
        int32_t rc = ca410BlackCalibration(dev);
        ca410_dev_stat stat{};
        if (rc == CA_OK) rc = ca410GetDeviceStat(dev, &stat);
        if (rc != CA_OK) return outcome{rc, false, ""};
        if (stat.zero_cal != 1) return failed_check("the instrument reports it not done");
        return outcome{CA_OK, true,
                       fmt("done; channel %d, speed %d", stat.cal_ch, stat.meas_speed)};
    });
    for (std::size_t c = 0; c < 4; ++c) {
        d.step(std::string("measure ") + colour_names[c], [&, c] {
            sim.show_rgb(levels[c][0], levels[c][1], levels[c][2]);
            const int32_t rc = ca410MeasureXYZ(dev, factory[c].data());
            if (rc != CA_OK) return outcome{rc, false, ""};
            const sim_xyz shown = sim.shown_xyz();
            if (!near(factory[c].data(), shown.data(), 1e-6))
                return failed_check("read " + xyz_text(factory[c].data()) + ", shown " +
                                    xyz_text(shown.data()));
            return outcome{CA_OK, true, describe(figures_of(factory[c].data()))};
        });
    }
    std::tm today{};
    d.step("WRGB calibration into a channel", [&] {
        for (std::size_t c = 0; c < 4; ++c) {
            for (int k = 0; k < 3; ++k) targets[c][k] = factory[c][k] * reference_gain;
        }
        using wrgb_step = int32_t (*)(ca410_dev *, const double *, double *);
        const wrgb_step steps[4] = {ca410WRGBCalibWhite, ca410WRGBCalibRed, ca410WRGBCalibGreen,
                                    ca410WRGBCalibBlue};
        for (std::size_t c = 0; c < 4; ++c) {
            sim.show_rgb(levels[c][0], levels[c][1], levels[c][2]);
            const int32_t rc = steps[c](dev, targets[c].data(), calibrated[c].data());
            if (rc != CA_OK) return outcome{rc, false, std::string("at ") + colour_names[c]};
        }
        const std::time_t now = std::time(nullptr);
        localtime_r(&now, &today);
        const int32_t rc = ca410WRGBCalibEnd(dev, demo_channel, demo_name, today.tm_year + 1900,
                                             today.tm_mon + 1, today.tm_mday, today.tm_hour);
        if (rc != CA_OK) return outcome{rc, false, "storing"};
        return outcome{CA_OK, true,
                       fmt("channel %d '%s', %04d-%02d-%02d %02d h; targets %.0f %% above "
                           "the factory reading",
                           demo_channel, demo_name, today.tm_year + 1900, today.tm_mon + 1,
                           today.tm_mday, today.tm_hour, 100.0 * (reference_gain - 1.0))};
    });
    d.step("list the channels", [&] {
        ca410_callist_entry *list = nullptr;
        int32_t count = 0;
        int32_t rc;
        {
            progress_line progress("walking channels 1 to 99");
            rc = ca410GetCallist(dev, &list, &count);
        }
        if (rc != CA_OK) return outcome{rc, false, ""};
        std::string names;
        bool found = false;
        for (const ca410_callist_entry *e = list; e != nullptr; e = e->next) {
            names += fmt("%s%d '%s'", names.empty() ? "" : ", ", e->channel, e->name);
            found |= e->channel == demo_channel && std::strcmp(e->name, demo_name) == 0;
        }
        ca410DeleteCallist(&list);
        const std::string detail =
            fmt("%d channel%s%s%s", count, count == 1 ? "" : "s", count ? ": " : "", names.c_str());
        if (!found) return failed_check(detail + "; the new channel is missing");
        return outcome{CA_OK, true, detail};
    });
    d.step("read the channel back", [&] {
        ca410_calfile cal{};
        const int32_t rc = ca410GetCalfile(dev, demo_channel, &cal);
        if (rc != CA_OK) return outcome{rc, false, ""};
        if (std::strcmp(cal.name, demo_name) != 0)
            return failed_check(std::string("name '") + cal.name + "'");
        for (std::size_t c = 0; c < 4; ++c) {
            if (!near(cal.target[c], targets[c].data(), 1e-6) ||
                !near(cal.measure[c], calibrated[c].data(), 1e-6))
                return failed_check(std::string(colour_names[c]) + " differs: target " +
                                    xyz_text(cal.target[c]) + ", measured " +
                                    xyz_text(cal.measure[c]));
        }
        return outcome{CA_OK, true,
                       fmt("'%s', type %d; white target %s, as sent", cal.name, cal.cal_type,
                           xyz_text(cal.target[white]).c_str())};
    });
    d.step("measure white through the channel", [&] {
        int32_t rc = ca410SetChannel(dev, demo_channel);
        sim.show_rgb(1, 1, 1);
        double xyz[3];
        if (rc == CA_OK) rc = ca410MeasureXYZ(dev, xyz);
        if (rc != CA_OK) return outcome{rc, false, ""};
        if (!near(xyz, targets[white].data(), 1e-5))
            return failed_check("read " + xyz_text(xyz) + ", target " +
                                xyz_text(targets[white].data()));
        return outcome{CA_OK, true,
                       "X Y Z " + xyz_text(xyz) + ", the target (factory reading x 1.02)"};
    });
    d.step("delete the channel", [&] {
        int32_t rc = ca410SetChannel(dev, 0);
        if (rc == CA_OK) rc = ca410DeleteCalfile(dev, demo_channel);
        // A channel without a user calibration reads back as type 0.
        ca410_calfile cal{};
        if (rc == CA_OK) rc = ca410GetCalfile(dev, demo_channel, &cal);
        if (rc != CA_OK) return outcome{rc, false, ""};
        if (cal.cal_type != 0)
            return failed_check(fmt("channel %d still has type %d, name '%s'", demo_channel,
                                    cal.cal_type, cal.name));
        return outcome{CA_OK, true,
                       fmt("back on channel 0; channel %d reads back empty", demo_channel)};
    });
    d.step("gamut report", [&] {
        std::string error;
        if (!make_gamut_report(factory, &gamut, &error)) return failed_check(error);
        // The simulated display has the sRGB primaries.
        if (std::fabs(gamut.area_vs_srgb - 1.0) > 0.005 || gamut.covers_srgb < 0.995)
            return failed_check(fmt("area %.3f x sRGB, covers %.1f %% of sRGB", gamut.area_vs_srgb,
                                    100.0 * gamut.covers_srgb));
        return outcome{CA_OK, true, "the display is an sRGB display:"};
    });
    if (d.status() == exit_ok) print_gamut_report(stdout, gamut, "       ");
    if (!svg.empty()) {
        d.step("xy diagram", [&] {
            std::string error;
            if (!write_gamut_svg(svg, gamut, &error)) return failed_check(error);
            return outcome{CA_OK, true, "written to " + svg};
        });
    }
    d.step("release the port", [&] {
        ca410DeviceRelease(dev);
        dev = nullptr;
        return outcome{CA_OK, true, ""};
    });
    if (dev != nullptr) ca410DeviceRelease(dev);
    sim.stop();
    const double seconds = std::chrono::duration<double>(clock_type::now() - start).count();
    if (d.status() == exit_ok)
        std::printf("\nall %d steps did what they should, in %.1f s\n", d.steps(), seconds);
    else
        std::printf("\nstopped at step %d after %.1f s\n", d.steps(), seconds);
    return d.status();
}

}  // namespace cli
