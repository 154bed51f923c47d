#include "ser_nt_com/platform/ser_platform.h"

const ser_platform_ops *ser_platform = nullptr;

const ser_platform_ops *ser_platform_active() {
    return ser_platform != nullptr ? ser_platform : ser_platform_native();
}
