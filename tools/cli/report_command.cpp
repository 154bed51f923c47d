// ca410 report: a measurement file, or a patch set measured here, judged
// against a display profile.
#include "report_command.h"

#include <algorithm>
#include <ctime>
#include <memory>

#include "commands.h"
#include "options.h"
#include "report_html.h"
#include "report_json.h"
#include "sequence.h"
#ifdef CA410_CLI_WITH_SIM
#include "sequence_sim.h"
#endif

namespace cli {

namespace report {

std::string utc_now() {
    const std::time_t now = std::time(nullptr);
    std::tm t{};
#ifdef _WIN32
    gmtime_s(&t, &now);
#else
    gmtime_r(&now, &t);
#endif
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &t);
    return text;
}

// Characters of a UTF-8 text, for lining up columns.
std::size_t characters(const std::string &text) {
    return static_cast<std::size_t>(std::count_if(text.begin(), text.end(), [](char c) {
        return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    }));
}

void print_summary(std::FILE *out, const evaluation &e, const char *indent) {
    std::size_t width = 0;
    for (const check &c : e.summary) width = std::max(width, characters(c.figure));
    std::fprintf(out, "%s%-*s %14s %14s %14s  %s\n", indent, static_cast<int>(width), "figure",
                 "measured", "target", "tolerance", "verdict");
    for (const check &c : e.summary) {
        const std::string figure = printable(c.figure);
        std::fprintf(out, "%s%s%s %s %s %s  %s\n", indent, figure.c_str(),
                     std::string(width - characters(c.figure), ' ').c_str(),
                     pad_left(value_text(c.of, c.measured), 14).c_str(),
                     pad_left(value_text(c.of, c.target), 14).c_str(),
                     pad_left(tolerance_text(c), 14).c_str(), verdict_text(c.result));
    }
    std::fprintf(out, "%soverall: %s\n", indent, verdict_text(e.overall));
}

bool write_reports(const evaluation &e, const report_source &source, const std::string &html,
                   const std::string &json, std::string *error) {
    if (!html.empty() && !write_text_file(html, report_html(e, source), error)) return false;
    // Text from the file that is not UTF-8 is replaced, not refused.
    const auto text = report_json(e, source).dump(2, ' ', false,
                                                  nlohmann::ordered_json::error_handler_t::replace);
    return json.empty() || write_text_file(json, text + "\n", error);
}

}  // namespace report

namespace {

constexpr int display_settle_ms = 200;  // a real display's response, with a margin

struct report_options {
    std::string from;
    std::string profile = "srgb";
    std::string html;
    std::string json;
    // Measuring the patch set itself: on the instrument with a show command,
    // or on the virtual instrument in this process.
    std::string show_command;
    bool sim = false;
    std::string display = "ideal";
    std::string patches = "full";
    int settle_ms = -1;  // -1: display_settle_ms, or 0 on the virtual instrument
    int repeat = 1;
    std::string save;  // the run's measurement file, if asked for

    bool measuring() const { return sim || !show_command.empty(); }
};

int refuse(const std::string &message) {
    std::fprintf(stderr, "ca410: %s\n", printable(message).c_str());
    return exit_usage;
}

int read_file(const report_options &o, measurement_file *file, std::string *source) {
    try {
        *file = read_measurements(o.from);
    } catch (const file_error &e) {
        return refuse(e.what());
    }
    *source = o.from;
    return exit_ok;
}

// The patch set measured through the sequence engine, saved when asked for.
int measure(const global_options &g, const report_options &o, measurement_file *file,
            std::string *source) {
    patch_list patches;
    try {
        patches = load_patches(o.patches);
    } catch (const std::exception &e) {
        return refuse(std::string("patches refused: ") + e.what());
    }
    std::unique_ptr<session> port;
#ifdef CA410_CLI_WITH_SIM
    std::unique_ptr<sim_instrument> sim;
    if (o.sim) sim = std::make_unique<sim_instrument>(*sim_display_preset(o.display));
#endif
    show_patch show;
    int status = exit_ok;
#ifdef CA410_CLI_WITH_SIM
    if (sim) {
        show = sim->shower();
        status = sim->start(g.log_level);
    }
#endif
    if (!o.sim) {
        port = std::make_unique<session>(g);
        show = show_patches_by(run_command(o.show_command));
        status = port->open_initialised();
    }
    if (status != exit_ok) return status;
#ifdef CA410_CLI_WITH_SIM
    const session &instrument = sim ? sim->instrument() : *port;
#else
    const session &instrument = *port;
#endif
    file->header.patch_set = o.patches;
    file->header.descriptor = o.sim ? o.display + " virtual display" : "";
    if ((status = instrumentation_of(instrument, &file->header.instrumentation)) != exit_ok)
        return status;
    std::unique_ptr<measurement_writer> writer;
    try {
        if (!o.save.empty())
            writer = measurement_writer::create(o.save, file_format::cgats, file->header, patches);
    } catch (const file_error &e) {
        return refuse(e.what());
    }
    const int settle = o.settle_ms >= 0 ? o.settle_ms : o.sim ? 0 : display_settle_ms;
    sequence_result run =
        measure_patches(instrument, patches, show, {settle, o.repeat}, writer.get());
    if (run.status != exit_ok) return run.status;
    if (writer) writer->finish();
    file->header.created = report::utc_now();
    file->readings = std::move(run.readings);
    *source = o.save.empty() ? "(measured: " + o.patches + ")" : o.save;
    return exit_ok;
}

int cmd_report(const global_options &g, const report_options &o) {
    if (o.from.empty() == !o.measuring())
        return refuse(o.from.empty() ? "give --from FILE, or measure: --show-command CMD (or --sim)"
                                     : "--from reads a file: no --show-command or --sim with it");
    report::profile profile;
    try {
        profile = report::load_profile(o.profile);
    } catch (const report::profile_error &e) {
        return refuse(std::string("profile ") + e.what());
    }
    measurement_file file;
    std::string source;
    const int status = o.measuring() ? measure(g, o, &file, &source) : read_file(o, &file, &source);
    if (status != exit_ok) return status;
    const report::evaluation e = report::evaluate(file.readings, profile);
    if (e.patches_used == 0)
        return refuse(source +
                      ": no patch a report uses (white, grey, primaries, secondaries, the "
                      "checker's), or no white to measure them against");
    std::printf("Display report of %s against profile %s\n\n", printable(source).c_str(),
                printable(profile.name).c_str());
    report::print_summary(stdout, e, "  ");
    std::string error;
    const report::report_source about{source, file.header, report::utc_now()};
    if (!report::write_reports(e, about, o.html, o.json, &error)) return refuse(error);
    return e.overall == report::verdict::fail ? exit_failed : exit_ok;
}

std::string profile_help() {
    std::string names;
    for (const std::string &n : report::builtin_profile_names())
        names += (names.empty() ? "" : ", ") + n;
    return "a built-in profile (" + names + ") or a profile file (JSON; README.md)";
}

void add_measuring_options(CLI::App *sub, report_options &o) {
    sub->add_option("--show-command", o.show_command,
                    "measure the patch set on the instrument, CMD showing each patch (as for "
                    "'ca410 sequence')")
        ->type_name("CMD");
#ifdef CA410_CLI_WITH_SIM
    sub->add_flag("--sim", o.sim, "measure the patch set on the built-in virtual instrument");
    add_display_option(sub, o.display, "the virtual instrument's display (with --sim)");
#endif
    sub->add_option("--patches", o.patches, "the patch set measured (a built-in set or a file)")
        ->type_name("SET|FILE");
    add_timing_options(sub, o.settle_ms, o.repeat);
    sub->add_option("--save", o.save, "also write the run's readings (CGATS; checked first)")
        ->type_name("FILE")
        ->check(writable_file());
}

}  // namespace

void add_report(CLI::App &app, context &ctx) {
    auto o = std::make_shared<report_options>();
    CLI::App *sub = app.add_subcommand(
        "report",
        "judge a display against a profile, from a measurement file or measuring the patch set "
        "itself: white, black and contrast, grey scale, gamut, colour checker, each PASS or "
        "FAIL; exit status 0 when all pass, 1 when one fails\nExample: ca410 report --from "
        "run.ti3 --profile srgb --html report.html");
    sub->add_option("--from", o->from, "the measurement file (CGATS, CSV or JSON Lines)")
        ->type_name("FILE");
    sub->add_option("--profile", o->profile, profile_help())->type_name("NAME|FILE");
    sub->add_option("--html", o->html, "write the report as one HTML page (checked first)")
        ->type_name("FILE")
        ->check(writable_file());
    sub->add_option("--json", o->json, "write the figures and verdicts as JSON (checked first)")
        ->type_name("FILE")
        ->check(writable_file());
    add_measuring_options(sub, *o);
    sub->callback([&ctx, o] { ctx.run([&] { return cmd_report(ctx.global, *o); }); });
}

}  // namespace cli
