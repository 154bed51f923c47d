// The instrument's end of the line: the master side of a pseudo-terminal.
#ifndef CA410_SIM_PTY_H
#define CA410_SIM_PTY_H

#include <termios.h>

#include <string>
#include <utility>

namespace sim {

class pty {
  public:
    pty() = default;
    ~pty() { close(); }
    pty(const pty &) = delete;
    pty &operator=(const pty &) = delete;

    bool open(std::string *error);
    void close();
    void swap(pty &other) noexcept;
    bool is_open() const { return master_ >= 0; }
    int master() const { return master_; }
    const std::string &slave_path() const { return slave_path_; }
    // Undoes what a host leaves behind that a real port would forget: drops
    // the exclusive-use flag a host may have set (TIOCEXCL), and after a
    // host has closed the port, puts the line settings back as they were at
    // open(). See the definitions for why. Call it on every frame, when
    // watch_fd() is readable, and now and then.
    void release_exclusive();
    // Readable when a host has closed the port (-1 if it cannot be watched).
    int watch_fd() const { return watch_; }

  private:
    void restore_line_after_close();

    int master_ = -1;
    int slave_ = -1;  // held open by the simulation itself, see open()
    int watch_ = -1;  // inotify on the slave device: hosts closing it
    termios line_{};  // the line settings made at open()
    std::string slave_path_;
};

// Points the symbolic link `link` at `target`, replacing an older link
// atomically. Refuses to replace anything but a symbolic link to a
// pseudo-terminal.
bool update_link(const std::string &link, const std::string &target, std::string *error);
// Whether `link` is a symbolic link to a line another running instance
// serves (or a host holds exclusively); *target (may be null) gets where it
// points.
bool link_served(const std::string &link, std::string *target);
// Removes `link` if it is a symbolic link that points at `target`.
void remove_link(const std::string &link, const std::string &target);

}  // namespace sim

#endif
