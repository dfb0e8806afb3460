// The simulated card library: the seven operations of velqor2.h over the
// bank file. A handle names a card by its ID; every call answers from the
// bank as the file is at the time of the call (snapshot.h), as a real card
// answers from its EEPROM, and every write goes straight to the file.
#define VELQOR2_BUILDING_LIBRARY
#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <unistd.h>

#include <cinttypes>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "bank.h"
#include "safe_path.h"
#include "sim_status.h"
#include "snapshot.h"
#include "velqor2.h"

namespace {

constexpr unsigned MAX_OPEN = 64;

struct open_card {
    bool used;
    uint32_t generation;  // tells a stale handle from the slot's new card
    uint32_t card_id;
    size_t index;             // the card's place in the snapshot, as last found
    bank_snapshot *snapshot;  // referenced; the bank as this handle last saw it
};

// Under the mutex, as the snapshots are.
open_card g_open[MAX_OPEN];
uint32_t g_generation;

// What this process wrote to each card marked with "fault = cut", counted
// as a power cut would find it: the process ends at the write that comes
// after the bank's number. Under the mutex.
struct cut_count {
    uint32_t card_id;
    uint32_t writes;
};
cut_count g_cuts[MAX_OPEN];
size_t g_cut_count;

// Ends the process, as a power cut would, when this write is the one after
// the card's number; otherwise counts it.
void count_toward_cut(const sim_card &card) {
    if (!card.has_cut) return;
    size_t k = 0;
    while (k < g_cut_count && g_cuts[k].card_id != card.id) k++;
    if (k == g_cut_count && g_cut_count < MAX_OPEN) g_cuts[g_cut_count++] = {card.id, 0};
    if (k < g_cut_count && g_cuts[k].writes++ >= card.cut_after) raise(SIGKILL);
}

// The detail of this thread's last failure, which the status text returns,
// and room for the text of an unknown status.
thread_local sim_error t_last;
thread_local char t_unknown[48];

VELQOR2_STATUS fail(const sim_error &err) {
    t_last = err;
    return err.status;
}

__attribute__((format(printf, 2, 3))) VELQOR2_STATUS fail(VELQOR2_STATUS status, const char *format,
                                                          ...) {
    va_list ap;
    va_start(ap, format);
    sim_error_vset(&t_last, status, format, ap);
    va_end(ap);
    return status;
}

VELQOR2_HANDLE make_handle(unsigned slot, uint32_t generation) {
    return static_cast<VELQOR2_HANDLE>(generation) << 16 | (slot + 1);
}

// The open card of a handle, or null; under the mutex.
open_card *find_open(VELQOR2_HANDLE handle) {
    uint64_t slot = (handle & 0xFFFF) - 1;
    if ((handle & 0xFFFF) == 0 || slot >= MAX_OPEN) return nullptr;
    open_card *o = &g_open[slot];
    return o->used && make_handle(static_cast<unsigned>(slot), o->generation) == handle ? o
                                                                                        : nullptr;
}

VELQOR2_STATUS bad_handle(VELQOR2_HANDLE handle) {
    return fail(SIM_INVALID_HANDLE, "invalid handle 0x%" PRIX64 ": no card is open with it",
                handle);
}

VELQOR2_STATUS gone(const bank_snapshot *s, uint32_t id) {
    char bank[PATH_MAX + 64];
    describe_bank(s, bank, sizeof bank);
    return fail(SIM_NO_SUCH_ID, "card %u is no longer in %s", id, bank);
}

// One call on an open card. The handle's snapshot is checked against the
// file first, without the mutex (one stat; the bank read again when it
// changed); then, under the mutex, the handle keeps the fresh snapshot and
// work runs on its card and returns the call's status.
template <typename Work>
VELQOR2_STATUS on_card(VELQOR2_HANDLE handle, Work work) {
    bank_snapshot *held;
    {
        bank_guard guard;
        open_card *o = find_open(handle);
        if (!o) return bad_handle(handle);
        held = o->snapshot;
        snapshot_ref(held);
    }
    sim_error err;
    bank_snapshot *fresh = snapshot_fresh(held->where, held, &err);
    bank_guard guard;
    snapshot_unref(held);
    if (!fresh) return fail(err);
    open_card *o = find_open(handle);  // another thread may have closed it
    if (o && o->snapshot != fresh) {
        snapshot_unref(o->snapshot);
        o->snapshot = fresh;  // with the reference snapshot_fresh gave
    } else {
        snapshot_unref(fresh);
    }
    if (!o) return bad_handle(handle);
    bank_scan *scan = &o->snapshot->scan;
    if (!scan_find(scan, false, o->card_id, &o->index, &err)) return fail(err);
    if (o->index == NO_CARD) return gone(o->snapshot, o->card_id);
    if (!scan_decode(scan, o->index, &err)) return fail(err);
    return work(scan->bank.cards[o->index], *o);
}

// The card an open selects in the snapshot, its words decoded. Under the mutex.
VELQOR2_STATUS select_card(bank_snapshot *s, bool by_index, uint32_t key, size_t *index) {
    bank_scan *scan = &s->scan;
    sim_error err;
    if (!scan_find(scan, by_index, key, index, &err) ||
        (*index != NO_CARD && !scan_decode(scan, *index, &err)))
        return fail(err);
    char bank[PATH_MAX + 64];
    if (*index == NO_CARD) describe_bank(s, bank, sizeof bank);
    if (*index == NO_CARD && by_index)
        return fail(SIM_NO_SUCH_INDEX, "no card at index %u in %s (it holds %zu)", key, bank,
                    scan->bank.count);
    if (*index == NO_CARD) return fail(SIM_NO_SUCH_ID, "no card with ID %u in %s", key, bank);
    if (scan->bank.cards[*index].faults & FAULT_OPEN)
        return fail(SIM_FAULT, "simulated fault: open of card %u", scan->bank.cards[*index].id);
    return VELQOR2_SUCCESS;
}

VELQOR2_STATUS open_card_where(bool by_index, uint32_t key, VELQOR2_HANDLE *handle) {
    if (!handle) return fail(SIM_NULL_ARGUMENT, "the handle pointer is null");
    // Past the limit no bank can hold a card: the answer needs no bank, so
    // a program can learn from it what "no such card" looks like.
    if (by_index && key > BANK_MAX_CARDS)
        return fail(SIM_NO_SUCH_INDEX, "no card at index %u: a bank holds at most %zu cards", key,
                    BANK_MAX_CARDS);
    sim_error err;
    bank_location where;
    bank_snapshot *s = find_bank(&where, &err) ? snapshot_fresh(where, nullptr, &err) : nullptr;
    if (!s) return fail(err);
    bank_guard guard;
    size_t index;
    VELQOR2_STATUS status = select_card(s, by_index, key, &index);
    unsigned slot = 0;
    while (slot < MAX_OPEN && g_open[slot].used) slot++;
    if (status == VELQOR2_SUCCESS && slot == MAX_OPEN)
        status = fail(SIM_TOO_MANY_OPEN, "too many cards open (at most %u)", MAX_OPEN);
    if (status != VELQOR2_SUCCESS) {
        snapshot_unref(s);
        return status;
    }
    g_open[slot] = {true, ++g_generation, s->scan.bank.cards[index].id, index, s};  // takes s's ref
    *handle = make_handle(slot, g_open[slot].generation);
    return VELQOR2_SUCCESS;
}

VELQOR2_STATUS card_info(VELQOR2_HANDLE handle, VELQOR2_CARD_INFO *info) {
    return on_card(handle, [info](const sim_card &card, [[maybe_unused]] const open_card &o) {
        if (!info) return fail(SIM_NULL_ARGUMENT, "the card information pointer is null");
        if (card.faults & FAULT_INFO)
            return fail(SIM_FAULT, "simulated fault: card information of card %u", card.id);
#ifdef VELQOR2_SIM_FOREIGN_RECORD
        // The tests' stand-in for a maker's library whose record is 1 KiB and
        // holds its own things after what the interface defines: the callers
        // hand it that much room.
        memset(static_cast<void *>(info), 0xA5, 1024);
#else
        *info = VELQOR2_CARD_INFO{};
        info->card_index = static_cast<uint32_t>(o.index);
        info->serial_number = card.serial;
        info->eeprom_words = card.eeprom_words;
        memcpy(info->model_name, card.model, sizeof info->model_name);
        info->model_name[sizeof info->model_name - 1] = '\0';
#endif
        info->card_id = card.id;
        info->board_type = card.board_type;
        return VELQOR2_SUCCESS;
    });
}

VELQOR2_STATUS read_word(VELQOR2_HANDLE handle, uint32_t location, uint32_t *value) {
    return on_card(handle, [location, value](const sim_card &card, const open_card &) {
        sim_error err;
        if (!value) return fail(SIM_NULL_ARGUMENT, "the value pointer is null");
        if (!bank_check_word(&card, location, nullptr, &err)) return fail(err);
        if (read_fails(&card, location))
            return fail(SIM_FAULT, "simulated fault: read of location 0x%X on card %u", location,
                        card.id);
        *value = card.words[location];
        return VELQOR2_SUCCESS;
    });
}

// Checks against the card as the bank holds it now, then stores the word in
// the bank file, without the mutex: the store waits for the file's lock.
VELQOR2_STATUS write_word(VELQOR2_HANDLE handle, uint32_t location, uint32_t value) {
    bank_snapshot *bank = nullptr;
    uint32_t id = 0;
    VELQOR2_STATUS status = on_card(handle, [&](const sim_card &card, const open_card &o) {
        sim_error err;
        if (!bank_check_word(&card, location, &value, &err)) return fail(err);
        if (write_fails(&card, location))
            return fail(SIM_FAULT, "simulated fault: write of location 0x%X on card %u", location,
                        card.id);
        count_toward_cut(card);
        id = card.id;
        bank = o.snapshot;
        snapshot_ref(bank);
        return VELQOR2_SUCCESS;
    });
    if (status != VELQOR2_SUCCESS || !bank) return status;  // the work sets bank when it succeeds
    sim_error err;
    bool stored = bank_store_word(bank, id, location, value, &err);
    bank_guard guard;
    snapshot_unref(bank);
    return stored ? VELQOR2_SUCCESS : fail(err);
}

VELQOR2_STATUS close_card(VELQOR2_HANDLE handle) {
    bank_guard guard;
    open_card *o = find_open(handle);
    if (!o) return bad_handle(handle);
    snapshot_unref(o->snapshot);
    *o = open_card{};
    return VELQOR2_SUCCESS;
}

// --- the call trace -----------------------------------------------------------
// When VELQOR2_SIM_TRACE names a file, each call appends one line
// "Operation arguments -> status".

__attribute__((format(printf, 1, 2))) void trace_call(const char *format, ...) {
    const char *path = getenv("VELQOR2_SIM_TRACE");
    if (!path || !*path) return;
    char line[512];
    va_list ap;
    va_start(ap, format);
    int n = vsnprintf(line, sizeof line - 1, format, ap);  // room for the line feed
    va_end(ap);
    size_t length = n < 0                                      ? 0
                    : static_cast<size_t>(n) < sizeof line - 1 ? static_cast<size_t>(n)
                                                               : sizeof line - 2;
    line[length++] = '\n';
    // One write per line on an O_APPEND file: lines of several processes
    // never interleave. Never blocks: a FIFO without a reader loses the line.
    // Through no link that another user made, as any file a user names.
    safe_place place;
    if (safe_walk(path, 0, 0, &place) != 0) return;
    int fd = openat(place.folder, place.name,
                    O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NONBLOCK | O_NOCTTY | O_NOFOLLOW,
                    0666);
    safe_release(&place);
    if (fd < 0) return;
    ssize_t written = write(fd, line, length);
    (void)written;  // tracing must never change what the call returns
    close(fd);
}

}  // namespace

extern "C" {

VELQOR2_STATUS VELQOR2_OpenCard(uint32_t card_id, VELQOR2_HANDLE *handle) {
    VELQOR2_STATUS status = open_card_where(false, card_id, handle);
    trace_call("OpenCard id=%u -> %u", card_id, status);
    return status;
}

VELQOR2_STATUS VELQOR2_OpenCardByIndex(uint32_t index, VELQOR2_HANDLE *handle) {
    VELQOR2_STATUS status = open_card_where(true, index, handle);
    trace_call("OpenCardByIndex index=%u -> %u", index, status);
    return status;
}

VELQOR2_STATUS VELQOR2_GetCardInfo(VELQOR2_HANDLE handle, VELQOR2_CARD_INFO *info) {
    VELQOR2_STATUS status = card_info(handle, info);
    trace_call("GetCardInfo handle=0x%" PRIX64 " -> %u", handle, status);
    return status;
}

VELQOR2_STATUS VELQOR2_ReadConfig(VELQOR2_HANDLE handle, uint32_t location, uint32_t *value) {
    VELQOR2_STATUS status = read_word(handle, location, value);
    trace_call("ReadConfig handle=0x%" PRIX64 " location=%u -> %u", handle, location, status);
    return status;
}

VELQOR2_STATUS VELQOR2_WriteConfig(VELQOR2_HANDLE handle, uint32_t location, uint32_t value) {
    VELQOR2_STATUS status = write_word(handle, location, value);
    trace_call("WriteConfig handle=0x%" PRIX64 " location=%u value=0x%X -> %u", handle, location,
               value, status);
    return status;
}

VELQOR2_STATUS VELQOR2_CloseCard(VELQOR2_HANDLE handle) {
    VELQOR2_STATUS status = close_card(handle);
    trace_call("CloseCard handle=0x%" PRIX64 " -> %u", handle, status);
    return status;
}

const char *VELQOR2_GetStatusString(VELQOR2_STATUS status) {
    static const char *const TEXTS[] = {"no card with that identifier",
                                        "no card at that index",
                                        "invalid handle",
                                        "location beyond the card's EEPROM",
                                        "value does not fit the card's word",
                                        "bank file unreadable",
                                        "bank file malformed",
                                        "bank file could not be written",
                                        "simulated fault",
                                        "null pointer argument",
                                        "too many cards open",
                                        "out of memory",
                                        "bank file locked by another process"};
    const char *text = t_unknown;
    if (status == VELQOR2_SUCCESS) text = "success";
    else if (status == t_last.status && t_last.text[0]) text = t_last.text;
    else if (status >= SIM_NO_SUCH_ID && status - SIM_NO_SUCH_ID < sizeof TEXTS / sizeof *TEXTS)
        text = TEXTS[status - SIM_NO_SUCH_ID];
    else snprintf(t_unknown, sizeof t_unknown, "unknown status 0x%X", status);
    trace_call("GetStatusString status=%u", status);
    return text;
}

}  // extern "C"
