// sorvit-image's identity, compiled into the argument module's screens.
#include "args.h"

const char APP_NAME[] = "sorvit-image";
const char APP_TITLE[] = "SORVIT image utility";
const app_version APP_VERSION = {SORVIT_VERSION_MAJOR, SORVIT_VERSION_MINOR, SORVIT_VERSION_PATCH};
