// Standard output is checked, not trusted: output that never reached its
// reader makes the run a failure, named by the error of the write that
// failed.
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "args.h"

namespace {

int g_output_error;  // errno of the first failed write; 0 while none failed

}  // namespace

bool g_errors_to_stderr;  // set by the parser from the record

FILE *args_error_stream() { return g_errors_to_stderr ? stderr : stdout; }

bool flush_output() {
    if (fflush(stdout) != 0 && g_output_error == 0) g_output_error = errno ? errno : EIO;
    // A write inside printf can fail unseen; the stream remembers that it did.
    if (ferror(stdout) && g_output_error == 0) g_output_error = EIO;
    return g_output_error == 0;
}

int finish_output(int status) {
    if (flush_output()) return status;
    dprintf(STDERR_FILENO, "%s: cannot write standard output: %s\n", APP_NAME,
            strerror(g_output_error));
    return -1;
}
