// Measurement output in the three formats, and the one-line redraw of --watch.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "figures.h"

namespace cli {

enum class format { text, csv, json };
// "text", "csv" or "json" (the option's choices).
format format_named(const std::string &name);

// Whether `path` can be written, checked before anything is measured: not a
// folder, its folder there and writable. An existing file is left as it is;
// a new one is not left behind. False with "PATH: reason".
bool output_path_ok(const std::string &path, std::string *error);

// Writes readings as they come and a summary at the end: a table (text), rows
// with a header (csv), or one JSON document. With more than one reading the
// summary holds the mean and the standard deviation of each figure.
class reading_writer {
  public:
    reading_writer(format f, std::FILE *out) : format_(f), out_(out) {}
    void begin(const std::string &port, int channel);
    void reading(const figures &f);
    void end();
    const std::vector<figures> &readings() const { return readings_; }

  private:
    void row(const char *label, const figures &f, bool deviation);
    format format_;
    std::FILE *out_;
    std::vector<figures> readings_;
};

// "#12 X 95.0456 Y 100.0000 ... Δuv +0.00320": one reading on one line.
std::string reading_line(std::size_t number, const figures &f);

// What a table shows for a figure without a value.
constexpr const char *no_value = "\u2014";  // an em dash

// `text` right-aligned in `width` columns, counting UTF-8 characters, not bytes.
std::string pad_left(const std::string &text, int width);

// The first `columns` characters of a UTF-8 line (a redrawn line must not wrap).
std::string fit_columns(const std::string &line, int columns);

// A figure as text with the decimals its kind needs; `empty` when it has none.
// `sign`: Δuv with an explicit "+" (for people, not for CSV or JSON).
std::string figure_text(std::size_t which, const std::optional<double> &v, const char *empty,
                        bool sign = false);

}  // namespace cli
