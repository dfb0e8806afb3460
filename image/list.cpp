// list: every card of the host, by index, until an index cannot be opened.
#include <cstdio>

#include "actions.h"
#include "board.h"

const char *printable_model(const VELQOR2_CARD_INFO &info, char (&out)[44]) {
    size_t n = 0;
    for (; n < sizeof out - 1 && info.model_name[n] != '\0'; n++) {
        char c = info.model_name[n];
        out[n] = c >= ' ' && c <= '~' ? c : '?';
    }
    out[n] = '\0';
    return out;
}

namespace {

void print_heading() {
    printf("%5s  %-23s  %6s  %-11s  %-9s  %-10s  %s\n", "Index", "ID", "Board", "Word", "Protected",
           "Serial", "Model");
}

void print_row(uint32_t index, const VELQOR2_CARD_INFO &info) {
    unsigned width = classify_board(info.board_type);
    uint32_t below = protected_below(info.board_type);
    char id[32], range[16], model[44];
    snprintf(id, sizeof id, "%lu (0x%lx)", static_cast<unsigned long>(info.card_id),
             static_cast<unsigned long>(info.card_id));
    if (width == 0) snprintf(range, sizeof range, "-");
    else if (below == 0) snprintf(range, sizeof range, "none");
    else snprintf(range, sizeof range, "0x00-0x%02lX", static_cast<unsigned long>(below - 1));
    printf("%5lu  %-23s  %6ld  %-11s  %-9s  0x%08lX  %s\n", static_cast<unsigned long>(index), id,
           static_cast<long>(info.board_type),
           width == 0   ? "unsupported"
           : width == 2 ? "16-bit"
                        : "32-bit",
           range, static_cast<unsigned long>(info.serial_number), printable_model(info, model));
}

}  // namespace

int list_cards() {
    int status = 0;
    for (uint32_t index = 0;; index++) {
        VELQOR2_HANDLE handle = 0;
        VELQOR2_STATUS opened = VELQOR2_OpenCardByIndex(index, &handle);
        if (opened != VELQOR2_SUCCESS) {
            if (index > 0) break;  // past the last card
            printf("Failed to open card with index 0: %s\n", VELQOR2_GetStatusString(opened));
            return -1;
        }
        if (index == 0) print_heading();
        VELQOR2_CARD_INFO info{};
        VELQOR2_STATUS got = VELQOR2_GetCardInfo(handle, &info);
        if (got == VELQOR2_SUCCESS) print_row(index, info);
        else {
            printf("%5lu  Failed to get card info: %s\n", static_cast<unsigned long>(index),
                   VELQOR2_GetStatusString(got));
            status = -1;
        }
        VELQOR2_CloseCard(handle);
        if (index == UINT32_MAX) break;
    }
    return status;
}
