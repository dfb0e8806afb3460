// check, and the comparison that check and load share.
#include "compare.h"

#include <cstdio>

namespace {

// A configuration of one kind of board is never right for another.
bool image_fits_card(const eeprom_image *im, const card_session *card, const char *name) {
    if (im->has_board_type && im->board_type != card->board_type) {
        printf("Image file %s is for board type %ld; card %lu is board type %ld\n", name,
               static_cast<long>(im->board_type), static_cast<unsigned long>(card->card_id),
               static_cast<long>(card->board_type));
        return false;
    }
    unsigned bits = card->word_width * 8;
    if (im->has_word_bits && im->word_bits != bits) {
        printf("Image file %s has %lu-bit words; card %lu has %u-bit words\n", name,
               static_cast<unsigned long>(im->word_bits), static_cast<unsigned long>(card->card_id),
               bits);
        return false;
    }
    for (uint32_t loc = 0; loc < IMAGE_LOCATIONS && bits == 16; loc++)
        if (image_lists(im, loc) && im->values[loc] > 0xFFFFu) {
            printf(
                "Image file %s is invalid at line %u: expected a value that fits the card's "
                "16-bit words at 0x%02lX\n",
                name, im->lines[loc], static_cast<unsigned long>(loc));
            return false;
        }
    return true;
}

}  // namespace

const char *plural(unsigned count) { return count == 1 ? "" : "s"; }

unsigned count_bits(uint64_t bits) { return static_cast<unsigned>(__builtin_popcountll(bits)); }

void print_location(const card_session *card, uint32_t location, uint32_t value) {
    printf("   [0x%02lX] = 0x%0*lX", static_cast<unsigned long>(location), value_digits(card),
           static_cast<unsigned long>(value));
}

int start_comparison(const option_desc options[CARD_OPTION_COUNT], const char *file,
                     comparison *c) {
    *c = comparison{};
    if (!read_image_file(file, &c->image)) return -1;
    if (open_selected_card(options, &c->card) != 0) return -1;
    const eeprom_image *im = &c->image;
    print_card_line(&c->card);
    if (!image_fits_card(im, &c->card, image_name(file))) return -1;
    if (im->has_card_id && im->card_id != c->card.card_id)
        printf("Image file %s was saved from card %lu(0x%lx)\n", image_name(file),
               static_cast<unsigned long>(im->card_id), static_cast<unsigned long>(im->card_id));
    if (!read_card_values(&c->card, im->listed, c->card_values)) return -1;
    for (uint32_t loc = 0; loc < IMAGE_LOCATIONS; loc++)
        if (image_lists(im, loc) && c->card_values[loc] != im->values[loc])
            c->differ |= uint64_t{1} << loc;
    c->listed_count = count_bits(im->listed);
    return 0;
}

int check_image(const option_desc options[CARD_OPTION_COUNT], const char *file) {
    static comparison c;
    int status = start_comparison(options, file, &c);
    if (status == 0) {
        for (uint32_t loc = 0; loc < IMAGE_LOCATIONS; loc++) {
            if ((c.differ >> loc & 1u) == 0) continue;
            print_location(&c.card, loc, c.card_values[loc]);
            printf(" on the card, 0x%0*lX in the image\n", value_digits(&c.card),
                   static_cast<unsigned long>(c.image.values[loc]));
        }
        unsigned differing = count_bits(c.differ);
        if (differing == 0)
            printf("All %u locations of %s match the card\n", c.listed_count, image_name(file));
        else
            printf("%u of %u locations of %s differ%s from the card\n", differing, c.listed_count,
                   image_name(file), differing == 1 ? "s" : "");
        status = differing == 0 ? 0 : 1;
    }
    close_card(&c.card);
    return status;
}
