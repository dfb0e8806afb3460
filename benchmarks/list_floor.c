/* The floor for sorvit-image list: a minimal C program that looks for
 * unfinished changes in the state folder's journal, opens the same cards
 * through the card library, by index until eight indices in a row say
 * there is no such card, and prints the same table (failed rows included). */
#include <stdint.h>
#include <stdio.h>

#include "state_floor.h"
#include "velqor2.h"

/* type ranges, word width in bits, first unprotected location */
static const struct {
    uint32_t first, last;
    unsigned bits;
    uint32_t protected_below;
} BOARDS[] = {
    {0, 2, 16, 43},  {3, 3, 16, 45},  {4, 5, 32, 0},   {6, 7, 16, 45},   {8, 8, 32, 0},
    {9, 11, 16, 45}, {12, 19, 32, 0}, {21, 24, 32, 0}, {25, 25, 16, 45},
};

static void print_row(uint32_t index, const VELQOR2_CARD_INFO *info) {
    unsigned bits = 0;
    uint32_t below = 0;
    for (unsigned k = 0; k < sizeof BOARDS / sizeof *BOARDS; k++)
        if ((uint32_t)info->board_type >= BOARDS[k].first &&
            (uint32_t)info->board_type <= BOARDS[k].last) {
            bits = BOARDS[k].bits;
            below = BOARDS[k].protected_below;
        }
    char id[32], range[16];
    snprintf(id, sizeof id, "%lu (0x%lx)", (unsigned long)info->card_id,
             (unsigned long)info->card_id);
    if (bits == 0) snprintf(range, sizeof range, "-");
    else if (below == 0) snprintf(range, sizeof range, "none");
    else snprintf(range, sizeof range, "0x00-0x%02lX", (unsigned long)(below - 1));
    const char *word = bits == 0 ? "unsupported" : bits == 16 ? "16-bit" : "32-bit";
    printf("%5lu  %-23s  %6ld  %-11s  %s\n", (unsigned long)index, id, (long)info->board_type, word,
           range);
}

int main(void) {
    if (floor_journals() > 2) fputs("unfinished changes\n", stderr);
    VELQOR2_HANDLE probe = 0;
    const VELQOR2_STATUS end = VELQOR2_OpenCardByIndex(UINT32_MAX, &probe);
    if (end == VELQOR2_SUCCESS) VELQOR2_CloseCard(probe);
    printf("%5s  %-23s  %6s  %-11s  %s\n", "Index", "ID", "Board", "Word", "Protected");
    unsigned failed = 0, pending = 0;
    char pending_rows[8][700];
    for (uint32_t index = 0; failed < 8 && index < 4096; index++) {
        VELQOR2_HANDLE handle = 0;
        VELQOR2_STATUS status = VELQOR2_OpenCardByIndex(index, &handle);
        if (status != VELQOR2_SUCCESS && status != end) {
            for (unsigned k = 0; k < pending; k++) fputs(pending_rows[k], stdout);
            failed = pending = 0;
            printf("%5lu  Failed to open card: %s\n", (unsigned long)index,
                   VELQOR2_GetStatusString(status));
            continue;
        }
        if (status != VELQOR2_SUCCESS) {
            /* A "no such card" row is printed only when a card follows it. */
            snprintf(pending_rows[pending++], sizeof pending_rows[0],
                     "%5lu  Failed to open card: %s\n", (unsigned long)index,
                     VELQOR2_GetStatusString(status));
            failed++;
            continue;
        }
        for (unsigned k = 0; k < pending; k++) fputs(pending_rows[k], stdout);
        failed = pending = 0;
        union {
            VELQOR2_CARD_INFO info;
            char room[1024];
        } card;
        status = VELQOR2_GetCardInfo(handle, &card.info);
        if (status == VELQOR2_SUCCESS) print_row(index, &card.info);
        else
            printf("%5lu  Failed to get card info: %s\n", (unsigned long)index,
                   VELQOR2_GetStatusString(status));
        VELQOR2_CloseCard(handle);
    }
    return 0;
}
