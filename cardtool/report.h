// Failures as the family's programs report them: on the argument module's
// error stream (standard output for sorvit, standard error for
// sorvit-image), a line each. What was reported since the last clear is kept
// too, for a program that also hands the text on, in a JSON document.
#ifndef CARDTOOL_REPORT_H
#define CARDTOOL_REPORT_H

void report_failure(const char *format, ...) __attribute__((format(printf, 1, 2)));

// A warning: on the same stream, and not kept.
void report_warning(const char *format, ...) __attribute__((format(printf, 1, 2)));

// The text reported since the last clear, without its last line feed; ""
// when nothing was.
const char *reported_failures();
void clear_reported_failures();

#endif
