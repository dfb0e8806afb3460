// What every action of sorvit-image does with a card's changes before its
// own work: the lock that keeps a read from seeing half a change, and the
// unfinished change that it says first.
#include "actions.h"

bool note_unfinished(image_run *run, uint32_t card_id, card_record *r, bool as_failure) {
    change_entry entry;
    r->change_known = true;
    if (!card_unfinished(&run->changes, card_id, &entry)) return false;
    keep_change(r, entry, true);
    char text[SAFE_TEXT_MAX + 512];
    describe_unfinished(entry, text, sizeof text);
    if (as_failure) log_failure(&r->failures, "%s\n", text);
    else report_warning("%s\n", text);
    return true;
}

int lock_for_reading(image_run *run, const card_session &card, card_record *r, card_lock *lock) {
    if (lock_card_for(&run->changes, card.card_id, lock_mode::SHARED, lock, &r->failures) != 0)
        return -1;
    return note_unfinished(run, card.card_id, r, true) ? -1 : 0;
}
