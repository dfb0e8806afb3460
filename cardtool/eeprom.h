// Reads of EEPROM words with their failures counted, reported as the dump
// reports them: a cell that could not be read shows question marks, and one
// line gives the count and the text of the first failure.
#ifndef CARDTOOL_EEPROM_H
#define CARDTOOL_EEPROM_H

#include <cstdint>

#include "card.h"

struct read_failures {
    unsigned long count;
    char first_text[1024];  // copied at once: the library may reuse its text
};

VELQOR2_STATUS read_word(const card_session *card, uint32_t location, uint32_t *value,
                         read_failures *failures);

// The value with the digits of the card's word, or "0x????" (as many marks
// as the word has digits) when its read failed.
void print_value(const card_session *card, VELQOR2_STATUS status, uint32_t value);

// "Failed to read N of TOTAL EEPROM locations: TEXT"
void print_read_failures(const read_failures *failures, unsigned long total);

#endif
