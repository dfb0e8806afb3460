#include "report.h"

#include <limits.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "args.h"
#include "utf8.h"

namespace {

// A record keeps at most this much: a few lines of a path of PATH_MAX bytes
// and a reason; cut on a character, never overrun, when a run reports more.
constexpr size_t LOG_MAX = size_t{4} * (PATH_MAX + 512);

// The line, cut on a character and still a line when it is too long.
size_t format_line(char *line, size_t size, const char *format, va_list ap) {
    int n = vsnprintf(line, size, format, ap);
    if (n < 0) return 0;
    size_t length = strnlen(line, size);
    if (static_cast<size_t>(n) >= size) {
        length = utf8_trim_partial(line, length < size - 2 ? length : size - 2);
        memcpy(line + length, "\n", 2);
        length++;
    }
    return length;
}

// Lines are kept joined by line feeds, without the last one.
void keep(failure_log *log, const char *line, size_t length) {
    if (length > 0 && line[length - 1] == '\n') length--;
    const size_t separator = log->text ? 1 : 0;
    if (log->length + separator >= LOG_MAX) return;
    length = utf8_cut(line, length, LOG_MAX - log->length - separator);
    auto *grown = static_cast<char *>(realloc(log->text, log->length + separator + length + 1));
    if (!grown) {
        log->lost = true;
        return;
    }
    if (separator) grown[log->length] = '\n';
    memcpy(grown + log->length + separator, line, length);
    log->text = grown;
    log->length += separator + length;
    log->text[log->length] = '\0';
}

void vreport(failure_log *log, const char *format, va_list ap) {
    char line[2 * PATH_MAX + 512];  // two paths and the reason
    size_t length = format_line(line, sizeof line, format, ap);
    if (length == 0) return;
    fputs(line, args_error_stream());
    if (log) keep(log, line, length);
}

}  // namespace

void report_failure(const char *format, ...) {
    va_list ap;
    va_start(ap, format);
    vreport(nullptr, format, ap);
    va_end(ap);
}

void log_failure(failure_log *log, const char *format, ...) {
    va_list ap;
    va_start(ap, format);
    vreport(log, format, ap);
    va_end(ap);
}

void report_warning(const char *format, ...) {
    va_list ap;
    va_start(ap, format);
    vfprintf(args_error_stream(), format, ap);
    va_end(ap);
}

const char *failure_text(const failure_log *log) {
    if (log->text) return log->text;
    return log->lost ? "(out of memory for the message)" : "";
}

void clear_failures(failure_log *log) {
    free(log->text);
    *log = failure_log{};
}
