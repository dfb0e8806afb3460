// recover and undo. A change cut short is finished (recover writes what it
// meant to write) or undone (undo puts back what the card held before it);
// undo of a card with no unfinished change undoes its last change in the
// history, itself a change in the history, so a second undo undoes the
// first. Each is shown, asked, written and read back as a load is, with the
// protection rules and +unlock, on a card of the kind the change was made
// on.
#include "settle.h"

#include <cstdio>
#include <cstring>

#include "eeprom.h"
#include "load.h"

namespace {

// The values the job writes: recover the change's new values, undo its old
// ones (those that were read before it wrote).
void plan_from(load_job *job, const change_entry &e) {
    const bool recover = job->record.action == action_kind::RECOVER;
    eeprom_image *im = &job->c.image;
    *im = eeprom_image{};
    im->listed = recover ? e.locations : e.locations & e.before_known;
    for (uint32_t loc = 0; loc < CONFIG_LOCATIONS; loc++)
        im->values[loc] = recover ? e.after[loc] : e.before[loc];
}

// The card's last change in the history, the history read once for the
// run; null when it has none.
const change_entry *history_change(image_run *run, uint32_t card_id, failure_log *log) {
    if (!run->history_read && !index_history(&run->changes, &run->history, log)) return nullptr;
    run->history_read = true;
    return last_change_of(run->history, card_id);
}

// The far location of a change of sorvit's: what the card holds there;
// false when it cannot be read (reported).
bool read_far(load_job *job, const change_entry &e) {
    const bool recover = job->record.action == action_kind::RECOVER;
    job->far = e.has_far && (recover || e.far_before_known);
    if (!job->far) return true;
    job->far_location = e.far_location;
    job->far_target = recover ? e.far_after : e.far_before;
    VELQOR2_STATUS status = VELQOR2_ReadConfig(job->c.card.handle, e.far_location, &job->far_value);
    if (status == VELQOR2_SUCCESS) return true;
    log_failure(job->c.card.log, "Failed to read EEPROM location 0x%lx: %s\n",
                static_cast<unsigned long>(e.far_location), VELQOR2_GetStatusString(status));
    return false;
}

// What a dead run planned for the card and never began; null when nothing.
const change_entry *plan_of(const image_run *run, uint32_t card_id) {
    for (size_t k = 0; k < run->plan_count; k++)
        if (run->plans[k].card_id == card_id) return &run->plans[k];
    return nullptr;
}

// The change to settle: the card's unfinished one, or for undo its last in
// the history (with +all, of the run undone). 1 when there is nothing to
// settle (done), -1 when it is refused.
int find_change(image_run *run, load_job *job) {
    card_record *r = &job->record;
    const card_session &card = job->c.card;
    const bool all = run->out->run.all;
    const change_entry *last = nullptr;
    if (note_unfinished(run, card.card_id, r, false)) {
        job->settles = true;
    } else if (r->action == action_kind::RECOVER && all && (last = plan_of(run, card.card_id))) {
        job->resumes = keep_change(r, *last, false);  // a dead run's plan: finished here
        if (!job->resumes) return -1;
        r->change->board_type = card.board_type;  // a plan gives no board type
        return 0;
    } else if (r->action == action_kind::RECOVER) {
        return 1;
    } else if (!(last = history_change(run, card.card_id, &r->failures)) && r->failures.text) {
        return -1;
    } else if (!last || (all && strcmp(last->run, run->undo_run) != 0)) {
        if (all) return 1;
        log_failure(&r->failures, "Card %s has no change in the history to undo\n",
                    label_of(card.card_id).text);
        return -1;
    } else if (!keep_change(r, *last, false)) {
        log_failure(&r->failures, "Out of memory for the change of card %s\n",
                    label_of(card.card_id).text);
        return -1;
    }
    if (r->change->board_type == card.board_type) return 0;
    log_failure(&r->failures,
                "Card %s is board type %ld; its change was made on board type %ld: nothing "
                "written\n",
                label_of(card.card_id).text, static_cast<long>(card.board_type),
                static_cast<long>(r->change->board_type));
    return -1;
}

// Holding the card's lock shared: its change found, and the card read at
// the change's locations.
int read_for_settling(image_run *run, load_job *job) {
    card_lock lock;
    card_record *r = &job->record;
    int status =
        lock_card_for(&run->changes, job->c.card.card_id, lock_mode::SHARED, &lock, &r->failures);
    if (status == 0) status = find_change(run, job);
    comparison_part *part = &r->load.comparison;
    if (status == 0) {
        plan_from(job, *r->change);
        if (!read_locations(&job->c.card, job->c.image.listed, part->card_values) ||
            !read_far(job, *r->change)) {
            r->card_failed = true;
            status = -1;
        }
    }
    unlock_card(&lock);
    if (status != 0) return status;
    part->compared = true;
    part->listed = job->c.image.listed;
    for (uint32_t loc = 0; loc < CONFIG_LOCATIONS; loc++) {
        part->image_values[loc] = job->c.image.values[loc];
        if (image_lists(&job->c.image, loc) && part->card_values[loc] != part->image_values[loc])
            part->differ |= bit(loc);
    }
    return 0;
}

}  // namespace

void preview_settle(image_run *run, load_job *job, bool close_card_after) {
    card_record *r = &job->record;
    int status = open_card_for(job->choice, &job->c.card, r);
    if (status == 0) status = read_for_settling(run, job);
    if (status == 0) {
        print_card_line(changes_shown_on(run), &job->c.card);  // as load names its card
        r->file = r->change->image[0] ? r->change->image : nullptr;
        status = compare_and_show(run, job);
    } else if (status == 1) {
        status = 0;  // recover: no change to finish
    }
    if (close_card_after || !job->pending) close_card(&job->c.card);
    if (!job->pending) end_job(run, job, status);
}

bool choose_undo_run(image_run *run, failure_log *log) {
    if (!run->history_read && !index_history(&run->changes, &run->history, log)) return false;
    run->history_read = true;
    char journal_run[sizeof run->undo_run] = "";
    newest_unfinished_run(&run->changes, journal_run, sizeof journal_run);
    const char *newest =
        strcmp(journal_run, run->history.newest_run) > 0 ? journal_run : run->history.newest_run;
    snprintf(run->undo_run, sizeof run->undo_run, "%s", newest);
    if (run->undo_run[0]) return true;
    log_failure(log, "No change in the history or the journal to undo\n");
    return false;
}

int settle_card(image_run *run, action_kind action, const card_choice &choice) {
    load_job job{};
    start_record(&job.record, action, 0, nullptr);
    job.choice = choice;
    preview_settle(run, &job, false);
    return finish_loads(run, &job, 1);
}
