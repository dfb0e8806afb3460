#include "report.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "args.h"

namespace {

char g_kept[4096];  // cut, never overrun, when a run reports more
size_t g_length;
char g_last[4096];  // what reported_failures hands out

}  // namespace

void report_failure(const char *format, ...) {
    va_list ap;
    va_start(ap, format);
    char line[2048];
    int n = vsnprintf(line, sizeof line, format, ap);
    va_end(ap);
    if (n < 0) return;
    fputs(line, args_error_stream());
    size_t length = strnlen(line, sizeof line);
    size_t room = sizeof g_kept - 1 - g_length;
    if (length > room) length = room;
    memcpy(g_kept + g_length, line, length);
    g_length += length;
    g_kept[g_length] = '\0';
}

void report_warning(const char *format, ...) {
    va_list ap;
    va_start(ap, format);
    vfprintf(args_error_stream(), format, ap);
    va_end(ap);
}

const char *reported_failures() {
    size_t length = g_length;
    if (length > 0 && g_kept[length - 1] == '\n') length--;
    memcpy(g_last, g_kept, length);
    g_last[length] = '\0';
    return g_last;
}

void clear_reported_failures() {
    g_length = 0;
    g_kept[0] = '\0';
}
