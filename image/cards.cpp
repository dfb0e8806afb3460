// The host's cards, by index (cards.h).
#include "cards.h"

#include <cstdlib>
#include <cstring>

#include "card.h"
#include "record.h"

namespace {

// What the library answers for an index that no host has: its way of
// saying that there is no such card.
VELQOR2_STATUS no_such_card() {
    VELQOR2_HANDLE handle = 0;
    VELQOR2_STATUS status = VELQOR2_OpenCardByIndex(UINT32_MAX, &handle);
    if (status == VELQOR2_SUCCESS) VELQOR2_CloseCard(handle);
    return status;
}

void drop_last(card_list *list) {
    found_card *f = &list->cards[--list->count];
    free_text(f->failure);
}

bool same_failure(const found_card &a, const found_card &b) {
    return !a.has_info && !b.has_info && a.opened == b.opened && a.status == b.status &&
           a.failure && b.failure && strcmp(a.failure, b.failure) == 0;
}

void find_card(uint32_t index, found_card *f) {
    *f = found_card{index, false, false, VELQOR2_SUCCESS, 0, 0, nullptr};
    VELQOR2_HANDLE handle = 0;
    VELQOR2_STATUS status = VELQOR2_OpenCardByIndex(index, &handle);
    f->opened = status == VELQOR2_SUCCESS;
    if (f->opened) {
        card_info_room room{};
        status = VELQOR2_GetCardInfo(handle, &room.info);
        f->has_info = status == VELQOR2_SUCCESS;
        f->card_id = room.info.card_id;
        f->board_type = room.info.board_type;
        VELQOR2_CloseCard(handle);
    }
    f->status = status;
    if (status != VELQOR2_SUCCESS) f->failure = copy_text(VELQOR2_GetStatusString(status));
}

}  // namespace

bool find_cards(card_list *list, failure_log *log) {
    *list = card_list{};
    const VELQOR2_STATUS end = no_such_card();
    size_t capacity = 0;
    uint32_t failures_in_a_row = 0;
    bool opened_any = false;
    for (uint32_t index = 0; failures_in_a_row < RUN_OF_FAILURES && index < MAX_CARD_INDICES;
         index++) {
        if (list->count == capacity) {
            capacity = capacity ? capacity * 2 : 16;
            void *grown = reallocarray(list->cards, capacity, sizeof(found_card));
            if (!grown) {
                log_failure(log, "Out of memory listing the cards\n");
                free_cards(list);
                return false;
            }
            list->cards = static_cast<found_card *>(grown);
        }
        found_card *f = &list->cards[list->count++];
        find_card(index, f);
        failures_in_a_row = !f->opened && f->status == end ? failures_in_a_row + 1 : 0;
        opened_any = opened_any || f->opened;
    }
    // The end of the cards is the run of "no such card" that ends the list;
    // a failure of any other kind is a card that the host may have.
    const bool end_found = failures_in_a_row == RUN_OF_FAILURES;
    while (list->count > 1 && failures_in_a_row > 0) {
        drop_last(list);
        failures_in_a_row--;
    }
    // Without an end, a failure that never stopped (a bank that does not
    // parse past a card) runs to the last index: it is said once.
    while (!end_found && list->count > 1 &&
           same_failure(list->cards[list->count - 1], list->cards[list->count - 2])) {
        drop_last(list);
    }
    if (opened_any) return true;
    const found_card &f = list->cards[0];  // kept: the one entry never dropped
    log_failure(log, "Failed to open card with index 0: %s\n", f.failure ? f.failure : "");
    free_cards(list);
    return false;
}

void free_cards(card_list *list) {
    while (list->count > 0) drop_last(list);
    free(list->cards);
    *list = card_list{};
}
