// What `ca410 report` and the demo share: the summary on the terminal and
// the report's files.
#pragma once

#include <cstdio>
#include <string>

#include "report_eval.h"
#include "report_text.h"

namespace cli::report {

// Now, UTC, ISO 8601 ("2024-05-17T08:30:00Z").
std::string utc_now();
// The summary table and the verdict, for people.
void print_summary(std::FILE *out, const evaluation &e, const char *indent);
// Writes the HTML and JSON reports to the paths not empty; false with a
// message in *error.
bool write_reports(const evaluation &e, const report_source &source, const std::string &html,
                   const std::string &json, std::string *error);

}  // namespace cli::report
