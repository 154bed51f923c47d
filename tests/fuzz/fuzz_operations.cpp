// Open, three exported operations picked by the first three bytes, release:
// result codes only, records written only on success, nothing leaks.
#include "fuzz_support.h"

namespace {

int32_t run(ca410_dev *dev, uint8_t pick, double *out) {
    const double target[3] = {95.0, 100.0, 108.0};
    switch (pick % 12) {
        case 0:
            return ca410DeviceInit(dev);
        case 1:
            return ca410MeasureXYZ(dev, out);
        case 2: {
            ca410_dev_stat stat{-7, -7, -7};
            const int32_t rc = ca410GetDeviceStat(dev, &stat);
            if (rc == CA_OK ? (stat.zero_cal != 0 && stat.zero_cal != 1) : stat.zero_cal != -7)
                std::abort();
            return rc;
        }
        case 3: {
            ca410_dev_info info{};
            const int32_t rc = ca410GetDeviceInfo(dev, &info);
            for (const char *t : {info.name, info.sn, info.vn}) {
                if (!std::memchr(t, '\0', 32)) std::abort();
            }
            return rc;
        }
        case 4:
            return ca410SetChannel(dev, pick % 100);
        case 5:
            return ca410BlackCalibration(dev);
        case 6: {
            ca410_callist_entry *list = nullptr;
            int32_t count = -1;
            const int32_t rc = ca410GetCallist(dev, &list, &count);
            // The caller's copy, or nothing at all on failure.
            if (rc == CA_OK ? !fuzz::well_formed(list, count) : list != nullptr || count != -1)
                std::abort();
            ca410DeleteCallist(&list);
            return rc;
        }
        case 7: {
            ca410_calfile file{};
            const int32_t rc = ca410GetCalfile(dev, 1 + pick % 99, &file);
            if (!std::memchr(file.name, '\0', sizeof file.name)) std::abort();
            return rc;
        }
        case 8:
            return ca410WRGBCalibWhite(dev, target, out);
        case 9:
            return ca410WRGBCalibRed(dev, target, out);
        case 10:
            return ca410WRGBCalibEnd(dev, 1 + pick % 99, "FUZZ", 2026, 12, 5, 20);
        default:
            return ca410DeleteCalfile(dev, pick % 100);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 3) return 0;
    fuzz::scripted_line line(data + 3, size - 3);
    ca410_dev *dev = nullptr;
    const int32_t rc = ca410DeviceOpen(&dev, "COM7", 0);
    if (!ca_result_find(rc) || (rc != CA_OK && dev != nullptr)) std::abort();
    for (int i = 0; rc == CA_OK && i < 3; i++) {
        double out[3] = {-7.0, -7.0, -7.0};  // untouched unless the call succeeds
        const int32_t result = run(dev, data[i], out);
        if (!ca_result_find(result)) std::abort();
        if (result != CA_OK && (out[0] != -7.0 || out[1] != -7.0 || out[2] != -7.0)) std::abort();
    }
    ca410DeviceRelease(dev);
    return 0;
}
