#include "eeprom.h"

#include <cstdio>

#include "report.h"

void note_read_failure(VELQOR2_STATUS status, read_failures *failures) {
    if (failures->count++ == 0)
        snprintf(failures->first_text, sizeof failures->first_text, "%s",
                 VELQOR2_GetStatusString(status));
}

const char *unread_value(const card_session *card) {
    return value_digits(card) == 8 ? "0x????????" : "0x????";
}

void print_value(const card_session *card, VELQOR2_STATUS status, uint32_t value) {
    if (status != VELQOR2_SUCCESS) fputs(unread_value(card), stdout);
    else printf("0x%0*lX", value_digits(card), static_cast<unsigned long>(value));
}

void print_read_failures(const read_failures *failures, unsigned long total, failure_log *log) {
    log_failure(log, "Failed to read %lu of %lu EEPROM locations: %s\n", failures->count, total,
                failures->first_text);
}
