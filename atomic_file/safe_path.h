// Reaching a file that a user named, for programs that run as root over
// folders that other users share. The path is walked one component at a
// time, each relative to the folder already reached and never through a
// link the kernel would follow for us, so nothing swapped in between a
// check and its use is followed.
//
// Whom a place is trusted to: root and the user running the program
// (geteuid). A symbolic link is followed only when one of them owns it: a
// link that anyone else made is refused, in their own folder as in a shared
// one, as sshd and sudo refuse such files. The kernel's protected_symlinks
// and protected_hardlinks rules are kept whatever the host's settings: in
// a sticky folder that anyone may write, a link is followed only when its
// owner is the running user or the folder's; a link with a second name
// (which another user may have made) is never followed. Folders and files
// that someone else could change are reported, for the callers that read
// what they hold, and refused, for the callers that write (SAFE_STRICT).
//
// Errors are errno values (0 is success); EPERM comes with its reason.
#ifndef ATOMIC_FILE_SAFE_PATH_H
#define ATOMIC_FILE_SAFE_PATH_H

#include <limits.h>
#include <sys/stat.h>

#include <cstddef>

constexpr size_t SAFE_TEXT_MAX = PATH_MAX + 128;

struct safe_place {
    int folder;             // the folder holding name, O_PATH; -1 when none
    struct stat folder_st;  // of that folder
    char path[PATH_MAX];    // the place reached, links resolved, for messages
    const char *name;       // its last component, inside path; "" for a whole folder
    bool exists;            // name is there (st holds it, not followed)
    bool through_link;      // its last component was a link (one that dangles when !exists)
    struct stat st;
    char changeable[SAFE_TEXT_MAX];  // with SAFE_NOTE_CHANGEABLE: the first place on the
                                     // way that another user can change, and why; "" when none
    char refused[SAFE_TEXT_MAX];     // with EPERM: the link not followed, and its owner
};

enum safe_flags : unsigned {
    SAFE_MAKE_FOLDERS = 1,     // missing folders on the way are made, with folder_mode
    SAFE_WHOLE_FOLDER = 2,     // the whole path is a folder: place->folder is it
    SAFE_NOTE_CHANGEABLE = 4,  // fill place->changeable, for a reader (folders above included)
    // For a writer: EPERM (with place->refused) for any folder on the way,
    // or above a relative start, that another user owns or can write
    // unless it is sticky, before anything is made in it; and for an
    // existing file that another user owns in a folder that others can write.
    SAFE_STRICT = 8,
};

// An empty place, no folder held. Field by field: the record is 13 KiB,
// most of it text buffers that only need an empty string.
inline void safe_place_clear(safe_place *p) {
    p->folder = -1;
    p->folder_st = {};
    p->path[0] = '\0';
    p->name = p->path;
    p->exists = p->through_link = false;
    p->st = {};
    p->changeable[0] = p->refused[0] = '\0';
}

// Walks path. On success the caller owns place->folder (safe_release).
// ENOENT for a missing folder on the way, ENOTDIR, ELOOP after 40 links.
// A relative path is walked from the current folder, or from a folder
// already reached (from: a place that a walk with SAFE_WHOLE_FOLDER gave),
// so that the files of one folder are reached without walking to it again;
// what that walk found changeable is where this one starts.
int safe_walk(const char *path, unsigned flags, mode_t folder_mode, safe_place *place,
              const safe_place *from = nullptr);

// Whether two statuses are of one file.
inline bool same_file(const struct stat &a, const struct stat &b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// Closes the folder; safe to call twice.
void safe_release(safe_place *place);

// Whether a user other than root and the running user can change what a
// folder with this status holds (an entry: a file's contents). Writes why,
// and the mode that would be safe, after "what path" in out.
bool is_changeable(const struct stat &st, bool folder, const char *what, const char *path,
                   char *out, size_t size);

#endif
