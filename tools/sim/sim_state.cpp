#include "sim_state.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <set>

#include "sim_number.h"

namespace sim {

const std::array<sim_int_setting, 14> sim_int_settings{{
    {"display_mode", "", &sim_settings::display_mode, 0, 8},
    {"sync_mode", "", &sim_settings::sync_mode, 0, 5},
    {"current_channel", "", &sim_settings::current_channel, 0, 99},
    {"lum_unit", "LUS,", &sim_settings::lum_unit, 0, 1},
    {"measure_speed", "FSC,", &sim_settings::measure_speed, 0, 3},
    {"probe_display", "DPR,", &sim_settings::probe_display, 1, 10},
    {"probe_output", "OPR,", &sim_settings::probe_output, 1, 10},
    {"trigger_mode", "TMS,", &sim_settings::trigger_mode, 0, 1},
    {"trigger_delay", "TDS,", &sim_settings::trigger_delay, 0, 100},
    {"simultaneous", "MMS,", &sim_settings::simultaneous, 0, 1},
    {"color_range_mode", "", &sim_settings::color_range_mode, 0, 1},
    {"color_range", "", &sim_settings::color_range, 1, 6},
    {"flicker_range_mode", "", &sim_settings::flicker_range_mode, 0, 1},
    {"flicker_range", "", &sim_settings::flicker_range, 1, 4},
}};

namespace {

constexpr std::string_view magic = "ca410-sim-state 1";

std::uint32_t crc32(std::string_view data) {
    std::uint32_t crc = 0xFFFFFFFFu;
    for (unsigned char c : data) {
        crc ^= c;
        for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

struct double_key {
    std::string_view key;
    double sim_settings::*field;
};
constexpr std::array<double_key, 3> double_keys{{
    {"temperature_shift", &sim_settings::temperature_shift},
    {"manual_time_ms", &sim_settings::manual_time_ms},
    {"internal_freq_hz", &sim_settings::internal_freq_hz},
}};

std::string num(double v) {
    char buf[40];
    std::snprintf(buf, sizeof buf, "%.17g", v);
    return buf;
}

// Names may hold blanks and punctuation: anything but letters, digits and
// "-_." is written as %XX so that a name is always one token.
std::string encode_name(const std::string &name) {
    std::string out = "name=";
    for (unsigned char c : name) {
        if (std::isalnum(c) || c == '-' || c == '_' || c == '.') {
            out += static_cast<char>(c);
        } else {
            char buf[4];
            std::snprintf(buf, sizeof buf, "%%%02X", c);
            out += buf;
        }
    }
    return out;
}

std::optional<std::string> decode_name(std::string_view token) {
    if (token.substr(0, 5) != "name=") return std::nullopt;
    token.remove_prefix(5);
    std::string out;
    for (std::size_t i = 0; i < token.size(); ++i) {
        if (token[i] != '%') {
            out += token[i];
            continue;
        }
        unsigned v = 0;
        if (i + 2 >= token.size()) return std::nullopt;
        const auto [end, ec] = std::from_chars(token.data() + i + 1, token.data() + i + 3, v, 16);
        if (ec != std::errc() || end != token.data() + i + 3) return std::nullopt;
        out += static_cast<char>(v);
        i += 2;
    }
    if (out.size() > 10) return std::nullopt;
    return out;
}

std::vector<std::string_view> tokens(std::string_view line) {
    std::vector<std::string_view> out;
    std::size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && line[i] == ' ') ++i;
        const std::size_t start = i;
        while (i < line.size() && line[i] != ' ') ++i;
        if (i > start) out.push_back(line.substr(start, i - start));
    }
    return out;
}

template <typename T>
bool parse_number(std::string_view s, T *v) {
    const auto parsed = parse_whole<T>(s);
    if (parsed) *v = *parsed;
    return parsed.has_value();
}

}  // namespace

std::string serialize_state(const lasting_state &state) {
    std::string out(magic);
    out += '\n';
    for (const auto &k : sim_int_settings)
        out += std::string(k.key) + " " + std::to_string(state.settings.*k.field) + "\n";
    for (const auto &k : double_keys)
        out += std::string(k.key) + " " + num(state.settings.*k.field) + "\n";
    for (const auto &c : state.channels) {
        out += "channel " + std::to_string(c.number) + " " + std::to_string(c.cal_type);
        for (int d : c.date) out += " " + std::to_string(d);
        out += " " + encode_name(c.name);
        for (const auto *set : {&c.target, &c.measured})
            for (const auto &xyz : *set)
                for (double v : xyz) out += " " + num(v);
        for (double v : c.matrix) out += " " + num(v);
        out += "\n";
    }
    char sum[32];
    std::snprintf(sum, sizeof sum, "checksum %08x\n", crc32(out));
    return out + sum;
}

std::optional<lasting_state> parse_state(std::string_view text, std::string *error) {
    int line_no = 0;
    const auto bad = [&](const std::string &why) {
        if (error) *error = "line " + std::to_string(line_no) + ": " + why;
        return std::nullopt;
    };
    // The checksum line closes the file; it covers every byte before it.
    const auto last = text.rfind("checksum ");
    if (last == std::string_view::npos || (last > 0 && text[last - 1] != '\n')) {
        line_no = 1 + static_cast<int>(std::count(text.begin(), text.end(), '\n'));
        return bad("no checksum line (file cut short?)");
    }
    {
        const std::string_view sum_line = text.substr(last);
        std::uint32_t stored = 0;
        const std::string_view hex = sum_line.substr(9);
        const auto [end, ec] = std::from_chars(hex.data(), hex.data() + hex.size(), stored, 16);
        line_no = 1 + static_cast<int>(std::count(text.begin(), text.begin() + last, '\n'));
        if (ec != std::errc() || std::string_view(end, hex.data() + hex.size() - end) != "\n" ||
            end - hex.data() != 8)
            return bad("malformed checksum line");
        if (stored != crc32(text.substr(0, last)))
            return bad("checksum does not match the contents");
    }

    lasting_state st;
    std::set<std::string_view> seen;
    std::set<int> numbers;
    std::string_view rest = text.substr(0, last);
    line_no = 0;
    while (!rest.empty()) {
        ++line_no;
        const auto nl = rest.find('\n');
        if (nl == std::string_view::npos) return bad("line not ended");
        const std::string_view line = rest.substr(0, nl);
        rest.remove_prefix(nl + 1);
        if (line_no == 1) {
            if (line != magic) return bad("not a ca410-sim state file (version line missing)");
            continue;
        }
        const auto t = tokens(line);
        if (t.empty()) return bad("empty line");
        if (t[0] == "channel") {
            // number type date*6 name target*12 measured*12 matrix*9
            if (t.size() != 1 + 2 + 6 + 1 + 24 + 9) return bad("channel line has wrong length");
            sim_channel c;
            if (!parse_number(t[1], &c.number) || c.number < 1 || c.number > 99)
                return bad("bad channel number");
            if (!numbers.insert(c.number).second) return bad("channel listed twice");
            if (!parse_number(t[2], &c.cal_type) || c.cal_type < 0 || c.cal_type > 9)
                return bad("bad calibration type");
            for (std::size_t i = 0; i < 6; ++i)
                if (!parse_number(t[3 + i], &c.date[i])) return bad("bad date");
            const auto name = decode_name(t[9]);
            if (!name) return bad("bad channel name");
            c.name = *name;
            std::size_t k = 10;
            for (auto *set : {&c.target, &c.measured})
                for (auto &xyz : *set)
                    for (double &v : xyz)
                        if (!parse_number(t[k++], &v) || !std::isfinite(v)) return bad("bad value");
            for (double &v : c.matrix)
                if (!parse_number(t[k++], &v) || !std::isfinite(v)) return bad("bad matrix");
            st.channels.push_back(c);
            continue;
        }
        if (t.size() != 2) return bad("expected a key and one value");
        if (!seen.insert(t[0]).second) return bad("key given twice");
        bool known = false;
        for (const auto &k : sim_int_settings) {
            if (k.key != t[0]) continue;
            int v = 0;
            if (!parse_number(t[1], &v) || v < k.lo || v > k.hi)
                return bad("bad value for " + std::string(k.key));
            st.settings.*k.field = v;
            known = true;
        }
        for (const auto &k : double_keys) {
            if (k.key != t[0]) continue;
            double v = 0;
            if (!parse_number(t[1], &v) || !std::isfinite(v))
                return bad("bad value for " + std::string(k.key));
            st.settings.*k.field = v;
            known = true;
        }
        if (!known) return bad("unknown key '" + std::string(t[0]) + "'");
    }
    if (line_no == 0) return bad("empty file");
    if (seen.size() != sim_int_settings.size() + double_keys.size()) {
        ++line_no;
        return bad("settings missing");
    }
    std::sort(st.channels.begin(), st.channels.end(),
              [](const sim_channel &a, const sim_channel &b) { return a.number < b.number; });
    return st;
}

load_result load_state_file(const std::string &path, lasting_state *out, std::string *error) {
    std::FILE *f = std::fopen(path.c_str(), "rb");
    if (!f) {
        if (errno == ENOENT) return load_result::fresh;
        if (error) *error = "cannot read state file " + path + ": " + std::strerror(errno);
        return load_result::refused;
    }
    std::string text;
    char buf[4096];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) text.append(buf, n);
    const bool failed = std::ferror(f) != 0;
    std::fclose(f);
    if (failed) {
        if (error) *error = "cannot read state file " + path;
        return load_result::refused;
    }
    // An empty file (say, made by touch to name the place) holds no state
    // yet: start afresh, as without a file. Anything else must parse.
    if (text.find_first_not_of(" \t\r\n") == std::string::npos) return load_result::fresh;
    std::string why;
    auto st = parse_state(text, &why);
    if (!st) {
        if (error)
            *error = "state file " + path + " is corrupt (" + why +
                     "); refusing it and leaving it untouched";
        return load_result::refused;
    }
    *out = std::move(*st);
    return load_result::loaded;
}

bool save_state_file(const std::string &path, const lasting_state &state, std::string *error) {
    const std::string text = serialize_state(state);
    const std::string tmp = path + ".tmp";
    const auto fail = [&](const std::string &what) {
        if (error) *error = what + ": " + std::strerror(errno);
        return false;
    };
    const int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return fail("cannot create " + tmp);
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t w = ::write(fd, text.data() + done, text.size() - done);
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) {
            const int err = errno;
            ::close(fd);
            ::unlink(tmp.c_str());
            errno = err;
            return fail("cannot write " + tmp);
        }
        done += static_cast<std::size_t>(w);
    }
    if (::fsync(fd) != 0 || ::close(fd) != 0) {
        ::unlink(tmp.c_str());
        return fail("cannot sync " + tmp);
    }
    if (std::rename(tmp.c_str(), path.c_str()) != 0) {
        const int err = errno;
        ::unlink(tmp.c_str());
        errno = err;
        return fail("cannot rename " + tmp + " to " + path);
    }
    // The rename itself lasts only once the directory is synced.
    const auto slash = path.rfind('/');
    const std::string dir = slash == std::string::npos ? "." : path.substr(0, slash + 1);
    const int dfd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dfd >= 0) {
        ::fsync(dfd);
        ::close(dfd);
    }
    return true;
}

}  // namespace sim
