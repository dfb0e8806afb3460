// load, for one card or every card of +all: each card's image is read and
// compared first and its changes shown; then one question, then the writes
// card by card, each read back whole. A card's record is rendered as soon
// as the card is done: before the question when it has nothing to write.
#ifndef IMAGE_LOAD_H
#define IMAGE_LOAD_H

#include "compare.h"

// One card of a load.
struct load_job {
    card_record record;
    card_choice choice;  // the card, as the command line or +all chose it
    image_path file;
    comparison c;
    bool pending;            // its writes wait for the question
    location_mask held;      // protected locations that differ and stay so
    location_mask to_write;  // the locations to write
};

// Starts the job's record and compares its card with its image, showing
// the changes (unless +json and +f leave no one to see them). A card with
// nothing to write is done, and rendered, here. With close_card_after, the
// card is closed until its writes, then opened again by its ID: the library
// may allow few open cards.
void preview_load(image_run *run, load_job *job, bool close_card_after);

// One question for every pending job, then their writes; each job's record
// is rendered when its card is done, and released. The worst status of the
// jobs.
int finish_loads(image_run *run, load_job *jobs, size_t count);

// load of the card the command line chose.
int load_card(image_run *run, const card_choice &choice, const char *file);

#endif
