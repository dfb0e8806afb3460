// The simulated card library: the seven operations of velqor2.h over the
// bank file. A handle names a card by its ID; every call answers from the
// bank as the file is at the time of the call (snapshot.h), as a real card
// answers from its EEPROM, and every write goes straight to the file.
#define VELQOR2_BUILDING_LIBRARY
#include <limits.h>
#include <pthread.h>

#include <cinttypes>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "bank.h"
#include "bank_store.h"
#include "sim_status.h"
#include "snapshot.h"
#include "trace.h"
#include "velqor2.h"

namespace {

constexpr unsigned MAX_OPEN = 64;

struct open_card {
    bool used;
    uint32_t generation;  // tells a stale handle from the slot's new card
    uint32_t card_id;
    size_t index;             // the card's place in the snapshot, as last found
    bank_snapshot *snapshot;  // referenced; the bank as this handle last saw it
    // The card's words in that snapshot when no read of the card is marked
    // to fail, else null: all a read needs while the file is unchanged. They
    // stay where they are while the slot holds the snapshot.
    const uint32_t *plain_words;
    uint32_t word_count;
};

// Notes where the card is in the slot's snapshot, for the next call.
void remember(open_card *o, const sim_card &card, size_t index) {
    o->index = index;
    bool plain = !(card.faults & FAULT_READ) && card.read_faults.count == 0;
    o->plain_words = plain ? card.words : nullptr;
    o->word_count = card.eeprom_words;
}

// Under the mutex of snapshot.h, as the snapshots are.
open_card g_open[MAX_OPEN];
uint32_t g_generation;

// The texts of this thread: the detail of its last failure, which the status
// text returns, and room for the text of an unknown status. Kept through a
// key of the threads library rather than thread-local storage: loading the
// library then costs nothing for them, and a call that succeeds never
// touches them. The threads library frees a thread's texts when it ends.
struct thread_texts {
    sim_error last;
    char unknown[48];
};

pthread_once_t g_texts_once = PTHREAD_ONCE_INIT;
pthread_key_t g_texts_key;
bool g_texts_keyed;
thread_texts g_shared_texts;  // when memory runs out: shared, but never a crash

void make_texts_key() { g_texts_keyed = pthread_key_create(&g_texts_key, free) == 0; }

thread_texts *texts() {
    pthread_once(&g_texts_once, make_texts_key);
    if (!g_texts_keyed) return &g_shared_texts;
    auto *t = static_cast<thread_texts *>(pthread_getspecific(g_texts_key));
    if (t) return t;
    t = static_cast<thread_texts *>(calloc(1, sizeof(thread_texts)));
    if (t && pthread_setspecific(g_texts_key, t) == 0) return t;
    free(t);
    return &g_shared_texts;
}

VELQOR2_STATUS fail(const sim_error &err) {
    texts()->last = err;
    return err.status;
}

VELQOR2_STATUS fail(VELQOR2_STATUS status, const char *format, ...)
    __attribute__((format(printf, 2, 3)));

VELQOR2_STATUS fail(VELQOR2_STATUS status, const char *format, ...) {
    va_list ap;
    va_start(ap, format);
    sim_error_vset(&texts()->last, status, format, ap);
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

// The card with that ID in the snapshot, its words decoded; index is where
// it was last time, and where it is now. Under the mutex.
[[gnu::noinline]] sim_card *find_card(bank_snapshot *s, uint32_t id, size_t *index,
                                      sim_error *err) {
    bank_scan *scan = &s->scan;
    size_t at = *index;
    if (at >= scan_complete(scan) || scan->bank.cards[at].id != id) {
        if (!scan_find_id(scan, id, &at, err)) return nullptr;
        if (at == NO_CARD) {
            char bank[PATH_MAX + 64];
            describe_bank(s, bank, sizeof bank);
            sim_error_set(err, SIM_NO_SUCH_ID, "card %u is no longer in %s",
                          static_cast<unsigned>(id), bank);
            return nullptr;
        }
    }
    if (!scan_decode(scan, at, err)) return nullptr;
    *index = at;
    return &scan->bank.cards[at];
}

// The handle's card, when it is where the handle last found it: nearly
// every call, which then costs a few loads.
inline sim_card *known_card(const open_card &o) {
    const bank_scan &scan = o.snapshot->scan;
    if (o.index >= scan_complete(&scan)) return nullptr;
    sim_card *card = &scan.bank.cards[o.index];
    return card->id == o.card_id && card->words ? card : nullptr;
}

// One call on an open card, in general. The handle's snapshot is checked
// against the file first, without the mutex (a stat; a read of the file when it
// changed); then, under the mutex, the handle keeps the fresh snapshot and
// work runs on its card and returns the call's status.
template <typename Work>
[[gnu::noinline]] VELQOR2_STATUS on_card_checked(VELQOR2_HANDLE handle, Work work) {
    bank_snapshot *held;
    {
        bank_guard guard;
        open_card *o = find_open(handle);
        if (!o) return bad_handle(handle);
        held = o->snapshot;
        snapshot_ref(held);
    }
    sim_error err;
    file_identity now;
    bank_snapshot *fresh = nullptr;
    if (identity_of(held->where.path, &now, &err)) {
        bank_guard guard;
        if (same_identity(held->identity, now)) {
            fresh = held;
            snapshot_ref(fresh);
        }
    }
    if (!fresh) fresh = snapshot_fresh(held->where, held, &err);
    bank_guard guard;
    VELQOR2_STATUS status;
    open_card *o = fresh ? find_open(handle) : nullptr;  // another thread may have closed it
    if (!fresh) {
        status = fail(err);
    } else if (!o) {
        status = bad_handle(handle);
    } else {
        if (o->snapshot != fresh) {
            snapshot_unref(o->snapshot);
            o->snapshot = fresh;
            o->plain_words = nullptr;
            snapshot_ref(fresh);
        }
        size_t index = o->index;
        sim_card *card = known_card(*o);
        if (!card) card = find_card(fresh, o->card_id, &index, &err);
        if (card && (index != o->index || o->plain_words != card->words)) remember(o, *card, index);
        status = card ? work(*card, *o) : fail(err);
    }
    snapshot_unref(held);
    if (fresh) snapshot_unref(fresh);
    return status;
}

// With one thread nothing can change the handle or its snapshot during a
// call: when the file is unchanged and the card is where it was, the card
// is the answer. That is nearly every call, at the cost of one lstat.
template <typename Work>
inline VELQOR2_STATUS on_card(VELQOR2_HANDLE handle, Work work) {
    if (bank_guard::single_threaded()) {
        open_card *o = find_open(handle);
        sim_card *card = o && snapshot_unchanged(o->snapshot) ? known_card(*o) : nullptr;
        if (card) return work(*card, *o);
    }
    return on_card_checked(handle, work);
}

VELQOR2_STATUS open_card_where(bool by_index, uint32_t key, VELQOR2_HANDLE *handle) {
    sim_environment env;
    read_environment(&env);
    trace_refresh(env.trace);
    if (!handle) return fail(SIM_NULL_ARGUMENT, "the handle pointer is null");
    // Past the limit no bank can hold a card: the answer needs no bank, so
    // a program can learn from it what "no such card" looks like.
    if (by_index && key > BANK_MAX_CARDS)
        return fail(SIM_NO_SUCH_INDEX, "no card at index %u: a bank holds at most %zu cards",
                    static_cast<unsigned>(key), BANK_MAX_CARDS);
    sim_error err;
    bank_location where;
    if (!find_bank(env, &where, &err)) return fail(err);
    bank_snapshot *s = snapshot_fresh(where, nullptr, &err);
    if (!s) return fail(err);
    bank_guard guard;
    bank_scan *scan = &s->scan;
    size_t index = key;
    bool found = false;
    bool ok;
    if (by_index) {
        ok = scan_to_index(scan, key, &found, &err);
    } else {
        ok = scan_find_id(scan, key, &index, &err);
        found = index != NO_CARD;
    }
    if (ok && found) ok = scan_decode(scan, index, &err);
    VELQOR2_STATUS status = VELQOR2_SUCCESS;
    char bank[PATH_MAX + 64];
    if (ok && !found) describe_bank(s, bank, sizeof bank);
    if (!ok) status = fail(err);
    else if (!found && by_index)
        status = fail(SIM_NO_SUCH_INDEX, "no card at index %u in %s (it holds %zu)",
                      static_cast<unsigned>(key), bank, scan->bank.count);
    else if (!found)
        status = fail(SIM_NO_SUCH_ID, "no card with ID %u in %s", static_cast<unsigned>(key), bank);
    else if (scan->bank.cards[index].faults & FAULT_OPEN)
        status = fail(SIM_FAULT, "simulated fault: open of card %u",
                      static_cast<unsigned>(scan->bank.cards[index].id));
    unsigned slot = 0;
    while (status == VELQOR2_SUCCESS && slot < MAX_OPEN && g_open[slot].used) slot++;
    if (status == VELQOR2_SUCCESS && slot == MAX_OPEN)
        status = fail(SIM_TOO_MANY_OPEN, "too many cards open (at most %u)", MAX_OPEN);
    if (status != VELQOR2_SUCCESS) {
        snapshot_unref(s);
        return status;
    }
    const sim_card &card = scan->bank.cards[index];
    g_open[slot] = {true, ++g_generation, card.id, index, s, nullptr, 0};  // takes s's ref
    remember(&g_open[slot], card, index);
    *handle = make_handle(slot, g_open[slot].generation);
    return VELQOR2_SUCCESS;
}

void fill_info(const sim_card &card, size_t index, VELQOR2_CARD_INFO *info) {
#ifdef VELQOR2_SIM_FOREIGN_RECORD
    // The tests' stand-in for a maker's library whose record is 1 KiB and
    // holds its own things after what the interface defines: the callers
    // hand it that much room.
    memset(static_cast<void *>(info), 0xA5, 1024);
    info->card_id = card.id;
    info->board_type = card.board_type;
    (void)index;
    return;
#endif
    *info = VELQOR2_CARD_INFO{};
    info->card_id = card.id;
    info->card_index = static_cast<uint32_t>(index);
    info->board_type = card.board_type;
    info->serial_number = card.serial;
    info->eeprom_words = card.eeprom_words;
    memcpy(info->model_name, card.model, sizeof info->model_name);
    info->model_name[sizeof info->model_name - 1] = '\0';
}

VELQOR2_STATUS card_info(VELQOR2_HANDLE handle, VELQOR2_CARD_INFO *info) {
    return on_card(handle, [info](const sim_card &card, const open_card &o) {
        if (!info) return fail(SIM_NULL_ARGUMENT, "the card information pointer is null");
        if (card.faults & FAULT_INFO)
            return fail(SIM_FAULT, "simulated fault: card information of card %u",
                        static_cast<unsigned>(card.id));
        fill_info(card, o.index, info);
        return VELQOR2_SUCCESS;
    });
}

// A read that needs nothing but the words this handle last found: the
// process has one thread (nothing else can move the handle or its
// snapshot), the file is unchanged and no read of the card is marked to
// fail. A dump's 64 reads cost one stat each and little more.
inline bool read_unchanged(VELQOR2_HANDLE handle, uint32_t location, uint32_t *value) {
    if (!bank_guard::single_threaded()) return false;
    const open_card *o = find_open(handle);
    if (!o || !o->plain_words || location >= o->word_count || !value ||
        !snapshot_unchanged(o->snapshot))
        return false;
    *value = o->plain_words[location];
    return true;
}

VELQOR2_STATUS read_word(VELQOR2_HANDLE handle, uint32_t location, uint32_t *value) {
    if (read_unchanged(handle, location, value)) return VELQOR2_SUCCESS;
    return on_card(
        handle, [ location,
                  value ](const sim_card &card, const open_card &) __attribute__((always_inline)) {
            if (!value) return fail(SIM_NULL_ARGUMENT, "the value pointer is null");
            if (location >= card.eeprom_words || read_fails(&card, location)) {
                sim_error err;
                if (!bank_check_word(&card, location, nullptr, &err)) return fail(err);
                return fail(SIM_FAULT, "simulated fault: read of location 0x%X on card %u",
                            static_cast<unsigned>(location), static_cast<unsigned>(card.id));
            }
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
            return fail(SIM_FAULT, "simulated fault: write of location 0x%X on card %u",
                        static_cast<unsigned>(location), static_cast<unsigned>(card.id));
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

}  // namespace

extern "C" {

VELQOR2_STATUS VELQOR2_OpenCard(uint32_t card_id, VELQOR2_HANDLE *handle) {
    VELQOR2_STATUS status = open_card_where(false, card_id, handle);
    trace_call("OpenCard id=%u -> %u", static_cast<unsigned>(card_id),
               static_cast<unsigned>(status));
    return status;
}

VELQOR2_STATUS VELQOR2_OpenCardByIndex(uint32_t index, VELQOR2_HANDLE *handle) {
    VELQOR2_STATUS status = open_card_where(true, index, handle);
    trace_call("OpenCardByIndex index=%u -> %u", static_cast<unsigned>(index),
               static_cast<unsigned>(status));
    return status;
}

VELQOR2_STATUS VELQOR2_GetCardInfo(VELQOR2_HANDLE handle, VELQOR2_CARD_INFO *info) {
    VELQOR2_STATUS status = card_info(handle, info);
    trace_call("GetCardInfo handle=0x%" PRIX64 " -> %u", handle, static_cast<unsigned>(status));
    return status;
}

VELQOR2_STATUS VELQOR2_ReadConfig(VELQOR2_HANDLE handle, uint32_t location, uint32_t *value) {
    VELQOR2_STATUS status = read_word(handle, location, value);
    trace_call("ReadConfig handle=0x%" PRIX64 " location=%u -> %u", handle,
               static_cast<unsigned>(location), static_cast<unsigned>(status));
    return status;
}

VELQOR2_STATUS VELQOR2_WriteConfig(VELQOR2_HANDLE handle, uint32_t location, uint32_t value) {
    VELQOR2_STATUS status = write_word(handle, location, value);
    trace_call("WriteConfig handle=0x%" PRIX64 " location=%u value=0x%X -> %u", handle,
               static_cast<unsigned>(location), static_cast<unsigned>(value),
               static_cast<unsigned>(status));
    return status;
}

VELQOR2_STATUS VELQOR2_CloseCard(VELQOR2_HANDLE handle) {
    VELQOR2_STATUS status = close_card(handle);
    trace_call("CloseCard handle=0x%" PRIX64 " -> %u", handle, static_cast<unsigned>(status));
    return status;
}

const char *VELQOR2_GetStatusString(VELQOR2_STATUS status) {
    static const char *const TEXTS[] = {
        "no card with that identifier",
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
        "bank file locked by another process",
    };
    const char *text;
    thread_texts *t = status == VELQOR2_SUCCESS ? nullptr : texts();
    if (!t) text = "success";
    else if (status == t->last.status && t->last.text[0]) text = t->last.text;
    else if (status >= SIM_NO_SUCH_ID && status - SIM_NO_SUCH_ID < sizeof TEXTS / sizeof *TEXTS)
        text = TEXTS[status - SIM_NO_SUCH_ID];
    else {
        snprintf(t->unknown, sizeof t->unknown, "unknown status 0x%X",
                 static_cast<unsigned>(status));
        text = t->unknown;
    }
    trace_call("GetStatusString status=%u", static_cast<unsigned>(status));
    return text;
}

}  // extern "C"
