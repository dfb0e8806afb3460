#include <cstdlib>

#include "args_internal.h"

void args_exit(int status) {
    exit(status);  // flushes standard output
}
