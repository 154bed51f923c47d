// Checks of option values with messages that say what is wanted ("must be 1
// or more, not 0"), and the text helpers every output shares.
#pragma once

#include <CLI/CLI.hpp>

#include <string>

namespace cli {

// A whole number from `low` to `high`.
CLI::Validator whole_number(long low, long high);
// A whole number of at least `low`.
CLI::Validator whole_number_from(long low);
// A file that can be written (created if missing), checked before anything
// is measured: its folder exists and takes files.
CLI::Validator writable_file();

// --display NAME: a display model of the virtual instrument (ideal,
// imperfect; tools/sim/README.md).
CLI::Option *add_display_option(CLI::App *sub, std::string &display, const std::string &what);

// --settle MS and --repeat N of the commands that measure patch sets.
void add_timing_options(CLI::App *sub, int &settle_ms, int &repeat);

// Text for a terminal: control bytes and bytes that are not UTF-8 shown as
// \xNN, so that no text from outside can move the cursor or set a title.
std::string printable(const std::string &text);
// Text that came from the instrument: anything outside printable ASCII as
// \xNN (as the library's wire log shows it).
std::string instrument_text(const std::string &text);

}  // namespace cli
