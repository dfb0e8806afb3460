// The bank's location, its folder, the writers' lock file and their
// temporary files. Nothing here follows a link it was not asked to, or
// blocks on a special file.
#include "bank_files.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "number.h"
#include "sim_status.h"

namespace {

constexpr unsigned DEFAULT_LOCK_WAIT_MS = 5000;
constexpr unsigned MAX_LOCK_WAIT_MS = 60000;

// a then b, when they fit.
template <size_t N>
bool copy_path(char (&out)[N], const char *a, const char *b = "") {
    int n = snprintf(out, N, "%s%s", a, b);
    return n >= 0 && static_cast<size_t>(n) < N;
}

const char *variable(const char *name) {
    const char *value = getenv(name);
    return value && *value ? value : nullptr;
}

void pause_ms(long ms) {
    timespec t{ms / 1000, (ms % 1000) * 1000000L};
    while (nanosleep(&t, &t) != 0 && errno == EINTR) continue;  // the rest of it
}

bool unwritable(sim_error *err, const char *bank, const char *problem) {
    sim_error_set(err, SIM_BANK_UNWRITABLE, "cannot write bank file %s: %s", bank, problem);
    return false;
}

// Opens the lock file without following a link and without blocking.
bool open_lock(const bank_target &t, int *fd, sim_error *err) {
    *fd = openat(t.file.folder, t.lock_name,
                 O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY, 0666);
    struct stat st;
    const char *problem = *fd < 0 && errno == ELOOP ? "it is a symbolic link"
                          : *fd < 0                 ? strerror(errno)
                          : fstat(*fd, &st) != 0    ? strerror(errno)
                          : !S_ISREG(st.st_mode)    ? "not a regular file"
                                                    : nullptr;
    if (!problem) return true;
    sim_error_set(err, SIM_BANK_UNWRITABLE,
                  "cannot write bank file %s: cannot open its lock file %s: %s", t.file.path,
                  t.lock, problem);
    return false;
}

}  // namespace

long long now_ms() {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<long long>(t.tv_sec) * 1000 + t.tv_nsec / 1000000;
}

unsigned lock_wait_ms() {
    const char *text = getenv("VELQOR2_SIM_LOCK_WAIT_MS");
    number_read r;
    if (!text || !read_number(text, 0, &r) || r.value > MAX_LOCK_WAIT_MS)
        return DEFAULT_LOCK_WAIT_MS;
    return r.value;
}

bool find_bank(bank_location *where, sim_error *err) {
    const char *base = variable("VELQOR2_SIM_BANK");
    bool ok;
    where->named = base != nullptr;
    if (base) {
        ok = copy_path(where->path, base);
    } else if ((base = variable("XDG_STATE_HOME")) && base[0] == '/') {
        ok = copy_path(where->path, base, "/velqor2-sim/bank");  // a relative one is ignored
    } else if ((base = variable("HOME"))) {
        ok = copy_path(where->path, base, "/.local/state/velqor2-sim/bank");
    } else {
        sim_error_set(err, SIM_BANK_UNREADABLE,
                      "bank file unknown: set VELQOR2_SIM_BANK, XDG_STATE_HOME or HOME");
        return false;
    }
    if (!ok) sim_error_set(err, SIM_BANK_UNREADABLE, "bank file path too long: %.200s...", base);
    return ok;
}

bool resolve_target(const bank_location &where, bank_target *t, sim_error *err) {
    // The state folder under the XDG default is private; one that the user
    // named is made as the umask says.
    int error = atomic_resolve(where.path, SAFE_MAKE_FOLDERS, where.named ? 0777 : 0700, &t->file);
    if (error == EPERM) return unwritable(err, where.path, t->file.refused);
    if (error == EISDIR || error == EINVAL)
        return unwritable(err, t->file.path, "not a regular file");
    if (error == 0 && t->file.through_link && !t->file.exists)
        return unwritable(err, where.path, "dangling symbolic link");
    if (error == 0 && (!copy_path(t->lock, t->file.path, ".lock") ||
                       !copy_path(t->lock_name, t->file.name, ".lock")))
        error = ENAMETOOLONG;
    if (error == ENAMETOOLONG) {
        sim_error_set(err, SIM_BANK_UNWRITABLE, "bank file path too long: %.200s...", where.path);
        return false;
    }
    return error == 0 || unwritable(err, where.path, strerror(error));
}

bool writer_lock::acquire(const bank_target &t, sim_error *err) {
    const unsigned wait = lock_wait_ms();
    const long long deadline = now_ms() + wait;
    long wait_ms = 1;
    for (;;) {
        if (fd < 0 && !open_lock(t, &fd, err)) {
            release();
            return false;
        }
        bool locked = flock(fd, LOCK_EX | LOCK_NB) == 0;
        if (locked && still_held(t)) {
            if (lock_folder(t)) return true;
            // else the writer of a removed lock file still works: wait for it
        } else if (locked) {
            release();  // removed or replaced while we waited: start again
        } else if (errno != EWOULDBLOCK && errno != EINTR) {
            sim_error_set(err, SIM_BANK_UNWRITABLE, "cannot write bank file %s: cannot lock %s: %s",
                          t.file.path, t.lock, strerror(errno));
            release();
            return false;
        }
        if (now_ms() >= deadline) {
            char waited[32];
            if (wait % 1000 == 0) snprintf(waited, sizeof waited, "%u s", wait / 1000);
            else snprintf(waited, sizeof waited, "%u ms", wait);
            sim_error_set(err, SIM_BANK_LOCKED,
                          "bank file %s is locked by another process: gave up after waiting %s "
                          "for %s",
                          t.file.path, waited, t.lock);
            release();
            return false;
        }
        pause_ms(wait_ms);
        wait_ms = wait_ms < 32 ? wait_ms * 2 : 50;
    }
}

bool writer_lock::still_held(const bank_target &t) const {
    struct stat held, now;
    return fd >= 0 && fstat(fd, &held) == 0 &&
           fstatat(t.file.folder, t.lock_name, &now, AT_SYMLINK_NOFOLLOW) == 0 &&
           same_file(held, now);
}

bool writer_lock::lock_folder(const bank_target &t) {
    if (folder_fd < 0)
        folder_fd = openat(t.file.folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NONBLOCK);
    if (folder_fd < 0) return true;
    return flock(folder_fd, LOCK_EX | LOCK_NB) == 0 || (errno != EWOULDBLOCK && errno != EINTR);
}

void writer_lock::release() {
    if (fd >= 0) close(fd);  // closing releases the lock
    if (folder_fd >= 0) close(folder_fd);
    fd = folder_fd = -1;
}
