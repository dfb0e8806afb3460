// One location written as a change of its own: sorvit's write, and the
// recover or undo of such a change.
#ifndef CHANGE_ONE_LOCATION_H
#define CHANGE_ONE_LOCATION_H

#include <cstdint>

#include "card.h"
#include "change.h"

// Writes value to the location of the open card as one change: the card's
// lock held, a card with an unfinished change refused (said, with the two
// ways out), the location read just before the write so that the history
// has what it held, the change journaled, written and recorded. 0 when
// written; 1 when the library's write failed (*status, for the caller to
// say; nothing was written); -1 when it was refused (reported, and kept in
// log): nothing written.
int write_one_location(change_run *run, const card_session &card, uint32_t location, uint32_t value,
                       VELQOR2_STATUS *status, failure_log *log);

#endif
