// Text of a display report: figures with their units and precision, and
// escaping for HTML and SVG. Numbers go through std::to_chars, so a report
// has a '.' for its decimal point whatever the locale.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "cgats.h"
#include "report_eval.h"

namespace cli::report {

// Where a report's readings come from, for its header.
struct report_source {
    std::string file;  // the measurement file as named on the command line
    measurement_header header;
    std::string generated;  // when the report was made, ISO 8601 UTC
};

// v with `decimals` digits after the point.
std::string fixed(double v, int decimals);
// v with `digits` significant digits (never in exponent form).
std::string significant(double v, int digits);

const char *unit_of(quantity q);  // "cd/m²", " K", "%", "" ...
// A figure as a report shows it, with its unit: "98.8 cd/m²", "2.31",
// "0.3127", "6504 K", "+0.0032", "123:1", "97.2 %"; an em dash for none.
std::string value_text(quantity q, const std::optional<double> &v);
// "≤ 3.00", "≥ 80.0 cd/m²", "± 0.10", "± 10 %"; an em dash when not judged.
std::string tolerance_text(const check &c);

// Writes `content` to `path` (replacing it); false with "PATH: reason".
bool write_text_file(const std::string &path, const std::string &content, std::string *error);

// Text for HTML and SVG: & < > " ' as entities, control bytes as U+FFFD.
std::string escape_html(std::string_view text);

}  // namespace cli::report
