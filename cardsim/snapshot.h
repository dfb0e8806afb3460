// What a process knows of the bank file: a snapshot of it, shared by every
// handle and open while the file stays the same, and replaced as soon as
// it does not. Every call of the library first asks the file whether it
// changed (one stat): reads are as fresh as the file, and a process that
// opens every card reads and scans the file once.
//
// Threads: one mutex guards the snapshots and the handle table. It is held
// only for work in memory, never across file I/O or the wait for the bank's
// lock file; a process with one thread does not take it at all.
#ifndef CARDSIM_SNAPSHOT_H
#define CARDSIM_SNAPSHOT_H

#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <time.h>

#include <cerrno>

#include "bank.h"
#include "bank_files.h"
#include "bank_scan.h"
#include "sim_mutex.h"

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
    mode_t mode;  // not compared; for the writers
};
inline bool same_identity(const file_identity &a, const file_identity &b) {
    if (a.exists != b.exists) return false;
    return !a.exists || (a.ino == b.ino && a.mtime.tv_nsec == b.mtime.tv_nsec &&
                         a.ctime.tv_nsec == b.ctime.tv_nsec && a.size == b.size && a.dev == b.dev &&
                         a.mtime.tv_sec == b.mtime.tv_sec && a.ctime.tv_sec == b.ctime.tv_sec);
}

// The identity of the file at path now. Fails, naming the file, for a
// dangling link or anything but a regular file.
bool identity_of(const char *path, file_identity *out, sim_error *err);

struct bank_snapshot {
    unsigned refs;  // under the mutex
    bank_location where;
    file_identity identity;
    int fd;      // the file read, held open; -1 for the built-in bank
    char *text;  // the file's bytes, owned; null for the built-in bank
    size_t length;
    bank_scan scan;  // the cards, read as far as any call needed
};

// Under the mutex.
inline void snapshot_ref(bank_snapshot *snapshot) { snapshot->refs++; }
void snapshot_free(bank_snapshot *snapshot);
inline void snapshot_unref(bank_snapshot *snapshot) {
    if (--snapshot->refs == 0) snapshot_free(snapshot);
}

// The file's status; through fstatat alone, so that a dump of a card binds
// one function of the C library for it rather than three.
inline int status_of_path(const char *path, struct stat *st, bool follow_links) {
    return fstatat(AT_FDCWD, path, st, follow_links ? 0 : AT_SYMLINK_NOFOLLOW);
}
inline int status_of_fd(int fd, struct stat *st) { return fstatat(fd, "", st, AT_EMPTY_PATH); }

// Whether the file is still exactly the snapshot: one stat, no lock. For a
// process with one thread, whose snapshots nothing else can touch.
inline bool snapshot_unchanged(const bank_snapshot *s) {
    struct stat st;
    const file_identity &id = s->identity;
    if (status_of_path(s->where.path, &st, false) != 0) return !id.exists && errno == ENOENT;
    return id.exists && st.st_ino == id.ino && st.st_mtim.tv_nsec == id.mtime.tv_nsec &&
           st.st_size == id.size && st.st_mtim.tv_sec == id.mtime.tv_sec &&
           st.st_ctim.tv_nsec == id.ctime.tv_nsec && st.st_dev == id.dev &&
           st.st_ctim.tv_sec == id.ctime.tv_sec && S_ISREG(st.st_mode);
}

// A referenced snapshot of the bank at where, as the file is now: held
// (a snapshot the caller references) or the process's latest when either is
// still current, else the file read again. Call without the mutex.
bank_snapshot *snapshot_fresh(const bank_location &where, bank_snapshot *held, sim_error *err);

// After a write replaced the file: the snapshot becomes the new file, open
// as fd, whose bytes are text (both taken over). Under the mutex.
void snapshot_replaced(bank_snapshot *snapshot, char *text, size_t length, int fd,
                       const file_identity &identity);

// How the bank is called in messages: "bank file PATH", or "the default
// bank (PATH not written yet)".
void describe_bank(const bank_snapshot *snapshot, char *out, size_t size);

#endif
