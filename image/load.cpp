// load: puts an image back on the card. The whole image is read and checked
// before the card is opened; only the locations that differ are written,
// once the user agrees; then every location the image lists is read again,
// written or not, and the card is said to match only when all of them do.
#include "load.h"

#include <cstdio>

#include "confirm.h"
#include "report.h"

namespace {

int worse(int a, int b) { return a < 0 || b < 0 ? -1 : a > b ? a : b; }

void show_changes(FILE *stream, const comparison *c, const comparison_part &part,
                  location_mask protected_mask, bool unlock) {
    for (uint32_t loc = 0; stream && loc < CONFIG_LOCATIONS; loc++) {
        if ((part.differ & bit(loc)) == 0) continue;
        const char *note = (protected_mask & bit(loc)) == 0 ? ""
                           : unlock                         ? "  (protected)"
                                                            : "  (protected: left unchanged)";
        print_location(stream, &c->card, loc, part.card_values[loc]);
        fprintf(stream, " -> %s%s\n",
                format_value(&c->image.values[loc], value_digits(&c->card)).text, note);
    }
}

void report_partial_load(location_mask written, unsigned total, failure_log *log) {
    char list[CONFIG_LOCATIONS * 6 + 4] = "";
    size_t n = 0;
    for (uint32_t loc = 0; loc < CONFIG_LOCATIONS; loc++)
        if (written & bit(loc))
            n += static_cast<size_t>(snprintf(list + n, sizeof list - n, "%s0x%02lX",
                                              n ? ", " : " (", static_cast<unsigned long>(loc)));
    log_failure(
        log,
        "Wrote %u of %u locations before the failure%s%s; running load again finishes the job "
        "(it writes only what still differs)\n",
        count_bits(written), total, list, written ? ")" : "");
}

// Writes in ascending order; stops at the first failure.
bool write_locations(load_job *job) {
    const comparison *c = &job->c;
    load_part *l = &job->record.load;
    for (uint32_t loc = 0; loc < CONFIG_LOCATIONS; loc++) {
        if ((job->to_write & bit(loc)) == 0) continue;
        VELQOR2_STATUS status = VELQOR2_WriteConfig(c->card.handle, loc, c->image.values[loc]);
        if (status != VELQOR2_SUCCESS) {
            log_failure(c->card.log, "Failed to write EEPROM location 0x%lx: %s\n",
                        static_cast<unsigned long>(loc), VELQOR2_GetStatusString(status));
            report_partial_load(l->written, count_bits(job->to_write), c->card.log);
            return false;
        }
        l->written |= bit(loc);
    }
    return true;
}

// What the final read found, over every location of the image.
struct verification {
    location_mask not_written;  // written, and reading back another value or failing to read
    location_mask changed;      // not written, and no longer matching: someone else wrote it
};

verification verify(const comparison *c, location_mask written, location_mask held) {
    verification v{};
    const int digits = value_digits(&c->card);
    for (uint32_t loc = 0; loc < CONFIG_LOCATIONS; loc++) {
        if (!image_lists(&c->image, loc) || (held & bit(loc))) continue;
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
                        "EEPROM location 0x%lx changed to 0x%0*lX during the load; the image has "
                        "0x%0*lX\n",
                        l, digits, static_cast<unsigned long>(value), digits, wanted);
            v.changed |= bit(loc);
        }
    }
    return v;
}

// The outcome of the writes, as the final read found the card.
int conclude(load_job *job) {
    const comparison *c = &job->c;
    load_part *l = &job->record.load;
    const unsigned w = count_bits(job->to_write), h = count_bits(job->held);
    const verification v = verify(c, job->to_write, job->held);
    l->verified = v.not_written == 0 && v.changed == 0;
    if (v.not_written != 0) {
        log_failure(c->card.log,
                    "Wrote %u location%s, but %u of the image's do not read back as written\n", w,
                    plural(w), count_bits(v.not_written));
        return -1;
    }
    if (v.changed != 0) {
        log_failure(
            c->card.log,
            "Wrote %u location%s, but %u other location%s changed meanwhile: the card does not "
            "match %s\n",
            w, plural(w), count_bits(v.changed), plural(count_bits(v.changed)),
            image_name(job->file.shown));
        l->result = load_result::CHANGED_MEANWHILE;
        return 1;
    }
    l->result = h == 0 ? load_result::WRITTEN : load_result::PROTECTED_LEFT;
    return h == 0 ? 0 : 1;
}

// Writes what the preview found to write and verifies it. After a question
// (asked), it first makes sure the card is still the board it showed; a
// card closed since its preview is opened again by its ID and checked the
// same way.
int apply_load(load_job *job, bool asked) {
    card_session *card = &job->c.card;
    if (card->handle == 0 ? reopen_card(card) != 0 : asked && confirm_card_unchanged(card) != 0) {
        job->record.card_failed = true;
        return -1;
    }
    if (!write_locations(job)) {
        job->record.card_failed = true;
        return -1;
    }
    return conclude(job);
}

// The question before the writes of one card or of several; 1 to go on, or
// the exit status of a run that stops there, with why in log.
int ask_before_loading(FILE *stream, unsigned locations, unsigned cards, uint32_t card_id,
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
            locations += count_bits(jobs[k].to_write);
            cards++;
            last = jobs[k].c.card.card_id;
        }
    if (locations == 0 || run->options.force) return 1;
    return ask_before_loading(run->out->prompt, locations, cards, last, log);
}

void done(image_run *run, load_job *job) {
    render_card(run->out, job->record);
    release_record(&job->record);
}

}  // namespace

void preview_load(image_run *run, load_job *job, bool close_card_after) {
    card_record *r = &job->record;
    load_part *l = &r->load;
    // Shown before the question, and with +json only when it is asked.
    FILE *shown = run->out->json && run->options.force ? nullptr : run->out->prompt;
    int status = start_comparison(run, job->choice, job->file, image_use::LOAD, shown, &job->c, r);
    const comparison_part &part = l->comparison;
    if (status == 0 && part.differ == 0) {
        l->result = load_result::ALREADY_MATCHED;
        l->verified = true;
    } else if (status == 0) {
        l->protected_mask = protected_locations(r->card) & part.differ;
        job->held = job->choice.unlock ? 0 : l->protected_mask;
        job->to_write = part.differ & ~job->held;
        show_changes(shown, &job->c, part, l->protected_mask, job->choice.unlock);
        job->pending = job->to_write != 0;
        if (!job->pending) {
            l->result = load_result::PROTECTED_LEFT;
            l->verified = true;
            status = 1;
        }
    }
    if (close_card_after || !job->pending) close_card(&job->c.card);
    if (!job->pending) {
        end_record(r, status);
        done(run, job);
    }
}

int finish_loads(image_run *run, load_job *jobs, size_t count) {
    failure_log question{};  // a failed question is every pending card's error
    const int go_on = ask_for(run, jobs, count, &question);
    int status = 0;
    for (size_t k = 0; k < count; k++) {
        load_job *job = &jobs[k];
        status = worse(status, job->record.status);
        if (!job->pending) continue;
        int s = go_on;
        if (go_on == 1) s = apply_load(job, !run->options.force);
        else job->record.load.result = load_result::ABORTED;
        close_card(&job->c.card);
        end_record(&job->record, s);
        if (go_on < 0) set_record_error(&job->record, failure_text(&question));
        status = worse(status, s);
        done(run, job);
    }
    clear_failures(&question);
    return status;
}

int load_card(image_run *run, const card_choice &choice, const char *file) {
    load_job job{};
    start_record(&job.record, action_kind::LOAD, 0, file);
    job.choice = choice;
    job.file = path_named(file);
    if (is_standard_stream(file) && !choice.force) {
        log_failure(&job.record.failures,
                    "An image from standard input needs +f: standard input cannot also answer the "
                    "question\n");
        end_record(&job.record, -1);
        done(run, &job);
        return -1;
    }
    preview_load(run, &job, false);
    return finish_loads(run, &job, 1);
}
