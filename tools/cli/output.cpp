#include "output.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>

#include <charconv>
#include <cmath>

namespace cli {

namespace {

constexpr auto replace_bad_utf8 = nlohmann::json::error_handler_t::replace;

// Decimals per figure: tristimulus values to 1e-4, chromaticity to 1e-5, CCT
// to 0.1 K, Δuv to 1e-5.
int decimals(std::size_t which) {
    switch (which) {
        case fX:
        case fY:
        case fZ:
            return 4;
        case fcct:
            return 1;
        default:
            return 5;
    }
}

// Text table columns: label, then the figures right-aligned.
constexpr int label_width = 7;
constexpr int column_width[figure_count] = {10, 10, 10, 9, 9, 9, 9, 9, 9};

}  // namespace

std::string figure_text(std::size_t which, const std::optional<double> &v, const char *empty,
                        bool sign) {
    if (!v || !std::isfinite(*v)) return empty;
    // A decimal point whatever the locale: CSV and JSON readers expect one.
    char buf[400];
    char *at = buf;
    if (sign && which == fduv && !std::signbit(*v)) *at++ = '+';
    const auto r =
        std::to_chars(at, buf + sizeof buf, *v, std::chars_format::fixed, decimals(which));
    return std::string(buf, r.ptr);
}

format format_named(const std::string &name) {
    return name == "csv" ? format::csv : name == "json" ? format::json : format::text;
}

bool output_path_ok(const std::string &path, std::string *error) {
    namespace fs = std::filesystem;
    std::error_code ec;
    const bool existed = fs::exists(path, ec);
    if (existed && fs::is_directory(path, ec)) {
        *error = path + ": is a folder, not a file";
        return false;
    }
    {
        std::ofstream probe(path, std::ios::app);  // neither truncates nor writes
        if (!probe) {
            *error = path + ": cannot be written (" + std::strerror(errno) + ")";
            return false;
        }
    }
    if (!existed) fs::remove(path, ec);
    return true;
}

std::string reading_line(std::size_t number, const figures &f) {
    static const char *const text_names[figure_count] = {"X",  "Y",  "Z",   "x",  "y",
                                                         "u'", "v'", "CCT", "Δuv"};
    std::string line = "#" + std::to_string(number);
    for (std::size_t i = 0; i < figure_count; ++i) {
        line += i == fx || i == fcct ? "  " : " ";
        line += text_names[i];
        line += ' ';
        line += figure_text(i, f[i], no_value, true);
        if (i == fcct && f[i]) line += " K";
    }
    return line;
}

std::string pad_left(const std::string &text, int width) {
    int characters = 0;
    for (const char c : text) characters += (static_cast<unsigned char>(c) & 0xc0) != 0x80;
    return std::string(static_cast<size_t>(std::max(0, width - characters)), ' ') + text;
}

std::string fit_columns(const std::string &line, int columns) {
    std::string out;
    int used = 0;
    for (const char c : line) {
        const bool continuation = (static_cast<unsigned char>(c) & 0xc0) == 0x80;
        if (!continuation && ++used > columns) break;
        out += c;
    }
    return out;
}

void reading_writer::begin(const std::string &port, int channel) {
    switch (format_) {
        case format::text: {
            std::fprintf(out_, "%*s", label_width, "reading");
            for (std::size_t i = 0; i < figure_count; ++i) {
                // "Δ" takes two bytes and one column.
                const char *name = i == fduv ? "Δuv" : i == fcct ? "CCT/K" : figure_names[i];
                std::fprintf(out_, "%*s", column_width[i] + (i == fduv ? 1 : 0), name);
            }
            std::fputc('\n', out_);
            break;
        }
        case format::csv:
            std::fputs("reading", out_);
            for (const char *name : figure_names) std::fprintf(out_, ",%s", name);
            std::fputc('\n', out_);
            break;
        case format::json:
            std::fprintf(out_, "{\"port\": %s, \"channel\": %d, \"readings\": [",
                         nlohmann::json(port).dump(-1, ' ', true, replace_bad_utf8).c_str(),
                         channel);
            break;
    }
    std::fflush(out_);
}

void reading_writer::row(const char *label, const figures &f, bool deviation) {
    switch (format_) {
        case format::text:
            std::fprintf(out_, "%*s", label_width, label);
            for (std::size_t i = 0; i < figure_count; ++i) {
                // A deviation carries no sign.
                const std::string v = figure_text(i, f[i], no_value, !deviation);
                std::fputs(pad_left(v, column_width[i]).c_str(), out_);
            }
            std::fputc('\n', out_);
            break;
        case format::csv:
            std::fputs(label, out_);
            for (std::size_t i = 0; i < figure_count; ++i)
                std::fprintf(out_, ",%s", figure_text(i, f[i], "").c_str());
            std::fputc('\n', out_);
            break;
        case format::json: {
            // Rounded as the other formats show them; null where a figure has no value.
            nlohmann::ordered_json object;
            for (std::size_t i = 0; i < figure_count; ++i) {
                const std::string text = figure_text(i, f[i], "");
                double rounded = 0.0;
                std::from_chars(text.data(), text.data() + text.size(), rounded);
                object[figure_names[i]] = text.empty() ? nlohmann::ordered_json(nullptr)
                                                       : nlohmann::ordered_json(rounded);
            }
            std::fputs(object.dump(-1, ' ', true, replace_bad_utf8).c_str(), out_);
            break;
        }
    }
    std::fflush(out_);
}

void reading_writer::reading(const figures &f) {
    readings_.push_back(f);
    if (format_ == format::json) std::fputs(readings_.size() > 1 ? ",\n  " : "\n  ", out_);
    row(std::to_string(readings_.size()).c_str(), f, false);
}

void reading_writer::end() {
    const bool summary = readings_.size() > 1;
    const series_stats s = stats_of(readings_);
    if (format_ == format::json) {
        std::fputs("\n]", out_);
        if (summary) {
            std::fputs(",\n\"mean\": ", out_);
            row("mean", s.mean, false);
            std::fputs(",\n\"std\": ", out_);
            row("std", s.stddev, true);
        }
        std::fputs("}\n", out_);
    } else if (summary) {
        row("mean", s.mean, false);
        row("std", s.stddev, true);
    }
    std::fflush(out_);
}

}  // namespace cli
