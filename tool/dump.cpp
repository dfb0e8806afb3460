// The dump: locations 0x00 to 0x3F in two columns, read in the order
// 0, 32, 1, 33, ... 31, 63.
#include <cstdio>

#include "eeprom.h"
#include "modes.h"

namespace {

constexpr uint32_t DUMP_ROWS = CONFIG_LOCATIONS / 2;  // two columns

void print_row(const card_session *card, uint32_t row, read_failures *failures) {
    uint32_t left = 0, right = 0;
    const uint32_t *left_read = read_word(card, row, &left, failures);
    const uint32_t *right_read = read_word(card, row + DUMP_ROWS, &right, failures);
    const int digits = value_digits(card);
    printf("   %s\t\t%s\n", format_cell(row, left_read, digits).text,
           format_cell(row + DUMP_ROWS, right_read, digits).text);
}

}  // namespace

int dump_eeprom(const card_session *card) {
    print_card_line(stdout, card);
    printf("\n");
    read_failures failures{};
    for (uint32_t row = 0; row < DUMP_ROWS; row++) print_row(card, row, &failures);
    if (failures.count == 0) return 0;
    print_read_failures(&failures, CONFIG_LOCATIONS, nullptr);
    return -1;
}
