#include "atomic_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/random.h>
#include <time.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

// The temporary file a signal handler removes: set while it exists.
int g_pending_folder = -1;
char g_pending_name[NAME_MAX + 1];
volatile sig_atomic_t g_pending;
bool g_tracking;  // atomic_cleanup_on_signals was called

const int CLEANUP_SIGNALS[] = {SIGINT, SIGTERM, SIGHUP};

void remove_and_end(int sig) {
    if (g_pending) unlinkat(g_pending_folder, g_pending_name, 0);
    // SA_RESETHAND restored the default action: raised again, the signal
    // ends the process as it would have, once the handler returns.
    raise(sig);
}

void block_cleanup_signals(sigset_t *old) {
    sigset_t set;
    sigemptyset(&set);
    for (int sig : CLEANUP_SIGNALS) sigaddset(&set, sig);
    sigprocmask(SIG_BLOCK, &set, old);
}

constexpr size_t RANDOM_PART = 6;  // characters after the suffix

void random_name_part(char out[RANDOM_PART + 1]) {
    static const char LETTERS[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    static unsigned counter;
    unsigned char bytes[RANDOM_PART];
    if (getrandom(bytes, sizeof bytes, GRND_NONBLOCK) != static_cast<ssize_t>(sizeof bytes)) {
        timespec t{};
        clock_gettime(CLOCK_MONOTONIC, &t);
        unsigned long mix = static_cast<unsigned long>(t.tv_nsec) ^
                            static_cast<unsigned long>(getpid()) << 16 ^ counter++ * 2654435761ul;
        for (unsigned char &b : bytes) b = static_cast<unsigned char>(mix >>= 5);
    }
    for (size_t i = 0; i < RANDOM_PART; i++) out[i] = LETTERS[bytes[i] % (sizeof LETTERS - 1)];
    out[RANDOM_PART] = '\0';
}

// How much of the place's name a temporary name keeps: all of it, when
// there is room beside the suffix and the random part.
size_t stem_length(const char *name, const char *suffix) {
    const size_t room = NAME_MAX - strlen(suffix) - RANDOM_PART;
    const size_t length = strlen(name);
    return length < room ? length : room;
}

int make_name(const safe_place *p, const char *suffix, atomic_temp *temp) {
    char random[RANDOM_PART + 1];
    random_name_part(random);
    int n = snprintf(temp->name, sizeof temp->name, "%.*s%s%s",
                     static_cast<int>(stem_length(p->name, suffix)), p->name, suffix, random);
    return n < 0 || static_cast<size_t>(n) >= sizeof temp->name ? ENAMETOOLONG : 0;
}

// Notes the temporary name for the signal handler, with the signals held
// while it appears (make_it returns an errno value).
template <typename Make>
int appear(atomic_temp *temp, Make make_it) {
    sigset_t old;
    if (g_tracking) block_cleanup_signals(&old);
    int error = make_it();
    if (!error) {
        temp->exists = true;
        g_pending_folder = temp->folder;
        memcpy(g_pending_name, temp->name, sizeof g_pending_name);
        g_pending = g_tracking;
    }
    if (g_tracking) sigprocmask(SIG_SETMASK, &old, nullptr);
    return error;
}

// Links the unnamed file in under name. EEXIST when the name is taken.
int link_unnamed(const atomic_temp *temp, int folder, const char *name) {
    char self[64];
    snprintf(self, sizeof self, "/proc/self/fd/%d", temp->fd);
    if (linkat(AT_FDCWD, self, folder, name, AT_SYMLINK_FOLLOW) == 0) return 0;
    if (errno != ENOENT) return errno;  // no /proc: root may link the descriptor itself
    return linkat(temp->fd, "", folder, name, AT_EMPTY_PATH) == 0 ? 0 : errno;
}

// Makes the file: unnamed where the file system can, named otherwise. Its
// lock is taken before it has a name: a named temporary file that nobody
// locks is a dead writer's. The kernel applies the umask to mode.
int create_temp(const safe_place *p, const char *suffix, mode_t mode, atomic_temp *temp) {
    temp->folder = p->folder;
    temp->fd = openat(p->folder, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, mode);
    if (temp->fd >= 0) return flock(temp->fd, LOCK_EX | LOCK_NB) == 0 ? 0 : errno;
    if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) return errno;
    for (int attempt = 0; attempt < 100; attempt++) {
        if (int error = make_name(p, suffix, temp)) return error;
        int error = appear(temp, [temp, mode] {
            temp->fd = openat(temp->folder, temp->name,
                              O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, mode);
            return temp->fd >= 0 ? 0 : errno;
        });
        if (!error) return flock(temp->fd, LOCK_EX | LOCK_NB) == 0 ? 0 : errno;
        if (error != EEXIST) return error;
    }
    return EEXIST;
}

// Names the unnamed file, just before it replaces the place's.
int name_temp(const safe_place *p, const char *suffix, atomic_temp *temp) {
    for (int attempt = 0; attempt < 100 && !temp->exists; attempt++) {
        if (int error = make_name(p, suffix, temp)) return error;
        int error = appear(temp, [temp] { return link_unnamed(temp, temp->folder, temp->name); });
        if (error && error != EEXIST) return error;
    }
    return temp->exists ? 0 : EEXIST;
}

// What a replaced file lends the new one: its group and its permission
// bits, less any write for group or others, and its owner when that is
// root or the running user (root gives it back to them; a file of anyone
// else becomes the writer's).
int take_over(int fd, const struct stat &old) {
    const bool root = geteuid() == 0, trusted = old.st_uid == 0 || old.st_uid == geteuid();
    const uid_t owner = root && trusted ? old.st_uid : static_cast<uid_t>(-1);
    if (fchown(fd, owner, old.st_gid) != 0 && root) return errno;
    return fchmod(fd, old.st_mode & 0755) == 0 ? 0 : errno;
}

int write_all(int fd, const char *text, size_t length) {
    size_t done = 0;
    while (done < length) {
        ssize_t n = write(fd, text + done, length - done);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return errno;
        if (n == 0) return EIO;
        done += static_cast<size_t>(n);
    }
    return 0;
}

}  // namespace

int atomic_resolve(const char *path, unsigned flags, mode_t folder_mode, safe_place *p,
                   const safe_place *from) {
    int error = safe_walk(path, flags & (SAFE_MAKE_FOLDERS | SAFE_STRICT), folder_mode, p, from);
    if (!error && p->exists && !S_ISREG(p->st.st_mode))
        error = S_ISLNK(p->st.st_mode) ? EAGAIN : EINVAL;  // renaming over a device is never meant
    if (!error && (p->folder_st.st_mode & (S_IWOTH | S_ISVTX)) == S_IWOTH) {
        // Anyone may rename files in and out of it: nothing written there stays ours.
        int folder_length = static_cast<int>(p->name - p->path);
        if (folder_length > 1) folder_length--;  // its slash
        snprintf(p->refused, sizeof p->refused,
                 "folder %.*s is writable by others and not sticky (mode %04o)", folder_length,
                 p->path, static_cast<unsigned>(p->folder_st.st_mode & 07777));
        error = EPERM;
    }
    if (error) safe_release(p);
    return error;
}

int atomic_check_writable(const safe_place *p) {
    if (!p->exists) return 0;
    if (geteuid() == 0) return (p->st.st_mode & 0222) ? 0 : EACCES;  // root is kept to the mode too
    return faccessat(p->folder, p->name, W_OK, AT_EACCESS) == 0 ? 0 : errno;
}

int atomic_write_temp(const safe_place *p, const char *suffix, const char *text, size_t length,
                      mode_t new_mode, atomic_temp *temp) {
    temp->exists = false;
    snprintf(temp->suffix, sizeof temp->suffix, "%s", suffix);
    int error = create_temp(p, suffix, new_mode & 0777, temp);
    if (!error && p->exists) error = take_over(temp->fd, p->st);
    if (!error) error = write_all(temp->fd, text, length);
    if (!error && fsync(temp->fd) != 0) error = errno;
    if (error) atomic_discard(temp);
    return error;
}

int atomic_sync_folder(int folder) {
    int fd = openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return errno;
    int error = fsync(fd) == 0 ? 0 : errno;
    close(fd);
    return error;
}

int atomic_commit(atomic_temp *temp, const safe_place *p, bool sync_folder) {
    // A new file is linked in under its own name in one step: a kill leaves
    // nothing behind. One that replaces another (or a name taken since the
    // walk) needs a name of its own first, then the rename.
    int error = temp->exists || p->exists ? EEXIST : link_unnamed(temp, p->folder, p->name);
    if (error == EEXIST) {
        error = name_temp(p, temp->suffix, temp);
        if (!error && renameat(temp->folder, temp->name, p->folder, p->name) != 0) error = errno;
    }
    if (!error) {
        temp->exists = false;
        g_pending = 0;
    }
    if (close(temp->fd) != 0 && !error) error = errno;
    temp->fd = -1;
    if (error) {
        atomic_discard(temp);
        return error;
    }
    return sync_folder ? atomic_sync_folder(p->folder) : 0;
}

void atomic_discard(atomic_temp *temp) {
    if (temp->exists) unlinkat(temp->folder, temp->name, 0);
    if (temp->fd >= 0) close(temp->fd);
    temp->fd = -1;
    temp->exists = false;
    g_pending = 0;
}

namespace {

// Whether name is a temporary name (a stem, suffix, six letters or
// digits) of a file that is_target takes, or of stem when it is null.
bool is_temp_name(const char *name, const char *stem, const char *suffix,
                  bool (*is_target)(const char *, size_t)) {
    const size_t length = strlen(name), suffix_length = strlen(suffix);
    if (length <= suffix_length + RANDOM_PART) return false;
    const size_t kept = length - suffix_length - RANDOM_PART;
    for (const char *c = name + kept + suffix_length; *c; c++)
        if (!isalnum(static_cast<unsigned char>(*c))) return false;
    if (memcmp(name + kept, suffix, suffix_length) != 0) return false;
    if (is_target) return is_target(name, kept);
    return kept == stem_length(stem, suffix) && memcmp(name, stem, kept) == 0;
}

// Removes a dead writer's temporary file: ours, one name only, and locked
// by nobody (a live writer holds its lock until the file is renamed).
void remove_if_stale(int folder, const char *name) {
    int fd = openat(folder, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    struct stat st, now;
    if (fd < 0) return;
    if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == geteuid() && st.st_nlink == 1 &&
        flock(fd, LOCK_EX | LOCK_NB) == 0 &&
        fstatat(folder, name, &now, AT_SYMLINK_NOFOLLOW) == 0 && same_file(st, now))
        unlinkat(folder, name, 0);
    close(fd);
}

}  // namespace

void atomic_remove_temps(const safe_place *p, const char *suffix,
                         bool (*is_target)(const char *, size_t)) {
    int fd = openat(p->folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR *dir = fd >= 0 ? fdopendir(fd) : nullptr;
    if (!dir) {
        if (fd >= 0) close(fd);
        return;
    }
    while (const dirent *entry = readdir(dir))
        if (is_temp_name(entry->d_name, p->name, suffix, is_target))
            remove_if_stale(fd, entry->d_name);
    closedir(dir);
}

void atomic_cleanup_on_signals() {
    g_tracking = true;
    signal(SIGXFSZ, SIG_IGN);
    struct sigaction action {};
    action.sa_handler = remove_and_end;
    action.sa_flags = static_cast<int>(SA_RESETHAND);
    sigemptyset(&action.sa_mask);
    for (int sig : CLEANUP_SIGNALS) {
        struct sigaction old {};
        sigaction(sig, nullptr, &old);
        if (old.sa_handler != SIG_IGN) sigaction(sig, &action, nullptr);  // nohup stays nohup
    }
}

int atomic_folder_begin(const safe_place *p, mode_t mode, atomic_folder *f, safe_place *inside) {
    *f = atomic_folder{-1, {}, {}, false};
    safe_place_clear(inside);
    f->parent = fcntl(p->folder, F_DUPFD_CLOEXEC, 0);
    if (f->parent < 0) return errno;
    snprintf(f->name, sizeof f->name, "%s", p->name);
    atomic_temp named{};
    named.folder = p->folder;
    int error = EEXIST;
    for (int attempt = 0; attempt < 100 && error == EEXIST; attempt++) {
        if ((error = make_name(p, ".part-", &named))) break;
        error = mkdirat(p->folder, named.name, mode) == 0 ? 0 : errno;
    }
    if (error) {
        atomic_folder_discard(f);
        return error;
    }
    memcpy(f->temp, named.name, sizeof f->temp);
    f->exists = true;
    inside->folder = openat(p->folder, f->temp, O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (inside->folder < 0 || fstat(inside->folder, &inside->folder_st) != 0) {
        error = errno;
        safe_release(inside);
        atomic_folder_discard(f);
        return error;
    }
    memcpy(inside->path, p->path, sizeof inside->path);
    inside->name = "";
    return 0;
}

int atomic_folder_commit(atomic_folder *f) {
    if (renameat2(f->parent, f->temp, f->parent, f->name, RENAME_NOREPLACE) != 0) {
        int error = errno;
        atomic_folder_discard(f);
        return error;
    }
    f->exists = false;
    int error = atomic_sync_folder(f->parent);
    atomic_folder_discard(f);  // closes the folder above
    return error;
}

void atomic_folder_discard(atomic_folder *f) {
    if (!f->exists) {
        if (f->parent >= 0) close(f->parent);
        f->parent = -1;
        return;
    }
    int fd = openat(f->parent, f->temp, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    DIR *dir = fd >= 0 ? fdopendir(fd) : nullptr;
    if (!dir && fd >= 0) close(fd);
    struct stat st;
    while (const dirent *entry = dir ? readdir(dir) : nullptr)
        if (fstatat(fd, entry->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode))
            unlinkat(fd, entry->d_name, 0);
    if (dir) closedir(dir);
    unlinkat(f->parent, f->temp, AT_REMOVEDIR);
    f->exists = false;
    atomic_folder_discard(f);
}
