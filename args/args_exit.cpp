#include <cstdlib>

#include "args_internal.h"

void args_exit(int status) { exit(finish_output(status)); }
