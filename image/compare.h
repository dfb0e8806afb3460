// What check and load share: an image, the card it is compared with, and
// the locations where they differ.
#ifndef IMAGE_COMPARE_H
#define IMAGE_COMPARE_H

#include "actions.h"
#include "image_file.h"

struct comparison {
    eeprom_image image;
    card_session card;
    uint32_t card_values[CONFIG_LOCATIONS];  // at the image's locations
    location_mask differ;                    // bit n: location n differs
};

// What the image is read for: a load refuses an image that another user
// could have changed, a check warns.
enum class image_use { CHECK, LOAD };

// Reads the whole image before any card is opened, opens the selected card
// (and prints its line on card_line, unless null), refuses an image of
// another kind of board (or one that names another card and no board
// type), and reads the card at the image's locations, noting what it finds
// in out. Returns 0, or reports why not and returns -1; call close_card on
// every path.
int start_comparison(const card_choice &choice, const char *file, image_use use, FILE *card_line,
                     comparison *c, card_outcome *out);

// "   [0xNN] = 0xOLD" with the digits of the card's word.
void print_location(FILE *stream, const card_session *card, uint32_t location, uint32_t value);

inline location_mask bit(uint32_t location) { return location_mask{1} << location; }
inline unsigned count_bits(location_mask bits) {
    return static_cast<unsigned>(__builtin_popcountll(bits));
}
const char *plural(unsigned count);  // "s" unless count is 1

// The choice of the card with this ID, as +all makes it.
card_choice card_by_id(uint32_t card_id, const card_choice &options);

#endif
