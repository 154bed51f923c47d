// The instrument's end of the line: the master side of a pseudo-terminal.
#ifndef CA410_SIM_PTY_H
#define CA410_SIM_PTY_H

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
    // Drops the exclusive-use flag a host may have set (TIOCEXCL), see the
    // definition for why.
    void release_exclusive();

  private:
    int master_ = -1;
    int slave_ = -1;  // held open by the simulation itself, see open()
    std::string slave_path_;
};

// Points the symbolic link `link` at `target`, replacing an older link
// atomically. Refuses to replace anything that is not a symbolic link.
bool update_link(const std::string &link, const std::string &target, std::string *error);
// Whether `link` is a symbolic link to a line another running instance
// serves (or a host holds exclusively); *target (may be null) gets where it
// points.
bool link_served(const std::string &link, std::string *target);
// Removes `link` if it is a symbolic link that points at `target`.
void remove_link(const std::string &link, const std::string &target);

}  // namespace sim

#endif
