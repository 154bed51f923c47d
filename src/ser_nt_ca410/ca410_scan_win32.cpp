#include "ser_nt_ca410/ca410_dev.h"

// SERIALCOMM also lists devices that are no COM ports; probe only those.
const bool ca410_scan_requires_com = true;
