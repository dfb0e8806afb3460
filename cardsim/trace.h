// Call trace: when VELQOR2_SIM_TRACE names a file, each call of the
// library appends one line "Operation arguments -> status".
#ifndef CARDSIM_TRACE_H
#define CARDSIM_TRACE_H

// Looks up VELQOR2_SIM_TRACE again; the opens call it, so that the
// variable is read once per card rather than once per call.
void trace_refresh();

void trace_call(const char *format, ...) __attribute__((format(printf, 1, 2)));

#endif
