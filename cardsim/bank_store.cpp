// Bank file storage. A separate lock file ("<bank>.lock") serialises the
// writers' read-modify-write; the bank itself is only ever replaced by a
// rename, so a reader sees the old bank or the new one, never a mix.
#include "bank_store.h"

#include <fcntl.h>
#include <limits.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "sim_status.h"

namespace {

constexpr off_t MAX_BANK_BYTES = 64 << 20;

struct bank_paths {
    char bank[PATH_MAX];
    char lock[PATH_MAX];
    char folder[PATH_MAX];
};

bool join(char *out, const char *a, const char *b) {
    int n = snprintf(out, PATH_MAX, "%s%s", a, b);
    return n >= 0 && n < PATH_MAX;
}

const char *nonempty_env(const char *name) {
    const char *v = getenv(name);
    return v && *v ? v : nullptr;
}

bool resolve_paths(bank_paths *p, sim_error *err) {
    const char *base;
    bool ok;
    if ((base = nonempty_env("VELQOR2_SIM_BANK"))) ok = join(p->bank, base, "");
    else if ((base = nonempty_env("XDG_STATE_HOME"))) ok = join(p->bank, base, "/velqor2-sim/bank");
    else if ((base = nonempty_env("HOME")))
        ok = join(p->bank, base, "/.local/state/velqor2-sim/bank");
    else {
        sim_error_set(err, SIM_BANK_UNREADABLE,
                      "bank file unknown: set VELQOR2_SIM_BANK, XDG_STATE_HOME or HOME");
        return false;
    }
    if (!ok) {
        sim_error_set(err, SIM_BANK_UNREADABLE, "bank file path too long: %.200s...", base);
        return false;
    }
    // Writes go to a symbolic link's target, so the link survives the rename.
    struct stat st;
    if (lstat(p->bank, &st) == 0 && S_ISLNK(st.st_mode)) {
        char target[PATH_MAX];
        if (!realpath(p->bank, target)) {
            sim_error_set(err, SIM_BANK_UNREADABLE, "cannot read bank file %s: %s", p->bank,
                          errno == ENOENT ? "dangling symbolic link" : strerror(errno));
            return false;
        }
        memcpy(p->bank, target, sizeof target);
    }
    memcpy(p->folder, p->bank, sizeof p->folder);
    char *slash = strrchr(p->folder, '/');
    if (!slash) strcpy(p->folder, ".");
    else if (slash == p->folder) slash[1] = '\0';
    else *slash = '\0';
    if (!join(p->lock, p->bank, ".lock")) {
        sim_error_set(err, SIM_BANK_UNREADABLE, "bank file path too long: %s", p->bank);
        return false;
    }
    return true;
}

// A file lock held for the life of the scope.
struct scoped_lock {
    int fd = -1;
    scoped_lock() = default;
    scoped_lock(const scoped_lock &) = delete;
    scoped_lock &operator=(const scoped_lock &) = delete;
    ~scoped_lock() {
        if (fd >= 0) close(fd);  // closing releases the lock
    }
    bool acquire(const char *path, int mode) {
        fd = open(path, O_RDWR | O_CREAT | O_CLOEXEC, 0644);
        if (fd < 0 && mode == LOCK_SH) fd = open(path, O_RDONLY | O_CLOEXEC);
        if (fd < 0) return false;
        while (flock(fd, mode) != 0)
            if (errno != EINTR) return false;
        return true;
    }
};

int mkdir_parents(const char *folder) {
    char path[PATH_MAX];
    memcpy(path, folder, PATH_MAX);
    for (char *s = path + 1; *s; s++) {
        if (*s != '/') continue;
        *s = '\0';
        if (mkdir(path, 0755) != 0 && errno != EEXIST) return -1;
        *s = '/';
    }
    return mkdir(path, 0755) != 0 && errno != EEXIST ? -1 : 0;
}

bool read_all(int fd, char *buffer, size_t length) {
    size_t done = 0;
    while (done < length) {
        ssize_t n = read(fd, buffer + done, length - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

// Reads and parses the bank file; the default bank when it does not exist,
// which *is_default tells when given.
bool read_bank(const char *path, sim_bank *out, sim_error *err, bool *is_default = nullptr) {
    int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (is_default) *is_default = fd < 0 && errno == ENOENT;
    if (fd < 0 && errno == ENOENT) {
        if (bank_default(out)) return true;
        sim_error_set(err, SIM_NO_MEMORY, "out of memory building the default bank");
        return false;
    }
    if (fd < 0) {
        sim_error_set(err, SIM_BANK_UNREADABLE, "cannot read bank file %s: %s", path,
                      strerror(errno));
        return false;
    }
    struct stat st;
    const char *problem = nullptr;
    if (fstat(fd, &st) != 0) problem = strerror(errno);
    else if (!S_ISREG(st.st_mode)) problem = "not a regular file";
    else if (st.st_size > MAX_BANK_BYTES) problem = "larger than 64 MiB";
    char *text = nullptr;
    size_t length = problem ? 0 : static_cast<size_t>(st.st_size);
    if (!problem && !(text = static_cast<char *>(malloc(length + 1)))) problem = "out of memory";
    errno = 0;
    if (!problem && !read_all(fd, text, length))
        problem = errno ? strerror(errno) : "file shrank while read";
    close(fd);
    bool ok = false;
    if (problem)
        sim_error_set(err, SIM_BANK_UNREADABLE, "cannot read bank file %s: %s", path, problem);
    else ok = bank_parse(text, length, path, out, err);
    free(text);
    return ok;
}

bool write_all(int fd, const char *data, size_t length) {
    size_t done = 0;
    while (done < length) {
        ssize_t n = write(fd, data + done, length - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

// Writes text to a temporary file beside the bank and renames it over the
// bank. A crash at any point leaves the old bank or the new one.
bool replace_file(const bank_paths *p, const char *text, size_t length, sim_error *err) {
    char temp[PATH_MAX];
    if (!join(temp, p->bank, ".XXXXXX")) {
        sim_error_set(err, SIM_BANK_UNWRITABLE, "cannot write bank file %s: path too long",
                      p->bank);
        return false;
    }
    int fd = mkstemp(temp);
    if (fd < 0) {
        sim_error_set(err, SIM_BANK_UNWRITABLE, "cannot write bank file %s: %s", p->bank,
                      strerror(errno));
        return false;
    }
    struct stat st;
    mode_t mode = stat(p->bank, &st) == 0 ? (st.st_mode & 07777) : 0644;
    bool ok = fchmod(fd, mode) == 0 && write_all(fd, text, length) && fsync(fd) == 0;
    int saved = errno;
    if (close(fd) != 0 && ok) {
        ok = false;
        saved = errno;
    }
    if (ok && rename(temp, p->bank) != 0) {
        ok = false;
        saved = errno;
    }
    if (!ok) {
        unlink(temp);
        sim_error_set(err, SIM_BANK_UNWRITABLE, "cannot write bank file %s: %s", p->bank,
                      saved ? strerror(saved) : "short write");
        return false;
    }
    // Make the rename itself durable.
    int dir = open(p->folder, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        fsync(dir);
        close(dir);
    }
    return true;
}

bool store_in(const bank_paths *p, sim_bank *bank, uint32_t card_id, uint32_t location,
              uint32_t value, sim_error *err) {
    sim_card *card = bank_find_id(bank, card_id);
    if (!card) {
        sim_error_set(err, SIM_NO_SUCH_ID, "no card with ID %u in bank file %s any more",
                      static_cast<unsigned>(card_id), p->bank);
        return false;
    }
    // The bank may have changed since the card was opened: check again.
    if (!bank_check_word(card, location, &value, err)) return false;
    card->words[location] = value;
    size_t length = 0;
    char *text = bank_format(bank, &length);
    if (!text) {
        sim_error_set(err, SIM_NO_MEMORY, "out of memory writing bank file %s", p->bank);
        return false;
    }
    bool ok = replace_file(p, text, length, err);
    free(text);
    return ok;
}

}  // namespace

bool bank_load(sim_bank *out, char *source, size_t source_size, sim_error *err) {
    bank_paths p;
    if (!resolve_paths(&p, err)) return false;
    // Without a lock (no folder yet, or a read-only one) the load is still
    // safe: the bank file is only ever replaced whole.
    scoped_lock lock;
    lock.acquire(p.lock, LOCK_SH);
    bool is_default = false;
    if (!read_bank(p.bank, out, err, &is_default)) return false;
    if (is_default) snprintf(source, source_size, "the default bank (%s not written yet)", p.bank);
    else snprintf(source, source_size, "bank file %s", p.bank);
    return true;
}

bool bank_store_word(uint32_t card_id, uint32_t location, uint32_t value, sim_error *err) {
    bank_paths p;
    if (!resolve_paths(&p, err)) return false;
    if (mkdir_parents(p.folder) != 0) {
        sim_error_set(err, SIM_BANK_UNWRITABLE, "cannot write bank file %s: cannot create %s: %s",
                      p.bank, p.folder, strerror(errno));
        return false;
    }
    scoped_lock lock;
    if (!lock.acquire(p.lock, LOCK_EX)) {
        sim_error_set(err, SIM_BANK_UNWRITABLE,
                      "cannot write bank file %s: cannot open its lock file %s: %s", p.bank, p.lock,
                      strerror(errno));
        return false;
    }
    sim_bank bank{};
    if (!read_bank(p.bank, &bank, err)) return false;
    bool ok = store_in(&p, &bank, card_id, location, value, err);
    bank_free(&bank);
    return ok;
}
