/*
 * Opens a CA-410, initialises it (zero calibration included: cap the probe),
 * prints its identity and measures X, Y, Z a given number of times.
 *
 *   ca410_measure PORT [COUNT]
 *
 * PORT is a name such as COM3 on Windows or a device path such as
 * /dev/ttyUSB0; COUNT defaults to 1.
 */
#include <stdio.h>
#include <stdlib.h>

#include "ca410.h"

int main(int argc, char **argv) {
    ca410_dev *dev = NULL;
    ca410_dev_info info;
    double xyz[3];
    long count = 1;
    long i;
    int32_t result;

    if (argc < 2 || argc > 3) {
        fprintf(stderr, "usage: %s PORT [COUNT]\n", argv[0]);
        return 2;
    }
    if (argc == 3) count = strtol(argv[2], NULL, 10);
    if (count < 1) {
        fprintf(stderr, "ca410_measure: COUNT must be 1 or more\n");
        return 2;
    }

    result = ca410DeviceOpen(&dev, argv[1], 0);
    if (result != CA_OK) {
        fprintf(stderr, "ca410_measure: cannot open a CA-410 on %s: result %d\n", argv[1],
                (int)result);
        return 1;
    }
    result = ca410DeviceInit(dev);
    if (result == CA_OK) result = ca410GetDeviceInfo(dev, &info);
    if (result != CA_OK) {
        fprintf(stderr, "ca410_measure: initialisation failed: result %d\n", (int)result);
        ca410DeviceRelease(dev);
        return 1;
    }
    printf("instrument %s, version %s, serial %s\n", info.name, info.vn, info.sn);

    for (i = 1; i <= count; ++i) {
        result = ca410MeasureXYZ(dev, xyz);
        if (result != CA_OK) {
            fprintf(stderr, "ca410_measure: measurement %ld failed: result %d\n", i, (int)result);
            ca410DeviceRelease(dev);
            return 1;
        }
        printf("%ld: X %.4f  Y %.4f  Z %.4f\n", i, xyz[0], xyz[1], xyz[2]);
    }
    ca410DeviceRelease(dev);
    return 0;
}
