// The display report's figures and verdicts as JSON (`report --json`), the
// form ca410.report.evaluate in Python returns as well.
#pragma once

#include <nlohmann/json.hpp>

#include "report_eval.h"
#include "report_text.h"

namespace cli::report {

// The report: "source" (file, header, when made), "profile", "verdict",
// "summary", "white", "grey", "gamut" and "checker". Numbers that are not
// finite (the contrast of a black of 0) are null.
nlohmann::ordered_json report_json(const evaluation &e, const report_source &source);

}  // namespace cli::report
