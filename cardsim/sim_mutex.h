// The library's one mutex: it guards the snapshots, the handle table and
// the trace file's name. Held only for work in memory, never across file
// I/O or the wait for the bank's lock file.
#ifndef CARDSIM_SIM_MUTEX_H
#define CARDSIM_SIM_MUTEX_H

#include <pthread.h>
#if __has_include(<sys/single_threaded.h>)
#include <sys/single_threaded.h>
#endif

// The mutex, held for the life of the scope. While the process has one
// thread, nothing can race with it and it is not taken: a dump makes 64
// calls, each a few dozen instructions besides its stat.
extern pthread_mutex_t g_bank_mutex;
struct bank_guard {
    bool locked;
    bank_guard() : locked(!single_threaded()) {
        if (locked) pthread_mutex_lock(&g_bank_mutex);
    }
    ~bank_guard() {
        if (locked) pthread_mutex_unlock(&g_bank_mutex);
    }
    bank_guard(const bank_guard &) = delete;
    bank_guard &operator=(const bank_guard &) = delete;
    // No thread can start while this one runs the library's code, so a
    // process that had one thread on entry has one until the scope ends.
    static bool single_threaded() {
#if __has_include(<sys/single_threaded.h>)
        return __libc_single_threaded != 0;
#else
        return false;
#endif
    }
};

#endif
