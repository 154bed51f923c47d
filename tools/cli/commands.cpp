#include "commands.h"

#include <unistd.h>
#ifdef _WIN32
#include <windows.h>
#else
#include <sys/ioctl.h>
#endif

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <vector>

#include "gamut.h"
#include "progress.h"
#include "ser_nt_ca410/ca410_dev.h"
#include "ser_nt_com/ser_com.h"

namespace cli {

namespace {

constexpr int max_ports = 64;

// Width of the terminal on standard output, less one column; 79 if unknown.
int terminal_columns() {
#ifdef _WIN32
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (GetConsoleScreenBufferInfo(GetStdHandle(STD_OUTPUT_HANDLE), &info)) {
        const int width = info.srWindow.Right - info.srWindow.Left + 1;
        if (width > 1) return width - 1;
    }
#else
    winsize w{};
    if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &w) == 0 && w.ws_col > 1) return w.ws_col - 1;
#endif
    return 79;
}

// Lists the names a port lister filled in and frees them.
int print_names(std::vector<char *> &names, int32_t n, const char *none) {
    int found = 0;
    for (int32_t i = 0; i < n; ++i) {
        char *name = names[static_cast<std::size_t>(i)];
        if (name == nullptr) continue;
        std::printf("%s\n", name);
        std::free(name);
        ++found;
    }
    if (found == 0) std::fprintf(stderr, "ca410: %s\n", none);
    return exit_ok;
}

void print_setting(const char *name, const std::string &value) {
    std::printf("%-26s %s\n", name, value.c_str());
}
void print_setting(const char *name, int value) {
    print_setting(name, std::to_string(value));
}
void print_setting(const char *name, double value) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%g", value);
    print_setting(name, buf);
}

void print_xyz_row(const char *label, const double *target, const double *measured) {
    std::printf("%-7s %11.4f %11.4f %11.4f   %11.4f %11.4f %11.4f\n", label, target[0], target[1],
                target[2], measured[0], measured[1], measured[2]);
}

void print_xyz_header() {
    std::printf("%-7s %11s %11s %11s   %11s %11s %11s\n", "colour", "target X", "target Y",
                "target Z", "measured X", "measured Y", "measured Z");
}

using wrgb_step = int32_t (*)(ca410_dev *, const double *, double *);
constexpr wrgb_step wrgb_steps[4] = {ca410WRGBCalibWhite, ca410WRGBCalibRed, ca410WRGBCalibGreen,
                                     ca410WRGBCalibBlue};

}  // namespace

bool valid_channel_name(const std::string &name, std::string *reason) {
    if (name.size() > 9) {
        *reason = "is longer than 9 characters";
        return false;
    }
    for (const char c : name) {
        if (c == ',' || c < 0x20 || c > 0x7e) {
            *reason = "may hold printable ASCII characters except the comma only";
            return false;
        }
    }
    return true;
}

int cmd_ports() {
    std::vector<char *> names(max_ports, nullptr);
    get_serial_path(names.data(), max_ports);
    return print_names(names, max_ports, "no serial ports found");
}

int cmd_scan() {
    std::vector<char *> names(max_ports, nullptr);
    int32_t found = 0;
    if (ca410_dev_scan(names.data(), max_ports, &found) != 0) {
        std::fprintf(stderr, "ca410: scan failed\n");
        return exit_failed;
    }
    return print_names(names, found, "no CA-410 answered on any serial port");
}

int cmd_identify(const global_options &g) {
    session s(g);
    if (int st = s.open()) return st;
    std::printf("port:  %s\nmodel: %s\n", s.port().c_str(), s.dev()->model);
    return exit_ok;
}

int cmd_info(const global_options &g) {
    session s(g);
    if (int st = s.open_initialised()) return st;
    ca410_dev_info info{};
    if (int st = s.check("reading the identity", ca410GetDeviceInfo(s.dev(), &info))) return st;
    const ca410_dev &d = *s.dev();
    print_setting("port", s.port());
    print_setting("model", d.model);
    print_setting("name", info.name);
    print_setting("serial number", info.sn);
    print_setting("version", info.vn);
    print_setting("display mode", d.display_mode);
    print_setting("sync mode", d.sync_mode);
    print_setting("internal frequency (Hz)", d.internal_freq);
    print_setting("manual measure time (ms)", d.manual_mode_measure_time);
    print_setting("luminance unit", d.lum_unit);
    print_setting("display probe", d.probe_display);
    print_setting("output probe", d.probe_output);
    print_setting("measurement speed", d.measure_speed);
    print_setting("colour range mode", d.color_range_mode);
    print_setting("colour range", d.color_range);
    print_setting("flicker range mode", d.flicker_range_mode);
    print_setting("flicker range", d.flicker_range);
    print_setting("trigger mode", d.trigger_mode);
    print_setting("trigger delay (ms)", d.trigger_delay);
    print_setting("temperature shift", d.temperature_shift);
    print_setting("simultaneous measure", d.simultaneous_measure);
    print_setting("zero calibration status", d.zero_calibration_status);
    print_setting("calibration mode", d.calmode);
    print_setting("calibration channel", d.current_channel);
    return exit_ok;
}

int cmd_zero_cal(const global_options &g) {
    session s(g);
    if (int st = s.open()) return st;
    if (int st = s.check("zero calibration", ca410BlackCalibration(s.dev()))) return st;
    ca410_dev_stat stat{};
    if (int st = s.check("reading the settings", ca410GetDeviceStat(s.dev(), &stat))) return st;
    if (stat.zero_cal != 1) {
        std::fprintf(stderr, "ca410: the instrument does not report the zero calibration done\n");
        return exit_check;
    }
    std::printf("zero calibration done\n");
    return exit_ok;
}

// One setting each; shared by the subcommands of their own and by measure.
static int select_channel(const session &s, int channel) {
    return s.check("selecting channel " + std::to_string(channel),
                   ca410SetChannel(s.dev(), channel));
}

static int set_speed(const session &s, int speed) {
    return s.check("setting speed " + std::to_string(speed), ca410SetMeasureSpeed(s.dev(), speed));
}

int cmd_channel(const global_options &g, int channel) {
    session s(g);
    if (int st = s.open()) return st;
    if (int st = select_channel(s, channel)) return st;
    std::printf("calibration channel %d selected\n", channel);
    return exit_ok;
}

int cmd_speed(const global_options &g, int speed) {
    session s(g);
    if (int st = s.open()) return st;
    if (int st = set_speed(s, speed)) return st;
    std::printf("measurement speed %d set\n", speed);
    return exit_ok;
}

int cmd_measure(const global_options &g, const measure_options &m) {
    session s(g);
    if (int st = s.open_initialised()) return st;
    if (m.channel >= 0) {
        if (int st = select_channel(s, m.channel)) return st;
    }
    if (m.speed >= 0) {
        if (int st = set_speed(s, m.speed)) return st;
    }
    // --watch on a terminal redraws one line; elsewhere it streams readings.
    const bool redraw = m.watch && m.fmt == format::text && isatty(STDOUT_FILENO);
    reading_writer out(m.fmt, stdout);
    if (!redraw) out.begin(s.port(), s.dev()->current_channel);
    std::size_t taken = 0;
    int status = exit_ok;
    for (long long i = 0; m.watch || i < m.count; ++i) {
        if (i > 0 && !sleep_interruptible(m.interval_ms)) break;
        double xyz[3];
        const int32_t rc = ca410MeasureXYZ(s.dev(), xyz);
        if (rc != CA_OK) {
            if (redraw) std::fputc('\n', stdout);
            status = s.check("measurement " + std::to_string(i + 1), rc);
            break;
        }
        const figures f = figures_of(xyz);
        ++taken;
        if (redraw) {
            const int columns = terminal_columns();
            std::printf("\r%s\x1b[K", fit_columns(reading_line(taken, f), columns).c_str());
            std::fflush(stdout);
        } else {
            out.reading(f);
        }
        if (interrupted()) break;
    }
    if (redraw)
        std::printf("\n%zu readings\n", taken);
    else
        out.end();
    if (status != exit_ok) return status;
    // Ctrl-C is how --watch is meant to end.
    return m.watch ? exit_ok : s.stop_point();
}

int cmd_channels(const global_options &g) {
    session s(g);
    if (int st = s.open()) return st;
    ca410_callist_entry *list = nullptr;
    int32_t count = 0;
    int32_t rc;
    {
        progress_line progress("reading calibration channels 1 to 99");
        rc = ca410GetCallist(s.dev(), &list, &count);
    }
    if (int st = s.check("reading the channel list", rc)) return st;
    if (count == 0) std::printf("no user calibration channels\n");
    for (const ca410_callist_entry *e = list; e != nullptr; e = e->next)
        std::printf("%3d  %s\n", e->channel, e->name);
    ca410DeleteCallist(&list);
    return exit_ok;
}

int cmd_calfile(const global_options &g, int channel) {
    session s(g);
    if (int st = s.open()) return st;
    ca410_calfile cal{};
    if (int st = s.check("reading channel " + std::to_string(channel),
                         ca410GetCalfile(s.dev(), channel, &cal)))
        return st;
    std::printf("channel  %d\nname     %s\ntype     %d\n", cal.channel, cal.name, cal.cal_type);
    print_xyz_header();
    for (std::size_t c = 0; c < 4; ++c)
        print_xyz_row(colour_names[c], cal.target[c], cal.measure[c]);
    return exit_ok;
}

int cmd_delete(const global_options &g, int channel) {
    session s(g);
    if (int st = s.open()) return st;
    if (int st = s.check("deleting channel " + std::to_string(channel),
                         ca410DeleteCalfile(s.dev(), channel)))
        return st;
    std::printf("channel %d deleted\n", channel);
    return exit_ok;
}

int cmd_calibrate(const global_options &g, const calibrate_options &c, const show_colour &show) {
    // Everything the operator typed is checked before the port is touched.
    wrgb_xyz targets;
    std::string error;
    if (!read_targets(c.targets_file, &targets, &error)) {
        std::fprintf(stderr, "ca410: targets refused: %s\n", error.c_str());
        return exit_usage;
    }
    if (!valid_channel_name(c.name, &error)) {
        std::fprintf(stderr, "ca410: channel name '%s' %s\n", c.name.c_str(), error.c_str());
        return exit_usage;
    }
    session s(g);
    if (int st = s.open_initialised()) return st;
    wrgb_xyz measured{};
    for (std::size_t i = 0; i < 4; ++i) {
        if (int st = show(static_cast<colour>(i))) return st;
        if (int st = s.check(std::string("calibrating ") + colour_names[i],
                             wrgb_steps[i](s.dev(), targets[i].data(), measured[i].data())))
            return st;
    }
    const std::time_t now = std::time(nullptr);
    std::tm t{};
#ifdef _WIN32
    localtime_s(&t, &now);
#else
    localtime_r(&now, &t);
#endif
    if (int st = s.check("storing channel " + std::to_string(c.channel),
                         ca410WRGBCalibEnd(s.dev(), c.channel, c.name.c_str(), t.tm_year + 1900,
                                           t.tm_mon + 1, t.tm_mday, t.tm_hour)))
        return st;
    print_xyz_header();
    for (std::size_t i = 0; i < 4; ++i)
        print_xyz_row(colour_names[i], targets[i].data(), measured[i].data());
    char default_name[8];
    std::snprintf(default_name, sizeof default_name, "CH%02d", c.channel);
    std::printf("stored in channel %d, name '%s', %04d-%02d-%02d %02d h\n", c.channel,
                c.name.empty() ? default_name : c.name.c_str(), t.tm_year + 1900, t.tm_mon + 1,
                t.tm_mday, t.tm_hour);
    return exit_ok;
}

int cmd_gamut(const global_options &g, const std::string &svg, const show_colour &show) {
    session s(g);
    if (int st = s.open_initialised()) return st;
    wrgb_xyz measured{};
    for (std::size_t i = 0; i < 4; ++i) {
        if (int st = show(static_cast<colour>(i))) return st;
        if (int st = s.check(std::string("measuring ") + colour_names[i],
                             ca410MeasureXYZ(s.dev(), measured[i].data())))
            return st;
    }
    gamut_report report;
    std::string error;
    if (!make_gamut_report(measured, &report, &error)) {
        std::fprintf(stderr, "ca410: gamut: %s\n", error.c_str());
        return exit_check;
    }
    print_gamut_report(stdout, report, "");
    if (!svg.empty()) {
        if (!write_gamut_svg(svg, report, &error)) {
            std::fprintf(stderr, "ca410: %s\n", error.c_str());
            return exit_failed;
        }
        std::printf("xy diagram written to %s\n", svg.c_str());
    }
    return exit_ok;
}

}  // namespace cli
