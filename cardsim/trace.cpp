#include "trace.h"

#include <fcntl.h>
#include <limits.h>
#include <unistd.h>

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "safe_path.h"
#include "sim_mutex.h"

std::atomic<int> g_trace_state{TRACE_NOT_LOOKED_UP};

namespace {

// The file's name as the last open found it: a copy, as the environment may
// change under a pointer. Not per thread, so that it costs a thread nothing
// while there is no trace.
char g_path[PATH_MAX];

}  // namespace

void trace_refresh(const char *path) {
    size_t n = 0;
    while (path && n < sizeof g_path && path[n]) n++;
    if (n == 0 || n == sizeof g_path) {  // unset, empty or too long: no trace
        g_trace_state.store(TRACE_OFF, std::memory_order_relaxed);
        return;
    }
    bank_guard guard;
    memcpy(g_path, path, n + 1);
    g_trace_state.store(TRACE_ON, std::memory_order_relaxed);
}

void trace_write(const char *format, ...) {
    if (g_trace_state.load(std::memory_order_relaxed) == TRACE_NOT_LOOKED_UP)
        trace_refresh(getenv("VELQOR2_SIM_TRACE"));  // a call before any open
    char path[PATH_MAX];
    {
        bank_guard guard;
        if (g_trace_state.load(std::memory_order_relaxed) != TRACE_ON) return;
        memcpy(path, g_path, sizeof path);
    }
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
