// Replacing a file whole or not at all, for every writer of the family:
// the new contents go to a temporary file beside it, flushed to the disk,
// which is renamed over it; then the folder is flushed, so the rename
// lasts. A reader sees the old file or the new one, never a mix, and a
// failure at any step leaves the old file and no temporary file.
//
// Errors are errno values (0 is success); messages are the caller's.
#ifndef ATOMIC_FILE_ATOMIC_FILE_H
#define ATOMIC_FILE_ATOMIC_FILE_H

#include <limits.h>
#include <sys/stat.h>

#include <cstddef>

#include "safe_path.h"

// Reaches the file a user named, through links that root or the running
// user made (safe_walk), whether it exists yet or not, as a shell
// redirection does, so a link survives the rename. EISDIR for a folder,
// EINVAL for anything else but a regular file, EPERM (with place->refused)
// for a link another user made or a folder that others may write and that
// is not sticky. flags and folder_mode as safe_walk takes them.
int atomic_resolve(const char *path, unsigned flags, mode_t folder_mode, safe_place *place,
                   const safe_place *from = nullptr);

// EACCES when the existing file's mode allows no write: a file its owner
// made read-only is kept as it is, also from root.
int atomic_check_writable(const safe_place *place);

struct atomic_temp {
    int folder;  // the place's, borrowed
    char name[NAME_MAX + 1];
    bool exists;
};

// Writes text to a new file in the place's folder, named the place's name,
// then suffix, then six random characters, and flushes it to the disk. A
// file that is replaced lends it its owner, group and permission bits
// (never setuid, setgid or sticky); a new one gets new_mode less the umask.
int atomic_write_temp(const safe_place *place, const char *suffix, const char *text, size_t length,
                      mode_t new_mode, atomic_temp *temp);

// Renames the temporary file over the place's file and flushes the folder,
// unless the caller flushes it once after many files (atomic_sync_folder).
int atomic_commit(atomic_temp *temp, const safe_place *place, bool sync_folder = true);

// Flushes the folder so that the renames in it last.
int atomic_sync_folder(int folder);

// Removes the temporary file, if it is still there.
void atomic_discard(atomic_temp *temp);

// Removes the temporary files with that suffix that writers of the place's
// file left when they were killed. Only for a caller that holds a lock
// keeping every live writer of the file out.
void atomic_remove_temps(const safe_place *place, const char *suffix);

// For programs (never a library): a SIGINT, SIGTERM or SIGHUP that ends the
// process during a write removes its temporary file first, and a file-size
// limit makes the write fail with EFBIG instead of killing the process.
void atomic_cleanup_on_signals();

#endif
