// Measurement and patch files: the CGATS text format (CGATS.17 / ISO 28178),
// the measurement files that `sequence` writes patch by patch and `report`
// reads (CGATS, CSV or JSON Lines), and the text helpers they share.
// bindings/python/ca410/cgats.py reads and writes the same files.
#pragma once

#include <array>
#include <cstddef>
#include <cstdio>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "patches.h"

namespace cli {

// Why a file was refused. Each has a keyword (its enumerator's name), which
// the test tables and the Python package use as well.
enum class file_problem {
    io,                   // cannot open, read or write
    too_large,            // above max_file_bytes
    line_too_long,        // a line above max_line_bytes
    truncated,            // ends before its data (or, partial, before BEGIN_DATA)
    missing_end_data,     // data without END_DATA
    field_count,          // a row's values against the fields
    set_count,            // NUMBER_OF_SETS against the rows
    duplicate_id,         // a SAMPLE_ID (patch id) twice
    not_a_number,         // text where a number belongs
    unknown_field,        // neither a standard field nor declared
    unterminated_string,  // a quote without its closing quote
    syntax,               // anything else out of place
    missing_field,        // a field this kind of file needs
    out_of_range,         // a value outside its range
    no_patches,           // a patch file without a patch
    mismatch,             // a partial file that is not the run being resumed
};
const char *problem_keyword(file_problem p);

// what(): "FILE:LINE: reason", or "FILE: reason" when no line is to blame.
class file_error : public std::runtime_error {
  public:
    file_error(const std::string &file, std::size_t line, file_problem problem,
               const std::string &reason);
    std::string file;
    std::size_t line;  // 1-based; 0 for the whole file
    file_problem problem;
};

// Guards against a wrong path (/dev/zero, a disk image): no measurement or
// patch file comes near these.
constexpr std::size_t max_line_bytes = 64 * 1024;
constexpr std::size_t max_file_bytes = 64 * 1024 * 1024;

// A text file split into lines (LF or CRLF; without the line ends), a UTF-8
// byte-order mark dropped. `ends[i]` is the byte offset just past line i's
// end; a last line without a line end is marked `last_line_open`.
struct text_file {
    std::string name;
    std::vector<std::string> lines;
    std::vector<std::size_t> ends;
    bool last_line_open = false;
};
text_file read_text_file(const std::string &path);
text_file split_lines(const std::string &name, std::string_view content);

// Numbers as machine-readable files carry them, whatever the locale: the
// shortest text that reads back to the same double; a decimal (optional
// sign, digits with an optional point, optional exponent) that is finite.
std::string number_text(double v);
std::optional<double> parse_number(std::string_view text);
std::optional<long> parse_count(std::string_view text);  // decimal digits only

// A drive value 0..1 as percent text, and percent text as a drive value:
// exactly the decimal divided by 100, so drive values keep every bit.
std::string percent_text(double drive);
std::optional<double> parse_percent(std::string_view text);

// One CSV line's cells ("..." quoting with "" inside); nullopt for an
// unterminated quote. csv_cell quotes a text when it must.
std::optional<std::vector<std::string>> csv_cells(std::string_view line);
std::string csv_cell(std::string_view text);

// Without its leading and trailing blanks (spaces, tabs).
std::string_view trimmed(std::string_view s);

// A text from a file, quoted for a message: control characters as \xNN,
// cut after 40 bytes.
std::string shown(std::string_view text);

namespace cgats {

// One table of a CGATS file. Values and data are kept as text, strings
// without their quotes.
struct keyword {
    std::string name;
    std::string value;
    bool quoted = false;
};
struct document {
    std::string identifier;             // the first line: "CGATS.17", "CTI3", ...
    std::vector<keyword> keywords;      // in file order
    std::vector<std::string> declared;  // KEYWORD "NAME"
    std::vector<std::string> fields;    // BEGIN_DATA_FORMAT ... END_DATA_FORMAT
    std::size_t format_line = 0;        // the line of BEGIN_DATA_FORMAT
    std::vector<std::vector<std::string>> rows;
    std::vector<std::size_t> row_lines;  // each row's line number
    bool complete = true;                // END_DATA seen
    std::size_t data_end = 0;            // byte offset past the last complete row

    const keyword *find(std::string_view name) const;
    std::optional<std::size_t> field(std::string_view name) const;
};

// `partial`: the file may stop anywhere after BEGIN_DATA; an unfinished last
// line is dropped, the rows before it are kept, nothing else is forgiven.
// Throws file_error.
document parse(const text_file &text, bool partial = false);
document read(const std::string &path, bool partial = false);

// Whether a field name is one of CGATS.17's (SAMPLE_ID, RGB_R, XYZ_Y, ...).
bool is_standard_field(std::string_view name);

}  // namespace cgats

// ---- Measurement files -------------------------------------------------

enum class file_format { cgats, csv, json };
extern const std::array<const char *, 3> file_format_names;  // "cgats", "csv", "json"
std::optional<file_format> file_format_named(std::string_view name);
// Which format a file is in: JSON starts with "{", CSV has commas in its
// first line (or a "#KEYWORD," line before it), CGATS neither.
file_format detect_format(const text_file &t);

struct measurement_header {
    std::string originator;       // ORIGINATOR; the writer fills in "ca410 <version>"
    std::string created;          // CREATED; the writer fills in the UTC time, ISO 8601
    std::string instrumentation;  // INSTRUMENTATION: "CA-410 S/N 12345678"
    std::string descriptor;       // DESCRIPTOR: free text
    std::string patch_set;        // PATCH_SET: a built-in set's name or a patch file's
    std::size_t number_of_sets = 0;
};

// One patch's result: the mean of its n readings and their sample standard
// deviation (0 for one reading).
struct patch_reading {
    std::string id;
    std::string name;
    std::array<double, 3> rgb{};  // drive values 0..1 (files: RGB_* in percent)
    std::array<double, 3> xyz{};  // absolute, Y in cd/m2
    std::array<double, 3> sd{};
    long n = 0;  // READINGS
};

struct measurement_file {
    file_format format = file_format::cgats;
    measurement_header header;
    std::vector<patch_reading> readings;
    bool complete = true;         // all NUMBER_OF_SETS rows (and END_DATA)
    std::size_t resume_from = 0;  // byte offset past the last complete row
};

// Reads a measurement file of any of the three formats (told apart by its
// first character or line). SAMPLE_ID, RGB_R/G/B and XYZ_X/Y/Z are needed;
// without SAMPLE_NAME the names are empty, without STDEV_* the deviations
// 0, without READINGS n is 1. Throws file_error.
measurement_file read_measurements(const std::string &path);
// A file of an interrupted run: cut anywhere after its header; `complete`
// and `readings.size()` tell how far it got.
measurement_file read_partial_measurements(const std::string &path);

// What differs between a partial file and the run that would go on with it
// (header fields, set count, the patches already measured), one line each;
// empty when the run may resume. The creation time is not compared.
std::vector<std::string> resume_differences(const measurement_file &recorded,
                                            const measurement_header &run,
                                            const patch_list &patches);

// Writes a measurement file patch by patch, each row flushed, so that an
// interrupted run keeps every patch it finished:
//   CGATS  the header with the final NUMBER_OF_SETS, one row per patch,
//          END_DATA at finish()
//   CSV    "#KEYWORD,value" lines, the field names, one row per patch
//   JSON   JSON Lines: a header object, then one object per patch
// The rows come in the order of the patch list. Throws file_error.
class measurement_writer {
  public:
    struct backend;

    // Creates (or replaces) the file. Empty originator and created are
    // filled in; number_of_sets is the patch count.
    static std::unique_ptr<measurement_writer> create(const std::string &path, file_format format,
                                                      measurement_header header,
                                                      const patch_list &patches);
    // Goes on with a partial file (read_partial_measurements) after its last
    // complete row; refuses (file_problem::mismatch) when resume_differences
    // finds any.
    static std::unique_ptr<measurement_writer> resume(const std::string &path,
                                                      const measurement_file &recorded,
                                                      const measurement_header &run,
                                                      const patch_list &patches);
    ~measurement_writer();
    measurement_writer(const measurement_writer &) = delete;
    measurement_writer &operator=(const measurement_writer &) = delete;

    // The reading of the next patch of the list (same id and drive values).
    void append(const patch_reading &reading);
    // Ends the file (CGATS: END_DATA) once every patch has its row.
    void finish();
    std::size_t rows_written() const { return next_; }
    const measurement_header &header() const { return header_; }

  private:
    measurement_writer(std::string path, std::FILE *file, const backend &b,
                       measurement_header header, const patch_list &patches, std::size_t next);
    void put(const std::string &text);

    std::string path_;
    std::FILE *file_;
    const backend &backend_;
    measurement_header header_;
    patch_list patches_;
    std::size_t next_;
    bool finished_ = false;
};

}  // namespace cli
