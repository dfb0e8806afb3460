// Call trace: when VELQOR2_SIM_TRACE names a file, each call of the
// library appends one line "Operation arguments -> status".
#ifndef CARDSIM_TRACE_H
#define CARDSIM_TRACE_H

void trace_call(const char *format, ...) __attribute__((format(printf, 1, 2)));

#endif
