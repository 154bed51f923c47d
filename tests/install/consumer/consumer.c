/*
 * A program of another project, built against the installed libraries: it
 * prints the header's version, opens and initialises the instrument on PORT,
 * measures X, Y, Z and gives their chromaticity through the colour library.
 */
#include <ca410.h>
#include <ca410_colour.h>
#include <stdio.h>

int main(int argc, char **argv) {
    ca410_dev *dev = NULL;
    ca410_chromaticity c;
    double xyz[3];
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
    result = ca410DeviceInit(dev);
    if (result == CA_OK) result = ca410MeasureXYZ(dev, xyz);
    if (result == CA_OK) result = ca410ColourChromaticity(xyz, &c);
    if (result != CA_OK) {
        fprintf(stderr, "consumer: measurement failed: result %d\n", (int)result);
        ca410DeviceRelease(dev);
        return 1;
    }
    printf("X %.4f Y %.4f Z %.4f x %.4f y %.4f\n", xyz[0], xyz[1], xyz[2], c.x, c.y);
    return ca410DeviceRelease(dev) == CA_OK ? 0 : 1;
}
