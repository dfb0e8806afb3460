#include "atomic_file.h"

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
char g_pending_path[PATH_MAX + 16];
volatile sig_atomic_t g_pending;
bool g_tracking;  // atomic_cleanup_on_signals was called

const int CLEANUP_SIGNALS[] = {SIGINT, SIGTERM, SIGHUP};

void remove_and_end(int sig) {
    if (g_pending) unlink(g_pending_path);
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

void random_name_part(char out[7]) {
    static const char LETTERS[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    static unsigned counter;
    unsigned char bytes[6];
    if (getrandom(bytes, sizeof bytes, GRND_NONBLOCK) != static_cast<ssize_t>(sizeof bytes)) {
        timespec t{};
        clock_gettime(CLOCK_MONOTONIC, &t);
        unsigned long mix = static_cast<unsigned long>(t.tv_nsec) ^
                            static_cast<unsigned long>(getpid()) << 16 ^ counter++ * 2654435761u;
        for (unsigned char &b : bytes) b = static_cast<unsigned char>(mix >>= 5);
    }
    for (int i = 0; i < 6; i++) out[i] = LETTERS[bytes[i] % (sizeof LETTERS - 1)];
    out[6] = '\0';
}

// Creates the file exclusively: the kernel applies the umask to 0666.
int create_temp(const atomic_target *t, const char *suffix, atomic_temp *temp) {
    for (int attempt = 0; attempt < 100; attempt++) {
        char random[7];
        random_name_part(random);
        int n = snprintf(temp->path, sizeof temp->path, "%s%s%s", t->path, suffix, random);
        if (n < 0 || static_cast<size_t>(n) >= sizeof temp->path) {
            errno = ENAMETOOLONG;
            return -1;
        }
        sigset_t old;
        if (g_tracking) block_cleanup_signals(&old);
        int fd = open(temp->path, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666);
        int saved = errno;
        if (fd >= 0 && g_tracking) {
            memcpy(g_pending_path, temp->path, sizeof g_pending_path);
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

void sync_folder(const char *folder) {
    int fd = open(folder, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;  // the file is whole either way; only the rename's durability is at stake
    fsync(fd);
    close(fd);
}

// Folder and name of the final path.
int split(atomic_target *t) {
    char *slash = strrchr(t->path, '/');
    if (!slash) {
        strcpy(t->folder, ".");
        t->name = t->path;
    } else {
        size_t folder_length = slash == t->path ? 1 : static_cast<size_t>(slash - t->path);
        memcpy(t->folder, t->path, folder_length);
        t->folder[folder_length] = '\0';
        t->name = slash + 1;
    }
    return strlen(t->name) > NAME_MAX ? ENAMETOOLONG : 0;
}

// The path a link at t->path points to: absolute, or beside the link.
int follow(atomic_target *t) {
    char link[PATH_MAX];
    ssize_t n = readlink(t->path, link, sizeof link - 1);
    if (n < 0) return errno;
    link[n] = '\0';
    char *slash = strrchr(t->path, '/');
    size_t keep = link[0] == '/' || !slash ? 0 : static_cast<size_t>(slash - t->path) + 1;
    if (keep + static_cast<size_t>(n) >= sizeof t->path) return ENAMETOOLONG;
    memcpy(t->path + keep, link, static_cast<size_t>(n) + 1);
    return 0;
}

}  // namespace

int atomic_resolve(const char *path, atomic_target *t) {
    *t = atomic_target{};
    if (strlen(path) >= sizeof t->path) return ENAMETOOLONG;
    strcpy(t->path, path);
    for (int links = 0;; links++) {
        struct stat st;
        if (lstat(t->path, &st) != 0) {
            if (errno != ENOENT) return errno;
            t->through_dangling_link = links > 0;
            return split(t);
        }
        if (!S_ISLNK(st.st_mode)) {
            if (S_ISDIR(st.st_mode)) return EISDIR;
            if (!S_ISREG(st.st_mode)) return EINVAL;  // renaming over a device is never meant
            t->exists = true;
            t->st = st;
            return split(t);
        }
        if (links == 40) return ELOOP;
        if (int error = follow(t)) return error;
    }
}

int atomic_check_writable(const atomic_target *t) {
    if (!t->exists) return 0;
    if (geteuid() == 0) return (t->st.st_mode & 0222) ? 0 : EACCES;  // root is kept to the mode too
    return faccessat(AT_FDCWD, t->path, W_OK, AT_EACCESS) == 0 ? 0 : errno;
}

int atomic_write_temp(const atomic_target *t, const char *suffix, const char *text, size_t length,
                      atomic_temp *temp) {
    temp->exists = false;
    int fd = create_temp(t, suffix, temp);
    if (fd < 0) return errno;
    temp->exists = true;
    int error = t->exists && fchmod(fd, t->st.st_mode & 07777) != 0 ? errno : 0;
    if (!error) error = write_all(fd, text, length);
    if (!error && fsync(fd) != 0) error = errno;
    if (close(fd) != 0 && !error) error = errno;
    if (error) atomic_discard(temp);
    return error;
}

int atomic_commit(atomic_temp *temp, const atomic_target *t) {
    if (rename(temp->path, t->path) != 0) {
        int error = errno;
        atomic_discard(temp);
        return error;
    }
    temp->exists = false;
    g_pending = 0;
    sync_folder(t->folder);
    return 0;
}

void atomic_discard(atomic_temp *temp) {
    if (temp->exists) unlink(temp->path);
    temp->exists = false;
    g_pending = 0;
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
