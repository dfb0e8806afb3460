// The dump: locations 0x00 to 0x3F in two columns, read in the order
// 0, 32, 1, 33, ... 31, 63.
#include <cstdio>

#include "eeprom.h"
#include "modes.h"

namespace {

constexpr uint32_t DUMP_ROWS = CONFIG_LOCATIONS / 2;  // two columns

void print_row(const card_session *card, uint32_t row, read_failures *failures) {
    const unsigned long left = row, right = row + DUMP_ROWS;
    uint32_t left_value = 0, right_value = 0;
    VELQOR2_STATUS left_status = read_word(card, row, &left_value, failures);
    VELQOR2_STATUS right_status = read_word(card, row + DUMP_ROWS, &right_value, failures);
    if (left_status == VELQOR2_SUCCESS && right_status == VELQOR2_SUCCESS) {
        // The common case in one call: sorvit runs once per dump, and
        // start-up and output are most of what it costs.
        printf(card->word_width == 4 ? "   [0x%02lX] = 0x%08lX\t\t[0x%02lX] = 0x%08lX\n"
                                     : "   [0x%02lX] = 0x%04lX\t\t[0x%02lX] = 0x%04lX\n",
               left, static_cast<unsigned long>(left_value), right,
               static_cast<unsigned long>(right_value));
        return;
    }
    printf("   [0x%02lX] = ", left);
    print_value(card, left_status, left_value);
    printf("\t\t[0x%02lX] = ", right);
    print_value(card, right_status, right_value);
    printf("\n");
}

}  // namespace

int dump_eeprom(const card_session *card) {
    printf("Selected card ID is %s\n\n", label_of(card->card_id).text);
    read_failures failures{};
    for (uint32_t row = 0; row < DUMP_ROWS; row++) print_row(card, row, &failures);
    if (failures.count == 0) return 0;
    print_read_failures(&failures, CONFIG_LOCATIONS, nullptr);
    return -1;
}
