// The host's cards, by index, as list finds them: every index that opens,
// with its card information or the failure to get it, and every index that
// fails to open, until RUN_OF_FAILURES indices in a row answer "no such
// card", or MAX_CARD_INDICES indices were tried. The library has no count
// of cards; what it answers for an index that cannot exist (UINT32_MAX) is
// taken as its "no such card", and only that answer ends the list: any
// other failure is a row, however many come in a row. A library that
// answers every failure alike leaves a failing card after the last working
// one impossible to tell from the end: there, eight failures end the list.
#ifndef IMAGE_CARDS_H
#define IMAGE_CARDS_H

#include <cstddef>
#include <cstdint>

#include "report.h"
#include "velqor2.h"

constexpr uint32_t RUN_OF_FAILURES = 8;
constexpr uint32_t MAX_CARD_INDICES = 4096;  // as many cards as a host may have

struct found_card {
    uint32_t index;
    bool opened;
    bool has_info;
    VELQOR2_STATUS status;  // of the open, or of the card information
    uint32_t card_id;
    int32_t board_type;
    char *failure;  // the library's text, when the open or the information failed: owned
};

struct card_list {
    found_card *cards;  // owned
    size_t count;
};

// False, with index 0's failure reported (and kept in log), when not one
// index opens (no card, or a bank that does not load); or when memory runs
// out.
bool find_cards(card_list *list, failure_log *log);
void free_cards(card_list *list);

#endif
