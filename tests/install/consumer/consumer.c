/*
 * A program of another project, built against the installed library: it
 * prints the header's version, opens the instrument on PORT, prints its
 * model and releases it.
 */
#include <ca410.h>
#include <stdio.h>

int main(int argc, char **argv) {
    ca410_dev *dev = NULL;
    int32_t result;

    if (argc != 2) {
        fprintf(stderr, "usage: %s PORT\n", argv[0]);
        return 2;
    }
    printf("ca410 %s (%d.%d.%d)\n", CA410_VERSION_STRING, CA410_VERSION_MAJOR, CA410_VERSION_MINOR,
           CA410_VERSION_PATCH);
    result = ca410DeviceOpen(&dev, argv[1], 0);
    if (result != CA_OK) {
        fprintf(stderr, "consumer: cannot open %s: result %d\n", argv[1], (int)result);
        return 1;
    }
    printf("model %s\n", dev->model);
    return ca410DeviceRelease(dev) == CA_OK ? 0 : 1;
}
