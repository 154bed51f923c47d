// The display report as one self-contained HTML page: inline CSS and SVG,
// no scripts, fonts, images or links to anything outside; printable on A4
// and readable on a phone. The verdict and the summary table come first,
// then one section per topic, each with its charts and its table.
#pragma once

#include <string>

#include "report_eval.h"
#include "report_text.h"

namespace cli::report {

std::string report_html(const evaluation &e, const report_source &source);

}  // namespace cli::report
