#include "all_cards.h"

#include <limits.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "atomic_file.h"
#include "cards.h"
#include "folder_images.h"
#include "image_file.h"
#include "load.h"
#include "report.h"
#include "safe_path.h"
#include "settle.h"

namespace {

int worse(int a, int b) { return a < 0 || b < 0 ? -1 : a > b ? a : b; }

constexpr mode_t FOLDER_MODE = 0755;  // less the umask: never writable by others

// A folder that save makes: under a temporary name, with its missing
// parents, so that it appears whole or not at all (made->exists).
int make_folder(const char *folder, safe_place *place, atomic_folder *made) {
    safe_place above;
    int error = safe_walk(folder, SAFE_MAKE_FOLDERS | SAFE_STRICT, FOLDER_MODE, &above);
    if (error == EPERM) memcpy(place->refused, above.refused, sizeof place->refused);
    if (!error && above.exists) error = EEXIST;  // made meanwhile, or not a folder
    if (!error) error = atomic_folder_begin(&above, FOLDER_MODE, made, place);
    safe_release(&above);
    return error;
}

// The folder as the action needs it, reached once for the run (place):
// there, or made whole at the end (made) for save; there, for check and
// load, and for load one that no other user can change. Each image is
// checked again as it is read; a folder at fault is said once, not card by
// card, and before any question.
bool prepare_folder(action_kind action, const char *folder, safe_place *place, atomic_folder *made,
                    failure_log *log) {
    const bool save = action == action_kind::SAVE;
    const unsigned flags =
        save ? SAFE_WHOLE_FOLDER | SAFE_STRICT : SAFE_WHOLE_FOLDER | SAFE_NOTE_CHANGEABLE;
    int error = safe_walk(folder, flags, 0, place);
    if (save && error == ENOENT) error = make_folder(folder, place, made);
    if (error == EPERM)
        log_failure(log, "Cannot %s %s: %s\n", save ? "save to" : "read", folder, place->refused);
    else if (error)
        log_failure(log, "Cannot %s folder %s: %s\n", save ? "create" : "read", folder,
                    strerror(error));
    else if (action == action_kind::LOAD && place->changeable[0])
        log_failure(log, "Cannot load from %s: %s\n", folder, place->changeable);
    else {
        if (save && !made->exists) remove_stale_card_temps(*place);
        return true;
    }
    safe_release(place);
    return false;
}

// One card of the run, as list found it.
struct card_slot {
    card_record *record;
    char *path;        // its image's path: owned
    image_path image;  // the image, in the run's folder
};

// The record of a card as list found it; false when it is not one to act
// on (a failed index, reported; an unsupported board, skipped).
bool card_found(const found_card &f, card_record *r) {
    r->has_index = true;
    r->index = f.index;
    if (!f.has_info) {
        log_failure(&r->failures, "Failed to %s with index %lu: %s\n",
                    f.opened ? "get card info of card" : "open card",
                    static_cast<unsigned long>(f.index), f.failure);
        r->card_failed = true;
        end_record(r, -1);
        return false;
    }
    note_card(r, f.card_id, f.board_type);
    r->skipped = r->card.word_bits == 0;
    return !r->skipped;
}

// Starts the card's record; false when the card is not for the action: a
// failed index, a board the tools do not support (skipped), or a folder
// whose name leaves no room for the card's file (each reported and ended).
bool start_card(const found_card &f, const char *folder, const safe_place &place, card_slot *s) {
    card_record *r = s->record;
    if (!card_found(f, r)) return false;
    const size_t room = strlen(folder) + 1 + CARD_IMAGE_NAME_SIZE;
    s->path = room <= PATH_MAX ? static_cast<char *>(malloc(room)) : nullptr;
    if (!s->path) {
        log_failure(&r->failures,
                    room <= PATH_MAX ? "Out of memory for the image file name of card %s\n"
                                     : "Image file name for card %s is too long: %.200s...\n",
                    label_of(f.card_id).text, folder);
        end_record(r, -1);
        return false;
    }
    card_image_path(folder, f.card_id, s->path, room);
    r->file = s->path;
    s->image = image_path{s->path, &place, s->path + strlen(folder) + 1};
    return true;
}

// The choice of the card with this ID, with the command line's options.
card_choice card_by_id(uint32_t card_id, const card_choice &options) {
    card_choice choice = options;
    choice.card_given = true;
    choice.index_given = false;
    choice.card_id = card_id;
    return choice;
}

// Flushes the folder saved to; a folder made by the run is put in place
// only when every card was saved, so that a dated backup never lacks one.
int flush_folder(const safe_place &place, const char *folder, atomic_folder *made, int status,
                 failure_log *log) {
    image_error err;
    if (!sync_image_folder(place, folder, &err)) {
        log_failure(log, "%s", err.text);
        status = -1;
    }
    if (!made->exists) return status;
    int error = status == 0 ? atomic_folder_commit(made) : 0;
    if (status != 0) {
        atomic_folder_discard(made);
        log_failure(log, "Folder %s not made: not every card was saved\n", folder);
    } else if (error) {
        log_failure(log, "Cannot make folder %s: %s\n", folder, strerror(error));
    }
    return error ? -1 : status;
}

// The images card-ID.img whose card the host does not have: a check that
// passed over them would call a missing card healthy. Each is a record of
// its own, after the cards'; their failures are the run's, said before
// any question.
struct orphans {
    id_list ids;
    bool unread;  // the folder could not be read
};

orphans find_orphans(const safe_place &place, const char *folder, const card_list &list,
                     failure_log *log) {
    orphans o{};
    id_list known{};
    bool ok = true;
    for (size_t k = 0; ok && k < list.count; k++)
        if (list.cards[k].has_info) ok = push_id(&known, list.cards[k].card_id);
    sort_ids(&known);
    image_error err;
    if (!ok) set_image_error(&err, "Out of memory reading folder %s", folder);
    if (!ok || !images_without_cards(place, folder, known, &o.ids, &err)) {
        log_failure(log, "%s", err.text);
        o.unread = true;
    }
    free_ids(&known);
    return o;
}

void orphan_text(const char *folder, uint32_t card_id, char *path, size_t size, char *error,
                 size_t error_size) {
    card_image_path(folder, card_id, path, size);
    snprintf(error, error_size, "%s: no card with ID %lu on this host", path,
             static_cast<unsigned long>(card_id));
}

int report_orphans(const char *folder, const orphans &o, failure_log *log) {
    for (size_t k = 0; k < o.ids.count; k++) {
        char path[PATH_MAX], error[PATH_MAX + 64];
        orphan_text(folder, o.ids.ids[k], path, sizeof path, error, sizeof error);
        log_failure(log, "%s\n", error);
    }
    return o.unread || o.ids.count ? -1 : 0;
}

void render_orphans(renderers *out, action_kind action, const char *folder, const orphans &o,
                    size_t first_slot) {
    for (size_t k = 0; k < o.ids.count; k++) {
        char path[PATH_MAX], error[PATH_MAX + 64];
        orphan_text(folder, o.ids.ids[k], path, sizeof path, error, sizeof error);
        card_record r{};
        start_record(&r, action, first_slot + k, path);
        r.image_only = true;
        r.card.card_id = o.ids.ids[k];
        set_record_error(&r, error);
        r.status = -1;
        render_card(out, r);
        release_record(&r);
    }
}

// save and check: one card at a time, each record rendered as soon as its
// card is done.
int save_or_check_each(image_run *run, action_kind action, const char *folder,
                       const safe_place &place, const card_list &list) {
    int status = 0;
    for (size_t k = 0; k < list.count; k++) {
        const found_card &f = list.cards[k];
        card_record r{};
        card_slot s{&r, nullptr, {}};
        start_record(&r, action, k, nullptr);
        if (start_card(f, folder, place, &s)) {
            const card_choice choice = card_by_id(f.card_id, run->options);
            // The folder is flushed once, after the last image.
            if (action == action_kind::SAVE) save_card(run, choice, s.image, false, &r);
            else check_card(run, choice, s.image, &r);
        }
        status = worse(status, r.status);
        render_card(run->out, r);
        release_record(&r);
        free(s.path);
    }
    return status;
}

// load: every card previewed and closed, one question, then the writes.
int load_each(image_run *run, const char *folder, const safe_place &place, const card_list &list,
              const orphans &o) {
    auto *jobs = static_cast<load_job *>(calloc(list.count, sizeof(load_job)));
    auto *paths = static_cast<char **>(calloc(list.count, sizeof(char *)));
    if (!jobs || !paths) {
        free(jobs);
        free(paths);
        log_failure(&run->out->failures, "Out of memory for %zu cards\n", list.count);
        run->out->stopped = true;
        return -1;
    }
    for (size_t k = 0; k < list.count; k++) {
        load_job *job = &jobs[k];
        card_slot s{&job->record, nullptr, {}};
        start_record(&job->record, action_kind::LOAD, k, nullptr);
        if (start_card(list.cards[k], folder, place, &s)) {
            paths[k] = s.path;
            job->choice = card_by_id(list.cards[k].card_id, run->options);
            job->file = s.image;
            preview_load(run, job, true);
        } else {
            render_card(run->out, job->record);
            release_record(&job->record);
        }
    }
    int status = report_orphans(folder, o, &run->out->failures);  // before the question
    status = worse(status, finish_loads(run, jobs, list.count));
    for (size_t k = 0; k < list.count; k++) free(paths[k]);
    free(paths);
    free(jobs);
    return status;
}

// What the last run planned and never began, read before any card settles
// (the last settled change of a run removes its journal). A plan of an
// older run is stale: a later run changed the cards since.
bool read_plans(image_run *run) {
    failure_log *log = &run->out->failures;
    if (!planned_changes(&run->changes, &run->plans, &run->plan_count)) {
        log_failure(log, "Out of memory reading the journal of changes\n");
        return false;
    }
    if (run->plan_count == 0) return true;
    if (!choose_undo_run(run, log)) return false;  // the newest run, as undo finds it
    char last[sizeof run->undo_run];
    snprintf(last, sizeof last, "%s", run->undo_run);
    for (size_t k = 0; k < run->plan_count; k++)
        if (strcmp(run->plans[k].run, last) > 0)
            snprintf(last, sizeof last, "%s", run->plans[k].run);
    size_t kept = 0;
    for (size_t k = 0; k < run->plan_count; k++)
        if (strcmp(run->plans[k].run, last) == 0) run->plans[kept++] = run->plans[k];
    run->plan_count = kept;
    return true;
}

// recover and undo: every card's change previewed, one question, then the
// writes, as a load's.
int settle_each(image_run *run, action_kind action, const card_list &list) {
    if (action == action_kind::UNDO && !choose_undo_run(run, &run->out->failures)) {
        run->out->stopped = true;
        return -1;
    }
    if (action == action_kind::RECOVER && !read_plans(run)) {
        run->out->stopped = true;
        return -1;
    }
    auto *jobs = static_cast<load_job *>(calloc(list.count, sizeof(load_job)));
    if (!jobs) {
        log_failure(&run->out->failures, "Out of memory for %zu cards\n", list.count);
        run->out->stopped = true;
        return -1;
    }
    for (size_t k = 0; k < list.count; k++) {
        load_job *job = &jobs[k];
        start_record(&job->record, action, k, nullptr);
        if (card_found(list.cards[k], &job->record)) {
            job->choice = card_by_id(list.cards[k].card_id, run->options);
            preview_settle(run, job, true);
        } else {
            end_job(run, job, job->record.status);
        }
    }
    int status = finish_loads(run, jobs, list.count);
    if (run->went_on) tidy_journals(&run->changes);  // not when the question was declined
    free(jobs);
    return status;
}

}  // namespace

int on_all_cards(image_run *run, action_kind action, const char *folder) {
    renderers *out = run->out;
    card_list list;
    safe_place place;
    if (!find_cards(&list, &out->failures)) {
        out->stopped = true;
        return -1;
    }
    if (action == action_kind::RECOVER || action == action_kind::UNDO) {
        int status = settle_each(run, action, list);
        free_cards(&list);
        return status;
    }
    atomic_folder made{-1, {}, {}, false};
    if (!prepare_folder(action, folder, &place, &made, &out->failures)) {
        atomic_folder_discard(&made);
        free_cards(&list);
        out->stopped = true;
        return -1;
    }
    orphans o{};
    if (action != action_kind::SAVE) o = find_orphans(place, folder, list, &out->failures);
    int status = o.unread ? -1 : 0;
    if (action == action_kind::LOAD) {
        status = worse(status, load_each(run, folder, place, list, o));
    } else {
        status = worse(status, save_or_check_each(run, action, folder, place, list));
        if (action == action_kind::SAVE)
            status = flush_folder(place, folder, &made, status, &out->failures);
        status = worse(status, report_orphans(folder, o, &out->failures));
    }
    render_orphans(out, action, folder, o, list.count);
    safe_release(&place);
    free_ids(&o.ids);
    free_cards(&list);
    return status;
}
