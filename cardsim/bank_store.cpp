// Bank file storage. Readers read the file as it is; writers serialise
// their read-modify-write on the lock file "<bank>.lock" and replace the
// bank only by a rename, so a reader sees the old bank or the new one,
// never a mix, and nothing a reader does can stop it or another process.
#include "bank_store.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "bank_files.h"
#include "sim_status.h"

namespace {

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

// What a read found: the file's identity, or that there is none yet.
struct bank_state {
    bool exists;
    struct stat st;
};

bool unreadable(sim_error *err, const char *path, const char *problem) {
    sim_error_set(err, SIM_BANK_UNREADABLE, "cannot read bank file %s: %s", path, problem);
    return false;
}

// Reads and parses the bank file; the default bank when there is none.
// The open never blocks: anything but a regular file is refused.
bool read_bank(const char *path, const bank_selection &which, sim_bank *out, sim_error *err,
               bank_state *state) {
    int fd = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    state->exists = fd >= 0;
    if (fd < 0 && errno == ENOENT) {
        struct stat link;
        if (lstat(path, &link) == 0) return unreadable(err, path, "dangling symbolic link");
        if (bank_default(which, out)) return true;
        sim_error_set(err, SIM_NO_MEMORY, "out of memory building the default bank");
        return false;
    }
    if (fd < 0) return unreadable(err, path, strerror(errno));
    const char *problem = nullptr;
    if (fstat(fd, &state->st) != 0) problem = strerror(errno);
    else if (!S_ISREG(state->st.st_mode)) problem = "not a regular file";
    else if (static_cast<uint64_t>(state->st.st_size) > BANK_MAX_BYTES)
        problem = "larger than 64 MiB";
    char *text = nullptr;
    size_t length = problem ? 0 : static_cast<size_t>(state->st.st_size);
    if (!problem && !(text = static_cast<char *>(malloc(length + 1)))) problem = "out of memory";
    if (!problem) problem = read_all(fd, text, length);
    close(fd);
    bool ok =
        problem ? unreadable(err, path, problem) : bank_parse(text, length, path, which, out, err);
    free(text);
    return ok;
}

bool unwritable(sim_error *err, const char *bank, int error) {
    sim_error_set(err, SIM_BANK_UNWRITABLE, "cannot write bank file %s: %s", bank,
                  error ? strerror(error) : "short write");
    return false;
}

// Writes text to a new temporary file beside the bank, flushed to the disk.
bool write_temporary(const bank_target &t, const bank_state &state, const char *text, size_t length,
                     char *temp, sim_error *err) {
    int n = snprintf(temp, PATH_MAX, "%s%sXXXXXX", t.bank, TEMP_MARK);
    if (n < 0 || n >= PATH_MAX) return unwritable(err, t.bank, ENAMETOOLONG);
    int fd = mkstemp(temp);
    if (fd < 0) return unwritable(err, t.bank, errno);
    mode_t mask = umask(0);
    umask(mask);
    mode_t mode = state.exists ? (state.st.st_mode & 07777) : (0666 & ~mask);
    bool ok = fchmod(fd, mode) == 0 && write_all(fd, text, length) && fsync(fd) == 0;
    int saved = errno;
    if (close(fd) != 0 && ok) {
        ok = false;
        saved = errno;
    }
    if (!ok) {
        unlink(temp);
        return unwritable(err, t.bank, saved);
    }
    return true;
}

// Changes the word in the bank as read and writes the result beside it.
bool prepare(const bank_target &t, sim_bank *bank, uint32_t card_id, uint32_t location,
             uint32_t value, const bank_state &state, char *temp, sim_error *err) {
    sim_card *card = bank_find_id(bank, card_id);
    if (!card) {
        sim_error_set(err, SIM_NO_SUCH_ID, "no card with ID %u in bank file %s any more",
                      static_cast<unsigned>(card_id), t.bank);
        return false;
    }
    // The bank may have changed since the card was opened: check again.
    if (!bank_check_word(card, location, &value, err)) return false;
    card->words[location] = value;
    size_t length = 0;
    char *text = bank_format(bank, &length);
    if (!text) {
        sim_error_set(err, SIM_NO_MEMORY, "out of memory writing bank file %s", t.bank);
        return false;
    }
    bool ok = false;
    // Unreachable within the bank's limits; a write never makes the bank unreadable.
    if (length > BANK_MAX_BYTES)
        sim_error_set(err, SIM_BANK_UNWRITABLE,
                      "cannot write bank file %s: it would be larger than 64 MiB", t.bank);
    else ok = write_temporary(t, state, text, length, temp, err);
    free(text);
    return ok;
}

// Whether the bank at the path is still the one this writer read.
bool unchanged(const bank_target &t, const bank_state &state) {
    struct stat now;
    if (lstat(t.bank, &now) != 0) return !state.exists && errno == ENOENT;
    return state.exists && now.st_dev == state.st.st_dev && now.st_ino == state.st.st_ino;
}

void sync_folder(const bank_target &t) {
    int dir = open(t.folder, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir < 0) return;
    fsync(dir);  // makes the rename itself durable
    close(dir);
}

enum class attempt { DONE, FAILED, AGAIN };

// One read-modify-write under the lock. It starts again when the lock file
// or the bank turned out to have been replaced under it.
attempt store_once(const bank_target &t, uint32_t card_id, uint32_t location, uint32_t value,
                   sim_error *err) {
    writer_lock lock;
    if (!lock.acquire(t, err)) return attempt::FAILED;
    remove_leftovers(t);
    sim_bank bank{};
    bank_state state{};
    if (!read_bank(t.bank, BANK_ALL, &bank, err, &state)) return attempt::FAILED;
    char temp[PATH_MAX];
    bool ok = false;
    if (state.exists && !may_write(t.bank, state.st)) unwritable(err, t.bank, EACCES);
    else ok = prepare(t, &bank, card_id, location, value, state, temp, err);
    bank_free(&bank);
    if (!ok) return attempt::FAILED;
    if (!lock.still_held(t) || !unchanged(t, state)) {
        unlink(temp);
        return attempt::AGAIN;
    }
    if (rename(temp, t.bank) != 0) {
        int saved = errno;
        unlink(temp);
        // Gone: the lock file was removed after the check above, and the
        // writer that took the new lock cleared our temporary file away.
        if (saved == ENOENT) return attempt::AGAIN;
        unwritable(err, t.bank, saved);
        return attempt::FAILED;
    }
    sync_folder(t);
    return attempt::DONE;
}

}  // namespace

bool bank_load(const bank_selection &which, sim_bank *out, bank_origin *origin, sim_error *err) {
    bank_state state{};
    if (!find_bank(&origin->where, err) || !read_bank(origin->where.path, which, out, err, &state))
        return false;
    origin->is_default = !state.exists;
    return true;
}

bool bank_store_word(uint32_t card_id, uint32_t location, uint32_t value, sim_error *err) {
    bank_location where;
    bank_target t;
    if (!find_bank(&where, err) || !resolve_target(where, &t, err)) return false;
    // Nothing is created beside a bank that is not a regular file (a device,
    // a FIFO): it is refused before the lock file is.
    struct stat st;
    if (stat(t.bank, &st) == 0 && !S_ISREG(st.st_mode)) {
        sim_error_set(err, SIM_BANK_UNWRITABLE, "cannot write bank file %s: not a regular file",
                      t.bank);
        return false;
    }
    if (!make_folder(t, err)) return false;
    const double deadline = now_seconds() + BANK_LOCK_WAIT_SECONDS;
    while (now_seconds() < deadline) {
        attempt a = store_once(t, card_id, location, value, err);
        if (a != attempt::AGAIN) return a == attempt::DONE;
    }
    sim_error_set(err, SIM_BANK_LOCKED,
                  "bank file %s is locked by another process: its lock file kept being replaced",
                  t.bank);
    return false;
}
