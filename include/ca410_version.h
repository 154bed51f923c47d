/*
 * ca410_version.h - version of the ca410 library. Included by ca410.h.
 *
 * The project's one version number: the build reads it from here (CMake's
 * project version, the shared libraries' SONAME, the packages, --version).
 */
#ifndef CA410_VERSION_H
#define CA410_VERSION_H

#define CA410_VERSION_MAJOR 0
#define CA410_VERSION_MINOR 1
#define CA410_VERSION_PATCH 0
/* "MAJOR.MINOR.PATCH", made from the three numbers above. */
#define CA410_VERSION_TEXT_(n) #n
#define CA410_VERSION_TEXT(n) CA410_VERSION_TEXT_(n)
#define CA410_VERSION_STRING                \
    CA410_VERSION_TEXT(CA410_VERSION_MAJOR) \
    "." CA410_VERSION_TEXT(CA410_VERSION_MINOR) "." CA410_VERSION_TEXT(CA410_VERSION_PATCH)

/* One number for comparisons, e.g.
 * #if CA410_VERSION >= CA410_VERSION_NUMBER(0, 2, 0) */
#define CA410_VERSION_NUMBER(major, minor, patch) ((major)*10000L + (minor)*100L + (patch))
#define CA410_VERSION \
    CA410_VERSION_NUMBER(CA410_VERSION_MAJOR, CA410_VERSION_MINOR, CA410_VERSION_PATCH)

#endif
