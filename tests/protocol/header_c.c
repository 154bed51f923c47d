/* The public header on its own, as a C host includes it. */
#include "ca410.h"

int ca410_header_c_check(void);

int ca410_header_c_check(void) {
    ca410_dev *dev = NULL;
    ca410_calfile calfile;
    ca410_dev_stat stat;
    ca410_dev_info info;
    (void)calfile;
    (void)stat;
    (void)info;
    return dev == NULL ? CA_OK : CA_E_ARGS;
}
