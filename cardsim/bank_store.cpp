// Bank file storage. The protocol, for every process and thread:
//
//  - Readers take no lock and create nothing. Every replacement of the bank
//    is a rename, so a reader sees the old bank or the new one, never a mix,
//    and nothing a reader does can stop a writer or another reader.
//  - A writer serialises its read-modify-write on "<bank>.lock", an flock
//    taken on a file opened without following links, waited for at most
//    lock_wait_ms(). Holding it, the writer checks that the lock file is
//    still the one at that path (a cleaner may have removed it), then locks
//    the bank's folder too, which no cleaner removes while it holds files:
//    a second writer that locked a new lock file after the old one was
//    removed waits there for the first to finish. Then it takes the
//    bank as it is (re-read only when the file changed since its snapshot),
//    writes the new bank to a temporary file beside it and flushes it; just
//    before the rename it checks again that neither the lock file nor the
//    bank was replaced meanwhile, and starts again if one was. After the
//    rename the bank it wrote is the process's copy of the new file.
//  - The first write of a process removes the temporary files that killed
//    writers left: it holds the lock, so none of them is a live writer's.
//  - The library's mutex is never held across any of this I/O.
#include "snapshot.h"

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

enum class attempt { DONE, FAILED, AGAIN };

attempt write_failed(sim_error *err, const bank_target &t, int error) {
    sim_error_set(err, SIM_BANK_UNWRITABLE, "cannot write bank file %s: %s", t.file.path,
                  strerror(error));
    return attempt::FAILED;
}

void clear_leftovers_once(const bank_target &t) {
    static char cleared[PATH_MAX];
    {
        bank_guard guard;
        if (strcmp(cleared, t.file.path) == 0) return;
        memcpy(cleared, t.file.path, sizeof cleared);
    }
    atomic_remove_temps(&t.file, TEMP_MARK);
}

// The new bank, as text: every line of the bank as it is now read and its
// shape checked (a bank that does not load fails the write), the card found
// and checked whole, and its lines written again with the word changed;
// the lines of every other card stay as they are.
struct change {
    uint32_t card_id, location, value;
    size_t index;  // of the card, once found
    file_identity before;
    char *text;
    size_t length;
};

bool prepare(bank_snapshot *s, change *c, sim_error *err) {
    bank_guard guard;
    bank_scan *scan = &s->scan;
    if (!scan_all(scan, err)) return false;
    scan_find(scan, false, c->card_id, &c->index, err);  // the scan is complete: it cannot fail
    if (c->index == NO_CARD) {
        sim_error_set(err, SIM_NO_SUCH_ID, "no card with ID %u in bank file %s any more",
                      c->card_id, s->where.path);
        return false;
    }
    if (!scan_decode(scan, c->index, err)) return false;
    sim_card *card = &scan->bank.cards[c->index];
    if (!bank_check_word(card, c->location, &c->value, err)) return false;
    c->before = s->identity;
    const uint32_t old = card->words[c->location];
    card->words[c->location] = c->value;
    size_t length = 0;
    char *lines = card_format(*card, c->index, c->index + 1 < scan->bank.count, &length);
    card->words[c->location] = old;  // until the file holds it
    c->text = lines ? scan_splice(scan, c->index, lines, length, &c->length) : nullptr;
    free(lines);
    if (!c->text) {
        sim_error_set(err, SIM_NO_MEMORY, "out of memory writing bank file %s", s->where.path);
        return false;
    }
    // Comments of the bank's own may bring it near the limit: a write never
    // makes the bank unreadable.
    if (c->length <= BANK_MAX_BYTES) return true;
    sim_error_set(err, SIM_BANK_UNWRITABLE,
                  "cannot write bank file %s: it would be larger than %zu MiB", s->where.path,
                  BANK_MAX_BYTES >> 20);
    return false;
}

// Whether the bank at the path is still the one this writer read.
bool unchanged(const bank_target &t, const file_identity &before) {
    file_identity now;
    sim_error ignored;
    return identity_of(t.file.path, &now, &ignored) && same_identity(now, before);
}

// The file now holds the change, and so does the snapshot, which becomes
// the process's copy of the new file: unless another thread of this
// process has moved it on already. The lock is still held, so the file at
// the path is the one just written.
void adopt(bank_snapshot *s, change &c, const bank_target &t) {
    int fd = open(t.file.path, O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    struct stat st;
    if (fd < 0) return;  // the next call reads the file
    bool adopted = false;
    if (fstat(fd, &st) == 0 && static_cast<size_t>(st.st_size) == c.length) {
        bank_guard guard;
        adopted = same_identity(s->identity, c.before);
        if (adopted) {
            s->scan.bank.cards[c.index].words[c.location] = c.value;
            scan_moved(&s->scan, c.index, c.text, c.length);
            snapshot_replaced(s, fd, c.text, identity_from(st));
            c.text = nullptr;
        }
    }
    if (!adopted) close(fd);
}

attempt write_change(bank_snapshot *s, const writer_lock &lock, bank_target &t, change *c,
                     sim_error *err) {
    // The file may have been created or replaced since the target was
    // resolved: its mode is taken from the file as it is now.
    t.file.exists = fstatat(t.file.folder, t.file.name, &t.file.st, AT_SYMLINK_NOFOLLOW) == 0;
    if (t.file.exists && !S_ISREG(t.file.st.st_mode)) return write_failed(err, t, EINVAL);
    if (int error = atomic_check_writable(&t.file)) return write_failed(err, t, error);
    if (!prepare(s, c, err)) return attempt::FAILED;
    atomic_temp temp;
    if (int error = atomic_write_temp(&t.file, TEMP_MARK, c->text, c->length, 0666, &temp))
        return write_failed(err, t, error);
    if (!lock.still_held(t) || !unchanged(t, c->before)) {
        atomic_discard(&temp);
        return attempt::AGAIN;
    }
    if (int error = atomic_commit(&temp, &t.file, false)) {
        // Gone: the lock file was removed after the check above, and the
        // writer that took the new lock cleared our temporary file away.
        if (error == ENOENT) return attempt::AGAIN;
        return write_failed(err, t, error);
    }
    // The bank is whole either way: only the rename's durability is at stake.
    atomic_sync_folder(t.file.folder);
    adopt(s, *c, t);
    return attempt::DONE;
}

// One read-modify-write under the lock.
attempt store_once(bank_snapshot *held, bank_target &t, change *c, sim_error *err) {
    writer_lock lock;
    if (!lock.acquire(t, err)) return attempt::FAILED;
    clear_leftovers_once(t);
    bank_snapshot *s = snapshot_fresh(held->where, held, err);
    if (!s) return attempt::FAILED;
    attempt result = write_change(s, lock, t, c, err);
    free(c->text);
    c->text = nullptr;
    bank_guard guard;
    snapshot_unref(s);
    return result;
}

}  // namespace

bool bank_store_word(bank_snapshot *held, uint32_t card_id, uint32_t location, uint32_t value,
                     sim_error *err) {
    bank_target t;
    // Nothing is created beside a bank that is not a regular file (a device,
    // a FIFO): it is refused here, before the lock file is.
    if (!resolve_target(held->where, &t, err)) return false;
    change c{card_id, location, value, NO_CARD, {}, nullptr, 0};
    const long long deadline = now_ms() + lock_wait_ms();
    do {
        attempt a = store_once(held, t, &c, err);
        if (a != attempt::AGAIN) return a == attempt::DONE;
    } while (now_ms() < deadline);
    sim_error_set(err, SIM_BANK_LOCKED,
                  "bank file %s is locked by another process: its lock file kept being replaced",
                  t.file.path);
    return false;
}
