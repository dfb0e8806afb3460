#include "one_location.h"

#include "signals.h"

namespace {

int refuse_unfinished(change_run *run, uint32_t card_id, failure_log *log) {
    change_entry unfinished;
    if (!card_unfinished(run, card_id, &unfinished)) return 0;
    char text[SAFE_TEXT_MAX + 512];
    describe_unfinished(unfinished, text, sizeof text);
    log_failure(log, "%s\n", text);
    return -1;
}

}  // namespace

int write_one_location(change_run *run, const card_session &card, uint32_t location, uint32_t value,
                       VELQOR2_STATUS *status, failure_log *log) {
    card_lock lock;
    int result = lock_card_for(run, card.card_id, lock_mode::EXCLUSIVE, &lock, log);
    if (result == 0) result = refuse_unfinished(run, card.card_id, log);
    change_entry e;
    if (result == 0) {
        new_change(run, &e, card.card_id, card.board_type, card.word_width * 8, nullptr);
        uint32_t before = 0;
        const bool known = VELQOR2_ReadConfig(card.handle, location, &before) == VELQOR2_SUCCESS;
        if (location < CONFIG_LOCATIONS) {
            e.locations = bit(location);
            e.before_known = known ? bit(location) : 0;
            e.before[location] = before;
            e.after[location] = value;
        } else {
            e.has_far = true;
            e.far_before_known = known;
            e.far_location = location;
            e.far_before = before;
            e.far_after = value;
        }
        result = begin_change(run, e, log);
    }
    if (result == 0) {
        held_signals held;
        hold_signals(&held);
        *status = VELQOR2_WriteConfig(card.handle, location, value);
        if (*status == VELQOR2_SUCCESS) change_written(run, &e, location);
        end_change(run, e, *status == VELQOR2_SUCCESS ? "written" : "failed");
        release_signals(&held);
        result = *status == VELQOR2_SUCCESS ? 0 : 1;
    }
    unlock_card(&lock);
    return result;
}
