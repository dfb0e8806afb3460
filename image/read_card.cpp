#include "actions.h"
#include "eeprom.h"
#include "report.h"

bool read_card_values(const card_session *card, location_mask locations,
                      uint32_t values[CONFIG_LOCATIONS]) {
    VELQOR2_STATUS statuses[CONFIG_LOCATIONS] = {};
    read_failures failures{};
    unsigned long count = 0;
    for (uint32_t loc = 0; loc < CONFIG_LOCATIONS; loc++) {
        if ((locations >> loc & 1u) == 0) continue;
        statuses[loc] = read_word(card, loc, &values[loc], &failures);
        count++;
    }
    if (failures.count == 0) return true;
    for (uint32_t loc = 0; loc < CONFIG_LOCATIONS; loc++)
        if (statuses[loc] != VELQOR2_SUCCESS)
            log_failure(card->log, "   [0x%02lX] = %s\n", static_cast<unsigned long>(loc),
                        unread_value(card));
    print_read_failures(&failures, count, card->log);
    return false;
}
