#include "sim_instrument.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <vector>

#include "sim_color.h"
#include "sim_display.h"
#include "sim_number.h"
#include "sim_state.h"

namespace sim {

namespace {

// Instrument error codes the simulation answers.
constexpr int er_calib_measure = 5;  // user calibration: unusable measured values
constexpr int er_calib_input = 6;    // user calibration: wrong input
constexpr int er_command = 10;       // unknown head, malformed arguments, wrong state
constexpr int er_no_sync = 20;       // external sync without a signal
constexpr int er_over_range = 22;    // brightness over the colour range

reply ok(std::string data = {}, bool changed = false) {
    reply r;
    r.text = data.empty() ? "OK00" : "OK00," + data;
    r.changed = changed;
    return r;
}

reply er(int code) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "ER%02d", code);
    return reply{buf, 0, false};
}

// Arguments split exactly at commas: an empty field stays a field (and then
// fails its conversion), so "1,,2" is malformed rather than "1,2".
std::vector<std::string_view> split_args(std::string_view args) {
    std::vector<std::string_view> out;
    if (args.empty()) return out;
    for (;;) {
        const auto comma = args.find(',');
        out.push_back(args.substr(0, comma));
        if (comma == std::string_view::npos) break;
        args.remove_prefix(comma + 1);
    }
    return out;
}

std::string_view skip_blanks(std::string_view s) {
    while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
    return s;
}

// Leading blanks (from "%4d", "%9f") and a plus sign go before the number.
std::string_view number_text(std::string_view s) {
    s = skip_blanks(s);
    if (!s.empty() && s.front() == '+') s.remove_prefix(1);
    return s;
}

// Decimal integer, the whole field; leading zeros (from "%02d") never mean octal.
std::optional<int> to_int(std::string_view s) {
    return parse_whole<int>(number_text(s));
}

// Decimal number, the whole field.
std::optional<double> to_double(std::string_view s) {
    return parse_whole<double>(number_text(s));
}

// All fields as integers within [lo, hi] each, or nothing.
template <std::size_t N>
std::optional<std::array<int, N>> ints(std::string_view args,
                                       const std::array<std::pair<int, int>, N> &bounds) {
    const auto fields = split_args(args);
    if (fields.size() != N) return std::nullopt;
    std::array<int, N> out{};
    for (std::size_t i = 0; i < N; ++i) {
        const auto v = to_int(fields[i]);
        if (!v || *v < bounds[i].first || *v > bounds[i].second) return std::nullopt;
        out[i] = *v;
    }
    return out;
}

std::string padded_name(const std::string &name) {
    std::string out = name;
    if (out.size() < instrument::max_name) out.resize(instrument::max_name, ' ');
    return out;
}

bool valid_name(std::string_view name) {
    if (name.empty() || name.size() > instrument::max_name) return false;
    // A comma would shift every later item of the "TDR," answer.
    return std::all_of(name.begin(), name.end(), [](char c) { return c != ',' && ascii_print(c); });
}

enum class op {
    identify,
    reset,
    remote,
    display_mode,
    setting,
    sync,
    read,
    range_set,
    range_read,
    zero,
    channel,
    cal_mode,
    target,
    enter,
    dump,
    name,
    erase,
    measure
};

struct head_entry {
    std::string_view head;
    op what;
    int colour;  // target commands: 0 white, 1 red, 2 green, 3 blue
};

// Heads the simulation executes; every other head answers "ER10".
constexpr std::array<head_entry, 27> heads{{
    {"IDO,", op::identify, 0},     {"RST,", op::reset, 0},      {"COM,", op::remote, 0},
    {"MDS,", op::display_mode, 0}, {"DPR,", op::setting, 0},    {"OPR,", op::setting, 0},
    {"SCS,", op::sync, 0},         {"FSC,", op::setting, 0},    {"TMS,", op::setting, 0},
    {"TDS,", op::setting, 0},      {"MMS,", op::setting, 0},    {"STR,", op::read, 0},
    {"RGS,", op::range_set, 0},    {"RGR,", op::range_read, 0}, {"LUS,", op::setting, 0},
    {"ZRC", op::zero, 0},          {"MCH,", op::channel, 0},    {"TDR,", op::dump, 0},
    {"UCS,", op::cal_mode, 0},     {"UWT,", op::target, 0},     {"URD,", op::target, 1},
    {"UGR,", op::target, 2},       {"UBL,", op::target, 3},     {"ETR,", op::enter, 0},
    {"IDS,", op::name, 0},         {"MDD,", op::erase, 0},      {"MES,", op::measure, 0},
}};

}  // namespace

// Six decimals, as hosts format their targets: a target comes back in the
// channel's data exactly as it was sent.
std::string format_value(double v) {
    return format_fixed(v, 6);
}

instrument::instrument(const sim_instrument_options &options)
    : settings(options.settings),
      zrc_ms(options.zrc_ms),
      measure_ms(options.measure_ms),
      identity_(options.identity),
      power_on_(options.settings),
      range_limits_(options.color_range_limits),
      external_sync_hz_(options.external_sync_hz) {
    settings.zero_cal_status = 0;
    settings.calmode = 0;
    set_display(options.display);
}

sim_xyz instrument::light() const {
    if (shown_light) return *shown_light;
    return display_light(display_, drive, seconds_on);
}

void instrument::set_display(const sim_display &display) {
    display_ = display;
    noise_.reseed(display.seed);
}

reply instrument::execute(std::string_view frame) {
    if (frame.size() < 3) return er(er_command);
    std::string_view head, args;
    if (frame.size() == 3) {
        head = frame;
    } else if (frame[3] == ',') {
        head = frame.substr(0, 4);
        args = frame.substr(4);
    } else {
        return er(er_command);
    }
    const auto entry = std::find_if(heads.begin(), heads.end(),
                                    [&](const head_entry &e) { return e.head == head; });
    if (entry == heads.end()) return er(er_command);
    switch (entry->what) {
        case op::identify:
            return identify(args);
        case op::reset:
            return reset(args);
        case op::remote:
            if (!ints<1>(args, {{{0, 1}}})) return er(er_command);
            return ok();
        case op::display_mode: {
            const auto v = ints<1>(args, {{{0, 8}}});
            if (!v || !valid_display_mode((*v)[0])) return er(er_command);
            settings.display_mode = (*v)[0];
            return ok({}, true);
        }
        case op::setting:
            return set_setting(head, args);
        case op::sync:
            return sync_mode(args);
        case op::read:
            return read_setting(args);
        case op::range_set:
            return set_range(args);
        case op::range_read:
            return read_range(args);
        case op::zero:
            return zero_calibrate(args);
        case op::channel:
            return select_channel(args);
        case op::cal_mode:
            return calibration_mode(args);
        case op::target:
            return target(entry->colour, args);
        case op::enter:
            return enter_channel(args);
        case op::dump:
            return read_channel(args);
        case op::name:
            return name_channel(args);
        case op::erase:
            return delete_channel(args);
        case op::measure:
            return measure(args);
    }
    return er(er_command);
}

reply instrument::identify(std::string_view args) const {
    if (!ints<2>(args, {{{0, 10}, {0, 1}}})) return er(er_command);
    if (!identity_answer.empty()) return reply{identity_answer, 0, false};
    std::string data = identity_.model + "," + identity_.probe + "," + identity_.name + "," +
                       identity_.version + "," + identity_.serial;
    for (const auto &f : identity_.extra) data += "," + f;
    return ok(data);
}

reply instrument::set_setting(std::string_view head, std::string_view args) {
    for (const auto &s : sim_int_settings) {
        if (s.head.empty() || s.head != head) continue;
        const auto v = ints<1>(args, {{{s.lo, s.hi}}});
        if (!v) return er(er_command);
        settings.*s.field = (*v)[0];
        return ok({}, true);
    }
    return er(er_command);
}

// "SCS,<mode>" for modes 0 to 3; "SCS,4,<Hz>" sets the internal sync
// frequency and "SCS,5,<ms>" the manual measuring time, 1 to 6 characters.
reply instrument::sync_mode(std::string_view args) {
    const auto fields = split_args(args);
    if (fields.empty() || fields.size() > 2) return er(er_command);
    const auto mode = to_int(fields[0]);
    if (!mode || *mode < 0 || *mode > 5) return er(er_command);
    if (*mode < 4) {
        if (fields.size() != 1) return er(er_command);
        settings.sync_mode = *mode;
        return ok({}, true);
    }
    if (fields.size() != 2 || fields[1].empty() || fields[1].size() > 6) return er(er_command);
    const auto value = to_double(fields[1]);
    if (!value || *value <= 0.0) return er(er_command);
    (*mode == 4 ? settings.internal_freq_hz : settings.manual_time_ms) = *value;
    settings.sync_mode = *mode;
    return ok({}, true);
}

reply instrument::read_setting(std::string_view args) const {
    const auto v = ints<1>(args, {{{0, 99}}});
    if (!v) return er(er_command);
    const sim_settings &s = settings;
    switch ((*v)[0]) {
        case 0:
            return ok(std::to_string(s.display_mode));
        case 1:
            return ok(std::to_string(s.sync_mode));
        case 3:
            return ok(std::to_string(s.current_channel));
        case 4: {
            const auto &ch = channels[static_cast<std::size_t>(s.current_channel)];
            return ok(padded_name(ch && s.current_channel > 0 ? ch->name : std::string()));
        }
        case 6:
            return ok(std::to_string(s.lum_unit));
        case 7:
            return ok(std::to_string(s.measure_speed));
        case 11:
            return ok(std::to_string(s.probe_display));
        case 12:
            return ok(std::to_string(s.probe_output));
        case 15:
            return ok(format_fixed(s.temperature_shift, 2));
        case 16:  // only meaningful while synchronised to an external signal
            if (s.sync_mode != 2) return er(er_command);
            if (external_sync_hz_ <= 0.0) return er(er_no_sync);
            return ok(format_fixed(external_sync_hz_, 2));
        case 17:
            return ok(format_fixed(s.manual_time_ms, 2));
        case 18:
            return ok(std::to_string(s.trigger_mode));
        case 19:
            return ok(std::to_string(s.trigger_delay));
        case 23:
            return ok(std::to_string(s.zero_cal_status));
        case 26:
            return ok(std::to_string(s.simultaneous));
        case 28:
            return ok(format_fixed(s.internal_freq_hz, 2));
        default:
            return er(er_command);
    }
}

// "RST,0,<type>": every type puts the measurement settings back to their
// power-on values; type 0 (all) also the channel selection and the probes.
// The zero calibration and the stored channels survive a reset.
reply instrument::reset(std::string_view args) {
    const auto v = ints<2>(args, {{{0, 0}, {0, 3}}});
    if (!v) return er(er_command);
    sim_settings next = power_on_;
    next.zero_cal_status = settings.zero_cal_status;
    next.calmode = settings.calmode;
    next.temperature_shift = settings.temperature_shift;
    if ((*v)[1] != 0) {
        next.current_channel = settings.current_channel;
        next.probe_display = settings.probe_display;
        next.probe_output = settings.probe_output;
    }
    settings = next;
    return ok({}, true);
}

reply instrument::read_range(std::string_view args) const {
    const auto v = ints<2>(args, {{{0, 0}, {0, 1}}});
    if (!v) return er(er_command);
    if ((*v)[1] == 0)
        return ok(std::to_string(settings.color_range_mode) + "," +
                  std::to_string(settings.color_range));
    return ok(std::to_string(settings.flicker_range_mode) + "," +
              std::to_string(settings.flicker_range));
}

reply instrument::set_range(std::string_view args) {
    const auto v = ints<4>(args, {{{0, 0}, {0, 1}, {0, 1}, {1, 6}}});
    if (!v) return er(er_command);
    const auto [zero, type, mode, range] = *v;
    (void)zero;
    if (type == 1 && range > 4) return er(er_command);
    (type == 0 ? settings.color_range_mode : settings.flicker_range_mode) = mode;
    (type == 0 ? settings.color_range : settings.flicker_range) = range;
    return ok({}, true);
}

reply instrument::zero_calibrate(std::string_view args) {
    if (!args.empty()) return er(er_command);
    settings.zero_cal_status = 2;
    reply r = ok();
    r.busy_ms = zrc_ms;
    return r;
}

reply instrument::select_channel(std::string_view args) {
    const auto v = ints<2>(args, {{{1, 10}, {0, max_channel}}});
    if (!v) return er(er_command);
    settings.current_channel = (*v)[1];
    return ok({}, true);
}

// "IDS,<probe>,<channel>,<name>": names a user channel; the name runs to the
// end of the frame.
reply instrument::name_channel(std::string_view args) {
    const auto first = args.find(',');
    const auto second = first == std::string_view::npos ? first : args.find(',', first + 1);
    if (second == std::string_view::npos) return er(er_command);
    const auto probe = to_int(args.substr(0, first));
    const auto ch = to_int(args.substr(first + 1, second - first - 1));
    const auto name = args.substr(second + 1);
    if (!probe || *probe < 1 || *probe > 10 || !ch || *ch < 1 || *ch > max_channel ||
        !valid_name(name))
        return er(er_command);
    auto &slot = channels[static_cast<std::size_t>(*ch)];
    if (!slot) {
        slot = sim_channel{};
        slot->number = *ch;
        slot->cal_type = 0;  // named, not calibrated
    }
    slot->name = std::string(name);
    return ok({}, true);
}

reply instrument::calibration_mode(std::string_view args) {
    const auto v = ints<1>(args, {{{0, 1}}});
    if (!v) return er(er_command);
    settings.calmode = (*v)[0];
    // Entering starts a fresh calibration: only measurements taken from now on
    // pair with targets.
    last_.reset();
    pairs_ = {};
    return ok();
}

reply instrument::target(int colour, std::string_view args) {
    const auto fields = split_args(args);
    if (fields.size() != 4) return er(er_command);
    const auto mode = to_int(fields[0]);
    const auto a = to_double(fields[1]), b = to_double(fields[2]), c = to_double(fields[3]);
    if (!mode || !valid_display_mode(*mode) || !a || !b || !c) return er(er_command);
    if (settings.calmode != 1) return er(er_command);
    if (!last_) return er(er_calib_measure);
    const auto xyz = from_display_mode(*mode, {*a, *b, *c});
    if (!xyz || (colour == 0 && (*xyz)[1] <= 0.0)) return er(er_calib_input);
    pairs_[static_cast<std::size_t>(colour)] = calib_pair{(*last_)[0], (*last_)[1], *xyz};
    return ok();
}

reply instrument::enter_channel(std::string_view args) {
    const auto v = ints<7>(
        args, {{{1, max_channel}, {2000, 2099}, {1, 12}, {1, 31}, {0, 23}, {0, 59}, {0, 59}}});
    if (!v) return er(er_command);
    if (settings.calmode != 1) return er(er_command);
    std::array<sim_xyz, 4> raw{}, measured{}, target{};
    for (std::size_t i = 0; i < 4; ++i) {
        if (!pairs_[i]) return er(er_calib_input);
        raw[i] = pairs_[i]->raw;
        measured[i] = pairs_[i]->reported;
        target[i] = pairs_[i]->target;
    }
    const auto m = wrgb_matrix(raw, target);
    if (!m) return er(er_calib_measure);
    const int ch = (*v)[0];
    auto &slot = channels[static_cast<std::size_t>(ch)];
    sim_channel c;
    c.number = ch;
    c.cal_type = 2;
    if (slot) c.name = slot->name;  // a name given before survives a new calibration
    c.target = target;
    c.measured = measured;
    c.matrix = *m;
    for (std::size_t i = 0; i < 6; ++i) c.date[i] = (*v)[i + 1];
    slot = c;
    return ok({}, true);
}

// "TDR,<channel>,1,<display mode>": the channel's data in the layout hosts
// parse by position; values are given in the display mode asked for.
reply instrument::read_channel(std::string_view args) const {
    const auto v = ints<3>(args, {{{0, max_channel}, {1, 1}, {0, 8}}});
    if (!v || !valid_display_mode((*v)[2])) return er(er_command);
    const int ch = (*v)[0], mode = (*v)[2];
    const auto &slot = channels[static_cast<std::size_t>(ch)];
    const sim_channel empty{ch, 0, {}, {}, {}, identity3, {0, 0, 0, 0, 0, 0}};
    const sim_channel &c = (ch > 0 && slot) ? *slot : empty;

    std::vector<std::string> items;
    char buf[16];
    std::snprintf(buf, sizeof buf, "CH%02d", ch);
    items.emplace_back(buf);   // 0 channel
    items.emplace_back("P1");  // 1-3 not interpreted by hosts
    items.emplace_back("0");
    items.emplace_back("0");
    items.push_back(identity_.model);                     // 4 model
    items.push_back(std::to_string(c.cal_type));          // 5 calibration type
    items.push_back(padded_name(c.name));                 // 6 name
    items.emplace_back("1");                              // 7
    items.push_back(std::to_string(mode));                // 8 display mode
    for (int i = 0; i < 3; ++i) items.emplace_back("0");  // 9-11
    for (const auto *set : {&c.target, &c.measured})      // 12-23, 24-35
        for (const auto &xyz : *set)
            for (double x : to_display_mode(mode, xyz)) items.push_back(format_value(x));
    for (std::size_t i = 0; i < 6; ++i) {  // 36-41 date and time
        std::snprintf(buf, sizeof buf, i == 0 ? "%04d" : "%02d", c.date[i]);
        items.emplace_back(buf);
    }
    std::string data;
    for (const auto &item : items) {
        if (!data.empty()) data += ',';
        data += item;
    }
    return ok(data);
}

reply instrument::delete_channel(std::string_view args) {
    const auto v = ints<2>(args, {{{1, 1}, {1, max_channel}}});
    if (!v) return er(er_command);
    channels[static_cast<std::size_t>((*v)[1])].reset();
    return ok({}, true);
}

reply instrument::measure(std::string_view args) {
    const auto v = ints<1>(args, {{{1, 2}}});
    if (!v) return er(er_command);
    // Without a zero calibration the instrument refuses to measure.
    if (settings.zero_cal_status != 2) return er(er_command);
    if (settings.sync_mode == 2 && external_sync_hz_ <= 0.0) return er(er_no_sync);
    const sim_xyz raw = noise_.apply(display_.noise, light());
    sim_xyz xyz = raw;
    const int ch = settings.current_channel;
    if (ch > 0 && ch <= max_channel) {
        const auto &slot = channels[static_cast<std::size_t>(ch)];
        if (slot && slot->cal_type == 2) xyz = mat_apply(slot->matrix, raw);
    }
    const double limit =
        settings.color_range_mode == 1
            ? range_limits_[static_cast<std::size_t>(std::clamp(settings.color_range, 1, 6) - 1)]
            : range_limits_.back();
    if (xyz[1] > limit) return er(er_over_range);
    last_ = std::array<sim_xyz, 2>{raw, xyz};
    const auto values = to_display_mode(settings.display_mode, xyz);
    const auto uv = to_display_mode(5, xyz);
    std::string data =
        "P" + std::to_string(settings.probe_display) + "," + std::to_string(settings.display_mode);
    for (double x : values) data += "," + format_value(x);
    data += "," + format_fixed(uv[0], 4) + "," + format_fixed(uv[1], 4) + "," + std::to_string(ch) +
            "," + std::to_string(settings.measure_speed);
    reply r = ok(data);
    r.busy_ms = measure_ms[static_cast<std::size_t>(std::clamp(settings.measure_speed, 0, 3))];
    return r;
}

}  // namespace sim
