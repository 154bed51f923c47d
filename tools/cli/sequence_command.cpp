// ca410 sequence: a patch set measured into a measurement file, patch by
// patch, resumable; on the instrument with a show command, or on the
// virtual instrument in this process (--sim).
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cmath>
#include <cstddef>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <optional>
#include <stdexcept>

#include "ca410_host.h"
#include "commands.h"
#include "options.h"
#include "sequence.h"
#ifdef CA410_CLI_WITH_SIM
#include "sequence_sim.h"
#endif

namespace cli {

namespace {

constexpr int display_settle_ms = 200;  // a real display's response, with a margin

struct sequence_options {
    std::string patches;
    int bits = 0;
    std::string show_command;
    int settle_ms = -1;  // -1: display_settle_ms, or 0 on the virtual instrument
    int repeat = 1;
    std::string out;
    std::string format;  // empty: from the extension
    bool resume = false;
    std::string descriptor;
    bool sim = false;
    std::string display = "ideal";

    int settle() const { return settle_ms >= 0 ? settle_ms : sim ? 0 : display_settle_ms; }
};

// What the run is to do, settled before the instrument is opened.
struct plan {
    patch_list patches;
    file_format format = file_format::cgats;
    measurement_header header;
    std::optional<measurement_file> recorded;  // --resume with a file to go on with
};

std::string patches_text(std::size_t n) {
    return std::to_string(n) + (n == 1 ? " patch" : " patches");
}

// A message of one or more lines; text from outside shown escaped.
int refuse(const std::string &what) {
    std::string lines;
    for (std::size_t from = 0, to = 0; to != std::string::npos; from = to + 1) {
        to = what.find('\n', from);
        lines += printable(what.substr(from, to == std::string::npos ? to : to - from)) + "\n";
    }
    std::fprintf(stderr, "ca410: %s", lines.c_str());
    return exit_usage;
}

const struct {
    const char *extension;
    file_format format;
} extension_formats[] = {
    {".ti3", file_format::cgats}, {".cgats", file_format::cgats}, {".txt", file_format::cgats},
    {".csv", file_format::csv},   {".json", file_format::json},   {".jsonl", file_format::json},
};

std::optional<file_format> format_of_extension(const std::string &path) {
    std::string ext = std::filesystem::path(path).extension().string();
    for (char &c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    for (const auto &e : extension_formats)
        if (ext == e.extension) return e.format;
    return std::nullopt;
}

int choose_format(const sequence_options &o, plan *p) {
    const std::optional<file_format> f =
        o.format.empty() ? format_of_extension(o.out) : file_format_named(o.format);
    if (!f)
        return refuse(o.out +
                      ": the extension tells no format (.ti3, .cgats, .txt, .csv, .json, "
                      ".jsonl): give --format cgats|csv|json");
    p->format = *f;
    return exit_ok;
}

int load(const sequence_options &o, plan *p) {
    try {
        p->patches = load_patches(o.patches, o.bits);
    } catch (const file_error &e) {
        std::error_code ec;
        const bool missing =
            e.problem == file_problem::io && !std::filesystem::exists(o.patches, ec);
        return refuse(std::string("patches refused: ") + e.what() +
                      (missing ? "; nor is it a built-in set (grey[:N], primaries, checker, "
                                 "full[:N])"
                               : ""));
    } catch (const std::invalid_argument &e) {  // a built-in set's name or step count
        return refuse(std::string("patches refused: ") + e.what());
    }
    return exit_ok;
}

// What tells runs apart first: shown() cuts a resume's differences short.
std::string default_descriptor(const sequence_options &o, const plan &p) {
    std::string d = std::to_string(o.repeat) + (o.repeat == 1 ? " reading" : " readings") +
                    " a patch, settle " + std::to_string(o.settle()) + " ms, ";
    if (o.sim) d += o.display + " virtual display, ";
    return d + p.header.patch_set + " (" + patches_text(p.patches.size()) + ")";
}

int make_header(const sequence_options &o, plan *p) {
    std::string error;
    if (!created_time(&p->header.created, &error)) return refuse(error);
    p->header.originator = std::string("ca410 ") + ca410_version();
    p->header.patch_set = is_builtin_set(o.patches)
                              ? o.patches
                              : std::filesystem::path(o.patches).filename().string();
    p->header.descriptor = o.descriptor.empty() ? default_descriptor(o, *p) : o.descriptor;
    return exit_ok;
}

int refuse_differences(const std::string &path, const std::vector<std::string> &differences) {
    std::string text = path + " is another run's (--resume goes on with the same run only):";
    for (const std::string &d : differences) text += "\n  " + d;
    return refuse(text);
}

// --resume: the partial file, checked against this run as far as it can be
// before the instrument answers (its INSTRUMENTATION is compared then).
int read_recorded(const sequence_options &o, plan *p) {
    try {
        p->recorded = read_partial_measurements(o.out);
    } catch (const file_error &e) {
        return refuse(std::string("cannot resume: ") + e.what());
    }
    if (!o.format.empty() && p->recorded->format != p->format)
        return refuse(o.out + " is a " + file_format_names[static_cast<int>(p->recorded->format)] +
                      " file, not " + o.format);
    p->format = p->recorded->format;
    measurement_header run = p->header;
    run.instrumentation = p->recorded->header.instrumentation;
    const auto differences = resume_differences(*p->recorded, run, p->patches);
    return differences.empty() ? exit_ok : refuse_differences(o.out, differences);
}

int check_output(const sequence_options &o, plan *p) {
    std::error_code ec;
    const bool exists = std::filesystem::exists(o.out, ec);
    if (exists && !o.resume)
        return refuse(o.out +
                      " exists: --resume goes on with an interrupted run, or remove the file");
    std::string error;
    if (!output_path_ok(o.out, &error)) return refuse(error);
    return exists ? read_recorded(o, p) : exit_ok;
}

int make_plan(const sequence_options &o, plan *p) {
    if (!o.sim && o.show_command.empty())
        return refuse("give --show-command CMD to have each patch shown (or --sim)");
    for (auto step : {load, choose_format, make_header, check_output})
        if (int st = step(o, p)) return st;
    return exit_ok;
}

// Where the patches are shown and measured.
struct station {
    std::unique_ptr<session> port;
#ifdef CA410_CLI_WITH_SIM
    std::unique_ptr<sim_instrument> sim;
#endif
    show_patch show;

    const session &instrument() const {
#ifdef CA410_CLI_WITH_SIM
        if (sim) return sim->instrument();
#endif
        return *port;
    }
};

int open_station(const global_options &g, const sequence_options &o, station *s) {
#ifdef CA410_CLI_WITH_SIM
    if (o.sim) {
        if (!g.port.empty())
            return refuse("--sim measures the built-in virtual instrument: no --port");
        s->sim = std::make_unique<sim_instrument>(*sim_display_preset(o.display));
        s->show = s->sim->shower();
        return s->sim->start(g.log_level);
    }
#endif
    s->port = std::make_unique<session>(g);
    s->show = show_patches_by(run_command(o.show_command));
    return s->port->open_initialised();
}

std::unique_ptr<measurement_writer> open_writer(const sequence_options &o, const plan &p,
                                                int *status) {
    try {
        *status = exit_ok;
        return p.recorded ? measurement_writer::resume(o.out, *p.recorded, p.header, p.patches)
                          : measurement_writer::create(o.out, p.format, p.header, p.patches);
    } catch (const file_error &e) {
        *status = refuse(e.what());
        return nullptr;
    }
}

// "[########------------] 37/100 patches, 12 s left" on standard error,
// only when it is a terminal. The cursor waits at the start of the line, so
// that a failure's message covers the bar; a show command's output gets the
// line cleared.
class progress_bar {
  public:
    progress_bar(std::size_t done, std::size_t total)
        : on_(isatty(STDERR_FILENO) != 0), first_(done), total_(total) {
        draw(done);
    }
    ~progress_bar() { clear(); }
    progress_bar(const progress_bar &) = delete;
    progress_bar &operator=(const progress_bar &) = delete;

    void draw(std::size_t done) const {
        if (!on_) return;
        constexpr std::size_t width = 20;
        const std::size_t filled = total_ ? width * done / total_ : width;
        std::string bar = "[" + std::string(filled, '#') + std::string(width - filled, '-') + "]";
        std::fprintf(stderr, "\r%s %zu/%zu patches%s\x1b[K\r", bar.c_str(), done, total_,
                     time_left(done).c_str());
        std::fflush(stderr);
    }
    void clear() const {
        if (on_) std::fputs("\r\x1b[K", stderr);
    }

  private:
    std::string time_left(std::size_t done) const {
        if (done <= first_) return "";
        const std::chrono::duration<double> spent = std::chrono::steady_clock::now() - start_;
        const double left =
            spent.count() / static_cast<double>(done - first_) * static_cast<double>(total_ - done);
        return ", " + std::to_string(static_cast<long long>(std::ceil(left))) + " s left";
    }

    bool on_;
    std::size_t first_, total_;
    std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
};

int finish(const sequence_options &o, measurement_writer &writer, std::size_t before) {
    try {
        writer.finish();
    } catch (const file_error &e) {
        std::fprintf(stderr, "ca410: %s\n", printable(e.what()).c_str());
        return exit_failed;
    }
    std::printf("%s measured into %s", patches_text(writer.rows_written()).c_str(),
                printable(o.out).c_str());
    if (before > 0) std::printf(" (%zu of them by an earlier run)", before);
    std::printf("\n");
    return exit_ok;
}

int run_plan(const global_options &g, const sequence_options &o, plan &p) {
    station s;
    if (int st = open_station(g, o, &s)) return st;
    if (int st = instrumentation_of(s.instrument(), &p.header.instrumentation)) return st;
    int status = exit_ok;
    const std::unique_ptr<measurement_writer> writer = open_writer(o, p, &status);
    if (!writer) return status;
    const std::size_t before = writer->rows_written();
    const patch_list rest(p.patches.begin() + static_cast<std::ptrdiff_t>(before), p.patches.end());
    sequence_result r;
    {
        progress_bar bar(before, p.patches.size());
        const show_patch show = [&](const patch &shown) {
            bar.clear();
            const int st = s.show(shown);
            bar.draw(writer->rows_written());
            return st;
        };
        r = measure_patches(s.instrument(), rest, show, {o.settle(), o.repeat}, writer.get(),
                            [&](const patch_reading &) { bar.draw(writer->rows_written()); });
    }
    if (r.status == exit_ok) return finish(o, *writer, before);
    std::fprintf(stderr,
                 "ca410: %s keeps the %s measured; the same command with --resume goes on from "
                 "there\n",
                 printable(o.out).c_str(), patches_text(writer->rows_written()).c_str());
    return r.status;
}

int cmd_sequence(const global_options &g, const sequence_options &o) {
    plan p;
    if (int st = make_plan(o, &p)) return st;
    if (p.recorded && p.recorded->complete) {
        std::printf("%s is complete (%s measured): nothing to do\n", printable(o.out).c_str(),
                    patches_text(p.recorded->readings.size()).c_str());
        return exit_ok;
    }
    return run_plan(g, o, p);
}

}  // namespace

void add_sequence(CLI::App &app, context &ctx) {
    auto o = std::make_shared<sequence_options>();
    CLI::App *sub = app.add_subcommand(
        "sequence",
        "show each patch of a set, measure it and write its mean and spread into a "
        "measurement file (CGATS, CSV or JSON Lines) patch by patch: an interrupted run keeps "
        "what it measured and --resume goes on with it.\n"
        "  e.g. ca410 sequence --patches grey:17 --show-command ./show.sh --out panel.ti3");
    sub->add_option("--patches", o->patches,
                    "a built-in set (grey[:N], primaries, checker, full[:N]) or a patch file "
                    "(CSV R,G,B 0 to 1, or CGATS with RGB_R/G/B in percent)")
        ->type_name("FILE|NAME")
        ->required();
    sub->add_option("--bits", o->bits, "the patch file's values are integers of N bits (1 to 16)")
        ->type_name("N")
        ->default_str("")
        ->check(whole_number(1, 16));
    CLI::Option *show =
        sub->add_option("--show-command", o->show_command,
                        "before each patch run CMD through the shell with the patch's id and its "
                        "drive levels R G B (0 to 1) as arguments, e.g. 'CMD N5 0.5 0.5 0.5'; it "
                        "must return once the patch is shown (exit status 0)")
            ->type_name("CMD");
    add_timing_options(sub, o->settle_ms, o->repeat);
    sub->add_option("--out", o->out, "the measurement file")->type_name("FILE")->required();
    sub->add_option("--format", o->format,
                    "cgats, csv or json (JSON Lines) (default: from the extension: .ti3 .cgats "
                    ".txt, .csv, .json .jsonl)")
        ->type_name("FORMAT")
        ->default_str("")
        ->check(CLI::IsMember({"cgats", "csv", "json"}));
    sub->add_flag("--resume", o->resume,
                  "go on with the interrupted run in FILE (the same patches, instrument and "
                  "descriptor), or start it when FILE does not exist");
    sub->add_option("--descriptor", o->descriptor,
                    "DESCRIPTOR of the file (default: the patch set, count, readings and settle)")
        ->type_name("TEXT");
#ifdef CA410_CLI_WITH_SIM
    CLI::Option *sim = sub->add_flag("--sim", o->sim,
                                     "measure the built-in virtual instrument, its display driven "
                                     "directly (no show command)")
                           ->excludes(show);
    add_display_option(sub, o->display, "the virtual instrument's display")->needs(sim);
#else
    (void)show;
#endif
    sub->callback([&ctx, o] { ctx.run([&] { return cmd_sequence(ctx.global, *o); }); });
}

}  // namespace cli
