/* The floor for sorvit's dump through the card library: a minimal C
 * program that makes the same calls (open card ID 0, its information, 64
 * reads in the dump's order, close) and prints the same dump. What sorvit
 * costs beyond it is the tool's own overhead. */
#include <stdint.h>
#include <stdio.h>

#include "velqor2.h"

static int failed(const char *what, VELQOR2_STATUS status) {
    fprintf(stderr, "%s: %s\n", what, VELQOR2_GetStatusString(status));
    return 1;
}

int main(void) {
    VELQOR2_HANDLE handle = 0;
    VELQOR2_STATUS status = VELQOR2_OpenCard(0, &handle);
    if (status != VELQOR2_SUCCESS) return failed("open", status);
    union {
        VELQOR2_CARD_INFO info;
        char room[1024];
    } card;
    status = VELQOR2_GetCardInfo(handle, &card.info);
    if (status != VELQOR2_SUCCESS) return failed("card information", status);
    printf("Selected card ID is %lu(0x%lx)\n\n", (unsigned long)card.info.card_id,
           (unsigned long)card.info.card_id);
    for (uint32_t r = 0; r < 32; r++) {
        uint32_t low = 0, high = 0;
        if ((status = VELQOR2_ReadConfig(handle, r, &low)) != VELQOR2_SUCCESS ||
            (status = VELQOR2_ReadConfig(handle, r + 32, &high)) != VELQOR2_SUCCESS)
            return failed("read", status);
        printf("   [0x%02lX] = 0x%08lX\t\t[0x%02lX] = 0x%08lX\n", (unsigned long)r,
               (unsigned long)low, (unsigned long)r + 32, (unsigned long)high);
    }
    VELQOR2_CloseCard(handle);
    return 0;
}
