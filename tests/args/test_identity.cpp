// The identity the argument module's tests link, as a tool would.
#include "args.h"

const char APP_NAME[] = "sorvit";
const char APP_TITLE[] = "SORVIT utility";
const app_version APP_VERSION = {5, 0, 0};
