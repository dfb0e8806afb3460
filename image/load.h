// load, recover and undo, for one card or every card of +all: each card's
// changes are worked out first (the image against the card, or the change
// to finish or undo) and shown; then one question, then the writes card by
// card, each a change as one unit (change.h): the card's lock taken and the
// locations read again, the change journaled, written, read back whole and
// recorded. A card's record is rendered as soon as the card is done: before
// the question when it has nothing to write.
#ifndef IMAGE_LOAD_H
#define IMAGE_LOAD_H

#include "compare.h"

// One card of a load, a recover or an undo.
struct load_job {
    card_record record;  // its action is the job's
    card_choice choice;  // the card, as the command line or +all chose it
    image_path file;     // load: its image
    comparison c;        // the values to write (recover, undo: the change's) and the card
    bool pending;        // its writes wait for the question
    location_mask held;  // protected locations that differ and stay so
    bool settles;        // recover, undo: of the unfinished change in the record
    bool resumes;        // +all recover: the change a dead run planned, in the record
    // A location past the configuration area, which only a change of
    // sorvit's has: what to write there, and what the card holds.
    bool far;
    uint32_t far_location, far_target, far_value;
};

// Whether the far location is to be written.
inline bool far_differs(const load_job &job) { return job.far && job.far_value != job.far_target; }

// Starts the job's record and compares its card with its image, showing
// the changes (unless +json and +f leave no one to see them). A card with
// nothing to write is done, and rendered, here. With close_card_after, the
// card is closed until its writes, then opened again by its ID: the library
// may allow few open cards.
void preview_load(image_run *run, load_job *job, bool close_card_after);

// The job's card against the values it is to hold (c.image, read from
// the card under its lock), the changes shown: what preview_load does after
// reading the image, for recover and undo too. 0, 1 (only protected
// locations differ) or -1.
int compare_and_show(image_run *run, load_job *job);

// Where a card's line and its changes are shown before the question:
// nowhere with +json and +f, which leave no one to show them to.
FILE *changes_shown_on(const image_run *run);

// One question for every pending job, then their writes; each job's record
// is rendered when its card is done, and released. The worst status of the
// jobs.
int finish_loads(image_run *run, load_job *jobs, size_t count);

// The job's end: its card closed, its record ended (with error as its
// error, when given) and rendered.
void end_job(image_run *run, load_job *job, int status, const char *error = nullptr);

// load of the card the command line chose.
int load_card(image_run *run, const card_choice &choice, const char *file);

#endif
