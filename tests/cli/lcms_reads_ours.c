/* lcms2's CGATS parser reads a measurement file of ours: the file type, and
 * each expectation given after the file:
 *   NAME=TEXT  NAME~NUMBER         a header keyword's text or number
 *   ID/FIELD=TEXT  ID/FIELD~NUMBER  a field of the row of SAMPLE_ID ID */
#include <lcms2.h>
#include <math.h>
#include <stdio.h>
#include <stdlib.h>
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

/* One expectation: "KEY=TEXT" or "KEY~NUMBER", KEY a keyword or ID/FIELD. */
static int check(cmsHANDLE it8, const char *expectation) {
    char key[256];
    const size_t length = strcspn(expectation, "=~");
    if (expectation[length] == '\0' || length >= sizeof key) return 0;
    memcpy(key, expectation, length);
    key[length] = '\0';
    const char *want = expectation + length + 1;
    char *field = strchr(key, '/');
    if (field) *field++ = '\0';
    if (expectation[length] == '=')
        expect_text(expectation,
                    field ? cmsIT8GetData(it8, key, field) : cmsIT8GetProperty(it8, key), want);
    else
        expect_number(expectation,
                      field ? cmsIT8GetDataDbl(it8, key, field) : cmsIT8GetPropertyDbl(it8, key),
                      atof(want));
    return 1;
}

int main(int argc, char **argv) {
    cmsHANDLE it8 = argc >= 2 ? cmsIT8LoadFromFile(NULL, argv[1]) : NULL;
    if (!it8) return fprintf(stderr, "usage: lcms_reads_ours FILE [KEY=TEXT|KEY~NUMBER]...\n"), 1;
    expect_text("sheet type", cmsIT8GetSheetType(it8), "CGATS.17");
    for (int i = 2; i < argc; ++i)
        if (!check(it8, argv[i])) return fprintf(stderr, "not an expectation: %s\n", argv[i]), 1;
    cmsIT8Free(it8);
    return failures != 0;
}
