// Open, three exported operations picked by the first three bytes, release:
// result codes only, records written only on success, nothing leaks.
#include "fuzz_support.h"

namespace {

void run(ca410_dev *dev, uint8_t pick) {
    const double target[3] = {95.0, 100.0, 108.0};
    double out[3] = {-7.0, -7.0, -7.0};
    bool xyz_out = false;  // `out` must stay untouched on failure
    int32_t rc = CA_OK;
    switch (pick % 12) {
        case 0:
            rc = ca410DeviceInit(dev);
            break;
        case 1:
            rc = ca410MeasureXYZ(dev, out);
            xyz_out = true;
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
                if (!std::memchr(t, '\0', 32)) std::abort();
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
            // The caller's copy, or nothing at all on failure.
            if (rc == CA_OK ? !fuzz::well_formed(list, count) : list != nullptr || count != -1)
                std::abort();
            ca410DeleteCallist(&list);
            break;
        }
        case 7: {
            ca410_calfile file{};
            rc = ca410GetCalfile(dev, 1 + pick % 99, &file);
            if (!std::memchr(file.name, '\0', sizeof file.name)) std::abort();
            break;
        }
        case 8:
            rc = ca410WRGBCalibWhite(dev, target, out);
            xyz_out = true;
            break;
        case 9:
            rc = ca410WRGBCalibRed(dev, target, out);
            xyz_out = true;
            break;
        case 10:
            rc = ca410WRGBCalibEnd(dev, 1 + pick % 99, "FUZZ", 2026, 12, 5, 20);
            break;
        case 11:
            rc = ca410DeleteCalfile(dev, pick % 100);
            break;
    }
    if (!fuzz::is_result_code(rc)) std::abort();
    if (xyz_out && rc != CA_OK && (out[0] != -7.0 || out[1] != -7.0 || out[2] != -7.0))
        std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 3) return 0;
    fuzz::scripted_line line(data + 3, size - 3);
    ca410_dev *dev = nullptr;
    const int32_t rc = ca410DeviceOpen(&dev, "COM7", 0);
    if (!fuzz::is_result_code(rc) || (rc != CA_OK && dev != nullptr)) std::abort();
    if (rc != CA_OK) return 0;
    for (int i = 0; i < 3; i++) run(dev, data[i]);
    ca410DeviceRelease(dev);
    return 0;
}
