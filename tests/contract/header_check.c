/* velqor2.h is a C interface: it must compile as C, with its layout checks. */
#include "velqor2.h"

typedef VELQOR2_STATUS read_config_fn(VELQOR2_HANDLE, uint32_t, uint32_t *);
read_config_fn *const velqor2_read_config_check = VELQOR2_ReadConfig;
