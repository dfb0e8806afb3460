#include "trace.h"

#include <fcntl.h>
#include <limits.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "safe_path.h"
#include "sim_mutex.h"

namespace {

// The file's name as the last open found it: a copy, as the environment
// may change under a pointer. Under the mutex.
enum { TRACE_NOT_LOOKED_UP, TRACE_OFF, TRACE_ON } g_state;
char g_path[PATH_MAX];

void take_path(const char *path) {
    size_t n = path ? strnlen(path, sizeof g_path) : 0;
    g_state = n == 0 || n == sizeof g_path ? TRACE_OFF : TRACE_ON;  // unset, empty or too long
    if (g_state == TRACE_ON) snprintf(g_path, sizeof g_path, "%s", path);
}

}  // namespace

void trace_refresh(const char *path) {
    bank_guard guard;
    take_path(path);
}

void trace_call(const char *format, ...) {
    char path[PATH_MAX];
    {
        bank_guard guard;
        if (g_state == TRACE_NOT_LOOKED_UP)
            take_path(getenv("VELQOR2_SIM_TRACE"));  // before any open
        if (g_state != TRACE_ON) return;
        snprintf(path, sizeof path, "%s", g_path);
    }
    char line[512];
    va_list ap;
    va_start(ap, format);
    int n = vsnprintf(line, sizeof line - 1, format, ap);  // room for the line feed
    va_end(ap);
    size_t length = n < 0                                      ? 0
                    : static_cast<size_t>(n) < sizeof line - 1 ? static_cast<size_t>(n)
                                                               : sizeof line - 2;
    line[length++] = '\n';
    // One write per line on an O_APPEND file: lines of several processes
    // never interleave. Never blocks: a FIFO without a reader loses the line.
    // Through no link that another user made, as any file a user names.
    safe_place place;
    if (safe_walk(path, 0, 0, &place) != 0) return;
    int fd = openat(place.folder, place.name,
                    O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NONBLOCK | O_NOCTTY | O_NOFOLLOW,
                    0666);
    safe_release(&place);
    if (fd < 0) return;
    ssize_t written = write(fd, line, length);
    (void)written;  // tracing must never change what the call returns
    close(fd);
}
