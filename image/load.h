// load in two steps, so that +all can show every card's changes and ask
// once: prepare reads the image and the card and shows the changes; apply
// writes them and reads the whole image back.
#ifndef IMAGE_LOAD_H
#define IMAGE_LOAD_H

#include "compare.h"

struct pending_load {
    comparison c;
    const char *name;  // of the image, for messages
    bool unlock;
    location_mask held;      // protected locations that differ and stay so
    location_mask to_write;  // the locations to write; none when nothing is to do
};

// -1 when it failed; 1 when only protected locations differ (nothing to
// write); 0 when the card matches already or to_write holds the writes.
// The changes are shown on the prompt stream, unless +json and +f leave no
// one to show them to. Call close_card on p->c.card on every path.
int prepare_load(const card_choice &choice, const char *file, pending_load *p, card_outcome *out);
// Writes what prepare_load found to write and verifies it. After a question
// (asked), it first makes sure the card is still the board it showed; a
// card closed since it was prepared is opened again by its ID and checked
// the same way.
int apply_load(pending_load *p, bool asked, card_outcome *out);

// The question before the writes of one card or of several; 1 to go on, or
// the exit status of a run that stops there, with why in log.
int ask_before_loading(unsigned locations, unsigned cards, const card_session *card,
                       failure_log *log);

#endif
