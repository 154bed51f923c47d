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
#include <memory>
#include <vector>

#include "ca410_host.h"
#include "gamut.h"
#include "options.h"
#include "progress.h"

namespace cli {

namespace {

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

// The ports a lister filled in (`fill` as ca410_list_ports), all of them.
std::vector<ca410_port> port_list(int32_t (*fill)(ca410_port *, int32_t, int32_t *)) {
    std::vector<ca410_port> ports(16);
    int32_t count = 0;
    while (fill(ports.data(), static_cast<int32_t>(ports.size()), &count) == CA_OK &&
           static_cast<size_t>(count) > ports.size()) {
        ports.resize(static_cast<size_t>(count));
    }
    ports.resize(std::min(static_cast<size_t>(count), ports.size()));
    return ports;
}

void print_port(const ca410_port &p) {
    std::string line = printable(p.name);
    if (p.description[0]) line += "  " + instrument_text(p.description);
    if (p.usb_vendor_id || p.usb_product_id) {
        char ids[32];
        std::snprintf(ids, sizeof ids, "  USB %04x:%04x", p.usb_vendor_id, p.usb_product_id);
        line += ids;
    }
    if (p.manufacturer[0]) line += "  " + instrument_text(p.manufacturer);
    if (p.serial_number[0]) line += "  S/N " + instrument_text(p.serial_number);
    std::printf("%s\n", line.c_str());
}

// A setting's number with what it means, where the number alone says little.
struct meaning {
    int value;
    const char *text;
};
const meaning display_modes[] = {{0, "x, y, Lv"},   {1, "T, duv, Lv"},
                                 {5, "u', v', Lv"}, {6, "flicker"},
                                 {7, "X, Y, Z"},    {8, "dominant wavelength, purity"}};
const meaning sync_modes[] = {{0, "NTSC"},
                              {1, "PAL"},
                              {2, "external sync signal"},
                              {3, "universal"},
                              {4, "internal, at a set frequency"},
                              {5, "manual, a set measuring time"}};
const meaning zero_states[] = {{2, "done"}};
const meaning luminance_units[] = {{0, "fL"}, {1, "cd/m2"}};

template <size_t N>
std::string with_meaning(int value, const meaning (&table)[N], const char *otherwise) {
    for (const meaning &m : table) {
        if (m.value == value) return std::to_string(value) + " (" + m.text + ")";
    }
    return std::to_string(value) + (otherwise ? std::string(" (") + otherwise + ")" : "");
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

// One setting each; shared by the subcommands of their own and by measure.
int select_channel(const session &s, int channel) {
    return s.check("selecting channel " + std::to_string(channel),
                   ca410SetChannel(s.dev(), channel));
}

int set_speed(const session &s, int speed) {
    return s.check("setting speed " + std::to_string(speed), ca410SetMeasureSpeed(s.dev(), speed));
}

// A subcommand that takes no options of its own.
void add_plain(CLI::App &app, context &ctx, const char *name, const char *description,
               int (*run)(const global_options &)) {
    app.add_subcommand(name, description)->callback([&ctx, run] {
        ctx.run([&] { return run(ctx.global); });
    });
}

// A subcommand with one channel number N.
void add_with_channel(CLI::App &app, context &ctx, const char *name, const char *description,
                      long first, int (*run)(const global_options &, int)) {
    auto channel = std::make_shared<int>(0);
    CLI::App *sub = app.add_subcommand(name, description);
    sub->add_option("N", *channel, "the channel, " + std::to_string(first) + " to 99")
        ->required()
        ->check(whole_number(first, 99));
    sub->callback([&ctx, run, channel] { ctx.run([&] { return run(ctx.global, *channel); }); });
}

int cmd_ports(const global_options &) {
    const std::vector<ca410_port> ports = port_list(ca410_list_ports);
    for (const ca410_port &p : ports) print_port(p);
    if (ports.empty()) std::fprintf(stderr, "ca410: no serial ports found\n");
    return exit_ok;
}

int cmd_scan(const global_options &) {
    const std::vector<ca410_port> listed = port_list(ca410_list_ports);
    std::vector<ca410_port> found;
    {
        progress_line progress("asking each serial port for a CA-410");
        found = port_list(ca410_scan_ports);
    }
    for (const ca410_port &p : found) print_port(p);
    if (!found.empty()) return exit_ok;
    std::string tried;
    for (const ca410_port &p : listed) tried += (tried.empty() ? "" : ", ") + printable(p.name);
    std::fprintf(stderr, "ca410: no CA-410 found on: %s\n",
                 tried.empty() ? "(no serial ports)" : tried.c_str());
    return exit_failed;
}

int cmd_info(const global_options &g) {
    session s(g);
    if (int st = s.open_initialised()) return st;
    ca410_dev_info info{};
    if (int st = s.check("reading the identity", ca410GetDeviceInfo(s.dev(), &info))) return st;
    const ca410_dev &d = *s.dev();
    print_setting("port", printable(s.port()));
    print_setting("model", instrument_text(d.model));
    print_setting("name", instrument_text(info.name));
    print_setting("serial number", instrument_text(info.sn));
    print_setting("version", instrument_text(info.vn));
    print_setting("display mode", with_meaning(d.display_mode, display_modes, nullptr));
    print_setting("sync mode", with_meaning(d.sync_mode, sync_modes, nullptr));
    print_setting("internal frequency (Hz)", d.internal_freq);
    print_setting("manual measure time (ms)", d.manual_mode_measure_time);
    print_setting("luminance unit", with_meaning(d.lum_unit, luminance_units, nullptr));
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
    print_setting("zero calibration status",
                  with_meaning(d.zero_calibration_status, zero_states, "not done"));
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

struct measure_options {
    int count = 1;
    int interval_ms = 0;
    std::string fmt = "text";
    bool watch = false;
    int channel = -1;  // select before measuring; -1 keeps the current one
    int speed = -1;    // likewise
};

int cmd_measure(const global_options &g, const measure_options &m) {
    session s(g);
    if (int st = s.open_initialised()) return st;
    if (m.channel >= 0) {
        if (int st = select_channel(s, m.channel)) return st;
    }
    if (m.speed >= 0) {
        if (int st = set_speed(s, m.speed)) return st;
    }
    const format fmt = format_named(m.fmt);
    // --watch on a terminal redraws one line; elsewhere it streams readings.
    const bool redraw = m.watch && fmt == format::text && isatty(STDOUT_FILENO);
    reading_writer out(fmt, stdout);
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
        std::printf("%3d  %s\n", e->channel, instrument_text(e->name).c_str());
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
    std::printf("channel  %d\nname     %s\ntype     %d\n", cal.channel,
                instrument_text(cal.name).c_str(), cal.cal_type);
    print_xyz_header();
    for (std::size_t c = 0; c < 4; ++c)
        print_xyz_row(colour_names[c], cal.target[c], cal.measure[c]);
    return exit_ok;
}

int cmd_delete(const global_options &g, int channel) {
    session s(g);
    if (int st = s.open()) return st;
    // A channel without a user calibration reads back as type 0.
    ca410_calfile cal{};
    if (int st = s.check("reading channel " + std::to_string(channel),
                         ca410GetCalfile(s.dev(), channel, &cal)))
        return st;
    if (cal.cal_type == 0) {
        std::printf("channel %d was already empty\n", channel);
        return exit_ok;
    }
    if (int st = s.check("deleting channel " + std::to_string(channel),
                         ca410DeleteCalfile(s.dev(), channel)))
        return st;
    std::printf("channel %d ('%s') deleted\n", channel, instrument_text(cal.name).c_str());
    return exit_ok;
}

struct calibrate_options {
    int channel = 0;
    std::string name;
    std::string targets_file;
    show_options show;
};

int cmd_calibrate(const global_options &g, const calibrate_options &c) {
    // Everything the operator typed is checked before the port is touched.
    wrgb_xyz targets;
    std::string error;
    if (!read_targets(c.targets_file, &targets, &error)) {
        std::fprintf(stderr, "ca410: targets refused: %s\n", printable(error).c_str());
        return exit_usage;
    }
    if (!valid_channel_name(c.name, &error)) {
        std::fprintf(stderr, "ca410: channel name '%s' %s\n", printable(c.name).c_str(),
                     error.c_str());
        return exit_usage;
    }
    const show_colour show = c.show.make();
    session s(g);
    if (int st = s.open_initialised()) return st;
    wrgb_xyz measured{};
    for (std::size_t i = 0; i < 4; ++i) {
        if (int st = show(colour_names[i], colour_levels[i])) return st;
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

struct gamut_options {
    std::string svg;
    show_options show;
};

int cmd_gamut(const global_options &g, const gamut_options &o) {
    const show_colour show = o.show.make();
    session s(g);
    if (int st = s.open_initialised()) return st;
    wrgb_xyz measured{};
    for (std::size_t i = 0; i < 4; ++i) {
        if (int st = show(colour_names[i], colour_levels[i])) return st;
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
    if (!o.svg.empty()) {
        if (!write_gamut_svg(o.svg, report, &error)) {
            std::fprintf(stderr, "ca410: %s\n", printable(error).c_str());
            return exit_failed;
        }
        std::printf("xy diagram written to %s\n", printable(o.svg).c_str());
    }
    return exit_ok;
}

}  // namespace

void context::run(const std::function<int()> &body) {
    install_interrupt_handler();
    hold_library_log(global.log_level);
    status = body();
}

void show_options::add_to(CLI::App *sub) {
    sub->add_flag("--no-prompt", no_prompt,
                  "do not ask the operator: the host shows each colour itself");
    sub->add_option("--show-command", command,
                    "before each measurement run CMD through the shell (sh -c; cmd on Windows) "
                    "with the colour's name and its drive levels R G B (0 to 1) as arguments, "
                    "e.g. 'CMD red 1 0 0'; it must return once the colour is shown (exit status "
                    "0). For the virtual instrument: 'ca410 sim-control SOCKET show'")
        ->type_name("CMD");
}

show_colour show_options::make() const {
    if (!command.empty()) return run_command(command);
    return no_prompt ? shown_by_host() : ask_operator();
}

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

void add_ports(CLI::App &app, context &ctx) {
    add_plain(app, ctx, "ports",
              "list the machine's serial ports, with the USB device behind each where known",
              cmd_ports);
}

void add_scan(CLI::App &app, context &ctx) {
    add_plain(app, ctx, "scan",
              "probe every serial port and list those where a CA-410 answers (exit 1 if none)",
              cmd_scan);
}

void add_identify(CLI::App &app, context &ctx) {
    CLI::App *sub =
        app.add_subcommand("identify", "open the instrument, print its model and release it");
    sub->add_option("port", ctx.global.port, "port (instead of --port)")->type_name("PORT");
    sub->callback([&ctx] {
        ctx.run([&] {
            session s(ctx.global);
            if (int st = s.open()) return st;
            std::printf("port:  %s\nmodel: %s\n", printable(s.port()).c_str(),
                        instrument_text(s.dev()->model).c_str());
            return static_cast<int>(exit_ok);
        });
    });
}

void add_info(CLI::App &app, context &ctx) {
    add_plain(app, ctx, "info",
              "initialise the instrument (zero calibration included: cap the probe) and print "
              "its identity and every setting",
              cmd_info);
}

void add_zero_cal(CLI::App &app, context &ctx) {
    add_plain(app, ctx, "zero-cal", "run the zero calibration (cap the probe first)", cmd_zero_cal);
}

void add_channel(CLI::App &app, context &ctx) {
    add_with_channel(app, ctx, "channel", "select calibration channel N (0: factory calibration)",
                     0, cmd_channel);
}

void add_speed(CLI::App &app, context &ctx) {
    auto speed = std::make_shared<int>(0);
    CLI::App *sub = app.add_subcommand("speed", "set the measurement speed N");
    sub->add_option("N", *speed, "the instrument's speed, 0 to 3")
        ->required()
        ->check(whole_number(0, 3));
    sub->callback([&ctx, speed] { ctx.run([&] { return cmd_speed(ctx.global, *speed); }); });
}

void add_measure(CLI::App &app, context &ctx) {
    auto m = std::make_shared<measure_options>();
    CLI::App *sub = app.add_subcommand(
        "measure",
        "initialise (zero calibration included) and measure: X, Y, Z, x, y, u', v', CCT and "
        "Δuv of each reading (CCT only where |Δuv| <= 0.05); mean and standard deviation of a "
        "series");
    CLI::Option *count = sub->add_option("-n,--count", m->count, "number of readings")
                             ->type_name("N")
                             ->check(whole_number_from(1));
    sub->add_option("--interval", m->interval_ms, "pause between readings, milliseconds")
        ->type_name("MS")
        ->check(whole_number_from(0));
    sub->add_option("--format", m->fmt, "text, csv or json (csv and json: data only on stdout)")
        ->type_name("FORMAT")
        ->check(CLI::IsMember({"text", "csv", "json"}));
    sub->add_flag("--watch", m->watch, "keep measuring and redraw one line until Ctrl-C")
        ->excludes(count);
    sub->add_option("--channel", m->channel, "select this calibration channel first, 0 to 99")
        ->type_name("N")
        ->default_str("")
        ->check(whole_number(0, 99));
    sub->add_option("--speed", m->speed, "set this measurement speed first, 0 to 3")
        ->type_name("N")
        ->default_str("")
        ->check(whole_number(0, 3));
    sub->callback([&ctx, m] { ctx.run([&] { return cmd_measure(ctx.global, *m); }); });
}

void add_channels(CLI::App &app, context &ctx) {
    add_plain(app, ctx, "channels",
              "list the user calibration channels (walks channels 1 to 99, seconds)", cmd_channels);
}

void add_calfile(CLI::App &app, context &ctx) {
    add_with_channel(app, ctx, "calfile", "print the calibration data of channel N", 0,
                     cmd_calfile);
}

void add_delete(CLI::App &app, context &ctx) {
    add_with_channel(app, ctx, "delete", "delete user calibration channel N", 1, cmd_delete);
}

void add_calibrate(CLI::App &app, context &ctx) {
    auto c = std::make_shared<calibrate_options>();
    CLI::App *sub = app.add_subcommand(
        "calibrate",
        "WRGB user calibration: measure white, red, green and blue as the display shows them, "
        "pair them with the targets and store the result in a channel");
    sub->add_option("--channel", c->channel, "channel to store into, 1 to 99")
        ->type_name("N")
        ->required()
        ->check(whole_number(1, 99));
    sub->add_option("--name", c->name, "channel name, at most 9 characters (default CHnn)")
        ->type_name("NAME");
    sub->add_option("--targets", c->targets_file,
                    "CSV file, one line per colour: colour,X,Y,Z (colour white, red, green or "
                    "blue; a header line and # comments allowed)")
        ->type_name("FILE")
        ->required();
    c->show.add_to(sub);
    sub->callback([&ctx, c] { ctx.run([&] { return cmd_calibrate(ctx.global, *c); }); });
}

void add_gamut(CLI::App &app, context &ctx) {
    auto o = std::make_shared<gamut_options>();
    CLI::App *sub = app.add_subcommand(
        "gamut",
        "measure white, red, green and blue; print the primaries, the white point's CCT and "
        "Δuv, the area relative to sRGB and the coverage of sRGB and DCI-P3 (CIE 1931 xy)");
    sub->add_option("--svg", o->svg, "also draw the xy diagram into FILE (checked first)")
        ->type_name("FILE")
        ->check(writable_file());
    o->show.add_to(sub);
    sub->callback([&ctx, o] { ctx.run([&] { return cmd_gamut(ctx.global, *o); }); });
}

}  // namespace cli
