// Patch sets: the colours a sequence shows and measures, built in by name or
// read from a file. bindings/python/ca410/patches.py has the same sets under
// the same names, ids and values.
#pragma once

#include <array>
#include <string>
#include <string_view>
#include <vector>

namespace cli {

struct patch {
    std::string id;               // SAMPLE_ID: unique in its set
    std::string name;             // for people; may be empty
    std::array<double, 3> rgb{};  // drive values R, G, B, 0..1
};
using patch_list = std::vector<patch>;

// The built-in sets:
//   grey[:N]   N steps from black to white (default 11, 2..4096), ids G1..GN
//   primaries  red, green, blue, cyan, magenta, yellow at 25, 50, 75, 100 %,
//              ids R25..Y100
//   checker    the 24 patches of the classic colour checker from their
//              published 8-bit sRGB values, ids C01..C24 with their names
//   full[:N]   all three (grey ramp of N steps), each drive triple once
// Throws std::invalid_argument for an unknown name or a bad step count.
patch_list builtin_patches(std::string_view name);
bool is_builtin_set(std::string_view name);
constexpr int default_grey_steps = 11;

// A patch file, CSV or CGATS (told apart by its first line: CSV has commas).
//
// CSV: one patch per line, blank lines and "#" comments skipped. The columns
// are R,G,B, or id,R,G,B, or id,name,R,G,B, or any order that a header line
// names (id, name, R, G, B; case ignored). Values are floats 0..1, or
// integers 0..2^bits-1 when a "# bits: N" line or `bits` (1..16) says so.
// Ids default to the row number.
// CGATS: the fields RGB_R, RGB_G, RGB_B in percent (0..100); SAMPLE_ID and
// SAMPLE_NAME when present.
//
// Throws file_error (cgats.h): "FILE:LINE: reason".
patch_list read_patch_file(const std::string &path, int bits = 0);

// A built-in set by name, else a patch file.
patch_list load_patches(const std::string &name_or_path, int bits = 0);

}  // namespace cli
