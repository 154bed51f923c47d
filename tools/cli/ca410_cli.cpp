// ca410: command-line host for the CA-410 driver library.
#include <CLI/CLI.hpp>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "ca410.h"
#include "clog/clog.h"
#include "ser_nt_ca410/ca410_codes.h"
#include "ser_nt_ca410/ca410_dev.h"
#include "ser_nt_com/ser_com.h"

namespace {

constexpr int kMaxPorts = 64;

// Prints a failed result as name, number and meaning; returns the exit status.
int report_failure(const char *what, int32_t result) {
    const ca_result_info *info = ca_result_find(result);
    fprintf(stderr, "ca410: %s failed: %s (%d): %s\n", what, info ? info->name : "unknown", result,
            info ? info->meaning : "not a result code of this library");
    return 1;
}

void set_log_level(int level) {
    if (level > 0) {
        clog_set_debug(glog, level > 8 ? 8 : level);
        clog_set_verb(glog, level > 8 ? 8 : level);
    }
}

int list_ports() {
    std::vector<char *> names(kMaxPorts, nullptr);
    get_serial_path(names.data(), kMaxPorts);
    int found = 0;
    for (char *name : names) {
        if (name == nullptr) continue;
        printf("%s\n", name);
        free(name);
        found++;
    }
    if (found == 0) fprintf(stderr, "ca410: no serial ports found\n");
    return 0;
}

int scan_ports() {
    std::vector<char *> names(kMaxPorts, nullptr);
    int32_t found = 0;
    if (ca410_dev_scan(names.data(), kMaxPorts, &found) != 0) {
        fprintf(stderr, "ca410: scan failed\n");
        return 1;
    }
    for (int32_t i = 0; i < found; i++) {
        printf("%s\n", names[static_cast<size_t>(i)]);
        free(names[static_cast<size_t>(i)]);
    }
    if (found == 0) fprintf(stderr, "ca410: no CA-410 answered on any serial port\n");
    return 0;
}

int identify(const std::string &port, int log_level) {
    ca410_dev *handle = nullptr;
    const int32_t result = ca410DeviceOpen(&handle, port.c_str(), log_level);
    if (result != CA_OK) return report_failure(("opening " + port).c_str(), result);
    printf("port:  %s\nmodel: %s\n", port.c_str(), handle->model);
    ca410DeviceRelease(handle);
    return 0;
}

}  // namespace

int main(int argc, char **argv) {
    CLI::App app{
        "ca410: talk to a CA-410 display colour analyser (or its virtual instrument, ca410-sim)."};
    app.require_subcommand(1);
    int log_level = 0;
    app.add_option("-l,--log-level", log_level,
                   "diagnostic detail on standard error, 0 (failures only) to 8 (every byte)")
        ->check(CLI::Range(0, 8));

    app.add_subcommand("ports", "list the machine's serial ports");
    app.add_subcommand("scan", "probe every serial port and list those where a CA-410 answers");
    std::string port;
    CLI::App *open = app.add_subcommand(
        "identify", "open the instrument on PORT, print its model and release it");
    open->add_option("port", port,
                     "port name: COM3 on Windows; a device path such as /dev/ttyUSB0, or a name "
                     "under /dev, elsewhere")
        ->required();

    CLI11_PARSE(app, argc, argv);
    if (app.got_subcommand("ports")) {
        set_log_level(log_level);
        return list_ports();
    }
    if (app.got_subcommand("scan")) {
        set_log_level(log_level);
        return scan_ports();
    }
    return identify(port, log_level);
}
