// Whole exported operations over a line whose answers and timings the
// fuzzer chooses: open, then three operations picked by the first three
// bytes, then release. Every result must be a result code, records are
// written only on success, and nothing may leak (LeakSanitizer).
#include <cstdlib>
#include <cstring>

#include "fuzz_support.h"

namespace {

constexpr double kUntouched = -7.0;

bool untouched(const double *v, int n) {
    for (int i = 0; i < n; i++) {
        if (v[i] != kUntouched) return false;
    }
    return true;
}

void check(int32_t rc) {
    if (!fuzz::is_result_code(rc)) std::abort();
}

void run(ca410_dev *dev, uint8_t pick) {
    const double target[3] = {95.0, 100.0, 108.0};
    double out[3] = {kUntouched, kUntouched, kUntouched};
    int32_t rc = CA_OK;
    switch (pick % 12) {
        case 0:
            rc = ca410DeviceInit(dev);
            break;
        case 1:
            rc = ca410MeasureXYZ(dev, out);
            if (rc != CA_OK && !untouched(out, 3)) std::abort();
            break;
        case 2: {
            ca410_dev_stat stat{-7, -7, -7};
            rc = ca410GetDeviceStat(dev, &stat);
            if (rc == CA_OK ? (stat.zero_cal != 0 && stat.zero_cal != 1) : stat.zero_cal != -7)
                std::abort();
            break;
        }
        case 3: {
            ca410_dev_info info{};
            rc = ca410GetDeviceInfo(dev, &info);
            for (const char *t : {info.name, info.sn, info.vn}) {
                if (std::memchr(t, '\0', 32) == nullptr) std::abort();
            }
            break;
        }
        case 4:
            rc = ca410SetChannel(dev, pick % 100);
            break;
        case 5:
            rc = ca410BlackCalibration(dev);
            break;
        case 6: {
            ca410_callist_entry *list = nullptr;
            int32_t count = -1;
            rc = ca410GetCallist(dev, &list, &count);
            if (rc == CA_OK) {
                // The copy: ascending channels, terminated names, counted right.
                int32_t n = 0, last = 0;
                for (const ca410_callist_entry *e = list; e; e = e->next, n++) {
                    if (e->channel <= last || e->channel > 99) std::abort();
                    if (std::memchr(e->name, '\0', sizeof e->name) == nullptr) std::abort();
                    last = e->channel;
                }
                if (n != count) std::abort();
            } else if (list != nullptr || count != -1) {
                std::abort();  // untouched on failure
            }
            ca410DeleteCallist(&list);
            break;
        }
        case 7: {
            ca410_calfile file{};
            rc = ca410GetCalfile(dev, 1 + pick % 99, &file);
            if (std::memchr(file.name, '\0', sizeof file.name) == nullptr) std::abort();
            break;
        }
        case 8:
            rc = ca410WRGBCalibWhite(dev, target, out);
            if (rc != CA_OK && !untouched(out, 3)) std::abort();
            break;
        case 9:
            rc = ca410WRGBCalibRed(dev, target, out);
            if (rc != CA_OK && !untouched(out, 3)) std::abort();
            break;
        case 10:
            rc = ca410WRGBCalibEnd(dev, 1 + pick % 99, "FUZZ", 2026, 12, 5, 20);
            break;
        case 11:
            rc = ca410DeleteCalfile(dev, pick % 100);
            break;
    }
    check(rc);
}

}  // namespace

CA410_FUZZ_TARGET(operations) {
    if (size < 3) return 0;
    fuzz::scripted_line line(fuzz::parse_answers(data + 3, size - 3));
    ca410_dev *dev = nullptr;
    const int32_t rc = ca410DeviceOpen(&dev, "COM7", 0);
    check(rc);
    if (rc != CA_OK) {
        if (dev != nullptr) std::abort();
        return 0;
    }
    for (int i = 0; i < 3; i++) run(dev, data[i]);
    ca410DeviceRelease(dev);
    return 0;
}
