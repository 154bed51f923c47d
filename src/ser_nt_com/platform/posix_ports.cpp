// POSIX port enumeration: the serial devices under /dev in natural order,
// served as the Win32 port-list walk (SERIALCOMM) the serial logic expects,
// and what sysfs knows of each (the USB device's ids, maker, product and
// serial number) on Linux.
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <dirent.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <utility>
#include <vector>

#if defined(__linux__)
#include <linux/serial.h>
#endif

#include "cmat/number_text.h"
#include "ser_nt_com/platform/posix.h"

namespace ser_posix {

// Natural order: runs of digits compare by value, so ttyS2 comes before
// ttyS10; equal keys fall back to plain byte order, so the order is total.
bool natural_less(const std::string &a, const std::string &b) {
    const auto digit = [](char c) { return c >= '0' && c <= '9'; };
    size_t i = 0;
    size_t j = 0;
    while (i < a.size() && j < b.size()) {
        if (digit(a[i]) && digit(b[j])) {
            size_t ie = i;
            size_t je = j;
            while (ie < a.size() && digit(a[ie])) ++ie;
            while (je < b.size() && digit(b[je])) ++je;
            size_t is = i;
            size_t js = j;
            while (is + 1 < ie && a[is] == '0') ++is;
            while (js + 1 < je && b[js] == '0') ++js;
            if (ie - is != je - js) return ie - is < je - js;
            const int c = a.compare(is, ie - is, b, js, je - js);
            if (c != 0) return c < 0;
            i = ie;
            j = je;
        } else {
            if (a[i] != b[j]) {
                return static_cast<unsigned char>(a[i]) < static_cast<unsigned char>(b[j]);
            }
            ++i;
            ++j;
        }
    }
    if (a.size() - i != b.size() - j) return a.size() - i < b.size() - j;
    return a < b;
}

namespace {

bool has_prefix_and_number(const std::string &name, const char *prefix) {
    const size_t n = std::strlen(prefix);
    if (name.size() <= n || name.compare(0, n, prefix) != 0) return false;
    return std::all_of(name.begin() + static_cast<std::ptrdiff_t>(n), name.end(),
                       [](char c) { return c >= '0' && c <= '9'; });
}

bool read_small_file(const std::string &path, std::string *text) {
    FILE *f = std::fopen(path.c_str(), "re");
    if (f == nullptr) return false;
    std::array<char, 64> buf{};
    const size_t n = std::fread(buf.data(), 1, buf.size() - 1, f);
    std::fclose(f);
    text->assign(buf.data(), n);
    return true;
}

// The kernel makes ttyS0..ttyS31 whether or not a UART answers at their
// addresses; only those with a known port type are real.
bool uart_behind(const std::string &dev_path, const std::string &sys_tty_dir,
                 const std::string &name) {
    std::string type;
    if (read_small_file(sys_tty_dir + "/" + name + "/type", &type)) {
        return strtol_c(type.c_str(), nullptr, 10) != 0;
    }
    struct stat st {};
    if (stat((sys_tty_dir + "/" + name + "/device/driver").c_str(), &st) == 0) return true;
#if defined(__linux__) && defined(TIOCGSERIAL)
    // No sysfs to ask: ask the driver. O_NONBLOCK so that the open does not
    // wait for carrier.
    const int fd = open(dev_path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return false;
    serial_struct info{};
    const bool known = ioctl(fd, TIOCGSERIAL, &info) == 0 && info.type != PORT_UNKNOWN;
    close(fd);
    return known;
#else
    (void)dev_path;
    return false;
#endif
}

bool is_serial_name(const std::string &name) {
#if defined(__APPLE__)
    // The call-out devices: opening them does not wait for carrier.
    if (name.compare(0, 3, "cu.") == 0 && name.size() > 3) return true;
#endif
    for (const char *prefix : {"ttyUSB", "ttyACM", "ttyAMA", "rfcomm"}) {
        if (has_prefix_and_number(name, prefix)) return true;
    }
    return false;
}

}  // namespace

// The machine's serial devices under `dev_dir`, as (name, full path) pairs in
// natural order of the path. ttyS* entries count only with a UART behind
// them, looked up under `sys_tty_dir`. False when `dev_dir` cannot be read
// (`*err` is the errno).
bool scan_ports(const std::string &dev_dir, const std::string &sys_tty_dir,
                std::vector<std::pair<std::string, std::string>> *ports, int *err) {
    DIR *dir = opendir(dev_dir.c_str());
    if (dir == nullptr) {
        *err = errno;
        return false;
    }
    ports->clear();
    while (const dirent *entry = readdir(dir)) {
        const std::string name = entry->d_name;
        const std::string path = dev_dir + "/" + name;
        if (is_serial_name(name) ||
            (has_prefix_and_number(name, "ttyS") && uart_behind(path, sys_tty_dir, name))) {
            ports->emplace_back(name, path);
        }
    }
    closedir(dir);
    std::sort(ports->begin(), ports->end(),
              [](const auto &x, const auto &y) { return natural_less(x.second, y.second); });
    return true;
}

// One value of the port list into the caller's sized buffers, as
// RegEnumValueA does it: sizes in (with room for the terminator), lengths out
// (the name without its terminator, the data with it). A name or data that
// does not fit gives SER_LIST_MORE_DATA and the data size it would need.
int32_t copy_list_value(const std::string &name, const std::string &data, char *name_buf,
                        uint32_t *name_size, uint32_t *type, uint8_t *data_buf,
                        uint32_t *data_size) {
    constexpr int32_t invalid_parameter = 87;  // ERROR_INVALID_PARAMETER
    if (name_buf == nullptr || name_size == nullptr) return invalid_parameter;
    if (data_buf != nullptr && data_size == nullptr) return invalid_parameter;
    const uint32_t data_needed = static_cast<uint32_t>(data.size() + 1);
    const bool name_fits = name.size() + 1 <= *name_size;
    const bool data_fits = data_buf == nullptr || data_needed <= *data_size;
    if (type != nullptr) *type = SER_LIST_TYPE_STRING;
    if (!name_fits || !data_fits) {
        if (data_size != nullptr) *data_size = data_needed;
        return SER_LIST_MORE_DATA;
    }
    std::memcpy(name_buf, name.c_str(), name.size() + 1);
    *name_size = static_cast<uint32_t>(name.size());
    if (data_buf != nullptr) std::memcpy(data_buf, data.c_str(), data_needed);
    if (data_size != nullptr) *data_size = data_needed;
    return SER_LIST_SUCCESS;
}

namespace {

// A text file of sysfs, without its line end; empty when there is none.
std::string sys_text(const std::string &path) {
    std::string text;
    if (!read_small_file(path, &text)) return {};
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    return text;
}

void copy_text(char *out, size_t size, const std::string &text) {
    std::snprintf(out, size, "%s", text.c_str());
}

}  // namespace

bool usb_details(const std::string &sys_tty_dir, const std::string &name,
                 ser_port_details *details) {
    // The tty's device is a USB interface (ttyACM, ttyUSB through its
    // usb-serial port) a level or two below the USB device, whose folder
    // holds idVendor.
    char resolved[PATH_MAX];
    if (!realpath((sys_tty_dir + "/" + name + "/device").c_str(), resolved)) return false;
    std::string dir = resolved;
    for (int up = 0; up < 4 && dir.size() > 1; ++up) {
        const std::string vendor = sys_text(dir + "/idVendor");
        if (!vendor.empty()) {
            details->usb_vendor_id = static_cast<uint16_t>(strtol_c(vendor.c_str(), nullptr, 16));
            details->usb_product_id =
                static_cast<uint16_t>(strtol_c(sys_text(dir + "/idProduct").c_str(), nullptr, 16));
            copy_text(details->description, sizeof details->description,
                      sys_text(dir + "/product"));
            copy_text(details->manufacturer, sizeof details->manufacturer,
                      sys_text(dir + "/manufacturer"));
            copy_text(details->serial_number, sizeof details->serial_number,
                      sys_text(dir + "/serial"));
            return true;
        }
        dir.erase(dir.rfind('/'));
    }
    return false;
}

// The port list: a snapshot taken when the list is opened, so that the
// indices stay stable while the logic walks it.
namespace {

struct port_list {
    std::vector<std::pair<std::string, std::string>> ports;
};

}  // namespace

int32_t posix_list_open(ser_list_key *key) {
    if (key == nullptr) return EINVAL;
    try {
        auto list = std::make_unique<port_list>();
        int err = 0;
        if (!scan_ports("/dev", "/sys/class/tty", &list->ports, &err)) return err != 0 ? err : EIO;
        *key = list.release();
        return SER_LIST_SUCCESS;
    } catch (const std::bad_alloc &) {
        return ENOMEM;
    }
}

int32_t posix_list_value(ser_list_key key, uint32_t index, char *name, uint32_t *name_size,
                         uint32_t *type, uint8_t *data, uint32_t *data_size) {
    const auto *list = static_cast<const port_list *>(key);
    if (list == nullptr) return EINVAL;
    if (index >= list->ports.size()) return SER_LIST_NO_MORE_ITEMS;
    const auto &entry = list->ports[index];
    return copy_list_value(entry.first, entry.second, name, name_size, type, data, data_size);
}

int32_t posix_list_close(ser_list_key key) {
    if (key == nullptr) return EINVAL;
    delete static_cast<port_list *>(key);
    return SER_LIST_SUCCESS;
}

void posix_port_details(const char *name, const char *, ser_port_details *details) {
    *details = ser_port_details{};
#if defined(__linux__)
    if (!usb_details("/sys/class/tty", name, details)) {
        // A built-in UART: its driver says what it is.
        char driver[PATH_MAX];
        const std::string link = "/sys/class/tty/" + std::string(name) + "/device/driver";
        if (realpath(link.c_str(), driver)) {
            copy_text(
                details->description, sizeof details->description,
                std::string("built-in serial port (") + (std::strrchr(driver, '/') + 1) + ")");
        }
    }
#else
    (void)name;
#endif
}

}  // namespace ser_posix
