// Board classification: which boards the tool works on, how wide their
// EEPROM words are, and which low locations they protect from writing.
#ifndef TOOL_BOARD_H
#define TOOL_BOARD_H

#include <cstdint>

// The word width in bytes (2 or 4) of a supported board; 0 when the tool
// refuses the board.
unsigned classify_board(int32_t board_type);

// Whether a write to the location needs "+unlock" on this board.
bool is_protected_location(int32_t board_type, uint32_t location);

// The message for a refused board, listing the supported models.
void print_supported_cards();

#endif
