// ca410 report: a measurement file judged against a display profile.
#include "report_command.h"

#include <algorithm>
#include <ctime>
#include <memory>

#include "commands.h"
#include "options.h"
#include "report_html.h"
#include "report_json.h"

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

struct report_options {
    std::string from;
    std::string profile = "srgb";
    std::string html;
    std::string json;
};

int cmd_report(const report_options &o) {
    report::profile profile;
    try {
        profile = report::load_profile(o.profile);
    } catch (const report::profile_error &e) {
        std::fprintf(stderr, "ca410: profile %s\n", printable(e.what()).c_str());
        return exit_usage;
    }
    measurement_file file;
    try {
        file = read_measurements(o.from);
    } catch (const file_error &e) {
        std::fprintf(stderr, "ca410: %s\n", printable(e.what()).c_str());
        return exit_usage;
    }
    const report::evaluation e = report::evaluate(file.readings, profile);
    if (e.patches_used == 0) {
        std::fprintf(stderr,
                     "ca410: %s: no patch a report uses (white, grey, primaries, secondaries, "
                     "the checker's), or no white to measure them against\n",
                     printable(o.from).c_str());
        return exit_usage;
    }
    std::printf("Display report of %s against profile %s\n\n", printable(o.from).c_str(),
                printable(profile.name).c_str());
    report::print_summary(stdout, e, "  ");
    std::string error;
    const report::report_source source{o.from, file.header, report::utc_now()};
    if (!report::write_reports(e, source, o.html, o.json, &error)) {
        std::fprintf(stderr, "ca410: %s\n", printable(error).c_str());
        return exit_usage;
    }
    return e.overall == report::verdict::fail ? exit_failed : exit_ok;
}

std::string profile_help() {
    std::string names;
    for (const std::string &n : report::builtin_profile_names())
        names += (names.empty() ? "" : ", ") + n;
    return "a built-in profile (" + names + ") or a profile file (JSON; README.md)";
}

}  // namespace

void add_report(CLI::App &app, context &ctx) {
    auto o = std::make_shared<report_options>();
    CLI::App *sub = app.add_subcommand(
        "report",
        "judge a measurement file against a display profile: white, black and contrast, grey "
        "scale, gamut, colour checker, each PASS or FAIL; exit status 0 when all pass, 1 when "
        "one fails\nExample: ca410 report --from run.ti3 --profile srgb --html report.html");
    sub->add_option("--from", o->from, "the measurement file (CGATS, CSV or JSON Lines)")
        ->type_name("FILE")
        ->required();
    sub->add_option("--profile", o->profile, profile_help())->type_name("NAME|FILE");
    sub->add_option("--html", o->html, "write the report as one HTML page (checked first)")
        ->type_name("FILE")
        ->check(writable_file());
    sub->add_option("--json", o->json, "write the figures and verdicts as JSON (checked first)")
        ->type_name("FILE")
        ->check(writable_file());
    sub->callback([&ctx, o] { ctx.run([&] { return cmd_report(*o); }); });
}

}  // namespace cli
