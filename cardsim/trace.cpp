#include "trace.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

std::atomic<int> g_trace_state{TRACE_NOT_LOOKED_UP};

namespace {

thread_local bool t_resolved;
thread_local char t_path[4096];  // a copy: the environment may change under a pointer

}  // namespace

void trace_refresh() {
    const char *path = getenv("VELQOR2_SIM_TRACE");
    size_t n = 0;
    while (path && n < sizeof t_path && path[n]) n++;
    if (n == 0 || n == sizeof t_path) {  // unset, empty or too long: no trace
        g_trace_state.store(TRACE_OFF, std::memory_order_relaxed);
        return;
    }
    memcpy(t_path, path, n + 1);
    t_resolved = true;
    g_trace_state.store(TRACE_ON, std::memory_order_relaxed);
}

void trace_write(const char *format, ...) {
    int state = g_trace_state.load(std::memory_order_relaxed);
    if (state == TRACE_OFF) return;
    if (state == TRACE_NOT_LOOKED_UP || !t_resolved) trace_refresh();
    if (!t_resolved || g_trace_state.load(std::memory_order_relaxed) != TRACE_ON) return;
    const char *path = t_path;
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
    int fd = open(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NONBLOCK | O_NOCTTY, 0666);
    if (fd < 0) return;
    ssize_t written = write(fd, line, length);
    (void)written;  // tracing must never change what the call returns
    close(fd);
}
