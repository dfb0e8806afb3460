// Snapshots of the bank file and the process's cache of the latest one.
#include "snapshot.h"

#include <fcntl.h>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "sim_status.h"

namespace {

bank_snapshot *g_latest;  // the last snapshot loaded; the cache that opens share

bool unreadable(sim_error *err, const char *path, const char *problem) {
    sim_error_set(err, SIM_BANK_UNREADABLE, "cannot read bank file %s: %s", path, problem);
    return false;
}

file_identity identity_from(const struct stat &st) {
    return {true, st.st_dev, st.st_ino, st.st_size, st.st_mtim, st.st_ctim, st.st_mode};
}

// Reads length bytes; returns null, or why not.
const char *read_all(int fd, char *buffer, size_t length) {
    size_t done = 0;
    while (done < length) {
        ssize_t n = read(fd, buffer + done, length - done);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return strerror(errno);
        if (n == 0) return "file shrank while read";
        done += static_cast<size_t>(n);
    }
    return nullptr;
}

// The file's bytes and the identity of the file they came from, which
// stays open as *fd. The open never blocks: anything but a regular file is
// refused.
bool read_file(const char *path, file_identity *id, int *fd, char **text, size_t *length,
               bool *missing, sim_error *err) {
    *fd = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    *missing = *fd < 0 && errno == ENOENT;
    if (*fd < 0) return unreadable(err, path, strerror(errno));
    struct stat st;
    const char *problem = nullptr;
    if (fstat(*fd, &st) != 0) problem = strerror(errno);
    else if (!S_ISREG(st.st_mode)) problem = "not a regular file";
    else if (static_cast<uint64_t>(st.st_size) > BANK_MAX_BYTES) problem = "larger than 64 MiB";
    *length = problem ? 0 : static_cast<size_t>(st.st_size);
    *text = nullptr;
    if (!problem && !(*text = static_cast<char *>(malloc(*length + 1)))) problem = "out of memory";
    if (!problem) problem = read_all(*fd, *text, *length);
    if (problem) {
        close(*fd);
        *fd = -1;
        free(*text);
        *text = nullptr;
        return unreadable(err, path, problem);
    }
    *id = identity_from(st);
    return true;
}

// Whether nothing at all is at path, which is then the built-in bank; a
// dangling link is refused.
bool no_file(const char *path, sim_error *err) {
    struct stat st;
    if (lstat(path, &st) != 0) return true;
    return unreadable(err, path, "dangling symbolic link");
}

bank_snapshot *load(const bank_location &where, sim_error *err) {
    auto *s = static_cast<bank_snapshot *>(calloc(1, sizeof(bank_snapshot)));
    if (!s) {
        sim_error_set(err, SIM_NO_MEMORY, "out of memory reading bank file %s", where.path);
        return nullptr;
    }
    s->refs = 1;
    copy_location(&s->where, where);
    bool missing = false;
    bool ok = read_file(where.path, &s->identity, &s->fd, &s->text, &s->length, &missing, err);
    if (ok) {
        scan_start(&s->scan, s->text, s->length, s->where.path);
    } else if (missing && no_file(where.path, err)) {
        sim_bank bank{};  // no file yet: the built-in bank, until the first write
        ok = bank_default(&bank) && scan_adopt(&s->scan, &bank, s->where.path);
        if (!ok) sim_error_set(err, SIM_NO_MEMORY, "out of memory building the default bank");
        bank_free(&bank);
    }
    if (ok) return s;
    snapshot_unref(s);
    return nullptr;
}

bool is_current(const bank_snapshot *s, const bank_location &where, const file_identity &now) {
    return s && same_identity(s->identity, now) &&
           (&where == &s->where || strcmp(s->where.path, where.path) == 0);
}

}  // namespace

bool same_identity(const file_identity &a, const file_identity &b) {
    if (a.exists != b.exists) return false;
    return !a.exists || (a.dev == b.dev && a.ino == b.ino && a.size == b.size &&
                         a.mtime.tv_sec == b.mtime.tv_sec && a.mtime.tv_nsec == b.mtime.tv_nsec &&
                         a.ctime.tv_sec == b.ctime.tv_sec && a.ctime.tv_nsec == b.ctime.tv_nsec);
}

bool identity_of(const char *path, file_identity *out, sim_error *err) {
    struct stat st;
    bool exists = lstat(path, &st) == 0;
    if (exists && S_ISLNK(st.st_mode) && stat(path, &st) != 0) {
        if (errno != ENOENT) return unreadable(err, path, strerror(errno));
        return unreadable(err, path, "dangling symbolic link");
    }
    if (!exists && errno != ENOENT) return unreadable(err, path, strerror(errno));
    if (!exists) {
        *out = file_identity{};
        return true;
    }
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
    bool cached;
    {
        bank_guard guard;
        cached = held || g_latest;
    }
    // With nothing to compare it with, the identity is the one the read finds.
    if (cached && !identity_of(where.path, &now, err)) return nullptr;
    if (cached) {
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

void snapshot_replaced(bank_snapshot *snapshot, int fd, const file_identity &identity) {
    free(snapshot->text);
    if (snapshot->fd >= 0) close(snapshot->fd);
    snapshot->fd = fd;
    snapshot->text = nullptr;
    snapshot->length = 0;
    snapshot->scan.text = nullptr;
    snapshot->scan.length = 0;
    snapshot->identity = identity;
}

void describe_bank(const bank_snapshot *snapshot, char *out, size_t size) {
    snprintf(out, size,
             snapshot->identity.exists ? "bank file %s" : "the default bank (%s not written yet)",
             snapshot->where.path);
}
