#include "atomic_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/random.h>
#include <time.h>
#include <unistd.h>

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

// Creates the file exclusively: the kernel applies the umask to mode.
int create_temp(const safe_place *p, const char *suffix, mode_t mode, atomic_temp *temp) {
    temp->folder = p->folder;
    for (int attempt = 0; attempt < 100; attempt++) {
        char random[RANDOM_PART + 1];
        random_name_part(random);
        int n = snprintf(temp->name, sizeof temp->name, "%s%s%s", p->name, suffix, random);
        if (n < 0 || static_cast<size_t>(n) >= sizeof temp->name) {
            errno = ENAMETOOLONG;
            return -1;
        }
        sigset_t old;
        if (g_tracking) block_cleanup_signals(&old);
        int fd = openat(p->folder, temp->name, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW,
                        mode);
        int saved = errno;
        if (fd >= 0 && g_tracking) {
            g_pending_folder = p->folder;
            memcpy(g_pending_name, temp->name, sizeof g_pending_name);
            g_pending = 1;
        }
        if (g_tracking) sigprocmask(SIG_SETMASK, &old, nullptr);
        if (fd >= 0 || saved != EEXIST) {
            errno = saved;
            return fd;
        }
    }
    errno = EEXIST;
    return -1;
}

// What a replaced file lends the new one. Root gives it the old owner, so
// that a user's file stays theirs; anyone else keeps the group when it is
// one of theirs.
int take_over(int fd, const struct stat &old) {
    const bool root = geteuid() == 0;
    if (fchown(fd, root ? old.st_uid : static_cast<uid_t>(-1), old.st_gid) != 0 && root)
        return errno;
    return fchmod(fd, old.st_mode & 0777) == 0 ? 0 : errno;
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
    int error = safe_walk(path, flags & SAFE_MAKE_FOLDERS, folder_mode, p, from);
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
    int fd = create_temp(p, suffix, new_mode & 0777, temp);
    if (fd < 0) return errno;
    temp->exists = true;
    int error = p->exists ? take_over(fd, p->st) : 0;
    if (!error) error = write_all(fd, text, length);
    if (!error && fsync(fd) != 0) error = errno;
    if (close(fd) != 0 && !error) error = errno;
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
    if (renameat(temp->folder, temp->name, p->folder, p->name) != 0) {
        int error = errno;
        atomic_discard(temp);
        return error;
    }
    temp->exists = false;
    g_pending = 0;
    // The file is whole either way; only the rename's durability is at stake.
    if (sync_folder) atomic_sync_folder(p->folder);
    return 0;
}

void atomic_discard(atomic_temp *temp) {
    if (temp->exists) unlinkat(temp->folder, temp->name, 0);
    temp->exists = false;
    g_pending = 0;
}

void atomic_remove_temps(const safe_place *p, const char *suffix) {
    int fd = openat(p->folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR *dir = fd >= 0 ? fdopendir(fd) : nullptr;
    if (!dir) {
        if (fd >= 0) close(fd);
        return;
    }
    const size_t name_length = strlen(p->name), suffix_length = strlen(suffix);
    while (const dirent *entry = readdir(dir)) {
        const char *n = entry->d_name;
        struct stat st;
        if (strlen(n) == name_length + suffix_length + RANDOM_PART &&
            memcmp(n, p->name, name_length) == 0 &&
            memcmp(n + name_length, suffix, suffix_length) == 0 &&
            fstatat(fd, n, &st, AT_SYMLINK_NOFOLLOW) == 0 && !S_ISDIR(st.st_mode))
            unlinkat(fd, n, 0);
    }
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
