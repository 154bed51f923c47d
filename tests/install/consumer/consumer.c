/* Another project's program, built against the installed libraries: prints
 * the header's version, measures on PORT and gives the chromaticity. */
#include <ca410.h>
#include <ca410_colour.h>
#include <stdio.h>

int main(int argc, char **argv) {
    ca410_dev *dev = NULL;
    ca410_chromaticity c;
    double xyz[3];
    int32_t result;

    printf("ca410 %s (%d.%d.%d)\n", CA410_VERSION_STRING, CA410_VERSION_MAJOR, CA410_VERSION_MINOR,
           CA410_VERSION_PATCH);
    if (argc != 2 || ca410DeviceOpen(&dev, argv[1], 0) != CA_OK) return 1;
    result = ca410DeviceInit(dev);
    if (result == CA_OK) result = ca410MeasureXYZ(dev, xyz);
    if (result == CA_OK) result = ca410ColourChromaticity(xyz, &c);
    if (result == CA_OK)
        printf("X %.4f Y %.4f Z %.4f x %.4f y %.4f\n", xyz[0], xyz[1], xyz[2], c.x, c.y);
    ca410DeviceRelease(dev);
    return result == CA_OK ? 0 : 1;
}
