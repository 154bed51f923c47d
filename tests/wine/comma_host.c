/*
 * A Windows host that has set a locale with a decimal comma through the C
 * runtime it shares with ca410.dll, as GUI programs do, then measures and
 * runs a whole WRGB calibration. scripts/wine-check runs it under Wine.
 *
 *   comma_host PORT SHOW_COMMAND [LOCALE]
 *
 * SHOW_COMMAND is run with the colour's name before each calibration step.
 * Prints the host's own "%.4f" of a reading (with the locale's comma), the
 * reading's bits as integers, and whether the stored targets came back
 * exactly.
 */
#include <locale.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "ca410.h"

static const double targets[4][3] = {
    {95.05, 100, 108.9}, {41.24, 21.26, 1.93}, {35.76, 71.52, 11.92}, {18.05, 7.22, 95.05}};
static const char *const colours[4] = {"white", "red", "green", "blue"};

static int fail(const char *what, int32_t result) {
    fprintf(stderr, "comma_host: %s failed: %d\n", what, (int)result);
    return 1;
}

int main(int argc, char **argv) {
    int32_t (*const steps[4])(ca410_dev *, const double *, double *) = {
        ca410WRGBCalibWhite, ca410WRGBCalibRed, ca410WRGBCalibGreen, ca410WRGBCalibBlue};
    ca410_dev *dev = NULL;
    ca410_calfile file;
    double xyz[3];
    char command[512];
    int32_t r;
    int i;

    if (argc < 3) return fprintf(stderr, "usage: comma_host PORT SHOW_COMMAND [LOCALE]\n"), 2;
    if (!setlocale(LC_ALL, argc > 3 ? argv[3] : "German")) return fprintf(stderr, "no locale\n"), 2;
    printf("locale decimal point '%s'\n", localeconv()->decimal_point);
    if ((r = ca410DeviceOpen(&dev, argv[1], 0)) != CA_OK) return fail("open", r);
    if ((r = ca410DeviceInit(dev)) != CA_OK) return fail("init", r);
    if ((r = ca410MeasureXYZ(dev, xyz)) != CA_OK) return fail("measure", r);
    /* In the host's own locale, and as exact ten-thousandths. */
    printf("host prints Y %.4f\n", xyz[1]);
    printf("reading %ld %ld %ld\n", (long)(xyz[0] * 10000 + 0.5), (long)(xyz[1] * 10000 + 0.5),
           (long)(xyz[2] * 10000 + 0.5));
    for (i = 0; i < 4; ++i) {
        sprintf(command, "%s %s", argv[2], colours[i]);
        if (system(command) != 0) return fail("the show command", i);
        if ((r = steps[i](dev, targets[i], NULL)) != CA_OK) return fail(colours[i], r);
    }
    if ((r = ca410WRGBCalibEnd(dev, 8, "KOMMA", 2024, 3, 7, 14)) != CA_OK) return fail("store", r);
    if ((r = ca410GetCalfile(dev, 8, &file)) != CA_OK) return fail("read back", r);
    printf("targets %s\n", memcmp(file.target, targets, sizeof targets) ? "differ" : "exact");
    ca410DeleteCalfile(dev, 8);
    ca410DeviceRelease(dev);
    return 0;
}
