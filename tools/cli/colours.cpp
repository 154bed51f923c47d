#include "colours.h"

#ifndef _WIN32
#include <sys/wait.h>
#endif

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <vector>

#include "cgats.h"
#include "options.h"
#include "session.h"

namespace cli {

const std::array<const char *, 4> colour_names = {"white", "red", "green", "blue"};
const std::array<drive_levels, 4> colour_levels = {
    {{1.0, 1.0, 1.0}, {1.0, 0.0, 0.0}, {0.0, 1.0, 0.0}, {0.0, 0.0, 1.0}}};

namespace {

std::string trim(const std::string &s) {
    const auto first = s.find_first_not_of(" \t\r");
    if (first == std::string::npos) return "";
    return s.substr(first, s.find_last_not_of(" \t\r") - first + 1);
}

std::string lower(std::string s) {
    for (char &c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

std::optional<colour> colour_named(const std::string &name) {
    const std::string n = lower(name);
    for (int c = white; c <= blue; ++c) {
        if (n == colour_names[static_cast<std::size_t>(c)] ||
            n == std::string(1, colour_names[static_cast<std::size_t>(c)][0]))
            return static_cast<colour>(c);
    }
    return std::nullopt;
}

// A decimal number, the whole field, with a point whatever the locale.
std::optional<double> number(const std::string &text) {
    double v = 0.0;
    const char *first = text.data() + (!text.empty() && text[0] == '+' ? 1 : 0);
    const auto r = std::from_chars(first, text.data() + text.size(), v);
    if (text.empty() || r.ec != std::errc() || r.ptr != text.data() + text.size() ||
        !std::isfinite(v))
        return std::nullopt;
    return v;
}

// A targets file has four lines; anything this long is not one.
constexpr std::size_t max_line = 1024;
constexpr std::uintmax_t max_file_size = 64 * 1024;

// What the shell reports of a command that did not succeed.
std::string exit_text(int status) {
#ifdef _WIN32
    return "exit code " + std::to_string(status);
#else
    if (WIFEXITED(status)) {
        const int code = WEXITSTATUS(status);
        return code == 127 ? "exit code 127: the shell did not find the command"
                           : "exit code " + std::to_string(code);
    }
    if (WIFSIGNALED(status)) return "stopped by signal " + std::to_string(WTERMSIG(status));
    return "wait status " + std::to_string(status);
#endif
}

// Characters that mean nothing to either shell, so a name made of them
// alone goes as it is ("white", "N5", "CC03").
bool plain_word(const std::string &word) {
    return !word.empty() && std::all_of(word.begin(), word.end(), [](char c) {
        return std::isalnum(static_cast<unsigned char>(c)) || std::strchr("_.,:/+=@-", c);
    });
}

// A name from a patch file as one argument of the show command, whatever it
// holds; false when the shell cannot be given it safely.
bool shell_word(const std::string &word, std::string *out) {
    if (plain_word(word)) {
        *out = word;
        return true;
    }
#ifdef _WIN32
    // cmd expands %...% and !...! and ends a quoted word at a quote even
    // inside double quotes: such names are refused, not mangled.
    if (word.find_first_of("\"%!^") != std::string::npos) return false;
    *out = "\"" + word + "\"";
#else
    *out = "'";
    for (const char c : word) *out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    *out += "'";
#endif
    return true;
}

}  // namespace

std::string levels_text(const drive_levels &levels) {
    return number_text(levels[0]) + " " + number_text(levels[1]) + " " + number_text(levels[2]);
}

bool parse_targets(std::istream &in, const std::string &name, wrgb_xyz *out, std::string *error) {
    std::array<int, 4> given_on{};  // line of each colour, 0 while missing
    wrgb_xyz targets{};
    std::string line;
    int number_of_line = 0;
    bool content_seen = false;
    auto fail = [&](const std::string &reason) {
        *error = name + ":" + std::to_string(number_of_line) + ": " + reason;
        return false;
    };
    while (std::getline(in, line)) {
        ++number_of_line;
        if (line.size() > max_line)
            return fail("a line of more than " + std::to_string(max_line) +
                        " characters: not a targets file");
        // A byte-order mark, as some editors write one, at the very start.
        if (number_of_line == 1 && line.compare(0, 3, "\xef\xbb\xbf") == 0) line.erase(0, 3);
        const std::string text = trim(line);
        if (text.empty() || text[0] == '#') continue;
        std::vector<std::string> fields;
        std::stringstream split(text);
        for (std::string f; std::getline(split, f, ',');) fields.push_back(trim(f));
        if (text.back() == ',') fields.push_back("");
        const bool first = !content_seen;
        content_seen = true;
        if (first && (lower(fields[0]) == "colour" || lower(fields[0]) == "color")) continue;
        if (fields.size() != 4)
            return fail("expected 4 fields (colour,X,Y,Z), found " + std::to_string(fields.size()));
        const std::optional<colour> c = colour_named(fields[0]);
        if (!c) return fail("'" + fields[0] + "' is not a colour (white, red, green or blue)");
        const std::size_t i = static_cast<std::size_t>(*c);
        if (given_on[i] != 0)
            return fail(std::string(colour_names[i]) + " given twice (first on line " +
                        std::to_string(given_on[i]) + ")");
        for (std::size_t k = 0; k < 3; ++k) {
            const char *axis = k == 0 ? "X" : k == 1 ? "Y" : "Z";
            const std::optional<double> v = number(fields[k + 1]);
            if (!v)
                return fail(std::string(axis) + " of " + colour_names[i] + ": '" + fields[k + 1] +
                            "' is not a number");
            if (*v < 0.0 || (k == 1 && *v == 0.0))
                return fail(std::string(axis) + " of " + colour_names[i] + " is " + fields[k + 1] +
                            (k == 1 ? "; Y must be above 0" : "; must not be negative"));
            targets[i][k] = *v;
        }
        given_on[i] = number_of_line;
    }
    std::string missing;
    for (std::size_t i = 0; i < 4; ++i) {
        if (given_on[i] == 0) missing += std::string(missing.empty() ? "" : ", ") + colour_names[i];
    }
    if (!missing.empty()) {
        *error = name + ": no target for " + missing + " (each of white, red, green, blue once)";
        return false;
    }
    *out = targets;
    return true;
}

bool read_targets(const std::string &path, wrgb_xyz *out, std::string *error) {
    std::error_code ec;
    if (std::filesystem::is_directory(path, ec)) {
        *error = path + ": is a folder, not a targets file";
        return false;
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        *error = path + ": cannot be read";
        return false;
    }
    // Read no more than a targets file can be (/dev/zero must not fill the memory).
    std::string text(max_file_size + 1, '\0');
    in.read(text.data(), static_cast<std::streamsize>(text.size()));
    text.resize(static_cast<std::size_t>(in.gcount()));
    if (text.size() > max_file_size) {
        *error = path + ": larger than " + std::to_string(max_file_size / 1024) +
                 " KiB: not a targets file";
        return false;
    }
    std::istringstream lines(text);
    return parse_targets(lines, path, out, error);
}

show_colour ask_operator() {
    return [](const std::string &name, const drive_levels &levels) {
        std::fprintf(stderr, "Show %s (R G B %s) on the display, then press Enter: ",
                     printable(name).c_str(), levels_text(levels).c_str());
        std::fflush(stderr);
        char line[256];
        if (std::fgets(line, sizeof line, stdin) == nullptr) {
            if (interrupted()) return static_cast<int>(exit_interrupted);
            std::fprintf(stderr,
                         "\nca410: no answer at the prompt (standard input closed); use "
                         "--no-prompt or --show-command when the host shows the colours\n");
            return static_cast<int>(exit_usage);
        }
        return static_cast<int>(exit_ok);
    };
}

show_colour run_command(const std::string &command) {
    return [command](const std::string &name, const drive_levels &levels) {
        std::string word;
        if (!shell_word(name, &word)) {
            std::fprintf(stderr,
                         "ca410: '%s' cannot be passed to the show command through the "
                         "shell (it holds \", %%, ! or ^): rename it\n",
                         printable(name).c_str());
            return static_cast<int>(exit_usage);
        }
        const std::string line = command + " " + word + " " + levels_text(levels);
        // What the command prints goes to standard error: standard output
        // carries the results.
        const std::string redirected = line + " 1>&2";
        const int status = std::system(redirected.c_str());
        // system() ignores Ctrl-C in this process while the command runs.
#ifdef _WIN32
        const bool stopped_by_ctrl_c = false;  // Windows reports no signals in the status
#else
        const bool stopped_by_ctrl_c = WIFSIGNALED(status) && WTERMSIG(status) == SIGINT;
#endif
        if (interrupted() || stopped_by_ctrl_c) return static_cast<int>(exit_interrupted);
        if (status != 0) {
            std::fprintf(stderr, "ca410: the show command failed (%s): %s\n",
                         exit_text(status).c_str(), printable(line).c_str());
            return static_cast<int>(exit_failed);
        }
        return static_cast<int>(exit_ok);
    };
}

show_colour shown_by_host() {
    return [](const std::string &, const drive_levels &) { return static_cast<int>(exit_ok); };
}

}  // namespace cli
