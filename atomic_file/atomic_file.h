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

struct atomic_target {
    char path[PATH_MAX];    // the file itself: a symbolic link's final target
    char folder[PATH_MAX];  // its folder, "." for a bare name
    const char *name;       // its last component, inside path
    bool exists;
    bool through_dangling_link;  // reached by a link whose target does not exist yet
    struct stat st;              // of the existing file
};

// Follows symbolic links to the file they name, whether it exists yet or
// not, as a shell redirection does, so the link survives the rename.
// EISDIR for a folder, EINVAL for anything else but a regular file.
int atomic_resolve(const char *path, atomic_target *target);

// EACCES when the existing file's mode allows no write: a file its owner
// made read-only is kept as it is, also from root.
int atomic_check_writable(const atomic_target *target);

struct atomic_temp {
    char path[PATH_MAX + 16];
    bool exists;
};

// Writes text to a new file named the target's path, then suffix, then six
// random characters, with the existing file's mode or 0666 less the umask,
// and flushes it to the disk.
int atomic_write_temp(const atomic_target *target, const char *suffix, const char *text,
                      size_t length, atomic_temp *temp);

// Renames the temporary file over the target and flushes the folder.
int atomic_commit(atomic_temp *temp, const atomic_target *target);

// Removes the temporary file, if it is still there.
void atomic_discard(atomic_temp *temp);

// For programs (never a library): a SIGINT, SIGTERM or SIGHUP that ends the
// process during a write removes its temporary file first, and a file-size
// limit makes the write fail with EFBIG instead of killing the process.
void atomic_cleanup_on_signals();

#endif
