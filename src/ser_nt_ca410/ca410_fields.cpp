// Answer parsing shared by the instrument operations.
#include <cstdlib>

#include "cmat/number_text.h"
#include "ser_nt_ca410/ca410_ops.h"

int32_t ca_split_fields(char *data, char **fields, int32_t max_fields) {
    int32_t count = 0;
    char *p = data;
    while (p && *p) {
        // A run of commas is one separator: empty fields take no position.
        while (*p == ',') ++p;
        if (!*p) break;
        if (count < max_fields) fields[count] = p;
        ++count;
        while (*p && *p != ',') ++p;
        if (*p) *p++ = '\0';
    }
    return count;
}

long ca_read_int(const char *text) {
    // Base 0: the instrument's numbers are read as C reads literals, so a
    // leading 0 means octal and 0x hexadecimal.
    return text ? strtol_c(text, nullptr, 0) : 0;
}

double ca_read_double(const char *text) {
    return text ? strtod_c(text, nullptr) : 0.0;
}
