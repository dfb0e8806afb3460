// Reading one location, and the guarded write of one location.
#include <cstdio>

#include "board.h"
#include "confirm.h"
#include "modes.h"

int read_location(const card_session *card, uint32_t location) {
    print_card_line(stdout, card);
    uint32_t value = 0;
    VELQOR2_STATUS status = VELQOR2_ReadConfig(card->handle, location, &value);
    if (status != VELQOR2_SUCCESS) {
        printf("Failed to read EEPROM location 0x%lx: %s\n", static_cast<unsigned long>(location),
               VELQOR2_GetStatusString(status));
        return -1;
    }
    printf("%s\n", format_read_cell(location, value, value_digits(card)).text);
    return 0;
}

int write_location(const card_session *card, uint32_t location, uint32_t data,
                   const card_choice &choice) {
    reply answer = REPLY_YES;
    if (!choice.force) print_card_line(stdout, card);
    // A value the word cannot hold is refused before the question: the
    // library might cut it silently, and a question about a write that
    // cannot happen misleads.
    if (card->word_width == 2 && data > 0xFFFFu) {
        printf("Value 0x%lx does not fit the card's %u-bit word\n",
               static_cast<unsigned long>(data), card->word_width * 8);
        return -1;
    }
    if (!choice.force) {
        printf("Warning: this will write the value %lu/0x%lx to EEPROM location 0x%lx\n",
               static_cast<unsigned long>(data), static_cast<unsigned long>(data),
               static_cast<unsigned long>(location));
        answer = ask_to_continue();
        if (answer == REPLY_UNSEEN) return -1;  // main names the failed write
        // The card may have changed while the user read the question: what
        // is protected follows from the board as it is now.
        if (answer == REPLY_YES && confirm_card_unchanged(card) != 0) return -1;
    }
    if (is_protected_location(card->board_type, location) && !choice.unlock) {
        printf("Permission denied to protected location.\n");
        return -1;
    }
    if (answer != REPLY_YES) {
        printf("Aborted.\n");
        return answer == REPLY_NO ? 0 : -1;  // declining is a decision; no reply is not
    }
    VELQOR2_STATUS status = VELQOR2_WriteConfig(card->handle, location, data);
    if (status != VELQOR2_SUCCESS) {
        printf("Failed to write EEPROM location 0x%lx: %s\n", static_cast<unsigned long>(location),
               VELQOR2_GetStatusString(status));
        return -1;
    }
    return 0;
}
