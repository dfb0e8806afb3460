// load: puts an image back on the card. The whole image is read and checked
// before the card is opened; only the locations that differ are written,
// once the user agrees; then every location the image lists is read again,
// written or not, and the card is said to match only when all of them do.
#include "load.h"

#include <cstdio>

#include "report.h"

namespace {

void show_changes(FILE *stream, const load_job &job, location_mask protected_mask) {
    const comparison_part &part = job.record.load.comparison;
    if (stream && far_differs(job)) {
        print_location(stream, &job.c.card, job.far_location, job.far_value);
        fprintf(stream, " -> %s\n", format_value(&job.far_target, value_digits(&job.c.card)).text);
    }
    for (uint32_t loc = 0; stream && loc < CONFIG_LOCATIONS; loc++) {
        if ((part.differ & bit(loc)) == 0) continue;
        const char *note = (protected_mask & bit(loc)) == 0 ? ""
                           : job.choice.unlock              ? "  (protected)"
                                                            : "  (protected: left unchanged)";
        print_location(stream, &job.c.card, loc, part.card_values[loc]);
        fprintf(stream, " -> %s%s\n",
                format_value(&job.c.image.values[loc], value_digits(&job.c.card)).text, note);
    }
}

}  // namespace

FILE *changes_shown_on(const image_run *run) {
    return run->out->json && run->options.force ? nullptr : run->out->prompt;
}

int compare_and_show(image_run *run, load_job *job) {
    card_record *r = &job->record;
    load_part *l = &r->load;
    const comparison_part &part = l->comparison;
    // An unfinished change is settled under the card's lock, whatever there
    // is to write.
    job->pending = job->settles;
    if (part.differ == 0 && !far_differs(*job)) {
        l->result = load_result::ALREADY_MATCHED;
        l->verified = true;
        return 0;
    }
    l->protected_mask = protected_locations(r->card) & part.differ;
    job->held = job->choice.unlock ? 0 : l->protected_mask;
    show_changes(changes_shown_on(run), *job, l->protected_mask);
    if ((part.differ & ~job->held) != 0 || far_differs(*job)) {
        job->pending = true;
        return 0;
    }
    l->result = load_result::PROTECTED_LEFT;
    l->verified = true;
    return 1;
}

void preview_load(image_run *run, load_job *job, bool close_card_after) {
    int status = start_comparison(run, job->choice, job->file, image_use::LOAD,
                                  changes_shown_on(run), &job->c, &job->record);
    if (status == 0) status = compare_and_show(run, job);
    if (close_card_after || !job->pending) close_card(&job->c.card);
    if (!job->pending) end_job(run, job, status);
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
        end_job(run, &job, -1);
        return -1;
    }
    preview_load(run, &job, false);
    return finish_loads(run, &job, 1);
}
