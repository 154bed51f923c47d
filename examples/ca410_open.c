/*
 * Opens a CA-410 on the port given on the command line, prints its model and
 * releases it.
 *
 *   ca410_open PORT [LOG_LEVEL]
 *
 * PORT is a name such as COM3 on Windows or a device path such as
 * /dev/ttyUSB0; LOG_LEVEL 1 to 8 shows the library's progress on stderr.
 */
#include <stdio.h>
#include <stdlib.h>

#include "ca410.h"

int main(int argc, char **argv) {
    ca410_dev *dev = NULL;
    int32_t log_level = 0;
    int32_t result;

    if (argc < 2 || argc > 3) {
        fprintf(stderr, "usage: %s PORT [LOG_LEVEL]\n", argv[0]);
        return 2;
    }
    if (argc == 3) log_level = (int32_t)strtol(argv[2], NULL, 10);

    result = ca410DeviceOpen(&dev, argv[1], log_level);
    if (result != CA_OK) {
        fprintf(stderr, "ca410_open: cannot open a CA-410 on %s: result %d\n", argv[1],
                (int)result);
        return 1;
    }
    printf("%s: model %s\n", argv[1], dev->model);
    ca410DeviceRelease(dev);
    return 0;
}
