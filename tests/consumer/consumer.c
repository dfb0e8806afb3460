/* A program of the SDK built against an installed card library: opens the
 * card at index 0 and names it by what the interface defines, its ID and
 * board type. */
#include <stdio.h>

#include <velqor2.h>

int main(void) {
    VELQOR2_HANDLE card = 0;
    VELQOR2_CARD_INFO info;
    if (VELQOR2_OpenCardByIndex(0, &card) != VELQOR2_SUCCESS || VELQOR2_GetCardInfo(card, &info))
        return 1;
    printf("card %lu: board type %ld\n", (unsigned long)info.card_id, (long)info.board_type);
    return VELQOR2_CloseCard(card) == VELQOR2_SUCCESS ? 0 : 1;
}
