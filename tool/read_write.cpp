// Reading one location, and the guarded write of one location.
#include <cstdio>

#include "board.h"
#include "modes.h"

void print_card_line(const card_session *card) {
    printf("Selected card ID is %lu(0x%lx)\n", static_cast<unsigned long>(card->card_id),
           static_cast<unsigned long>(card->card_id));
}

int read_location(const card_session *card, uint32_t location) {
    print_card_line(card);
    uint32_t value = 0;
    VELQOR2_STATUS status = VELQOR2_ReadConfig(card->handle, location, &value);
    if (status != VELQOR2_SUCCESS) {
        printf("Failed to read EEPROM location 0x%lx: %s\n", static_cast<unsigned long>(location),
               VELQOR2_GetStatusString(status));
        return -1;
    }
    printf(card->word_width == 4 ? "[0x%0lx] = 0x%08lx\n" : "[0x%0lx] = 0x%04lx\n",
           static_cast<unsigned long>(location), static_cast<unsigned long>(value));
    return 0;
}

namespace {

// Warns, asks, and returns the first character of the reply; 'n' when the
// input has ended.
int ask_confirmation(const card_session *card, uint32_t location, uint32_t data) {
    print_card_line(card);
    printf("Warning: this will write the value %lu/0x%lx to EEPROM location 0x%lx\n",
           static_cast<unsigned long>(data), static_cast<unsigned long>(data),
           static_cast<unsigned long>(location));
    printf("Are you sure you want to continue (y/n)? ");
    fflush(stdout);  // the question must be seen before the reply is read
    int reply = getchar();
    return reply == EOF ? 'n' : reply;
}

}  // namespace

int write_location(const card_session *card, uint32_t location, uint32_t data, bool force,
                   bool unlock) {
    int answer = force ? 'y' : ask_confirmation(card, location, data);
    if (is_protected_location(card->board_type, location) && !unlock) {
        printf("Permission denied to protected location.\n");
        return 0;
    }
    if (answer != 'y' && answer != 'Y') {
        printf("Aborted.\n");
        return 0;
    }
    VELQOR2_STATUS status = VELQOR2_WriteConfig(card->handle, location, data);
    if (status != VELQOR2_SUCCESS) {
        printf("Failed to write EEPROM location 0x%lx: %s\n", static_cast<unsigned long>(location),
               VELQOR2_GetStatusString(status));
        return -1;
    }
    return 0;
}
