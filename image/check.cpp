// check: the card against an image; exit 1 when they differ. What it found
// is the record's: the text renderer shows it.
#include "compare.h"

int check_card(const card_choice &choice, const char *file, card_outcome *out) {
    static comparison c;
    int status = start_comparison(choice, file, image_use::CHECK, nullptr, &c, out);
    if (status == 0) status = c.differ == 0 ? 0 : 1;
    close_card(&c.card);
    return end_outcome(out, status);
}
