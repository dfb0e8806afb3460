/* The floor for sorvit-image +all check: a minimal C program that finds the
 * cards as list does, opens each supported card by its ID, reads its 64
 * locations, reads its image DIR/card-ID.img and compares, and prints what
 * sorvit-image prints for cards that match (32-bit cards only, which the
 * benchmark's bank holds), each card under its shared lock, after a look
 * for unfinished changes. Usage: check_floor DIR */
#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include "state_floor.h"
#include "velqor2.h"

static int check_card(const char *dir, uint32_t id) {
    VELQOR2_HANDLE handle = 0;
    const int lock = floor_lock_card(id);
    if (lock < 0) return 1;
    if (VELQOR2_OpenCard(id, &handle) != VELQOR2_SUCCESS) {
        close(lock);
        return 1;
    }
    union {
        VELQOR2_CARD_INFO info;
        char room[1024];
    } card;
    uint32_t values[64];
    int failed = VELQOR2_GetCardInfo(handle, &card.info) != VELQOR2_SUCCESS;
    for (uint32_t loc = 0; loc < 64 && !failed; loc++)
        failed = VELQOR2_ReadConfig(handle, loc, &values[loc]) != VELQOR2_SUCCESS;
    VELQOR2_CloseCard(handle);
    close(lock);
    char path[4096], text[65536];
    snprintf(path, sizeof path, "%s/card-%lu.img", dir, (unsigned long)id);
    FILE *f = fopen(path, "r");
    size_t n = f ? fread(text, 1, sizeof text - 1, f) : 0;
    if (f) fclose(f);
    text[n] = '\0';
    unsigned listed = 0;
    for (char *line = strtok(text, "\n"); line && !failed; line = strtok(NULL, "\n")) {
        unsigned loc, value;
        if (sscanf(line, "[0x%x] = 0x%x", &loc, &value) != 2) continue;
        failed = loc >= 64 || values[loc] != value;
        listed++;
    }
    printf("Selected card ID is %lu(0x%lx)\n", (unsigned long)id, (unsigned long)id);
    printf("All %u locations of %s match the card\n", listed, path);
    return failed;
}

int main(int argc, char **argv) {
    if (argc != 2) return 2;
    if (floor_journals() > 2) fputs("unfinished changes\n", stderr);
    int failed = 0;
    uint32_t misses = 0;
    for (uint32_t index = 0; misses < 8; index++) {
        VELQOR2_HANDLE handle = 0;
        if (VELQOR2_OpenCardByIndex(index, &handle) != VELQOR2_SUCCESS) {
            misses++;
            continue;
        }
        misses = 0;
        union {
            VELQOR2_CARD_INFO info;
            char room[1024];
        } card;
        int ok = VELQOR2_GetCardInfo(handle, &card.info) == VELQOR2_SUCCESS;
        VELQOR2_CloseCard(handle);
        if (ok) failed |= check_card(argv[1], card.info.card_id);
    }
    return failed;
}
