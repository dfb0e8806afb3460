// What a process knows of the bank file: a snapshot of it, shared by every
// handle and open while the file stays the same, and replaced as soon as
// it does not. Every call of the library first asks the file whether it
// changed (one stat): reads are as fresh as the file, and a process that
// opens every card reads and scans the file once.
#ifndef CARDSIM_SNAPSHOT_H
#define CARDSIM_SNAPSHOT_H

#include <pthread.h>
#include <sys/stat.h>

#include "bank.h"
#include "bank_files.h"
#include "bank_scan.h"

// The library's one mutex: it guards the snapshots and the handle table.
// Held only for work in memory, never across file I/O or the wait for the
// bank's lock file. A bank_guard holds it for the life of its scope.
extern pthread_mutex_t g_bank_mutex;
struct bank_guard {
    bank_guard() { pthread_mutex_lock(&g_bank_mutex); }
    ~bank_guard() { pthread_mutex_unlock(&g_bank_mutex); }
    bank_guard(const bank_guard &) = delete;
    bank_guard &operator=(const bank_guard &) = delete;
};

// What tells one state of the file from another. Every writer of ours
// replaces the file by a rename, so the new file is another inode: the
// snapshot keeps the file it read open, and while it is open its inode
// number cannot be given to a new file. An edit in place changes the size
// or the times; only one that keeps the size, within the same tick of the
// file system's clock as the read, could pass unseen.
struct file_identity {
    bool exists;  // false: no file yet, the built-in bank
    dev_t dev;
    ino_t ino;
    off_t size;
    timespec mtime, ctime;
};
file_identity identity_from(const struct stat &st);
bool same_identity(const file_identity &a, const file_identity &b);

// The identity of the file at path now. Fails, naming the file, for a
// dangling link or anything but a regular file.
bool identity_of(const char *path, file_identity *out, sim_error *err);

struct bank_snapshot {
    unsigned refs;  // under the mutex
    bank_location where;
    file_identity identity;
    int fd;          // the file read, held open; -1 for the built-in bank
    char *text;      // what the scan reads, owned: the file's bytes, or the built-in bank's
    bank_scan scan;  // the cards, read as far as any call needed
};

// Under the mutex.
inline void snapshot_ref(bank_snapshot *snapshot) { snapshot->refs++; }
void snapshot_free(bank_snapshot *snapshot);
inline void snapshot_unref(bank_snapshot *snapshot) {
    if (--snapshot->refs == 0) snapshot_free(snapshot);
}

// A referenced snapshot of the bank at where, as the file is now: held
// (a snapshot the caller references) or the process's latest when either is
// still current, else the file read again. Call without the mutex.
bank_snapshot *snapshot_fresh(const bank_location &where, bank_snapshot *held, sim_error *err);

// After a write replaced the file with text, which the snapshot's scan
// now reads (scan_moved): the snapshot becomes the new file, open as fd,
// and owns the text. Under the mutex.
void snapshot_replaced(bank_snapshot *snapshot, int fd, char *text, const file_identity &identity);

// How the bank is called in messages: "bank file PATH", or "the default
// bank (PATH not written yet)".
void describe_bank(const bank_snapshot *snapshot, char *out, size_t size);

// The writer: stores one word of one card of the bank that held names, as
// the protocol at the top of bank_store.cpp says, creating the file and
// its folder on the first write. Afterwards the process's snapshot is the
// new bank. Call without the mutex.
bool bank_store_word(bank_snapshot *held, uint32_t card_id, uint32_t location, uint32_t value,
                     sim_error *err);

#endif
