// Lasting state of the instrument (settings and user channels) in a text
// file, written atomically and guarded by a checksum.
#ifndef CA410_SIM_STATE_H
#define CA410_SIM_STATE_H

#include <array>
#include <cstddef>
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

// The largest state file read: 99 channels at full precision take under 90 KB;
// anything larger (or not a regular file, say /dev/zero) is refused unread.
constexpr std::size_t max_state_file_size = 256 * 1024;

// fresh: no file, or an empty one; refused: unreadable, too large or corrupt.
enum class load_result { loaded, fresh, refused };
load_result load_state_file(const std::string &path, lasting_state *out, std::string *error);
// Writes a new file of a random name beside `path` (never through a link
// planted there), gives it the mode of the file it replaces, syncs it and
// renames it over `path`: a crash leaves either the old or the new state.
bool save_state_file(const std::string &path, const lasting_state &state, std::string *error);

// Keeps one instance at a time on a state file: an flock() on PATH.lock
// (the state file itself is replaced on every save, so it cannot carry the
// lock). The lock file goes when the lock is released.
class state_file_lock {
  public:
    state_file_lock() = default;
    ~state_file_lock() { release(); }
    state_file_lock(const state_file_lock &) = delete;
    state_file_lock &operator=(const state_file_lock &) = delete;

    // False with a message when another instance holds it, or on an error.
    // Also removes temporary files that a killed instance left beside `state_path`.
    bool acquire(const std::string &state_path, std::string *error);
    void release();

  private:
    int fd_ = -1;
    std::string path_;
};

}  // namespace sim

#endif
