#include "ser_nt_ca410/ca410_dev.h"

// The POSIX port listing yields device paths of serial ports only.
const bool ca410_scan_requires_com = false;
