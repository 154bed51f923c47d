#include "sim_state.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <random>
#include <set>
#include <utility>

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

// Names may hold blanks and punctuation: anything but letters, digits and
// "-_." is written as %XX so that a name is always one token.
std::string encode_name(const std::string &name) {
    std::string out = "name=";
    for (unsigned char c : name) {
        if (ascii_alnum(static_cast<char>(c)) || c == '-' || c == '_' || c == '.') {
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
        out += std::string(k.key) + " " + format_number(state.settings.*k.field) + "\n";
    for (const auto &c : state.channels) {
        out += "channel " + std::to_string(c.number) + " " + std::to_string(c.cal_type);
        for (int d : c.date) out += " " + std::to_string(d);
        out += " " + encode_name(c.name);
        for (const auto *set : {&c.target, &c.measured})
            for (const auto &xyz : *set)
                for (double v : xyz) out += " " + format_number(v);
        for (double v : c.matrix) out += " " + format_number(v);
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

namespace {

// Temporary files are PATH.tmp-XXXXXX, X from this alphabet.
constexpr std::string_view temp_mark = ".tmp-";
constexpr std::string_view temp_letters =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
constexpr std::size_t temp_random = 6;

std::string errno_text(const std::string &what) {
    return what + ": " + std::strerror(errno);
}

// A file descriptor closed on every path out.
struct fd_guard {
    int fd;
    ~fd_guard() {
        if (fd >= 0) ::close(fd);
    }
};

std::pair<std::string, std::string> split_path(const std::string &path) {
    const auto slash = path.rfind('/');
    if (slash == std::string::npos) return {".", path};
    return {path.substr(0, slash + 1), path.substr(slash + 1)};
}

// A new file at a random name beside `path`: O_EXCL and O_NOFOLLOW, so a
// file or link someone planted at a guessable name is never written through.
int create_temp(const std::string &path, std::string *name) {
    std::random_device random;
    for (int attempt = 0; attempt < 100; ++attempt) {
        *name = path + std::string(temp_mark);
        for (std::size_t i = 0; i < temp_random; ++i)
            *name += temp_letters[random() % temp_letters.size()];
        const int fd =
            ::open(name->c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd >= 0 || errno != EEXIST) return fd;
    }
    return -1;
}

bool is_temp_of(std::string_view entry, std::string_view base) {
    if (entry.size() != base.size() + temp_mark.size() + temp_random) return false;
    if (entry.substr(0, base.size()) != base) return false;
    entry.remove_prefix(base.size());
    if (entry.substr(0, temp_mark.size()) != temp_mark) return false;
    entry.remove_prefix(temp_mark.size());
    return entry.find_first_not_of(temp_letters) == std::string_view::npos;
}

// Temporary files of a save that a SIGKILL interrupted. Only ever called
// under the state file's lock, so no running save is among them.
void remove_stale_temps(const std::string &path) {
    const auto [dir, base] = split_path(path);
    DIR *d = ::opendir(dir.c_str());
    if (!d) return;
    while (const dirent *e = ::readdir(d))
        if (is_temp_of(e->d_name, base)) ::unlinkat(::dirfd(d), e->d_name, 0);
    ::closedir(d);
}

bool write_all(int fd, std::string_view text) {
    while (!text.empty()) {
        const ssize_t w = ::write(fd, text.data(), text.size());
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) return false;
        text.remove_prefix(static_cast<std::size_t>(w));
    }
    return true;
}

// Reads at most max_state_file_size bytes of a regular file; a FIFO or a
// device is refused before it is read (O_NONBLOCK: opening a FIFO does not wait).
load_result read_state_text(const std::string &path, std::string *text, std::string *error) {
    const fd_guard f{::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC)};
    if (f.fd < 0) {
        if (errno == ENOENT) return load_result::fresh;
        if (error) *error = errno_text("cannot read state file " + path);
        return load_result::refused;
    }
    struct stat st {};
    if (::fstat(f.fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        if (error) *error = "state file " + path + " is not a regular file; refusing it";
        return load_result::refused;
    }
    char buf[4096];
    for (ssize_t n; (n = ::read(f.fd, buf, sizeof buf)) != 0;) {
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            if (error) *error = errno_text("cannot read state file " + path);
            return load_result::refused;
        }
        text->append(buf, static_cast<std::size_t>(n));
        if (text->size() > max_state_file_size) {
            if (error)
                *error = "state file " + path + " is larger than " +
                         std::to_string(max_state_file_size / 1024) +
                         " KiB, more than any state; refusing it and leaving it untouched";
            return load_result::refused;
        }
    }
    return load_result::loaded;
}

}  // namespace

load_result load_state_file(const std::string &path, lasting_state *out, std::string *error) {
    std::string text;
    const load_result read = read_state_text(path, &text, error);
    if (read != load_result::loaded) return read;
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
    std::string tmp;
    const fd_guard f{create_temp(path, &tmp)};
    const auto fail = [&](const std::string &what) {
        if (error) *error = errno_text(what);
        const int err = errno;
        if (f.fd >= 0) ::unlink(tmp.c_str());
        errno = err;
        return false;
    };
    if (f.fd < 0) return fail("cannot create a temporary file beside " + path);
    // The file keeps its mode: a private (0600) state stays private.
    struct stat old {};
    if (::stat(path.c_str(), &old) == 0 && ::fchmod(f.fd, old.st_mode & 07777) != 0)
        return fail("cannot set the mode of " + tmp);
    if (!write_all(f.fd, serialize_state(state))) return fail("cannot write " + tmp);
    if (::fsync(f.fd) != 0) return fail("cannot sync " + tmp);
    if (std::rename(tmp.c_str(), path.c_str()) != 0)
        return fail("cannot rename " + tmp + " to " + path);
    // The rename itself lasts only once the directory is synced.
    const fd_guard dir{::open(split_path(path).first.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)};
    if (dir.fd >= 0) ::fsync(dir.fd);
    return true;
}

bool state_file_lock::acquire(const std::string &state_path, std::string *error) {
    release();
    const std::string path = state_path + ".lock";
    // The lock file may be unlinked by its holder between our open and our
    // flock; a lock on such an orphan counts for nothing, so look again.
    for (int attempt = 0; attempt < 10; ++attempt) {
        const int fd = ::open(path.c_str(), O_RDONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd < 0) {
            if (error) *error = errno_text("cannot open the lock file " + path);
            return false;
        }
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            const bool held = errno == EWOULDBLOCK;
            if (error)
                *error = held ? "state file " + state_path +
                                    " is in use by another running instance (it holds " + path +
                                    "); not sharing it"
                              : errno_text("cannot lock " + path);
            ::close(fd);
            return false;
        }
        struct stat held {
        }, named{};
        if (::fstat(fd, &held) == 0 && ::lstat(path.c_str(), &named) == 0 &&
            held.st_dev == named.st_dev && held.st_ino == named.st_ino) {
            fd_ = fd;
            path_ = path;
            remove_stale_temps(state_path);
            return true;
        }
        ::close(fd);
    }
    if (error) *error = "cannot lock " + path + ": it keeps being replaced";
    return false;
}

void state_file_lock::release() {
    if (fd_ < 0) return;
    ::unlink(path_.c_str());  // while still held, so no one locks the old file
    ::close(fd_);
    fd_ = -1;
}

}  // namespace sim
