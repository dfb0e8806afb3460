// Replacing a file whole or not at all, for every writer of the family:
// the new contents go to a temporary file beside it, flushed to the disk,
// which is renamed over it; then the folder is flushed, so the rename
// lasts. A reader sees the old file or the new one, never a mix, and a
// failure at any step leaves the old file and no temporary file.
//
// The temporary file has no name until just before the rename (O_TMPFILE,
// where the file system has it), so a writer that is killed leaves nothing
// behind but in that short moment; what it leaves then is removed by the
// next writer of the file (atomic_remove_temps). A temporary file is held
// under a lock while it has a name, so a live writer's is never removed.
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
// is not sticky. flags (SAFE_MAKE_FOLDERS, SAFE_STRICT) and folder_mode as
// safe_walk takes them.
int atomic_resolve(const char *path, unsigned flags, mode_t folder_mode, safe_place *place,
                   const safe_place *from = nullptr);

// EACCES when the existing file's mode allows no write: a file its owner
// made read-only is kept as it is, also from root.
int atomic_check_writable(const safe_place *place);

struct atomic_temp {
    int folder;  // the place's, borrowed
    int fd;      // the unnamed file, until it is named; -1 otherwise
    char name[NAME_MAX + 1];
    char suffix[16];  // of its name
    bool exists;      // it has its name
};

// Writes text to a new file in the place's folder, and flushes it to the
// disk. Its name, when it has one, is the place's name (cut to leave room),
// then suffix, then six random characters. A file that is replaced lends
// it its group and permission bits (never setuid, setgid or sticky, nor a
// write bit for group or others), and its owner when that is root or the
// running user; a new one gets new_mode less the umask.
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
// file left when they were killed; a live writer's is left alone. With
// is_target, those of every file of the folder it accepts (given the
// name, possibly cut, and its length), in one pass over the folder.
void atomic_remove_temps(const safe_place *place, const char *suffix,
                         bool (*is_target)(const char *name, size_t length) = nullptr);

// A new folder made whole or not at all: its files go into a folder under
// a temporary name beside it (the name, then ".part-", then six random
// characters), which is renamed into place once all of them are there and
// never over a folder that appeared meanwhile.
struct atomic_folder {
    int parent;  // the folder above it: owned, -1 when none
    char name[NAME_MAX + 1];
    char temp[NAME_MAX + 1];
    bool exists;  // the temporary folder is there
};

// Makes the temporary folder for the place (a walk that found its name
// missing) with mode less the umask; inside is that folder, to reach its
// files from, named as the place will be.
int atomic_folder_begin(const safe_place *place, mode_t mode, atomic_folder *folder,
                        safe_place *inside);

// Renames the folder into place (EEXIST when one appeared meanwhile) and
// flushes the folder above it; its files must have been flushed first.
int atomic_folder_commit(atomic_folder *folder);

// Removes the temporary folder and the regular files in it. Either this
// or the commit ends it.
void atomic_folder_discard(atomic_folder *folder);

// For programs (never a library): a SIGINT, SIGTERM or SIGHUP that ends the
// process during a write removes its temporary file first, and a file-size
// limit makes the write fail with EFBIG instead of killing the process.
void atomic_cleanup_on_signals();

#endif
