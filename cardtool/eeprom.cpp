#include "eeprom.h"

#include <cstdio>

#include "report.h"

void note_read_failure(VELQOR2_STATUS status, read_failures *failures) {
    if (failures->count++ == 0)
        snprintf(failures->first_text, sizeof failures->first_text, "%s",
                 VELQOR2_GetStatusString(status));
}

const uint32_t *read_word(const card_session *card, uint32_t location, uint32_t *value,
                          read_failures *failures) {
    VELQOR2_STATUS status = VELQOR2_ReadConfig(card->handle, location, value);
    if (status == VELQOR2_SUCCESS) return value;
    note_read_failure(status, failures);
    return nullptr;
}

bool read_locations(const card_session *card, location_mask locations,
                    uint32_t values[CONFIG_LOCATIONS]) {
    read_failures failures{};
    location_mask failed = 0;
    unsigned long count = 0;
    for (uint32_t loc = 0; loc < CONFIG_LOCATIONS; loc++) {
        if ((locations & bit(loc)) == 0) continue;
        if (!read_word(card, loc, &values[loc], &failures)) failed |= bit(loc);
        count++;
    }
    if (failures.count == 0) return true;
    for (uint32_t loc = 0; loc < CONFIG_LOCATIONS; loc++)
        if (failed & bit(loc))
            log_failure(card->log, "   %s\n", format_cell(loc, nullptr, value_digits(card)).text);
    print_read_failures(&failures, count, card->log);
    return false;
}

void print_read_failures(const read_failures *failures, unsigned long total, failure_log *log) {
    log_failure(log, "Failed to read %lu of %lu EEPROM locations: %s\n", failures->count, total,
                failures->first_text);
}
