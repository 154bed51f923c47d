/* lcms2's CGATS parser reads a measurement file of ours: the file type, a
 * header keyword, a declared one, text and number fields of a row. */
#include <lcms2.h>
#include <math.h>
#include <stdio.h>
#include <string.h>

static int failures;

static void expect_text(const char *what, const char *got, const char *want) {
    if (got && strcmp(got, want) == 0) return;
    fprintf(stderr, "%s: got \"%s\", want \"%s\"\n", what, got ? got : "(none)", want);
    ++failures;
}

static void expect_number(const char *what, double got, double want) {
    if (fabs(got - want) <= 1e-9 * fabs(want)) return; /* lcms2 reads about ten digits */
    fprintf(stderr, "%s: got %.17g, want %.17g\n", what, got, want);
    ++failures;
}

int main(int argc, char **argv) {
    cmsHANDLE it8 = argc == 2 ? cmsIT8LoadFromFile(NULL, argv[1]) : NULL;
    if (!it8) return fprintf(stderr, "usage: lcms_reads_ours FILE (a file lcms2 loads)\n"), 1;
    expect_text("sheet type", cmsIT8GetSheetType(it8), "CGATS.17");
    expect_text("INSTRUMENTATION", cmsIT8GetProperty(it8, "INSTRUMENTATION"),
                "CA-410 S/N 12345678");
    expect_text("PATCH_SET", cmsIT8GetProperty(it8, "PATCH_SET"), "test:3");
    expect_number("NUMBER_OF_SETS", cmsIT8GetPropertyDbl(it8, "NUMBER_OF_SETS"), 3);
    expect_text("CC03 SAMPLE_NAME", cmsIT8GetData(it8, "CC03", "SAMPLE_NAME"), "blue sky");
    expect_number("R50 XYZ_Y", cmsIT8GetDataDbl(it8, "R50", "XYZ_Y"), 10.603);
    expect_number("N1 XYZ_X", cmsIT8GetDataDbl(it8, "N1", "XYZ_X"), 0.1 + 0.2);
    expect_number("CC03 RGB_G", cmsIT8GetDataDbl(it8, "CC03", "RGB_G"), 12200.0 / 255);
    expect_number("CC03 READINGS", cmsIT8GetDataDbl(it8, "CC03", "READINGS"), 5);
    cmsIT8Free(it8);
    return failures != 0;
}
