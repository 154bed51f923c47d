// The subcommands. Each returns the process's exit status (session.h).
#pragma once

#include <string>

#include "colours.h"
#include "output.h"
#include "session.h"

namespace cli {

int cmd_ports();
int cmd_scan();
int cmd_identify(const global_options &g);
int cmd_info(const global_options &g);
int cmd_zero_cal(const global_options &g);
int cmd_channel(const global_options &g, int channel);
int cmd_speed(const global_options &g, int speed);

struct measure_options {
    int count = 1;
    int interval_ms = 0;
    format fmt = format::text;
    bool watch = false;
    int channel = -1;  // select before measuring; -1 keeps the current one
    int speed = -1;    // likewise
};
int cmd_measure(const global_options &g, const measure_options &m);

int cmd_channels(const global_options &g);
int cmd_calfile(const global_options &g, int channel);
int cmd_delete(const global_options &g, int channel);

struct calibrate_options {
    int channel = 0;
    std::string name;
    std::string targets_file;
};
int cmd_calibrate(const global_options &g, const calibrate_options &c, const show_colour &show);
int cmd_gamut(const global_options &g, const std::string &svg, const show_colour &show);
int cmd_demo(const global_options &g, const std::string &svg);

// Checks a channel name before anything is sent: at most 9 printable
// characters without commas (the library keeps 9; a comma would split the
// instrument's answer). Empty is fine: the library names it "CHnn".
bool valid_channel_name(const std::string &name, std::string *reason);

}  // namespace cli
