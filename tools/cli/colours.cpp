#include "colours.h"

#ifndef _WIN32
#include <sys/wait.h>
#endif

#include <cctype>
#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <sstream>
#include <vector>

#include "session.h"

namespace cli {

const std::array<const char *, 4> colour_names = {"white", "red", "green", "blue"};

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

std::optional<double> number(const std::string &text) {
    if (text.empty()) return std::nullopt;
    errno = 0;
    char *end = nullptr;
    const double v = std::strtod(text.c_str(), &end);
    if (*end != '\0' || errno == ERANGE || !std::isfinite(v)) return std::nullopt;
    return v;
}

}  // namespace

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
    std::ifstream in(path);
    if (!in) {
        *error = path + ": cannot be read";
        return false;
    }
    return parse_targets(in, path, out, error);
}

show_colour ask_operator() {
    return [](colour c) {
        std::fprintf(stderr, "Show full %s on the display, then press Enter: ",
                     colour_names[static_cast<std::size_t>(c)]);
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
    return [command](colour c) {
        const std::string line = command + " " + colour_names[static_cast<std::size_t>(c)];
        const int status = std::system(line.c_str());
        // system() ignores Ctrl-C in this process while the command runs.
#ifdef _WIN32
        const bool stopped_by_ctrl_c = false;  // Windows reports no signals in the status
#else
        const bool stopped_by_ctrl_c = WIFSIGNALED(status) && WTERMSIG(status) == SIGINT;
#endif
        if (interrupted() || stopped_by_ctrl_c) return static_cast<int>(exit_interrupted);
        if (status != 0) {
            std::fprintf(stderr, "ca410: the show command failed (status %d): %s\n", status,
                         line.c_str());
            return static_cast<int>(exit_failed);
        }
        return static_cast<int>(exit_ok);
    };
}

show_colour shown_by_host() {
    return [](colour) { return static_cast<int>(exit_ok); };
}

}  // namespace cli
