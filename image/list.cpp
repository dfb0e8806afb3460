// list: every card of the host, by index. An index whose open or card
// information fails is a row that names it and why, and the list goes on:
// a backup loop over the list must not skip a card unseen. The library has
// no count of cards, so the list ends after RUN_OF_FAILURES indices in a
// row fail to open; a failing card after the last working one cannot be
// told from the end. When not one index opens, index 0's failure is the
// answer.
#include <cstdio>

#include "actions.h"
#include "board.h"
#include "report.h"

namespace {

constexpr uint32_t RUN_OF_FAILURES = 8;

void print_heading() {
    printf("%5s  %-23s  %6s  %-11s  %s\n", "Index", "ID", "Board", "Word", "Protected");
}

void print_card_row(uint32_t index, const VELQOR2_CARD_INFO &info) {
    unsigned width = classify_board(info.board_type);
    uint32_t below = protected_below(info.board_type);
    char id[32], range[16];
    snprintf(id, sizeof id, "%lu (0x%lx)", static_cast<unsigned long>(info.card_id),
             static_cast<unsigned long>(info.card_id));
    if (width == 0) snprintf(range, sizeof range, "-");
    else if (below == 0) snprintf(range, sizeof range, "none");
    else snprintf(range, sizeof range, "0x00-0x%02lX", static_cast<unsigned long>(below - 1));
    printf("%5lu  %-23s  %6ld  %-11s  %s\n", static_cast<unsigned long>(index), id,
           static_cast<long>(info.board_type),
           width == 0   ? "unsupported"
           : width == 2 ? "16-bit"
                        : "32-bit",
           range);
}

// A failed index waits until a later index opens: only then is it a card
// that failed rather than the end of the cards.
struct failed_index {
    uint32_t index;
    char text[600];  // the library's
};

enum class failed_step { OPEN, INFO };

// A row of the list on standard output, and the failure on standard error.
void report_failed_index(uint32_t index, failed_step step, const char *text) {
    const unsigned long i = index;
    if (step == failed_step::OPEN) {
        printf("%5lu  Failed to open card: %s\n", i, text);
        report_failure("Failed to open card with index %lu: %s\n", i, text);
    } else {
        printf("%5lu  Failed to get card info: %s\n", i, text);
        report_failure("Failed to get card info of card with index %lu: %s\n", i, text);
    }
}

// Lists the card at index, open as handle; false when it fails.
bool list_card(uint32_t index, VELQOR2_HANDLE handle) {
    card_info_room room{};
    VELQOR2_STATUS got = VELQOR2_GetCardInfo(handle, &room.info);
    if (got == VELQOR2_SUCCESS) print_card_row(index, room.info);
    else report_failed_index(index, failed_step::INFO, VELQOR2_GetStatusString(got));
    return got == VELQOR2_SUCCESS;
}

}  // namespace

int list_cards() {
    static failed_index pending[RUN_OF_FAILURES];
    uint32_t pending_count = 0;
    bool listed_any = false, failed_any = false;
    for (uint32_t index = 0; pending_count < RUN_OF_FAILURES; index++) {
        VELQOR2_HANDLE handle = 0;
        VELQOR2_STATUS opened = VELQOR2_OpenCardByIndex(index, &handle);
        if (opened != VELQOR2_SUCCESS) {
            pending[pending_count] = {index, {}};
            snprintf(pending[pending_count++].text, sizeof pending->text, "%s",
                     VELQOR2_GetStatusString(opened));
        } else {
            if (!listed_any) print_heading();
            for (uint32_t k = 0; k < pending_count; k++)
                report_failed_index(pending[k].index, failed_step::OPEN, pending[k].text);
            failed_any = failed_any || pending_count > 0;
            pending_count = 0;
            listed_any = true;
            failed_any = !list_card(index, handle) || failed_any;
            VELQOR2_CloseCard(handle);
        }
        if (index == UINT32_MAX) break;
    }
    if (!listed_any) {  // no card at all, or a bank that does not load: never a silent success
        report_failure("Failed to open card with index 0: %s\n", pending[0].text);
        return -1;
    }
    return failed_any ? -1 : 0;
}
