// The dump: locations 0x00 to 0x3F in two columns.
#include <cstdio>

#include "modes.h"

namespace {

constexpr uint32_t DUMP_ROWS = 32;

struct read_failures {
    unsigned long count;
    char first_text[512];  // copied at once: the library may reuse its text
};

// Reads one location and prints its value, or question marks when the read
// fails, as many as the word has digits.
void print_location(const card_session *card, uint32_t location, read_failures *failures) {
    uint32_t value = 0;
    VELQOR2_STATUS status = VELQOR2_ReadConfig(card->handle, location, &value);
    if (status == VELQOR2_SUCCESS) {
        if (card->word_width == 4) printf("0x%08lX", static_cast<unsigned long>(value));
        else printf("0x%04lX", static_cast<unsigned long>(value));
        return;
    }
    printf("0x%s", card->word_width == 4 ? "????????" : "????");
    if (failures->count++ == 0)
        snprintf(failures->first_text, sizeof failures->first_text, "%s",
                 VELQOR2_GetStatusString(status));
}

}  // namespace

int dump_eeprom(const card_session *card) {
    printf("Selected card ID is %lu(0x%lx)\n\n", static_cast<unsigned long>(card->card_id),
           static_cast<unsigned long>(card->card_id));
    read_failures failures{};
    for (uint32_t row = 0; row < DUMP_ROWS; row++) {
        printf("   [0x%02lX] = ", static_cast<unsigned long>(row));
        print_location(card, row, &failures);
        printf("\t\t[0x%02lX] = ", static_cast<unsigned long>(row + DUMP_ROWS));
        print_location(card, row + DUMP_ROWS, &failures);
        printf("\n");
    }
    if (failures.count == 0) return 0;
    printf("Failed to read %lu of 64 EEPROM locations: %s\n", failures.count, failures.first_text);
    return -1;
}
