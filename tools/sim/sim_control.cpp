// The control language: every command, and every fault kind, is one row of a
// table (name, arguments, handler). Help and every usage message come from
// those rows.
#include "sim_control.h"

#include <algorithm>
#include <charconv>
#include <iterator>
#include <optional>
#include <string_view>
#include <vector>

#include "sim_number.h"

namespace sim {

namespace {

std::vector<std::string_view> words(std::string_view line) {
    std::vector<std::string_view> out;
    std::size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && ascii_space(line[i])) ++i;
        const std::size_t start = i;
        while (i < line.size() && !ascii_space(line[i])) ++i;
        if (i > start) out.push_back(line.substr(start, i - start));
    }
    return out;
}

// The text after the first `n` words, leading blanks removed.
std::string_view after_words(std::string_view line, std::size_t n) {
    std::size_t i = 0;
    for (std::size_t w = 0; w < n; ++w) {
        while (i < line.size() && ascii_space(line[i])) ++i;
        while (i < line.size() && !ascii_space(line[i])) ++i;
    }
    while (i < line.size() && line[i] == ' ') ++i;
    return line.substr(i);
}

// One command line on its way through the tables.
struct call {
    ca410_sim &sim;
    std::string_view line;
    std::vector<std::string_view> words;
    bool *quit;
    std::size_t first = 0;   // the word that names the command, then its first argument
    std::string name;        // as messages name it: "show", "fault long-next"
    std::string_view usage;  // its arguments, from its row

    std::size_t count() const { return words.size() - first; }
    std::string_view arg(std::size_t i) const { return words[first + i]; }
    // The text from argument i to the end of the line, blanks kept.
    std::string_view text_from(std::size_t i) const { return after_words(line, first + i); }
    // Argument i as a number; `fallback` when it is not given.
    template <typename T>
    std::optional<T> number(std::size_t i, std::optional<T> fallback = std::nullopt) const {
        return i < count() ? parse_whole<T>(arg(i)) : fallback;
    }
    // "error: NAME: WHAT is RANGE, not VALUE": a refusal that says what is valid.
    std::string refuse(std::string_view what, std::string_view range,
                       std::string_view value) const {
        return "error: " + name + ": " + std::string(what) + " is " + std::string(range) +
               ", not " + std::string(value);
    }
    // The same for argument i, named as the usage names it ("[N]" is N).
    std::string refuse(std::size_t i, std::string_view range) const {
        auto names = sim::words(usage);
        std::string_view what = i < names.size() ? names[i] : "value";
        if (what.size() > 2 && what.front() == '[') what = what.substr(1, what.size() - 2);
        return refuse(what, range, arg(i));
    }
};

// A handler's answer; nothing when the arguments do not fit the usage.
using answer = std::optional<std::string>;
const answer ok = std::string("ok");

struct command;
struct command_table {
    const command *rows;
    std::size_t size;
    std::string_view what;  // "command", "fault": as "unknown fault 'x'" says it
};

struct command {
    std::string_view name;
    std::string_view usage;  // its arguments
    std::size_t min_args, max_args;
    answer (*run)(call &);
    const command_table *kinds = nullptr;  // a family: "fault KIND ..." runs a row of kinds
};

constexpr std::size_t to_end = static_cast<std::size_t>(-1);  // a text to the line's end

// Error and warning numbers are two digits on the line; counts of frames 0
// (disarm) or more.
answer error_or_warning(call &c, bool error) {
    const auto code = c.number<int>(0), n = c.number<int>(1, 1);
    if (!code || !n) return std::nullopt;
    if (*code < 0 || *code > 99) return c.refuse(0, "0 to 99");
    if (*n < 0) return c.refuse(1, "0 or more");
    if (error)
        c.sim.fault_error_next(*code, *n);
    else
        c.sim.fault_warning_next(*code, *n);
    return ok;
}

answer fault_error_next(call &c) {
    return error_or_warning(c, true);
}

answer fault_warning_next(call &c) {
    return error_or_warning(c, false);
}

answer fault_error_head(call &c) {
    const auto code = c.number<int>(1);
    if (!code || c.arg(0).size() < 3) return std::nullopt;
    if (*code < 0 || *code > 99) return c.refuse(1, "0 to 99");
    c.sim.fault_error_for_head(std::string(c.arg(0)), *code);
    return ok;
}

answer fault_answer_frame(call &c) {
    std::string frame, text;
    const bool lost = c.count() == 1;
    if (!unescape_bytes(c.arg(0), &frame) || (!lost && !unescape_bytes(c.text_from(1), &text)))
        return std::nullopt;
    if (!c.sim.fault_answer_for_frame(frame, lost ? std::nullopt : std::optional(text)))
        return "error: " + c.name + ": " + std::to_string(ca410_sim::max_armed_frames) +
               " frames are armed already (fault clear disarms them)";
    return ok;
}

answer fault_silent_next(call &c) {
    const auto n = c.number<int>(0, 1);
    if (!n) return std::nullopt;
    if (*n < 0) return c.refuse(0, "0 or more");
    c.sim.fault_silent_next(*n);
    return ok;
}

answer fault_split_next(call &c) {
    const auto at = c.number<std::size_t>(0);
    const auto gap = c.number<int>(1);
    if (!at || !gap) return std::nullopt;
    c.sim.fault_split_next(*at, *gap);
    return ok;
}

answer fault_garbage_next(call &c) {
    std::string bytes;
    if (!unescape_bytes(c.text_from(0), &bytes)) return std::nullopt;
    c.sim.fault_garbage_next(bytes);
    return ok;
}

answer fault_late_next(call &c) {
    const auto ms = c.number<int>(0);
    std::string bytes;
    if (!ms || !unescape_bytes(c.text_from(1), &bytes)) return std::nullopt;
    c.sim.fault_late_bytes_next(bytes, *ms);
    return ok;
}

answer fault_no_cr_next(call &c) {
    c.sim.fault_no_cr_next();
    return ok;
}

answer fault_long_next(call &c) {
    // Read wider than size_t, so that a length beyond a 32-bit size_t is
    // refused with the range like any other too long one.
    const auto length = c.number<unsigned long long>(0);
    if (!length) return std::nullopt;
    if (*length > ca410_sim::max_answer_length ||
        !c.sim.fault_long_answer_next(static_cast<std::size_t>(*length)))
        return c.refuse(0, "0 to " + std::to_string(ca410_sim::max_answer_length));
    return ok;
}

answer fault_chatter(call &c) {
    const auto ms = c.number<int>(1, 0);
    if ((c.arg(0) != "on" && c.arg(0) != "off") || !ms) return std::nullopt;
    c.sim.fault_chatter(c.arg(0) == "on", *ms);
    return ok;
}

answer fault_hangup_next(call &c) {
    const auto at = c.number<std::size_t>(0, ca410_sim::half_answer);
    if (!at) return std::nullopt;
    c.sim.fault_hangup_next(*at);
    return ok;
}

answer fault_clear(call &c) {
    c.sim.clear_faults();
    return ok;
}

constexpr command fault_kinds[] = {
    {"error-next", "CODE [N]", 1, 2, fault_error_next},
    {"error-head", "HEAD CODE", 2, 2, fault_error_head},
    {"answer-frame", "FRAME [TEXT]", 1, to_end, fault_answer_frame},
    {"warning-next", "NUMBER [N]", 1, 2, fault_warning_next},
    {"silent-next", "[N]", 0, 1, fault_silent_next},
    {"split-next", "AT GAP_MS", 2, 2, fault_split_next},
    {"garbage-next", "TEXT", 1, to_end, fault_garbage_next},
    {"late-next", "MS TEXT", 2, to_end, fault_late_next},
    {"no-cr-next", "", 0, 0, fault_no_cr_next},
    {"long-next", "LENGTH", 1, 1, fault_long_next},
    {"chatter", "on|off [MS]", 1, 2, fault_chatter},
    {"hangup-next", "[AT]", 0, 1, fault_hangup_next},
    {"clear", "", 0, 0, fault_clear},
};
constexpr command_table fault_table{fault_kinds, std::size(fault_kinds), "fault"};

std::string xyz_answer(const sim_xyz &xyz) {
    return "ok XYZ " + format_fixed(xyz[0], 5) + " " + format_fixed(xyz[1], 5) + " " +
           format_fixed(xyz[2], 5);
}

// Three numbers, blanks or commas between; drive levels 0 to 1 or light 0 or more.
answer show_triple(call &c, bool rgb) {
    const auto v = parse_number_list(c.text_from(0));
    if (!v || v->size() != 3) return std::nullopt;
    for (const double x : *v) {
        if (rgb && (x < 0.0 || x > 1.0))
            return c.refuse("each of R G B", "0 to 1", format_number(x));
        if (!rgb && x < 0.0) return c.refuse("each of X Y Z", "0 or more", format_number(x));
    }
    if (rgb)
        c.sim.show_rgb((*v)[0], (*v)[1], (*v)[2]);
    else
        c.sim.show_xyz((*v)[0], (*v)[1], (*v)[2]);
    return xyz_answer(c.sim.shown_xyz());
}

answer show_rgb(call &c) {
    return show_triple(c, true);
}

answer show_xyz(call &c) {
    return show_triple(c, false);
}

answer port(call &c) {
    return "ok " + c.sim.port_path();
}

answer frames(call &c) {
    const auto frames = c.sim.frames();
    std::string out = "ok " + std::to_string(frames.size());
    // A frame word always ends in "\r", so this one cannot be taken for one.
    if (const auto dropped = c.sim.frames_dropped()) out += " dropped=" + std::to_string(dropped);
    for (const auto &f : frames) out += " " + escape_bytes(f.bytes);
    return out;
}

answer clear_frames(call &c) {
    c.sim.clear_frames();
    return ok;
}

answer settings(call &c) {
    const sim_settings s = c.sim.settings();
    const auto pair = [](int a, int b) { return std::to_string(a) + "," + std::to_string(b); };
    const std::pair<const char *, std::string> fields[] = {
        {"display_mode", std::to_string(s.display_mode)},
        {"sync_mode", std::to_string(s.sync_mode)},
        {"channel", std::to_string(s.current_channel)},
        {"lum_unit", std::to_string(s.lum_unit)},
        {"speed", std::to_string(s.measure_speed)},
        {"probe_display", std::to_string(s.probe_display)},
        {"probe_output", std::to_string(s.probe_output)},
        {"trigger_mode", std::to_string(s.trigger_mode)},
        {"trigger_delay", std::to_string(s.trigger_delay)},
        {"zero_cal", std::to_string(s.zero_cal_status)},
        {"simultaneous", std::to_string(s.simultaneous)},
        {"internal_freq", format_fixed(s.internal_freq_hz, 2)},
        {"manual_time", format_fixed(s.manual_time_ms, 2)},
        {"color_range", pair(s.color_range_mode, s.color_range)},
        {"flicker_range", pair(s.flicker_range_mode, s.flicker_range)},
        {"calmode", std::to_string(s.calmode)},
    };
    std::string out = "ok";
    for (const auto &[key, value] : fields) out += " " + std::string(key) + "=" + value;
    return out;
}

answer channels(call &c) {
    const auto chans = c.sim.channels();
    std::string out = "ok " + std::to_string(chans.size());
    for (const auto &ch : chans)
        out += " " + std::to_string(ch.number) + ":" + std::to_string(ch.cal_type) + ":" +
               escape_bytes(ch.name);
    return out;
}

answer pace(call &c) {
    if (c.arg(0) != "on" && c.arg(0) != "off") return std::nullopt;
    c.sim.set_pacing(c.arg(0) == "on");
    return ok;
}

answer zrc_ms(call &c) {
    const auto ms = c.number<int>(0);
    if (!ms) return std::nullopt;
    if (*ms < 0) return c.refuse(0, "0 or more");
    c.sim.set_zrc_ms(*ms);
    return ok;
}

answer measure_ms(call &c) {
    const auto speed = c.number<int>(0), ms = c.number<int>(1);
    if (!speed || !ms) return std::nullopt;
    if (*speed < 0 || *speed > 3) return c.refuse(0, "0 to 3");
    if (*ms < 0) return c.refuse(1, "0 or more");
    c.sim.set_measure_ms(*speed, *ms);
    return ok;
}

std::optional<sim_xyz> triple(const call &c) {
    const auto v = parse_number_list(c.text_from(0));
    if (!v || v->size() != 3) return std::nullopt;
    return sim_xyz{(*v)[0], (*v)[1], (*v)[2]};
}

constexpr std::string_view channel_names[] = {"red", "green", "blue"};

std::string join_numbers(const double *v, std::size_t n) {
    std::string out;
    for (std::size_t i = 0; i < n; ++i) out += (i ? "," : "") + format_number(v[i]);
    return out;
}

// The model in one line, each part by the name of the command that sets it.
answer describe_display(call &c) {
    const sim_display d = c.sim.display();
    std::string out = "ok";
    for (std::size_t i = 0; i < 3; ++i)
        out += " " + std::string(channel_names[i]) + "=" + join_numbers(d.primaries[i].data(), 3);
    out += " gamma=";
    for (std::size_t i = 0; i < 3; ++i)
        out += (i ? "," : "") + (d.tone[i].table.empty()
                                     ? format_number(d.tone[i].gamma)
                                     : "table:" + std::to_string(d.tone[i].table.size()));
    const double warm_up[] = {d.warmup_percent, d.warmup_seconds};
    out += " black=" + join_numbers(d.black.data(), 3) + " flare=" + format_number(d.flare) +
           " additivity-loss=" + format_number(d.additivity_loss) +
           " grey-drift=" + (d.grey_drift_xy ? join_numbers(d.grey_drift_xy->data(), 2) : "off") +
           " noise=" + format_number(d.noise) + " seed=" + std::to_string(d.seed) +
           " warm-up=" + join_numbers(warm_up, 2);
    return out;
}

// Every display kind changes its part of a copy of the model and applies it
// whole: the model's own checks refuse what it cannot show.
answer apply_display(call &c, const sim_display &d) {
    std::string why;
    if (!c.sim.set_display(d, &why)) return "error: " + c.name + ": " + why;
    return ok;
}

answer display_preset(call &c) {
    const auto d = sim_display_preset(c.arg(0));
    return d ? apply_display(c, *d) : std::nullopt;
}

// "display red X Y Z" and its kin: the kind's name is the channel.
answer display_primary(call &c) {
    const auto v = triple(c);
    const auto *name =
        std::find(std::begin(channel_names), std::end(channel_names), c.words[c.first - 1]);
    if (!v) return std::nullopt;
    sim_display d = c.sim.display();
    d.primaries[static_cast<std::size_t>(name - std::begin(channel_names))] = *v;
    return apply_display(c, d);
}

answer display_black(call &c) {
    const auto v = triple(c);
    if (!v) return std::nullopt;
    sim_display d = c.sim.display();
    d.black = *v;
    return apply_display(c, d);
}

// One gamma for every channel, or one each.
answer display_gamma(call &c) {
    const auto v = parse_number_list(c.text_from(0));
    if (!v || (v->size() != 1 && v->size() != 3)) return std::nullopt;
    sim_display d = c.sim.display();
    for (std::size_t i = 0; i < 3; ++i) d.tone[i] = sim_tone{(*v)[v->size() == 1 ? 0 : i], {}};
    return apply_display(c, d);
}

answer display_tone_table(call &c) {
    const auto *name = std::find(std::begin(channel_names), std::end(channel_names), c.arg(0));
    if (name == std::end(channel_names) && c.arg(0) != "all") return std::nullopt;
    sim_tone_table table;
    std::string why;
    if (!sim_read_tone_table(std::string(c.text_from(1)), &table, &why))
        return "error: " + c.name + ": " + why;
    sim_display d = c.sim.display();
    for (std::size_t i = 0; i < 3; ++i)
        if (name == std::end(channel_names) || name == channel_names + i) d.tone[i].table = table;
    return apply_display(c, d);
}

answer set_display_number(call &c, double sim_display::*field) {
    const auto v = c.number<double>(0);
    if (!v) return std::nullopt;
    sim_display d = c.sim.display();
    d.*field = *v;
    return apply_display(c, d);
}

answer display_flare(call &c) {
    return set_display_number(c, &sim_display::flare);
}

answer display_additivity_loss(call &c) {
    return set_display_number(c, &sim_display::additivity_loss);
}

answer display_noise(call &c) {
    return set_display_number(c, &sim_display::noise);
}

answer display_seed(call &c) {
    const auto seed = c.number<std::uint64_t>(0);
    if (!seed) return std::nullopt;
    sim_display d = c.sim.display();
    d.seed = *seed;
    return apply_display(c, d);
}

answer display_grey_drift(call &c) {
    sim_display d = c.sim.display();
    const auto v = parse_number_list(c.text_from(0));
    if (c.count() == 1 && c.arg(0) == "off")
        d.grey_drift_xy.reset();
    else if (v && v->size() == 2)
        d.grey_drift_xy = {{(*v)[0], (*v)[1]}};
    else
        return std::nullopt;
    return apply_display(c, d);
}

answer display_warm_up(call &c) {
    const auto v = parse_number_list(c.text_from(0));
    if (!v || v->size() != 2) return std::nullopt;
    sim_display d = c.sim.display();
    d.warmup_percent = (*v)[0];
    d.warmup_seconds = (*v)[1];
    return apply_display(c, d);
}

constexpr command display_kinds[] = {
    {"preset", sim_display_presets, 1, 1, display_preset},
    {"red", "X Y Z", 0, to_end, display_primary},
    {"green", "X Y Z", 0, to_end, display_primary},
    {"blue", "X Y Z", 0, to_end, display_primary},
    {"gamma", "G or R G B", 0, to_end, display_gamma},
    {"tone-table", "red|green|blue|all FILE", 2, to_end, display_tone_table},
    {"black", "X Y Z", 0, to_end, display_black},
    {"flare", "FRACTION", 1, 1, display_flare},
    {"additivity-loss", "FRACTION", 1, 1, display_additivity_loss},
    {"grey-drift", "X Y or off", 0, to_end, display_grey_drift},
    {"noise", "SD", 1, 1, display_noise},
    {"seed", "N", 1, 1, display_seed},
    {"warm-up", "PERCENT SECONDS", 0, to_end, display_warm_up},
};
constexpr command_table display_table{display_kinds, std::size(display_kinds), "display part"};

answer help(call &c);

answer quit(call &c) {
    if (c.quit) *c.quit = true;
    return std::string("ok bye");
}

constexpr command commands[] = {
    {"show", "R G B", 0, to_end, show_rgb},
    {"show-xyz", "X Y Z", 0, to_end, show_xyz},
    {"port", "", 0, 0, port},
    {"frames", "", 0, 0, frames},
    {"clear-frames", "", 0, 0, clear_frames},
    {"settings", "", 0, 0, settings},
    {"channels", "", 0, 0, channels},
    {"pace", "on|off", 1, 1, pace},
    {"zrc-ms", "MS", 1, 1, zrc_ms},
    {"measure-ms", "SPEED MS", 2, 2, measure_ms},
    {"display", "", 0, 0, describe_display, &display_table},
    {"fault", "", 0, 0, nullptr, &fault_table},
    {"help", "", 0, 0, help},
    {"quit", "", 0, 0, quit},
};
constexpr command_table command_list{commands, std::size(commands), "command"};

// Every row, a family by each of its kinds: "show R G B | ... | fault clear | quit".
void list_usages(const command_table &table, const std::string &prefix, std::string *out) {
    for (std::size_t i = 0; i < table.size; ++i) {
        const command &row = table.rows[i];
        const std::string name = prefix + std::string(row.name);
        if (row.run) {
            *out += (out->empty() ? "" : " | ") + name;
            if (!row.usage.empty()) *out += " " + std::string(row.usage);
        }
        if (row.kinds) list_usages(*row.kinds, name + " ", out);
    }
}

answer help(call &) {
    std::string usages;
    list_usages(command_list, "", &usages);
    return "ok commands: " + usages + " (numbers of a triple: blanks or commas between)";
}

// Finds the row named by the word at c.first and runs it with the words after it.
std::string dispatch(const command_table &table, call &c) {
    if (c.first == c.words.size()) return "error: usage: " + c.name + " KIND ... (try help)";
    const std::string_view word = c.words[c.first];
    const command *row = std::find_if(table.rows, table.rows + table.size,
                                      [&](const command &r) { return r.name == word; });
    if (row == table.rows + table.size)
        return "error: unknown " + std::string(table.what) + " '" +
               std::string(word.substr(0, 40)) + "' (try help)";
    c.name += (c.name.empty() ? "" : " ") + std::string(word);
    ++c.first;
    // A family runs one of its kinds; the bare name runs the row's own handler, if any.
    if (row->kinds && (c.first < c.words.size() || !row->run)) return dispatch(*row->kinds, c);
    c.usage = row->usage;
    if (c.count() >= row->min_args && c.count() <= row->max_args)
        if (auto a = row->run(c)) return *a;
    return "error: usage: " + c.name + (row->usage.empty() ? "" : " ") + std::string(row->usage);
}

std::string hex_escape(unsigned char c) {
    constexpr char digits[] = "0123456789abcdef";
    return {'\\', 'x', digits[c >> 4], digits[c & 15]};
}

}  // namespace

std::string printable(std::string_view text) {
    std::string out;
    for (const unsigned char c : text)
        out += c < 0x20 || c == 0x7F ? hex_escape(c) : std::string(1, static_cast<char>(c));
    return out;
}

std::string escape_bytes(std::string_view bytes) {
    std::string out;
    for (unsigned char c : bytes) {
        switch (c) {
            case '\r':
                out += "\\r";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\t':
                out += "\\t";
                break;
            case '\\':
                out += "\\\\";
                break;
            default:
                // Blanks too, so that a frame is one word.
                out +=
                    c >= 0x21 && c <= 0x7E ? std::string(1, static_cast<char>(c)) : hex_escape(c);
        }
    }
    return out;
}

bool unescape_bytes(std::string_view text, std::string *out) {
    out->clear();
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\') {
            *out += text[i];
            continue;
        }
        if (++i >= text.size()) return false;
        switch (text[i]) {
            case 'r':
                *out += '\r';
                break;
            case 'n':
                *out += '\n';
                break;
            case 't':
                *out += '\t';
                break;
            case '\\':
                *out += '\\';
                break;
            case 'x': {
                if (i + 2 >= text.size()) return false;
                unsigned v = 0;
                const auto [end, ec] =
                    std::from_chars(text.data() + i + 1, text.data() + i + 3, v, 16);
                if (ec != std::errc() || end != text.data() + i + 3) return false;
                *out += static_cast<char>(v);
                i += 2;
                break;
            }
            default:
                return false;
        }
    }
    return true;
}

std::string control_execute(ca410_sim &sim, std::string_view line, bool *quit) {
    call c{sim, line, words(line), quit, 0, {}, {}};
    if (c.words.empty()) return "error: empty command";
    return printable(dispatch(command_list, c));  // the words and paths it echoes
}

}  // namespace sim
