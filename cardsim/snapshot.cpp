// Snapshots of the bank file and the process's cache of the latest one.
#include "snapshot.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "sim_status.h"

pthread_mutex_t g_bank_mutex = PTHREAD_MUTEX_INITIALIZER;

namespace {

bank_snapshot *g_latest;  // the last snapshot loaded; the cache that opens share

bool unreadable(sim_error *err, const char *path, const char *problem) {
    sim_error_set(err, SIM_BANK_UNREADABLE, "cannot read bank file %s: %s", path, problem);
    return false;
}

// The file's bytes; why not, or null. The open never blocks, and anything
// but a regular file is refused; the file stays open as s->fd.
const char *read_file(bank_snapshot *s, size_t *length, bool *missing) {
    struct stat st;
    s->fd = open(s->where.path, O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    *missing = s->fd < 0 && errno == ENOENT;
    if (s->fd < 0 || fstat(s->fd, &st) != 0) return strerror(errno);
    if (!S_ISREG(st.st_mode)) return "not a regular file";
    static constexpr fixed_text TOO_LARGE =
        fixed_text{}.add("larger than ").add(BANK_MAX_BYTES >> 20).add(" MiB");
    if (static_cast<uint64_t>(st.st_size) > BANK_MAX_BYTES) return TOO_LARGE.text;
    s->identity = identity_from(st);
    *length = static_cast<size_t>(st.st_size);
    if (!(s->text = static_cast<char *>(malloc(*length + 1)))) return "out of memory";
    for (size_t done = 0; done < *length;) {
        ssize_t n = read(s->fd, s->text + done, *length - done);
        if (n < 0 && errno != EINTR) return strerror(errno);
        if (n == 0) return "file shrank while read";
        if (n > 0) done += static_cast<size_t>(n);
    }
    return nullptr;
}

// No file at all (not even a dangling link) is the built-in bank, as text.
bool read_default(bank_snapshot *s, size_t *length, sim_error *err) {
    struct stat st;
    if (lstat(s->where.path, &st) == 0)
        return unreadable(err, s->where.path, "dangling symbolic link");
    sim_bank bank{};
    s->text = bank_default(&bank) ? bank_format(&bank, length) : nullptr;
    bank_free(&bank);
    if (!s->text) sim_error_set(err, SIM_NO_MEMORY, "out of memory building the default bank");
    return s->text != nullptr;
}

bank_snapshot *load(const bank_location &where, sim_error *err) {
    auto *s = static_cast<bank_snapshot *>(calloc(1, sizeof(bank_snapshot)));
    if (!s) {
        sim_error_set(err, SIM_NO_MEMORY, "out of memory reading bank file %s", where.path);
        return nullptr;
    }
    s->refs = 1;
    s->where = where;
    size_t length = 0;
    bool missing;
    const char *problem = read_file(s, &length, &missing);
    bool ok = !problem || (missing && read_default(s, &length, err));
    if (problem && !missing) unreadable(err, where.path, problem);
    scan_start(&s->scan, s->text, length, s->where.path);
    if (ok) return s;
    snapshot_unref(s);
    return nullptr;
}

bool is_current(const bank_snapshot *s, const bank_location &where, const file_identity &now) {
    return s && same_identity(s->identity, now) && strcmp(s->where.path, where.path) == 0;
}

}  // namespace

file_identity identity_from(const struct stat &st) {
    return {true, st.st_dev, st.st_ino, st.st_size, st.st_mtim, st.st_ctim};
}

bool same_identity(const file_identity &a, const file_identity &b) {
    return a.exists == b.exists &&
           (!a.exists || (a.dev == b.dev && a.ino == b.ino && a.size == b.size &&
                          a.mtime.tv_sec == b.mtime.tv_sec && a.mtime.tv_nsec == b.mtime.tv_nsec &&
                          a.ctime.tv_sec == b.ctime.tv_sec && a.ctime.tv_nsec == b.ctime.tv_nsec));
}

bool identity_of(const char *path, file_identity *out, sim_error *err) {
    struct stat st;
    *out = file_identity{};
    if (lstat(path, &st) != 0) return errno == ENOENT || unreadable(err, path, strerror(errno));
    if (S_ISLNK(st.st_mode) && stat(path, &st) != 0)
        return unreadable(err, path, errno == ENOENT ? "dangling symbolic link" : strerror(errno));
    if (!S_ISREG(st.st_mode)) return unreadable(err, path, "not a regular file");
    *out = identity_from(st);
    return true;
}

void snapshot_free(bank_snapshot *snapshot) {
    if (snapshot->fd >= 0) close(snapshot->fd);
    scan_free(&snapshot->scan);
    free(snapshot->text);
    free(snapshot);
}

bank_snapshot *snapshot_fresh(const bank_location &where, bank_snapshot *held, sim_error *err) {
    file_identity now;
    if (!identity_of(where.path, &now, err)) return nullptr;
    {
        bank_guard guard;
        bank_snapshot *current = is_current(held, where, now)       ? held
                                 : is_current(g_latest, where, now) ? g_latest
                                                                    : nullptr;
        if (current) {
            snapshot_ref(current);
            return current;
        }
    }
    bank_snapshot *loaded = load(where, err);
    if (!loaded) return nullptr;
    bank_guard guard;
    if (g_latest) snapshot_unref(g_latest);
    g_latest = loaded;
    snapshot_ref(loaded);
    return loaded;
}

void snapshot_replaced(bank_snapshot *snapshot, int fd, char *text, const file_identity &identity) {
    if (snapshot->fd >= 0) close(snapshot->fd);
    free(snapshot->text);
    snapshot->text = text;
    snapshot->fd = fd;
    snapshot->identity = identity;
}

void describe_bank(const bank_snapshot *snapshot, char *out, size_t size) {
    snprintf(out, size,
             snapshot->identity.exists ? "bank file %s" : "the default bank (%s not written yet)",
             snapshot->where.path);
}
