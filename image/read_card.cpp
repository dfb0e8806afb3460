#include <cstdio>

#include "actions.h"
#include "eeprom.h"

bool read_card_values(const card_session *card, uint64_t locations, uint32_t values[64]) {
    VELQOR2_STATUS statuses[64] = {};
    read_failures failures{};
    unsigned long count = 0;
    for (uint32_t loc = 0; loc < 64; loc++) {
        if ((locations >> loc & 1u) == 0) continue;
        statuses[loc] = read_word(card, loc, &values[loc], &failures);
        count++;
    }
    if (failures.count == 0) return true;
    for (uint32_t loc = 0; loc < 64; loc++) {
        if (statuses[loc] == VELQOR2_SUCCESS) continue;
        printf("   [0x%02lX] = ", static_cast<unsigned long>(loc));
        print_value(card, statuses[loc], 0);
        printf("\n");
    }
    print_read_failures(&failures, count);
    return false;
}
