/* The public header on its own, as a C host includes it; its layout checks run here. */
#include "ca410.h"

int ca410_header_c_check(void);

int ca410_header_c_check(void) {
    ca410_dev_info info;
    info.name[0] = '\0';
    return info.name[0] == '\0' ? CA_OK : CA_E_ARGS;
}
