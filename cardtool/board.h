// Board classification: which boards the tools work on, how wide their
// EEPROM words are, and which low locations they protect from writing.
// One table answers all three, for every program of the family.
#ifndef CARDTOOL_BOARD_H
#define CARDTOOL_BOARD_H

#include <cstdint>

#include "report.h"

// The word width in bytes (2 or 4) of a supported board; 0 when the tool
// refuses the board.
unsigned classify_board(int32_t board_type);

// Whether a write to the location needs "+unlock" on this board.
bool is_protected_location(int32_t board_type, uint32_t location);

// The first location that is not protected: 0 when none is (or the board is
// refused).
uint32_t protected_below(int32_t board_type);

// The message for a refused board, listing the supported models.
void print_supported_cards(failure_log *log);

#endif
