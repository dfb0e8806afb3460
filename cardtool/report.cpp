#include "report.h"

#include <limits.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "args.h"
#include "utf8.h"

namespace {

// Room for a few lines of a path of PATH_MAX bytes and a reason; cut, never
// overrun, when a run reports more.
char g_kept[4 * (PATH_MAX + 512)];
size_t g_length;
char g_last[sizeof g_kept];  // what reported_failures hands out

}  // namespace

void report_failure(const char *format, ...) {
    va_list ap;
    va_start(ap, format);
    char line[2 * PATH_MAX + 512];  // two paths and the reason
    int n = vsnprintf(line, sizeof line, format, ap);
    va_end(ap);
    if (n < 0) return;
    size_t length = strnlen(line, sizeof line);
    if (static_cast<size_t>(n) >= sizeof line) {  // cut: on a character, and still a line
        length = utf8_trim_partial(line, length < sizeof line - 2 ? length : sizeof line - 2);
        memcpy(line + length, "\n", 2);
        length++;
    }
    fputs(line, args_error_stream());
    length = utf8_cut(line, length, sizeof g_kept - 1 - g_length);
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
