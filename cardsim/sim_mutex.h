// The library's one mutex: it guards the snapshots and the handle table.
// Held only for work in memory, never across file I/O or the wait for the
// bank's lock file.
#ifndef CARDSIM_SIM_MUTEX_H
#define CARDSIM_SIM_MUTEX_H

#include <pthread.h>

extern pthread_mutex_t g_bank_mutex;

// The mutex, held for the life of the scope.
struct bank_guard {
    bank_guard() { pthread_mutex_lock(&g_bank_mutex); }
    ~bank_guard() { pthread_mutex_unlock(&g_bank_mutex); }
    bank_guard(const bank_guard &) = delete;
    bank_guard &operator=(const bank_guard &) = delete;
};

#endif
