/* velqor2.h is a C interface: it must compile as C, with its layout checks. */
#include "velqor2.h"

VELQOR2_STATUS (*const velqor2_read_config_check)(VELQOR2_HANDLE, uint32_t, uint32_t *) =
    VELQOR2_ReadConfig;
