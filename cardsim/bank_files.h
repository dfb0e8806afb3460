// Where the bank lives, and the files a writer keeps beside it.
#ifndef CARDSIM_BANK_FILES_H
#define CARDSIM_BANK_FILES_H

#include <limits.h>

#include "atomic_file.h"
#include "bank.h"

// The bank file as named: VELQOR2_SIM_BANK, else $XDG_STATE_HOME (when it is
// absolute) or $HOME/.local/state, then velqor2-sim/bank.
struct bank_location {
    char path[PATH_MAX];
    bool named;  // by VELQOR2_SIM_BANK: folders made for it get 0777 less the umask, else 0700
};
bool find_bank(bank_location *where, sim_error *err);

// What a writer works on: the bank (a symbolic link's target, so the link
// survives the rename) and the lock file beside it, both in the folder
// file.folder holds open.
struct bank_target {
    safe_place file;
    char lock[PATH_MAX];  // its path, for messages
    char lock_name[NAME_MAX + 1];
    bank_target() = default;
    bank_target(const bank_target &) = delete;
    bank_target &operator=(const bank_target &) = delete;
    ~bank_target() { safe_release(&file); }
};
// Also creates the folder and its missing parents.
bool resolve_target(const bank_location &where, bank_target *target, sim_error *err);

// How long a writer waits for another writer's lock before it gives up:
// VELQOR2_SIM_LOCK_WAIT_MS (0 to 60000), else 5 s.
unsigned lock_wait_ms();

// The writer's lock on target.lock, held for the life of the object.
struct writer_lock {
    int fd = -1;
    int folder_fd = -1;  // the bank's folder, locked too (see bank_store.cpp)
    writer_lock() = default;
    writer_lock(const writer_lock &) = delete;
    writer_lock &operator=(const writer_lock &) = delete;
    ~writer_lock() { release(); }
    // Waits at most lock_wait_ms(); fails with SIM_BANK_LOCKED then.
    bool acquire(const bank_target &target, sim_error *err);
    // Whether the file locked is still the one at the lock's path: a lock
    // file removed or replaced meanwhile protects nothing.
    bool still_held(const bank_target &target) const;
    // Locks the folder as well; true when it is locked, or cannot be opened
    // (then the lock file alone serves), false while another writer holds it.
    bool lock_folder(const bank_target &target);
    void release();
};

// Temporary files are "<bank>.tmp-" and six random characters.
constexpr char TEMP_MARK[] = ".tmp-";

// Milliseconds on the monotonic clock, for the writers' time limits.
long long now_ms();

#endif
