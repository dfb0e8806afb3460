// recover and undo (settle.cpp), for one card or every card of +all.
#ifndef IMAGE_SETTLE_H
#define IMAGE_SETTLE_H

#include "load.h"

// Opens the job's card, finds the change to settle (its unfinished change;
// for undo without one, its last change in the history, of run->undo_run
// with +all) and shows what settling it writes; as preview_load does.
void preview_settle(image_run *run, load_job *job, bool close_card_after);

// +all undo: the run it undoes, the newest of the unfinished changes and the
// history; false when there is none (said).
bool choose_undo_run(image_run *run, failure_log *log);

#endif
