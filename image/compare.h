// What check and load share: an image, the card it is compared with, and
// the locations where they differ.
#ifndef IMAGE_COMPARE_H
#define IMAGE_COMPARE_H

#include "actions.h"
#include "image_file.h"

struct comparison {
    eeprom_image image;
    card_session card;
};

// What the image is read for: a load refuses an image that another user
// could have changed, a check warns.
enum class image_use { CHECK, LOAD };

// Reads the whole image before any card is opened, opens the selected card
// (and prints its line on card_line, unless null), refuses an image of
// another kind of board (or one that names another card and no board
// type), and reads the card at the image's locations into the record's
// comparison. Returns 0, or reports why not and returns -1; call
// close_card on every path.
int start_comparison(image_run *run, const card_choice &choice, const image_path &file,
                     image_use use, FILE *card_line, comparison *c, card_record *r);

// "   [0xNN] = 0xOLD" with the digits of the card's word.
void print_location(FILE *stream, const card_session *card, uint32_t location, uint32_t value);

#endif
