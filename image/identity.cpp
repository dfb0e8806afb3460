#include "identity.h"

#include <cstdio>

const char APP_NAME[] = "sorvit-image";
const char APP_TITLE[] = "SORVIT image utility";
const app_version APP_VERSION = {SORVIT_VERSION_MAJOR, SORVIT_VERSION_MINOR, SORVIT_VERSION_PATCH};

version_text tool_version() {
    version_text v;
    snprintf(v.text, sizeof v.text, "%u.%u.%u", APP_VERSION.major, APP_VERSION.minor,
             APP_VERSION.patch);
    return v;
}
