// Reads of EEPROM words with their failures counted, reported as the dump
// reports them: a cell that could not be read shows question marks, and one
// line gives the count and the text of the first failure.
#ifndef CARDTOOL_EEPROM_H
#define CARDTOOL_EEPROM_H

#include <cstdint>
#include <cstdio>

#include "card.h"

struct read_failures {
    unsigned long count;
    char first_text[1024];  // copied at once: the library may reuse its text
};

// Counts a failed read, keeping the first failure's text.
void note_read_failure(VELQOR2_STATUS status, read_failures *failures);

// Inline: a dump makes 64 reads, and the one that succeeds stays a call.
inline VELQOR2_STATUS read_word(const card_session *card, uint32_t location, uint32_t *value,
                                read_failures *failures) {
    VELQOR2_STATUS status = VELQOR2_ReadConfig(card->handle, location, value);
    if (status != VELQOR2_SUCCESS) note_read_failure(status, failures);
    return status;
}

// A value whose read failed: "0x????", with as many marks as the card's
// word has digits.
const char *unread_value(const card_session *card);

// On standard output, the value with the digits of the card's word, or the
// marks when its read failed.
void print_value(const card_session *card, VELQOR2_STATUS status, uint32_t value);

// "Failed to read N of TOTAL EEPROM locations: TEXT", on the error stream,
// and kept in log when one is given.
void print_read_failures(const read_failures *failures, unsigned long total, failure_log *log);

#endif
