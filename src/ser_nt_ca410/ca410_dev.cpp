#include "ser_nt_ca410/ca410_dev.h"

#include <array>
#include <cstdlib>
#include <cstring>

#include "clog/clog.h"
#include "cmat/number_text.h"
#include "ser_nt_ca410/ca410_codes.h"
#include "ser_nt_ca410/ca410_failure.h"
#include "ser_nt_com/ser_com.h"

namespace {

constexpr int32_t CREATE_ANSWER_SIZE = 128;
constexpr int32_t PROBE_ANSWER_SIZE = 256;
// The identification is read by byte count, not up to its carriage return.
constexpr int32_t IDENTIFY_COUNT = 12;
constexpr size_t IDENTIFY_PREFIX_LEN = sizeof(CA_IDENTIFY_PREFIX) - 1;
// The model follows "OK00," in the identification answer.
constexpr size_t MODEL_OFFSET = 5;
constexpr size_t MODEL_LEN = 6;
constexpr int32_t SCAN_SLOTS = 8;

uint32_t setport_instrument(ser_com *sc) {
    return ser_com_setport(sc, SER_FLOW_RTSCTS, SER_BAUD_38400, SER_PARITY_EVEN, SER_STOP_2,
                           SER_WORD_7);
}

uint32_t identify(ser_com *sc, char *answer, int32_t answer_size, int32_t *received) {
    return ser_com_write_read_ex(sc, CA_IDENTIFY_FRAME, 0, answer, answer_size, received, nullptr,
                                 IDENTIFY_COUNT, static_cast<int32_t>(CA_TIMEOUT_IDENTIFY_MS), 1);
}

bool starts_with_identity(const char *answer) {
    return std::strncmp(answer, CA_IDENTIFY_PREFIX, IDENTIFY_PREFIX_LEN) == 0;
}

const char *or_null_text(const char *s) {
    return s ? s : "(null)";
}

char *copy_text(const char *s) {
    const size_t n = std::strlen(s) + 1;
    auto *copy = static_cast<char *>(std::malloc(n));
    if (copy) std::memcpy(copy, s, n);
    return copy;
}

}  // namespace

ca410_dev *ca410_dev_create(const char *port) {
    ser_com *sc = new_ser_com(port);
    if (!sc) {
        failure_set(CA410_CAUSE_NO_MEMORY, port, 0, nullptr);
        cloge(glog, 0, "[ca410_dev_create]: new_ser_com err\n");
        return nullptr;
    }
    if (setport_instrument(sc) != 0) {
        failure_set_from_system(CA410_CAUSE_SYSTEM, port, nullptr);
        ser_com_del(sc);
        cloge(glog, 0, "[ca410_dev_create]: ser_com_setport err\n");
        return nullptr;
    }
    // calloc: the handle is a C record, freed with free() on release.
    auto *dev = static_cast<ca410_dev *>(std::calloc(1, sizeof(ca410_dev)));
    if (!dev) {
        failure_set(CA410_CAUSE_NO_MEMORY, port, 0, nullptr);
        ser_com_del(sc);
        cloge(glog, 0, "[ca410_dev_create]: calloc err\n");
        return nullptr;
    }

    char answer[CREATE_ANSWER_SIZE] = {};
    int32_t received = 0;
    if (const uint32_t status = identify(sc, answer, CREATE_ANSWER_SIZE, &received)) {
        if (status & SER_ERR_TIMEOUT) {
            failure_set(CA410_CAUSE_NO_ANSWER, port, 0, "nothing identified itself within 2 s");
        } else {
            failure_set_from_system(CA410_CAUSE_PORT_LOST, port, nullptr);
        }
        ser_com_del(sc);
        std::free(dev);
        cloge(glog, 0, "[ca410_dev_create]: ser_com_write_read_ex %s err\n", or_null_text(port));
        return nullptr;
    }
    // Whatever follows the first carriage return (or arrives after the byte
    // count was reached) is left for the drain of the next exchange.
    if (char *cr = std::strchr(answer, '\r')) *cr = '\0';
    const size_t len = std::strlen(answer);
    if (len < IDENTIFY_PREFIX_LEN || !starts_with_identity(answer)) {
        char seen[96];
        snprintf_c(seen, sizeof seen, "the answer was \"%s\"", com2fix(answer));
        failure_set(CA410_CAUSE_NOT_CA410, port, 0, seen);
        ser_com_del(sc);
        std::free(dev);
        cloge(glog, 0, "[ca410_dev_create] get Model len=%d %s err\n", static_cast<int>(len),
              answer);
        return nullptr;
    }
    std::memcpy(dev->model, answer + MODEL_OFFSET, MODEL_LEN);
    dev->init = 0;
    dev->sercom = sc;
    clogd(glog, 6, "[zul_dev_create]: name=%s\n", dev->model);
    return dev;
}

void ca410_dev_release(ca410_dev *handle) {
    if (!handle) return;
    if (handle->sercom) {
        ser_com_del(handle->sercom);
        handle->sercom = nullptr;
    }
    if (handle->callist) {
        const int count = ca410_list_free(handle->callist);
        handle->callist = nullptr;
        handle->calfile_num = 0;
        clogd(glog, 5, "[ca410_dev_release]: free %d calist\n", count);
    }
    std::free(handle);
    clogd(glog, 7, "[ca410_dev_release] done\n");
}

int ca410_list_free(ca410_callist_entry *first) {
    int count = 0;
    while (first) {
        ca410_callist_entry *next = first->next;
        std::free(first);
        first = next;
        ++count;
    }
    return count;
}

int32_t ser_com_check_ca410(ser_com *sercom) {
    if (!sercom) {
        cloge(glog, 0, "[ser_com_check_ca410]: invalid args\n");
        return static_cast<int32_t>(SER_ERR_FAIL);
    }
    clogd(glog, 6, "[ser_com_check_ca410]: timeout %d msec, port: [%s]\n",
          static_cast<int>(CA_TIMEOUT_IDENTIFY_MS), or_null_text(sercom->port_name));
    uint32_t status = setport_instrument(sercom);
    if (status != 0) {
        cloge(glog, 0, "[ser_com_check_ca410]: set_com_setport err 0x%x\n", status);
        return static_cast<int32_t>(status);
    }
    char answer[PROBE_ANSWER_SIZE] = {};
    int32_t received = 0;
    status = identify(sercom, answer, PROBE_ANSWER_SIZE, &received);
    if (status != 0) {
        cloge(glog, 0, "[ser_com_check_ca410]: ser_com_write_read_ex err 0x%x\n", status);
        return static_cast<int32_t>(status);
    }
    if (received < 0) received = 0;
    if (received > PROBE_ANSWER_SIZE - 1) received = PROBE_ANSWER_SIZE - 1;
    answer[received] = '\0';
    if (char *cr = std::strrchr(answer, '\r')) *cr = '\0';
    // One character more than creation asks for: an answer that ends right
    // after the prefix opens, but is not reported here.
    if (std::strlen(answer) < IDENTIFY_PREFIX_LEN + 1 || !starts_with_identity(answer)) return -1;
    clogd(glog, 5, "[ser_com_check_ca410]: get [%s]\n", answer + MODEL_OFFSET);
    return 0;
}

bool ca410_scan_name_is_candidate(const char *name, bool require_com) {
    if (!name || !*name) return false;
    return !require_com || std::strstr(name, "COM") != nullptr;
}

int32_t ca410_dev_scan(char **names, int32_t max_names, int32_t *num_found) {
    if (!names || !num_found || max_names <= 0) {
        cloge(glog, 0, "[ca410_dev_scan]: invalid args\n");
        return -1;
    }
    *num_found = 0;

    std::array<char *, SCAN_SLOTS> paths{};
    get_serial_path(paths.data(), SCAN_SLOTS);

    std::array<ser_com *, SCAN_SLOTS> candidates{};
    int32_t n_candidates = 0;
    for (int32_t i = 0; i < SCAN_SLOTS; ++i) {
        char *path = paths[static_cast<size_t>(i)];
        if (!path) continue;
        clogd(glog, 8, "[ca410_dev_scan]: get path[%d]: [%s]\n", i, path);
        if (ca410_scan_name_is_candidate(path, ca410_scan_requires_com)) {
            if (ser_com *sc = new_ser_com(path)) {
                candidates[static_cast<size_t>(n_candidates)] = sc;
                clogd(glog, 7, "[ca410_dev_scan]: add sercom[%d] = [%s]\n", n_candidates, path);
                ++n_candidates;
            }
        }
        std::free(path);
    }
    clogd(glog, 7, "[ca410_dev_scan]: add %d coms\n", n_candidates);

    for (int32_t i = 0; i < n_candidates; ++i) {
        ser_com *sc = candidates[static_cast<size_t>(i)];
        // Every candidate is probed, also once `names` is full, so that each
        // port is opened and closed the same way whatever the caller asked.
        if (ser_com_check_ca410(sc) == 0 && *num_found < max_names) {
            if (char *copy = copy_text(or_null_text(sc->port_name))) {
                names[*num_found] = copy;
                *num_found += 1;
            } else {
                cloge(glog, 0, "[ca410_dev_scan]: malloc err\n");
            }
        }
        ser_com_del(sc);
    }
    clogd(glog, 6, "[ca410_dev_scan] scan %d ca410 device\n", *num_found);
    return 0;
}
