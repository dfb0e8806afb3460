// Call trace: when VELQOR2_SIM_TRACE names a file, each call of the
// library appends one line "Operation arguments -> status".
#ifndef CARDSIM_TRACE_H
#define CARDSIM_TRACE_H

// Takes VELQOR2_SIM_TRACE's value (null: no trace); the opens call it, so
// that the variable is read once per card rather than once per call.
void trace_refresh(const char *path);

void trace_call(const char *format, ...) __attribute__((format(printf, 1, 2)));

#endif
