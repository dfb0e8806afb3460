// The tool's identity, compiled into the argument module's screens.
#include "args.h"

const char APP_NAME[] = "sorvit";
const char APP_TITLE[] = "SORVIT utility";
const app_version APP_VERSION = {SORVIT_VERSION_MAJOR, SORVIT_VERSION_MINOR, SORVIT_VERSION_PATCH};
