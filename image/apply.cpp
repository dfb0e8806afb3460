// The writes of load, recover and undo, after their one question: each
// card's change as one unit. Holding the card's lock, the locations are
// read again (that read decides what to write), the change is journaled,
// written in ascending order with the signals that can wait held, read back
// whole, and recorded; a change that fails after its first write is left
// unfinished, for recover or undo to settle.
#include <cstdio>
#include <cstring>

#include "confirm.h"
#include "eeprom.h"
#include "load.h"
#include "report.h"
#include "signals.h"

namespace {

int worse(int a, int b) { return a < 0 || b < 0 ? -1 : a > b ? a : b; }

// What the job's messages call the values it writes, and what it does.
const char *target_of(const load_job &job) {
    return job.record.action == action_kind::LOAD ? image_name(job.file.shown) : "the change";
}

void report_partial(const load_job &job, location_mask written, unsigned total) {
    char list[CONFIG_LOCATIONS * 6 + 4] = "";
    size_t n = 0;
    for (uint32_t loc = 0; loc < CONFIG_LOCATIONS; loc++)
        if (written & bit(loc))
            n += static_cast<size_t>(snprintf(list + n, sizeof list - n, "%s0x%02lX",
                                              n ? ", " : " (", static_cast<unsigned long>(loc)));
    const unsigned long id = job.c.card.card_id;
    if (job.settles)
        log_failure(job.c.card.log,
                    "Wrote %u of %u locations before the failure; the change is still unfinished: "
                    "`sorvit-image /card %lu recover` finishes it, `sorvit-image /card %lu undo` "
                    "restores what the card held\n",
                    count_bits(written), total, id, id);
    else if (written == 0)
        log_failure(job.c.card.log,
                    "Wrote 0 of %u locations before the failure: the card is as it was\n", total);
    else
        log_failure(job.c.card.log,
                    "Wrote %u of %u locations before the failure%s); the change is unfinished: "
                    "`sorvit-image /card %lu recover` finishes it, `sorvit-image /card %lu undo` "
                    "restores what the card held\n",
                    count_bits(written), total, list, id, id);
}

// Writes in ascending order, each noted in the journal; stops at the first
// failure.
bool write_locations(image_run *run, load_job *job, change_entry *entry) {
    const comparison *c = &job->c;
    for (uint32_t loc = 0; loc < CONFIG_LOCATIONS; loc++) {
        if ((entry->locations & bit(loc)) == 0) continue;
        VELQOR2_STATUS status = VELQOR2_WriteConfig(c->card.handle, loc, c->image.values[loc]);
        if (status != VELQOR2_SUCCESS) {
            log_failure(c->card.log, "Failed to write EEPROM location 0x%lx: %s\n",
                        static_cast<unsigned long>(loc), VELQOR2_GetStatusString(status));
            report_partial(*job, entry->written, count_bits(entry->locations));
            return false;
        }
        change_written(&run->changes, entry, loc);
        job->record.load.written |= bit(loc);
    }
    if (!entry->has_far) return true;
    VELQOR2_STATUS status = VELQOR2_WriteConfig(c->card.handle, job->far_location, job->far_target);
    job->record.load.far_written = status == VELQOR2_SUCCESS;
    if (status == VELQOR2_SUCCESS) change_written(&run->changes, entry, job->far_location);
    else
        log_failure(c->card.log, "Failed to write EEPROM location 0x%lx: %s\n",
                    static_cast<unsigned long>(job->far_location), VELQOR2_GetStatusString(status));
    return status == VELQOR2_SUCCESS;
}

// What the final read found, over every location of the change.
struct verification {
    location_mask not_written;  // written, and reading back another value or failing to read
    location_mask changed;      // not written, and no longer matching: someone else wrote it
};

verification verify(const load_job &job, location_mask written) {
    const comparison *c = &job.c;
    verification v{};
    const int digits = value_digits(&c->card);
    for (uint32_t loc = 0; loc < CONFIG_LOCATIONS; loc++) {
        if (!image_lists(&c->image, loc) || (job.held & bit(loc))) continue;
        const unsigned long l = loc, wanted = c->image.values[loc];
        uint32_t value = 0;
        VELQOR2_STATUS status = VELQOR2_ReadConfig(c->card.handle, loc, &value);
        if (status != VELQOR2_SUCCESS) {
            log_failure(c->card.log, "Failed to read back EEPROM location 0x%lx: %s\n", l,
                        VELQOR2_GetStatusString(status));
            v.not_written |= bit(loc);
        } else if (value == wanted) {
            continue;
        } else if (written & bit(loc)) {
            log_failure(c->card.log,
                        "EEPROM location 0x%lx reads back 0x%0*lX after 0x%0*lX was written\n", l,
                        digits, static_cast<unsigned long>(value), digits, wanted);
            v.not_written |= bit(loc);
        } else {
            log_failure(c->card.log,
                        "EEPROM location 0x%lx changed to 0x%0*lX during the %s; %s has 0x%0*lX\n",
                        l, digits, static_cast<unsigned long>(value),
                        action_word(job.record.action),
                        job.record.action == action_kind::LOAD ? "the image" : "the change", digits,
                        wanted);
            v.changed |= bit(loc);
        }
    }
    uint32_t value = 0;
    if (job.far &&
        (VELQOR2_ReadConfig(c->card.handle, job.far_location, &value) != VELQOR2_SUCCESS ||
         value != job.far_target)) {
        log_failure(c->card.log, "EEPROM location 0x%lx does not read back as written\n",
                    static_cast<unsigned long>(job.far_location));
        v.not_written |= bit(0);  // counted once
    }
    return v;
}

// The outcome of the writes, as the final read found the card.
int conclude(load_job *job) {
    load_part *l = &job->record.load;
    const unsigned w = count_bits(l->written), h = count_bits(job->held);
    const verification v = verify(*job, l->written);
    l->verified = v.not_written == 0 && v.changed == 0;
    if (v.not_written != 0) {
        log_failure(job->c.card.log,
                    "Wrote %u location%s, but %u of the image's do not read back as written\n", w,
                    plural(w), count_bits(v.not_written));
        return -1;
    }
    if (v.changed != 0) {
        log_failure(job->c.card.log,
                    "Wrote %u location%s, but %u other location%s changed meanwhile: the card does "
                    "not match %s\n",
                    w, plural(w), count_bits(v.changed), plural(count_bits(v.changed)),
                    target_of(*job));
        l->result = load_result::CHANGED_MEANWHILE;
        return 1;
    }
    l->result = h == 0 ? load_result::WRITTEN : load_result::PROTECTED_LEFT;
    return h == 0 ? 0 : 1;
}

// Under the card's lock: a load refuses a card that another run left
// unfinished; a recover or an undo of an unfinished change finds it still
// there (no other run settled it meanwhile).
int check_change_state(image_run *run, load_job *job) {
    card_record *r = &job->record;
    change_entry now;
    const bool unfinished = card_unfinished(&run->changes, job->c.card.card_id, &now);
    if (!job->settles)
        return unfinished && note_unfinished(run, job->c.card.card_id, r, true) ? -1 : 0;
    if (unfinished && strcmp(now.run, r->change->run) == 0) return 0;
    log_failure(&r->failures,
                "The change of card %s was settled by another run meanwhile: nothing written\n",
                label_of(job->c.card.card_id).text);
    return -1;
}

// Reads the change's locations again, under the lock, and works out what
// to write from what the card holds now. The locations to write, none when
// the card holds the values already. After a question, a card that changed
// since its changes were shown is not written: the answer was to those.
int reread(load_job *job, bool asked, location_mask *to_write) {
    card_record *r = &job->record;
    comparison_part *part = &r->load.comparison;
    uint32_t shown[CONFIG_LOCATIONS];
    memcpy(shown, part->card_values, sizeof shown);
    const uint32_t far_shown = job->far_value;
    if (!read_locations(&job->c.card, job->c.image.listed, part->card_values) ||
        (job->far && VELQOR2_ReadConfig(job->c.card.handle, job->far_location, &job->far_value) !=
                         VELQOR2_SUCCESS)) {
        r->card_failed = true;
        return -1;
    }
    if (asked &&
        (memcmp(shown, part->card_values, sizeof shown) != 0 || far_shown != job->far_value)) {
        log_failure(&r->failures,
                    "Card %s changed while the question was open: nothing written (its changes "
                    "are no longer the ones shown)\n",
                    label_of(job->c.card.card_id).text);
        return -1;
    }
    part->differ = 0;
    for (uint32_t loc = 0; loc < CONFIG_LOCATIONS; loc++)
        if (image_lists(&job->c.image, loc) && part->card_values[loc] != job->c.image.values[loc])
            part->differ |= bit(loc);
    r->load.protected_mask = protected_locations(r->card) & part->differ;
    job->held = job->choice.unlock ? 0 : r->load.protected_mask;
    *to_write = part->differ & ~job->held;
    return 0;
}

// A recover's line in the history gives the change it finished as a whole:
// what the card held before the change began, and what it holds now, so
// that an undo of it puts back what the card held before.
void record_recovered(image_run *run, const change_entry &e, const char *outcome) {
    change_entry whole;
    new_change(&run->changes, &whole, e.card_id, e.board_type, e.word_bits, e.image);
    whole.has_index = e.has_index;
    whole.index = e.index;
    whole.locations = whole.written = e.locations;
    whole.before_known = e.before_known;
    memcpy(whole.before, e.before, sizeof whole.before);
    memcpy(whole.after, e.after, sizeof whole.after);
    whole.has_far = whole.far_written = e.has_far;
    whole.far_location = e.far_location;
    whole.far_before_known = e.far_before_known;
    whole.far_before = e.far_before;
    whole.far_after = e.far_after;
    end_change(&run->changes, whole, outcome);
}

// The change of an unfinished change, once it went as far as it could: the
// unfinished change closed when the card holds all of what settling it
// writes (a protected location left unchanged keeps it open), and the
// history told.
void close_settling(image_run *run, const load_job &job, const change_entry &entry, int status) {
    const card_record &r = job.record;
    const char *outcome = status < 0 ? "failed" : load_result_word(r.load.result);
    if (status == 0) settle_change(&run->changes, *r.change);
    if (status == 0 && r.action == action_kind::RECOVER) record_recovered(run, *r.change, outcome);
    else end_change(&run->changes, entry, outcome);
}

// The change, closed: in the journal and the history when it wrote what it
// meant to (or nothing), left unfinished when a failure cut it short.
void close_change(image_run *run, load_job *job, const change_entry &entry, int status) {
    if (status == 0 && job->resumes) close_plan(&run->changes, *job->record.change);
    if (job->settles) close_settling(run, *job, entry, status);
    else if (status >= 0 || entry.written == 0)
        end_change(&run->changes, entry,
                   status < 0 ? "failed" : load_result_word(job->record.load.result));
    else leave_unfinished(&run->changes, entry);
}

// The writes of one card, holding its lock.
int write_change(image_run *run, load_job *job, bool asked) {
    card_record *r = &job->record;
    location_mask to_write = 0;
    if (reread(job, asked, &to_write) != 0) return -1;
    if (to_write == 0 && !far_differs(*job)) {
        r->load.result = job->held ? load_result::PROTECTED_LEFT : load_result::ALREADY_MATCHED;
        r->load.verified = true;
        if (job->settles) close_settling(run, *job, change_entry{}, job->held ? 1 : 0);
        return job->held ? 1 : 0;
    }
    change_entry entry;
    const comparison_part &part = r->load.comparison;
    new_change(&run->changes, &entry, job->c.card.card_id, job->c.card.board_type,
               job->c.card.word_width * 8, r->file);
    entry.has_index = r->has_index;
    entry.index = r->index;
    entry.locations = entry.before_known = to_write;
    for (uint32_t loc = 0; loc < CONFIG_LOCATIONS; loc++) {
        entry.before[loc] = part.card_values[loc];
        entry.after[loc] = job->c.image.values[loc];
    }
    if (far_differs(*job)) {
        entry.has_far = entry.far_before_known = true;
        entry.far_location = job->far_location;
        entry.far_before = job->far_value;
        entry.far_after = job->far_target;
    }
    // The change of an unfinished change is its journal's already.
    if (!job->settles && begin_change(&run->changes, entry, &r->failures) != 0) return -1;
    held_signals held;
    hold_signals(&held);
    const bool wrote = write_locations(run, job, &entry);
    if (!wrote) r->card_failed = true;
    const int status = wrote ? conclude(job) : -1;
    close_change(run, job, entry, status);
    release_signals(&held);
    return status;
}

// Writes what the preview found to write and verifies it. After a question
// (asked), it first makes sure the card is still the board it showed; a
// card closed since its preview is opened again by its ID and checked the
// same way.
int apply_change(image_run *run, load_job *job, bool asked) {
    card_session *card = &job->c.card;
    card_record *r = &job->record;
    if (card->handle == 0 ? reopen_card(card) != 0 : asked && confirm_card_unchanged(card) != 0) {
        r->card_failed = true;
        return -1;
    }
    card_lock lock;
    int status =
        lock_card_for(&run->changes, card->card_id, lock_mode::EXCLUSIVE, &lock, &r->failures);
    if (status == 0) status = check_change_state(run, job);
    if (status == 0) status = write_change(run, job, asked);
    unlock_card(&lock);
    return status;
}

// The question before the writes of one card or of several; 1 to go on, or
// the exit status of a run that stops there, with why in log.
int ask_before_writing(FILE *stream, unsigned locations, unsigned cards, uint32_t card_id,
                       failure_log *log) {
    if (cards == 1)
        fprintf(stream, "Warning: this will write %u EEPROM location%s of card %s\n", locations,
                plural(locations), label_of(card_id).text);
    else
        fprintf(stream, "Warning: this will write %u EEPROM location%s of %u cards\n", locations,
                plural(locations), cards);
    reply answer = ask_to_continue(stream);
    if (answer == REPLY_YES) return 1;
    if (answer == REPLY_UNSEEN) {
        log_failure(log,
                    "Cannot ask before writing: the question could not be shown; nothing "
                    "written\n");
        return -1;
    }
    fprintf(stream, "Aborted.\n");
    if (answer == REPLY_NO) return 0;
    // Declining is a decision; no reply is not.
    log_failure(log, "No reply to the question: nothing written\n");
    return -1;
}

// The question for every pending job: 1 to go on, else the status of each.
int ask_for(image_run *run, const load_job *jobs, size_t count, failure_log *log) {
    unsigned locations = 0, cards = 0;
    uint32_t last = 0;
    for (size_t k = 0; k < count; k++)
        if (jobs[k].pending) {
            const comparison_part &part = jobs[k].record.load.comparison;
            locations += count_bits(part.differ & ~jobs[k].held) + far_differs(jobs[k]);
            cards++;
            last = jobs[k].c.card.card_id;
        }
    if (locations == 0 || run->options.force) return 1;
    return ask_before_writing(run->out->prompt, locations, cards, last, log);
}

// +all load says in the journal what it will write to every card before
// its first write, so that a recover can finish the run.
void plan_run(image_run *run, const load_job *jobs, size_t count) {
    for (size_t k = 0; k < count; k++) {
        const load_job &job = jobs[k];
        if (!job.pending) continue;
        change_entry plan{};
        plan.card_id = job.c.card.card_id;
        plan.has_index = job.record.has_index;
        plan.index = job.record.index;
        snprintf(plan.image, sizeof plan.image, "%s", job.file.shown);
        plan.locations = job.c.image.listed;
        memcpy(plan.after, job.c.image.values, sizeof plan.after);
        plan_change(&run->changes, plan);  // without room, a recover finishes less
    }
}

}  // namespace

void end_job(image_run *run, load_job *job, int status, const char *error) {
    close_card(&job->c.card);
    end_record(&job->record, status);
    if (error) set_record_error(&job->record, error);
    render_card(run->out, job->record);
    // What was written, and how it went, is out before the next card's
    // writes begin: a run cut short leaves its progress behind.
    if (run->out->text && writes_card(job->record.action)) flush_output();
    release_record(&job->record);
}

int finish_loads(image_run *run, load_job *jobs, size_t count) {
    failure_log question{};  // a failed question is every pending card's error
    const int go_on = ask_for(run, jobs, count, &question);
    run->went_on = go_on == 1;
    if (go_on == 1 && run->out->run.all && run->out->run.action == action_kind::LOAD)
        plan_run(run, jobs, count);
    // The plan is out before its first write.
    if (run->out->text) flush_output();
    int status = 0;
    for (size_t k = 0; k < count; k++) {
        load_job *job = &jobs[k];
        status = worse(status, job->record.status);
        if (!job->pending) continue;
        int s = go_on;
        if (go_on == 1) s = apply_change(run, job, !run->options.force);
        else job->record.load.result = load_result::ABORTED;
        status = worse(status, s);
        end_job(run, job, s, go_on < 0 ? failure_text(&question) : nullptr);
    }
    clear_failures(&question);
    return status;
}
