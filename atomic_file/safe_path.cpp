#include "safe_path.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

constexpr int MAX_LINKS = 40;  // as the kernel allows

bool trusted(uid_t owner) { return owner == 0 || owner == geteuid(); }

struct walk {
    int dir = -1;           // the folder reached
    struct stat dir_st {};  // its status
    char shown[PATH_MAX];   // its path
    char rest[PATH_MAX];    // what is still to walk
    int links = 0;
    bool reached = false;  // the last component was found, or found missing
    bool note = false;     // SAFE_NOTE_CHANGEABLE
    bool strict = false;   // SAFE_STRICT
    safe_place *place;
};

// Appends "/name" (or "name" after a slash) to the folder's path.
int descend_text(walk *w, const char *name) {
    size_t n = strlen(w->shown);
    const char *slash = n && w->shown[n - 1] == '/' ? "" : "/";
    int k = snprintf(w->shown + n, sizeof w->shown - n, "%s%s", slash, name);
    return k < 0 || static_cast<size_t>(k) >= sizeof w->shown - n ? ENAMETOOLONG : 0;
}

void ascend_text(walk *w) {
    char *slash = strrchr(w->shown, '/');
    if (!slash) snprintf(w->shown, sizeof w->shown, "..");  // a folder without a known path
    else if (slash == w->shown) w->shown[1] = '\0';
    else *slash = '\0';
}

// Notes the place for a reader; refuses it (EPERM) for a writer.
int note_changeable(walk *w, const struct stat &st, bool folder, const char *path) {
    const char *what = folder ? "folder" : "file";
    if (w->strict &&
        is_changeable(st, folder, what, path, w->place->refused, sizeof w->place->refused))
        return EPERM;
    if (!w->note || w->place->changeable[0]) return 0;  // the first place is the one to name
    is_changeable(st, folder, what, path, w->place->changeable, sizeof w->place->changeable);
    return 0;
}

// A file in a folder that others may write could be anyone's doing; a
// writer only replaces one that root or the running user owns there.
int check_file_for_writer(walk *w, const struct stat &st) {
    if (!w->strict || (w->dir_st.st_mode & 022) == 0 || trusted(st.st_uid)) return 0;
    is_changeable(st, false, "file", w->shown, w->place->refused, sizeof w->place->refused);
    return EPERM;
}

// Enters the folder fd, already open, as the one reached (its status
// known, or taken here).
int enter(walk *w, int fd, const struct stat *known = nullptr) {
    struct stat st;
    if (known) st = *known;
    else if (fstat(fd, &st) != 0) {
        int error = errno;
        close(fd);
        return error;
    }
    if (w->dir >= 0) close(w->dir);
    w->dir = fd;
    w->dir_st = st;
    return note_changeable(w, st, true, w->shown);
}

// The folders above the current one matter as much as those walked.
int note_folders_above(walk *w) {
    char path[PATH_MAX];
    memcpy(path, w->shown, sizeof path);
    int fd = openat(w->dir, "..", O_PATH | O_DIRECTORY | O_CLOEXEC);
    struct stat below = w->dir_st, st;
    int error = 0;
    while (!error && fd >= 0 && fstat(fd, &st) == 0 && !same_file(st, below)) {
        char *slash = strrchr(path, '/');
        if (slash && slash != path) *slash = '\0';
        else snprintf(path, sizeof path, "%s", slash ? "/" : "..");
        error = note_changeable(w, st, true, path);
        int up = openat(fd, "..", O_PATH | O_DIRECTORY | O_CLOEXEC);
        close(fd);
        fd = up;
        below = st;
    }
    if (fd >= 0) close(fd);
    return error;
}

int start(walk *w, const char *path, const safe_place *from) {
    bool absolute = path[0] == '/';
    if (strlen(path) >= sizeof w->rest) return ENAMETOOLONG;
    snprintf(w->rest, sizeof w->rest, "%s", path);
    if (from && !absolute) {
        snprintf(w->shown, sizeof w->shown, "%s", from->path);
        if (w->note) memcpy(w->place->changeable, from->changeable, sizeof w->place->changeable);
        int fd = fcntl(from->folder, F_DUPFD_CLOEXEC, 0);
        return fd < 0 ? errno : enter(w, fd);
    }
    if (absolute || !getcwd(w->shown, sizeof w->shown))
        snprintf(w->shown, sizeof w->shown, "%s", absolute ? "/" : ".");
    int fd = open(absolute ? "/" : ".", O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return errno;
    int error = enter(w, fd);
    if (!error && !absolute && (w->note || w->strict)) error = note_folders_above(w);
    return error;
}

// Takes the next component off w->rest; false when none is left.
bool next_component(walk *w, char name[NAME_MAX + 1], bool *last, int *error) {
    const char *p = w->rest;
    while (*p == '/') p++;
    if (!*p) return false;
    size_t n = strcspn(p, "/");
    if (n > NAME_MAX) {
        *error = ENAMETOOLONG;
        return false;
    }
    memcpy(name, p, n);
    name[n] = '\0';
    p += n;
    while (*p == '/') p++;
    *last = *p == '\0';
    memmove(w->rest, p, strlen(p) + 1);
    return true;
}

// Whether a link in that folder is refused, and why.
bool link_refused(const struct stat &folder, const struct stat &link, char *why, size_t size) {
    const auto owner = static_cast<unsigned long>(link.st_uid);
    const bool shared = (folder.st_mode & (S_ISVTX | S_IWOTH)) == (S_ISVTX | S_IWOTH);
    if (link.st_nlink > 1)  // a second name may be anyone's doing
        snprintf(why, size, "it has %lu names", static_cast<unsigned long>(link.st_nlink));
    else if (!trusted(link.st_uid)) snprintf(why, size, "it is owned by uid %lu", owner);
    else if (shared && link.st_uid != geteuid() && link.st_uid != folder.st_uid)
        snprintf(why, size, "it is owned by uid %lu in a sticky folder of uid %lu", owner,
                 static_cast<unsigned long>(folder.st_uid));
    else return false;
    return true;
}

// Replaces the link name by its target in what is still to walk.
int follow_link(walk *w, const char *name, const struct stat &st, bool last) {
    char where[PATH_MAX];
    snprintf(where, sizeof where, "%s", w->shown);
    descend_text(w, name);
    char why[96];
    if (link_refused(w->dir_st, st, why, sizeof why)) {
        snprintf(w->place->refused, sizeof w->place->refused, "not following symbolic link %s: %s",
                 w->shown, why);
        return EPERM;
    }
    if (++w->links > MAX_LINKS) return ELOOP;
    // Read through a descriptor of the link itself, so the link whose owner
    // was checked is the one read.
    int fd = openat(w->dir, name, O_PATH | O_NOFOLLOW | O_CLOEXEC);
    struct stat now;
    char target[PATH_MAX];
    ssize_t n = -1;
    if (fd >= 0 && fstat(fd, &now) == 0 && S_ISLNK(now.st_mode) && same_file(now, st))
        n = readlinkat(fd, "", target, sizeof target - 1);
    else errno = EAGAIN;  // replaced meanwhile
    int error = errno;
    if (fd >= 0) close(fd);
    if (n < 0) return error;
    target[n] = '\0';
    snprintf(w->shown, sizeof w->shown, "%s", where);
    char rest[PATH_MAX];
    int k = snprintf(rest, sizeof rest, "%s/%s", target, w->rest);
    if (k < 0 || static_cast<size_t>(k) >= sizeof rest) return ENAMETOOLONG;
    memcpy(w->rest, rest, static_cast<size_t>(k) + 1);
    w->place->through_link = last;
    if (target[0] != '/') return 0;
    int root = open("/", O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (root < 0) return errno;
    snprintf(w->shown, sizeof w->shown, "/");
    return enter(w, root);
}

int enter_folder(walk *w, const char *name, const struct stat &st) {
    int fd = openat(w->dir, name, O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return errno;
    struct stat now;
    if (fstat(fd, &now) != 0 || !same_file(now, st)) {
        close(fd);
        return EAGAIN;
    }
    if (int error = descend_text(w, name)) {
        close(fd);
        return error;
    }
    return enter(w, fd, &now);
}

// One step: false when the walk ends here (*error says how).
bool step(walk *w, unsigned flags, mode_t mode, int *error) {
    char name[NAME_MAX + 1];
    bool last = false;
    if (!next_component(w, name, &last, error)) return false;
    if (strcmp(name, ".") == 0 || strcmp(name, "..") == 0) {
        if (name[1]) {  // "..": the parent of a folder walked is never a link
            int fd = openat(w->dir, "..", O_PATH | O_DIRECTORY | O_CLOEXEC);
            if (fd < 0) return *error = errno, false;
            ascend_text(w);
            if ((*error = enter(w, fd))) return false;
        }
        if (last && !(flags & SAFE_WHOLE_FOLDER)) *error = EISDIR;
        return !last;
    }
    const bool folder_wanted = !last || (flags & SAFE_WHOLE_FOLDER);
    struct stat st;
    if (fstatat(w->dir, name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
        if (errno != ENOENT || (folder_wanted && !(flags & SAFE_MAKE_FOLDERS))) {
            *error = errno;
            return false;
        }
        if (!folder_wanted) {
            *error = descend_text(w, name);
            w->reached = true;
            return false;
        }
        if (mkdirat(w->dir, name, mode) != 0 && errno != EEXIST) return *error = errno, false;
        if (fstatat(w->dir, name, &st, AT_SYMLINK_NOFOLLOW) != 0) return *error = errno, false;
    }
    if (S_ISLNK(st.st_mode)) {
        *error = follow_link(w, name, st, last);
        return !*error;
    }
    if (folder_wanted) {
        *error = S_ISDIR(st.st_mode) ? enter_folder(w, name, st) : ENOTDIR;
        return !*error && !last;
    }
    *error = descend_text(w, name);
    w->reached = true;
    w->place->exists = true;
    w->place->st = st;
    if (!*error && S_ISDIR(st.st_mode)) *error = EISDIR;
    if (!*error) *error = check_file_for_writer(w, st);
    if (!*error && S_ISREG(st.st_mode) && w->note) {
        const bool strict = w->strict;  // a writer replaces a file it may not trust
        w->strict = false;
        note_changeable(w, st, false, w->shown);
        w->strict = strict;
    }
    return false;
}

}  // namespace

int safe_walk(const char *path, unsigned flags, mode_t mode, safe_place *place,
              const safe_place *from) {
    safe_place_clear(place);
    walk w;
    w.place = place;
    w.note = (flags & SAFE_NOTE_CHANGEABLE) != 0;
    w.strict = (flags & SAFE_STRICT) != 0;
    int error = start(&w, path, from);
    while (!error && step(&w, flags, mode, &error)) {
    }
    if (!error && !(flags & SAFE_WHOLE_FOLDER) && !w.reached)
        error = path[0] ? EISDIR : ENOENT;  // a path that ends at a folder ("/", "a/.")
    snprintf(place->path, sizeof place->path, "%s", w.shown);
    if (error) {
        if (w.dir >= 0) close(w.dir);
        return error;
    }
    place->folder = w.dir;
    place->folder_st = w.dir_st;
    const char *slash = strrchr(place->path, '/');
    place->name = flags & SAFE_WHOLE_FOLDER ? "" : slash ? slash + 1 : place->path;
    return 0;
}

void safe_release(safe_place *place) {
    if (place->folder >= 0) close(place->folder);
    place->folder = -1;
}

bool is_changeable(const struct stat &st, bool folder, const char *what, const char *path,
                   char *out, size_t size) {
    const unsigned mode = static_cast<unsigned>(st.st_mode & 07777);
    if (!trusted(st.st_uid)) {
        snprintf(out, size, "%s %s is owned by uid %lu, not by root or uid %lu (mode %04o)", what,
                 path, static_cast<unsigned long>(st.st_uid), static_cast<unsigned long>(geteuid()),
                 mode);
        return true;
    }
    // In a sticky folder, others can add names but not replace those of root's.
    if ((st.st_mode & 022) == 0 || (folder && (st.st_mode & S_ISVTX))) return false;
    const char *who = (st.st_mode & 022) == 022 ? "group and others"
                      : st.st_mode & 020        ? "group"
                                                : "others";
    snprintf(out, size, "%s %s is writable by %s (owner uid %lu, mode %04o; %04o would be safe)",
             what, path, who, static_cast<unsigned long>(st.st_uid), mode, mode & 07755);
    return true;
}
