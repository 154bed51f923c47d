// Control of a running virtual instrument through text lines: the display
// it looks at, its faults and its record. Served on a Unix-domain socket by
// the ca410-sim program; one answer line for every command line.
#ifndef CA410_SIM_CONTROL_H
#define CA410_SIM_CONTROL_H

#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "ca410_sim.h"

namespace sim {

// Runs one command line and gives its answer line (without the line feed):
// "ok ..." or "error: ...". *quit is set for "quit".
std::string control_execute(ca410_sim &sim, std::string_view line, bool *quit);

// Outside text (paths, link targets, a client's words) made safe for a
// terminal or a control client: control bytes as \xHH, the rest as it is.
std::string printable(std::string_view text);

// Texts with C escapes (\r, \n, \t, \\, \xHH) both ways.
std::string escape_bytes(std::string_view bytes);
bool unescape_bytes(std::string_view text, std::string *out);

class control_server {
  public:
    explicit control_server(ca410_sim &sim);
    ~control_server();
    control_server(const control_server &) = delete;
    control_server &operator=(const control_server &) = delete;

    // Listens on `path` (an old socket there is replaced; any other file is
    // not). `on_quit` runs on the server's thread when a client sends "quit".
    bool start(const std::string &path, std::function<void()> on_quit, std::string *error);
    void stop();

    struct impl;

  private:
    std::unique_ptr<impl> impl_;
};

}  // namespace sim

#endif
