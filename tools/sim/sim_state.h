// Lasting state of the instrument (settings and user channels) in a text
// file, written atomically and guarded by a checksum.
#ifndef CA410_SIM_STATE_H
#define CA410_SIM_STATE_H

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "sim_types.h"

namespace sim {

// Every integer setting: its key in the state file, the head that sets it on
// its own ("" when another command sets it), and its bounds.
struct sim_int_setting {
    std::string_view key;
    std::string_view head;
    int sim_settings::*field;
    int lo, hi;
};
extern const std::array<sim_int_setting, 14> sim_int_settings;

struct lasting_state {
    sim_settings settings;              // zero calibration and calibration mode are not kept
    std::vector<sim_channel> channels;  // ascending by number
};

std::string serialize_state(const lasting_state &state);
// Empty with a message naming the line on any deviation from the format.
std::optional<lasting_state> parse_state(std::string_view text, std::string *error);

// fresh: no file, or an empty one; refused: unreadable or corrupt.
enum class load_result { loaded, fresh, refused };
load_result load_state_file(const std::string &path, lasting_state *out, std::string *error);
// Writes a temporary file beside `path`, syncs it and renames it over `path`,
// so that a crash leaves either the old or the new state, never a torn one.
bool save_state_file(const std::string &path, const lasting_state &state, std::string *error);

}  // namespace sim

#endif
