// Failures as the family's programs report them: on the argument module's
// error stream (standard output for sorvit, standard error for
// sorvit-image), a line each. A program that also hands a failure on (in a
// JSON document, in metrics) keeps it in the record it belongs to: a
// failure_log, which the record owns.
#ifndef CARDTOOL_REPORT_H
#define CARDTOOL_REPORT_H

#include <cstddef>

void report_failure(const char *format, ...) __attribute__((format(printf, 1, 2)));

// A warning: on the same stream, and kept nowhere.
void report_warning(const char *format, ...) __attribute__((format(printf, 1, 2)));

// The failures of one record, each line as it was reported, in order.
struct failure_log {
    char *text;  // owned; null while nothing was kept
    size_t length;
    bool lost;  // memory ran out for a line
};

// "s" unless count is 1, for the nouns of messages.
inline const char *plural(unsigned count) { return count == 1 ? "" : "s"; }

// Reports the failure, and keeps it in log when one is given.
void log_failure(failure_log *log, const char *format, ...) __attribute__((format(printf, 2, 3)));

// What the log holds, without its last line feed: "" when nothing, a text
// that says so when memory ran out. Valid until the log changes.
const char *failure_text(const failure_log *log);
void clear_failures(failure_log *log);

#endif
