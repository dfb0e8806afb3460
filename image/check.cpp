// check: the card against an image; exit 1 when they differ. What it found
// is the record's: the text renderer shows it.
#include "compare.h"

int check_card(image_run *run, const card_choice &choice, const image_path &file, card_record *r) {
    comparison c;
    int status = start_comparison(run, choice, file, image_use::CHECK, nullptr, &c, r);
    if (status == 0) status = r->check.differ == 0 ? 0 : 1;
    close_card(&c.card);
    return end_record(r, status);
}
