// sorvit-image's identity: the argument module's constants (args.h), and
// its version as the usage screen, the JSON documents, the metrics and the
// images give it, "5.0.0".
#ifndef IMAGE_IDENTITY_H
#define IMAGE_IDENTITY_H

#include "args.h"

struct version_text {
    char text[32];
};
version_text tool_version();

#endif
