// One writer per card: a lock for each card, by its ID, in the runtime
// folder (folders.h). A change holds it exclusively from the read that
// decides what to write through the final read back; a save or a check
// holds it shared, so that it never reads a card halfway through a change.
// The locks are the kernel's record locks on card-ID.lock: a process that
// dies releases its own, so no stale lock ever blocks anyone, and the
// kernel names the holder of a lock that is in the way.
#ifndef CHANGE_CARD_LOCK_H
#define CHANGE_CARD_LOCK_H

#include <cstdint>

#include "report.h"
#include "safe_path.h"

enum class lock_mode { SHARED, EXCLUSIVE };

struct card_lock {
    int fd;  // -1 while not held
    uint32_t card_id;
};

// How long a lock is waited for: SORVIT_LOCK_WAIT_MS (0 to 600000), else 10 s.
unsigned card_lock_wait_ms();

// Takes the card's lock in the folder (its runtime folder), waiting at most
// card_lock_wait_ms(); while it waits it says once, on the error stream,
// who holds it. who ("sorvit-image load") is what a waiter is told of this
// holder. 0, or -1 with the failure reported and kept in log.
int lock_card(const safe_place &folder, uint32_t card_id, lock_mode mode, const char *who,
              card_lock *lock, failure_log *log);
void unlock_card(card_lock *lock);

#endif
