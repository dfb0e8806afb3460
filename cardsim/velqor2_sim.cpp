// The simulated card library: the seven operations of velqor2.h over the
// bank file. A card is loaded once, when it is opened; reads come from that
// snapshot and every write goes straight through to the bank file.
#define VELQOR2_BUILDING_LIBRARY
#include <limits.h>
#include <sched.h>

#include <atomic>
#include <cinttypes>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "bank.h"
#include "bank_store.h"
#include "sim_status.h"
#include "trace.h"
#include "velqor2.h"

namespace {

constexpr unsigned MAX_OPEN = 64;

struct open_card {
    bool used;
    uint32_t generation;  // tells a stale handle from the slot's new card
    uint32_t index;
    sim_card card;  // owns card.words
};

// The table's lock: every hold is a few loads and stores, so a spin lock
// that yields when taken costs a tenth of a mutex in the common case.
std::atomic_flag g_table_lock = ATOMIC_FLAG_INIT;
open_card g_open[MAX_OPEN];
uint32_t g_generation;

// The detail of this thread's last failure, returned by the status text.
thread_local sim_error t_last;
thread_local char t_unknown[48];

VELQOR2_STATUS fail(const sim_error &err) {
    t_last = err;
    return err.status;
}

VELQOR2_STATUS fail(VELQOR2_STATUS status, const char *format, ...)
    __attribute__((format(printf, 2, 3)));

VELQOR2_STATUS fail(VELQOR2_STATUS status, const char *format, ...) {
    va_list ap;
    va_start(ap, format);
    sim_error_vset(&t_last, status, format, ap);
    va_end(ap);
    return status;
}

// Held for the life of the scope.
struct table_guard {
    table_guard() {
        while (g_table_lock.test_and_set(std::memory_order_acquire)) sched_yield();
    }
    ~table_guard() { g_table_lock.clear(std::memory_order_release); }
    table_guard(const table_guard &) = delete;
    table_guard &operator=(const table_guard &) = delete;
};

VELQOR2_HANDLE make_handle(unsigned slot, uint32_t generation) {
    return static_cast<VELQOR2_HANDLE>(generation) << 16 | (slot + 1);
}

// The open card of a handle, or null; call with the table locked.
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

// Moves the selected card of a loaded bank into a free slot of the table.
VELQOR2_STATUS take_card(sim_bank *bank, bool by_index, uint32_t key, const bank_origin &origin,
                         VELQOR2_HANDLE *handle) {
    sim_card *card =
        by_index ? (key < bank->count ? &bank->cards[key] : nullptr) : bank_find_id(bank, key);
    if (!card) {
        char source[PATH_MAX + 64];
        snprintf(source, sizeof source,
                 origin.is_default ? "the default bank (%s not written yet)" : "bank file %s",
                 origin.where.path);
        if (by_index)
            return fail(SIM_NO_SUCH_INDEX, "no card at index %u in %s (it holds %zu)",
                        static_cast<unsigned>(key), source, bank->count);
        return fail(SIM_NO_SUCH_ID, "no card with ID %u in %s", static_cast<unsigned>(key), source);
    }
    if (card->faults & FAULT_OPEN)
        return fail(SIM_FAULT, "simulated fault: open of card %u", static_cast<unsigned>(card->id));
    table_guard guard;
    unsigned slot = 0;
    while (slot < MAX_OPEN && g_open[slot].used) slot++;
    if (slot == MAX_OPEN)
        return fail(SIM_TOO_MANY_OPEN, "too many cards open (at most %u)", MAX_OPEN);
    open_card *o = &g_open[slot];
    o->used = true;
    o->generation = ++g_generation;
    o->index = static_cast<uint32_t>(card - bank->cards);
    o->card = *card;
    card->words = nullptr;  // the slot owns them now
    *handle = make_handle(slot, o->generation);
    return VELQOR2_SUCCESS;
}

VELQOR2_STATUS open_card_where(bool by_index, uint32_t key, VELQOR2_HANDLE *handle) {
    trace_refresh();
    if (!handle) return fail(SIM_NULL_ARGUMENT, "the handle pointer is null");
    sim_bank bank{};
    sim_error err{};
    bank_origin origin;
    if (!bank_load({false, by_index, key}, &bank, &origin, &err)) return fail(err);
    VELQOR2_STATUS status = take_card(&bank, by_index, key, origin, handle);
    bank_free(&bank);
    return status;
}

bool read_faults(const sim_card *card, uint32_t location) {
    return (card->faults & FAULT_READ) ||
           ((card->faults & FAULT_READ_AT) && card->read_fault_at == location);
}

// Why a read failed, apart from the read itself: a dump makes 64 reads, and
// the one that succeeds stays a few instructions.
[[gnu::noinline, gnu::cold]] VELQOR2_STATUS read_failure(VELQOR2_HANDLE handle,
                                                         const sim_card *card, uint32_t location,
                                                         const uint32_t *value) {
    sim_error err;
    if (!card) return bad_handle(handle);
    if (!value) return fail(SIM_NULL_ARGUMENT, "the value pointer is null");
    if (!bank_check_word(card, location, nullptr, &err)) return fail(err);
    return fail(SIM_FAULT, "simulated fault: read of location 0x%X on card %u",
                static_cast<unsigned>(location), static_cast<unsigned>(card->id));
}

// Checks, then stores the word in the bank file and in the open card.
VELQOR2_STATUS write_word(sim_card *card, uint32_t location, uint32_t value) {
    sim_error err;
    if (!bank_check_word(card, location, &value, &err)) return fail(err);
    if ((card->faults & FAULT_WRITE) ||
        ((card->faults & FAULT_WRITE_AT) && card->write_fault_at == location))
        return fail(SIM_FAULT, "simulated fault: write of location 0x%X on card %u",
                    static_cast<unsigned>(location), static_cast<unsigned>(card->id));
    if (!bank_store_word(card->id, location, value, &err)) return fail(err);
    card->words[location] = value;
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
    VELQOR2_STATUS status = VELQOR2_SUCCESS;
    {
        table_guard guard;
        const open_card *o = find_open(handle);
        if (!o) status = bad_handle(handle);
        else if (!info) status = fail(SIM_NULL_ARGUMENT, "the card information pointer is null");
        else if (o->card.faults & FAULT_INFO)
            status = fail(SIM_FAULT, "simulated fault: card information of card %u",
                          static_cast<unsigned>(o->card.id));
        else {
            *info = VELQOR2_CARD_INFO{};
            info->card_id = o->card.id;
            info->card_index = o->index;
            info->board_type = o->card.board_type;
            info->serial_number = o->card.serial;
            info->eeprom_words = o->card.eeprom_words;
            memcpy(info->model_name, o->card.model, sizeof info->model_name);
            info->model_name[sizeof info->model_name - 1] = '\0';
        }
    }
    trace_call("GetCardInfo handle=0x%" PRIX64 " -> %u", handle, static_cast<unsigned>(status));
    return status;
}

VELQOR2_STATUS VELQOR2_ReadConfig(VELQOR2_HANDLE handle, uint32_t location, uint32_t *value) {
    VELQOR2_STATUS status = VELQOR2_SUCCESS;
    {
        table_guard guard;
        const open_card *o = find_open(handle);
        const sim_card *card = o ? &o->card : nullptr;
        if (card && value && location < card->eeprom_words && !read_faults(card, location))
            *value = card->words[location];
        else status = read_failure(handle, card, location, value);
    }
    trace_call("ReadConfig handle=0x%" PRIX64 " location=%u -> %u", handle,
               static_cast<unsigned>(location), static_cast<unsigned>(status));
    return status;
}

VELQOR2_STATUS VELQOR2_WriteConfig(VELQOR2_HANDLE handle, uint32_t location, uint32_t value) {
    VELQOR2_STATUS status = VELQOR2_SUCCESS;
    {
        table_guard guard;
        open_card *o = find_open(handle);
        status = o ? write_word(&o->card, location, value) : bad_handle(handle);
    }
    trace_call("WriteConfig handle=0x%" PRIX64 " location=%u value=0x%X -> %u", handle,
               static_cast<unsigned>(location), static_cast<unsigned>(value),
               static_cast<unsigned>(status));
    return status;
}

VELQOR2_STATUS VELQOR2_CloseCard(VELQOR2_HANDLE handle) {
    VELQOR2_STATUS status = VELQOR2_SUCCESS;
    {
        table_guard guard;
        open_card *o = find_open(handle);
        if (!o) status = bad_handle(handle);
        else {
            free(o->card.words);
            o->card.words = nullptr;
            o->used = false;
        }
    }
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
    if (status == VELQOR2_SUCCESS) text = "success";
    else if (status == t_last.status && t_last.text[0]) text = t_last.text;
    else if (status >= SIM_NO_SUCH_ID && status - SIM_NO_SUCH_ID < sizeof TEXTS / sizeof *TEXTS)
        text = TEXTS[status - SIM_NO_SUCH_ID];
    else {
        snprintf(t_unknown, sizeof t_unknown, "unknown status 0x%X", static_cast<unsigned>(status));
        text = t_unknown;
    }
    trace_call("GetStatusString status=%u", static_cast<unsigned>(status));
    return text;
}

}  // extern "C"
