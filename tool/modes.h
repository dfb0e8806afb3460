// sorvit's three modes, run on an open, classified card. Each returns the
// exit status: 0 when it did what was asked or the user declined the write,
// -1 otherwise (a failed EEPROM access, a protected location, no reply).
#ifndef TOOL_MODES_H
#define TOOL_MODES_H

#include <cstdint>

#include "card.h"

int dump_eeprom(const card_session *card);
int read_location(const card_session *card, uint32_t location);
// The choice's force and unlock apply.
int write_location(const card_session *card, uint32_t location, uint32_t data,
                   const card_choice &choice);

#endif
