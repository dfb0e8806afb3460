// check: the card against an image; exit 1 when they differ.
#include "compare.h"
#include "output.h"

int check_card(const card_choice &choice, const char *file, card_outcome *out) {
    static comparison c;
    int status =
        start_comparison(choice, file, image_use::CHECK, json_output() ? nullptr : stdout, &c, out);
    if (status == 0) {
        for (uint32_t loc = 0; loc < CONFIG_LOCATIONS && !json_output(); loc++) {
            if ((c.differ & bit(loc)) == 0) continue;
            print_location(stdout, &c.card, loc, c.card_values[loc]);
            printf(" on the card, 0x%0*lX in the image\n", value_digits(&c.card),
                   static_cast<unsigned long>(c.image.values[loc]));
        }
        unsigned differing = count_bits(c.differ);
        if (differing == 0)
            result_printf("All %u locations of %s match the card\n", c.listed_count,
                          image_name(file));
        else
            result_printf("%u of %u locations of %s differ%s from the card\n", differing,
                          c.listed_count, image_name(file), differing == 1 ? "s" : "");
        status = differing == 0 ? 0 : 1;
    }
    close_card(&c.card);
    return end_outcome(out, status);
}
