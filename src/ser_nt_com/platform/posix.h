// The posix backend's pure helpers (deadlines, the termios mapping, the port
// listing) and its port-list operations, declared here so that posix.cpp and
// posix_ports.cpp are checked against them and the backend's unit tests can
// reach them.
#pragma once

#include <termios.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "ser_nt_com/platform/ser_platform.h"

namespace ser_posix {

int64_t now_ns();
int64_t deadline_after(int64_t start_ns, uint64_t ms);
int poll_timeout_ms(int64_t deadline_ns, int64_t now);
int wait_fd(int fd, short events, int64_t deadline_ns, short *revents, int *err);
bool rate_to_speed(uint32_t rate, speed_t *speed);
uint32_t speed_to_rate(speed_t speed);
void termios_to_dcb(const termios &t, ser_dcb *dcb);
int dcb_to_termios(const ser_dcb &dcb, termios *t);
bool natural_less(const std::string &a, const std::string &b);
bool scan_ports(const std::string &dev_dir, const std::string &sys_tty_dir,
                std::vector<std::pair<std::string, std::string>> *ports, int *err);
int32_t copy_list_value(const std::string &name, const std::string &data, char *name_buf,
                        uint32_t *name_size, uint32_t *type, uint8_t *data_buf,
                        uint32_t *data_size);
// The USB device behind tty `name` as sysfs under `sys_tty_dir` describes
// it; false (details untouched) when it is no USB device.
bool usb_details(const std::string &sys_tty_dir, const std::string &name,
                 ser_port_details *details);
// What an errno means for a port (a ser_port_problem).
int32_t classify_errno(uint32_t error);

// The port-list operations of the backend (posix_ports.cpp).
int32_t posix_list_open(ser_list_key *key);
int32_t posix_list_value(ser_list_key key, uint32_t index, char *name, uint32_t *name_size,
                         uint32_t *type, uint8_t *data, uint32_t *data_size);
int32_t posix_list_close(ser_list_key key);
void posix_port_details(const char *name, const char *data, ser_port_details *details);

}  // namespace ser_posix
