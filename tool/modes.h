// The tool's three modes, run on an open, classified card. Each returns the
// exit status: 0 when it did what was asked or the user declined the write,
// -1 otherwise (a failed EEPROM access, a protected location, no reply).
#ifndef TOOL_MODES_H
#define TOOL_MODES_H

#include <cstdint>

#include "velqor2.h"

struct card_session {
    VELQOR2_HANDLE handle;
    uint32_t card_id;
    int32_t board_type;
    unsigned word_width;  // bytes: 2 or 4
};

// "Selected card ID is N(0xN)" and a line feed.
void print_card_line(const card_session *card);

int dump_eeprom(const card_session *card);
int read_location(const card_session *card, uint32_t location);
int write_location(const card_session *card, uint32_t location, uint32_t data, bool force,
                   bool unlock);

#endif
