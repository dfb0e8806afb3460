// Call trace: when VELQOR2_SIM_TRACE names a file, each call of the
// library appends one line "Operation arguments -> status".
#ifndef CARDSIM_TRACE_H
#define CARDSIM_TRACE_H

#include <atomic>

// Takes VELQOR2_SIM_TRACE's value (null: no trace); the opens call it, so
// that the variable is read once per card rather than once per call.
void trace_refresh(const char *path);

void trace_write(const char *format, ...) __attribute__((format(printf, 1, 2)));

enum trace_state { TRACE_NOT_LOOKED_UP, TRACE_OFF, TRACE_ON };
extern std::atomic<int> g_trace_state;  // for every thread

// A call that is not traced costs one load: no call, no arguments.
#define trace_call(...)                                                                \
    (g_trace_state.load(std::memory_order_relaxed) == TRACE_OFF ? static_cast<void>(0) \
                                                                : trace_write(__VA_ARGS__))

#endif
