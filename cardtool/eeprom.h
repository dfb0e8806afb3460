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

// Reads one word; a failure is counted. The value is null when it failed,
// as format_cell (cells.h) shows a value that could not be read.
const uint32_t *read_word(const card_session *card, uint32_t location, uint32_t *value,
                          read_failures *failures);

// "Failed to read N of TOTAL EEPROM locations: TEXT", on the error stream,
// and kept in log when one is given.
void print_read_failures(const read_failures *failures, unsigned long total, failure_log *log);

// Reads the card at the given locations, ascending. When any read fails,
// reports each failed location as the dump shows it and the count with the
// first failure's text (kept in the card's log), and returns false.
bool read_locations(const card_session *card, location_mask locations,
                    uint32_t values[CONFIG_LOCATIONS]);

#endif
