#include "trace.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>

namespace {

thread_local bool t_resolved;
thread_local char t_path[4096];  // a copy: the environment may change under a pointer

}  // namespace

void trace_refresh() {
    const char *path = getenv("VELQOR2_SIM_TRACE");
    int n = snprintf(t_path, sizeof t_path, "%s", path ? path : "");
    if (n < 0 || static_cast<size_t>(n) >= sizeof t_path) t_path[0] = '\0';  // too long: no trace
    t_resolved = true;
}

void trace_call(const char *format, ...) {
    if (!t_resolved) trace_refresh();
    const char *path = t_path;
    if (!*path) return;
    char line[512];
    va_list ap;
    va_start(ap, format);
    int n = vsnprintf(line, sizeof line - 1, format, ap);
    va_end(ap);
    if (n < 0) return;
    size_t length =
        static_cast<size_t>(n) < sizeof line - 1 ? static_cast<size_t>(n) : sizeof line - 2;
    line[length++] = '\n';
    // One write per line on an O_APPEND file: lines of several processes
    // never interleave.
    int fd = open(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) return;
    ssize_t written = write(fd, line, length);
    (void)written;  // tracing must never change what the call returns
    close(fd);
}
