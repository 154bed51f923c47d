#include "cmat/observers.h"

int32_t standardObserver(const xspect *tables[3], observer_type type) {
    if (!tables) return 1;
    const xspect *set = nullptr;
    switch (type) {
        case observer_default:
        case observer_cie_1931_2:
            set = ob_CIE_1931_2;
            break;
        case observer_cie_1964_10:
            set = ob_CIE_1964_10;
            break;
        default:
            return 1;
    }
    for (int j = 0; j < 3; ++j) tables[j] = &set[j];
    return 0;
}

const char *stardardObserverDescription(observer_type type) {
    switch (type) {
        case observer_default:
        case observer_cie_1931_2:
            return "CIE 1931 2 degree observer";
        case observer_none:
            return "No observer";
        case observer_custom:
            return "Custom observer";
        case observer_cie_1964_10:
            return "CIE 1964 10 degree observer";
        case observer_cie_2012_2:
            return "CIE 2012 2 degree observer";
        case observer_cie_2012_10:
            return "CIE 2012 10 degree observer";
        default:
            return "Unknown observer";
    }
}
