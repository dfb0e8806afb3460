// The comparison that check and load share.
#include "compare.h"

#include <cstdio>
#include <cstring>

#include "eeprom.h"
#include "report.h"

namespace {

// A configuration of one kind of board is never right for another; one that
// names its card but not its kind is right for that card only.
bool image_fits_card(const eeprom_image *im, const card_session *card, const char *name) {
    const card_label card_name = label_of(card->card_id);
    if (im->has_board_type && im->board_type != card->board_type) {
        log_failure(card->log, "Image file %s is for board type %ld; card %s is board type %ld\n",
                    name, static_cast<long>(im->board_type), card_name.text,
                    static_cast<long>(card->board_type));
        return false;
    }
    if (im->has_card_id && !im->has_board_type && im->card_id != card->card_id) {
        log_failure(
            card->log,
            "Image file %s is of card %s and gives no board type: it is checked and loaded on "
            "that card only\n",
            name, label_of(im->card_id).text);
        return false;
    }
    unsigned bits = card->word_width * 8;
    if (im->has_word_bits && im->word_bits != bits) {
        log_failure(card->log, "Image file %s has %lu-bit words; card %s has %u-bit words\n", name,
                    static_cast<unsigned long>(im->word_bits), card_name.text, bits);
        return false;
    }
    for (uint32_t loc = 0; loc < CONFIG_LOCATIONS && bits == 16; loc++)
        if (image_lists(im, loc) && im->values[loc] > 0xFFFFu) {
            log_failure(
                card->log,
                "Image file %s is invalid at line %u: expected a value that fits the card's "
                "16-bit words at 0x%02lX\n",
                name, im->lines[loc], static_cast<unsigned long>(loc));
            return false;
        }
    return true;
}

// An image that another user could have changed: loading it would write
// their choice to the card, so load refuses it; a check only reads, and
// warns once for each place.
bool trust_image(image_run *run, const char *name, const image_trust &trust, image_use use,
                 failure_log *log) {
    if (!trust.changeable[0]) return true;
    if (use == image_use::LOAD) {
        log_failure(log, "Cannot load image file %s: %s\n", name, trust.changeable);
        return false;
    }
    if (strcmp(run->warned, trust.changeable) != 0)
        report_warning("Warning: %s; checking all the same\n", trust.changeable);
    snprintf(run->warned, sizeof run->warned, "%s", trust.changeable);
    return true;
}

}  // namespace

void print_location(FILE *stream, const card_session *card, uint32_t location, uint32_t value) {
    fprintf(stream, "   %s", format_cell(location, &value, value_digits(card)).text);
}

int start_comparison(image_run *run, const card_choice &choice, const image_path &file,
                     image_use use, FILE *card_line, comparison *c, card_record *r) {
    const char *name = image_name(file.shown);
    *c = comparison{};
    c->card.log = &r->failures;
    image_error err;
    image_trust trust;
    if (!read_image_file(file, &c->image, &trust, &err)) {
        log_failure(&r->failures, "%s", err.text);
        return -1;
    }
    if (!trust_image(run, name, trust, use, &r->failures)) return -1;
    if (open_card_for(choice, &c->card, r) != 0) return -1;
    const eeprom_image *im = &c->image;
    print_card_line(card_line, &c->card);
    if (!image_fits_card(im, &c->card, name)) return -1;
    if (im->has_card_id && im->card_id != c->card.card_id)  // a spare of the same kind
        report_warning("Image file %s was saved from card %s\n", name, label_of(im->card_id).text);
    comparison_part *part = comparison_of(r);
    card_lock lock;
    int locked = lock_for_reading(run, c->card, r, &lock);
    const bool read = locked == 0 && read_locations(&c->card, im->listed, part->card_values);
    unlock_card(&lock);
    if (locked != 0) return -1;
    if (!read) {
        r->card_failed = true;
        return -1;
    }
    part->compared = true;
    part->listed = im->listed;
    for (uint32_t loc = 0; loc < CONFIG_LOCATIONS; loc++) {
        part->image_values[loc] = im->values[loc];
        if (image_lists(im, loc) && part->card_values[loc] != im->values[loc])
            part->differ |= bit(loc);
    }
    return 0;
}
