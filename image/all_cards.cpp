#include "all_cards.h"

#include <limits.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "actions.h"
#include "board.h"
#include "cards.h"
#include "folder_images.h"
#include "image_file.h"
#include "json_doc.h"
#include "load.h"
#include "output.h"
#include "report.h"
#include "safe_path.h"

namespace {

// One card of +all: its outcome and image file; a load keeps one for each
// card between its preview and its writes, save and check one in all.
struct card_run {
    card_outcome out;
    pending_load load;
    bool prepared;  // the load got as far as its question
    char *path;     // owned
};

// A load whose writes wait for the question.
bool writes_pending(const card_run &run) { return run.prepared && run.load.to_write != 0; }

void release_run(card_run *run) {
    release_outcome(&run->out);
    free(run->path);
    run->path = nullptr;
}

int worse(int a, int b) { return a < 0 || b < 0 ? -1 : a > b ? a : b; }

// The folder as the action needs it: made, with its missing parents, for
// save; there, for check and load, and for load one that no other user can
// change. Each image is checked again as it is read; a folder at fault is
// said once, not card by card, and before any question.
bool prepare_folder(action_kind action, const char *folder, failure_log *log) {
    const bool save = action == action_kind::SAVE;
    const unsigned flags =
        save ? SAFE_WHOLE_FOLDER | SAFE_MAKE_FOLDERS : SAFE_WHOLE_FOLDER | SAFE_NOTE_CHANGEABLE;
    safe_place place;
    int error = safe_walk(folder, flags, 0777, &place);
    safe_release(&place);
    if (error == EPERM)
        log_failure(log, "Cannot %s %s: %s\n", save ? "save to" : "read", folder, place.refused);
    else if (error)
        log_failure(log, "Cannot %s folder %s: %s\n", save ? "create" : "read", folder,
                    strerror(error));
    else if (action == action_kind::LOAD && place.changeable[0])
        log_failure(log, "Cannot load from %s: %s\n", folder, place.changeable);
    else return true;
    return false;
}

// Sets out for the card found at f; false when it is not for the action:
// a failed index, a board the tools do not support (skipped), or a folder
// whose name leaves no room for the card's file.
bool start_card(const found_card &f, const char *folder, card_run *run) {
    card_outcome *out = &run->out;
    start_outcome(out, nullptr);
    out->has_index = true;
    out->index = f.index;
    run->prepared = false;
    const unsigned long index = f.index;
    if (!f.has_info) {
        log_failure(&out->failures, "Failed to %s with index %lu: %s\n",
                    f.opened ? "get card info of card" : "open card", index, f.failure);
        out->card_failed = true;
        end_outcome(out, -1);
        return false;
    }
    // The card as list found it, even when the action fails before opening
    // it (a check without an image, say).
    out->has_card = true;
    out->card_id = f.card_id;
    out->board_type = f.board_type;
    if (classify_board(f.board_type) == 0) {
        out->skipped = true;
        return false;
    }
    free(run->path);
    const size_t room = strlen(folder) + sizeof "/card-4294967295.img";
    run->path = room <= PATH_MAX ? static_cast<char *>(malloc(room)) : nullptr;
    if (!run->path) {
        log_failure(&out->failures,
                    room <= PATH_MAX ? "Out of memory for the image file name of card %s\n"
                                     : "Image file name for card %s is too long: %.200s...\n",
                    label_of(f.card_id).text, folder);
        end_outcome(out, -1);
        return false;
    }
    card_image_path(folder, f.card_id, run->path, room);
    out->file = run->path;
    return true;
}

int flush_folder(const char *folder, failure_log *log) {
    sync_folders_later(false);
    image_error err;
    if (sync_image_folder(folder, &err)) return 0;
    log_failure(log, "%s", err.text);
    return -1;
}

// The text and the entry of an image card-ID.img whose card the host does
// not have: a check that passed over it would call a missing card healthy.
struct orphan_text {
    char path[PATH_MAX];
    char error[PATH_MAX + 64];
};

orphan_text orphan_of(const char *folder, uint32_t card_id) {
    orphan_text t;
    card_image_path(folder, card_id, t.path, sizeof t.path);
    snprintf(t.error, sizeof t.error, "%s: no card with ID %lu on this host", t.path,
             static_cast<unsigned long>(card_id));
    return t;
}

int report_images_without_cards(const char *folder, const id_list &orphans, failure_log *log) {
    for (size_t k = 0; k < orphans.count; k++)
        log_failure(log, "%s\n", orphan_of(folder, orphans.ids[k]).error);
    return orphans.count ? -1 : 0;
}

void render_image_without_card(renderers *r, action_kind action, const char *folder,
                               uint32_t card_id) {
    static card_outcome out;
    const orphan_text t = orphan_of(folder, card_id);
    start_outcome(&out, t.path);
    out.image_only = true;
    out.card_id = card_id;
    set_outcome_error(&out, t.error);
    out.status = -1;
    render_card(r, action, out);
}

// Every change of every card shown, one question, then the writes card by
// card, each card opened again and verified as a single load is.
int load_all(card_run *runs, const card_list &list, const card_choice &options, bool text) {
    unsigned locations = 0, cards = 0;
    const card_session *last = nullptr;
    for (size_t k = 0; k < list.count; k++) {
        card_run *run = &runs[k];
        if (writes_pending(*run)) {
            locations += count_bits(run->load.to_write);
            cards++;
            last = &run->load.c.card;
        }
    }
    failure_log question{};  // a failed question is every card's error
    int go_on =
        locations == 0 || options.force ? 1 : ask_before_loading(locations, cards, last, &question);
    int status = 0;
    for (size_t k = 0; k < list.count; k++) {
        card_run *run = &runs[k];
        if (writes_pending(*run)) {
            if (go_on == 1) {
                run->out.status = apply_load(&run->load, !options.force, &run->out);
            } else {
                run->out.result = load_result::ABORTED;
                run->out.status = go_on;
            }
            end_outcome(&run->out, run->out.status);
            if (go_on < 0) set_outcome_error(&run->out, failure_text(&question));
            if (text) print_card_text(action_kind::LOAD, run->out);
        }
        if (run->prepared) close_card(&run->load.c.card);
        status = worse(status, run->out.status);
    }
    clear_failures(&question);
    return status;
}

// save and check: one card at a time, each entry of the document made as
// soon as its card is done.
int save_or_check_each(action_kind action, const card_choice &options, const char *folder,
                       const card_list &list, renderers *r) {
    static card_run run;
    int status = 0;
    for (size_t k = 0; k < list.count; k++) {
        const found_card &f = list.cards[k];
        if (start_card(f, folder, &run)) {
            const card_choice choice = card_by_id(f.card_id, options);
            if (action == action_kind::SAVE) save_card(choice, run.path, &run.out);
            else check_card(choice, run.path, &run.out);
        }
        status = worse(status, run.out.status);
        if (r->text) print_card_text(action, run.out);
        render_card(r, action, run.out);
    }
    release_run(&run);
    return status;
}

// load: every card previewed and closed, one question, then the writes.
int load_each(const card_choice &options, const char *folder, const card_list &list,
              const id_list &orphans, renderers *r) {
    auto *runs = static_cast<card_run *>(calloc(list.count, sizeof(card_run)));
    if (!runs) {
        log_failure(&r->failures, "Out of memory for %zu cards\n", list.count);
        r->stopped = true;
        return -1;
    }
    for (size_t k = 0; k < list.count; k++) {
        const found_card &f = list.cards[k];
        card_run *run = &runs[k];
        if (start_card(f, folder, run)) {
            int prepared =
                prepare_load(card_by_id(f.card_id, options), run->path, &run->load, &run->out);
            run->prepared = true;
            // Closed until its writes: the library may allow few open cards.
            close_card(&run->load.c.card);
            end_outcome(&run->out, prepared);
        }
        // A card with nothing to write is done before the question.
        if (r->text && !writes_pending(*run)) print_card_text(action_kind::LOAD, run->out);
    }
    int status = report_images_without_cards(folder, orphans, &r->failures);  // before the question
    status = worse(status, load_all(runs, list, options, r->text));
    for (size_t k = 0; k < list.count; k++) {
        render_card(r, action_kind::LOAD, runs[k].out);
        release_run(&runs[k]);
    }
    free(runs);
    return status;
}

}  // namespace

int on_all_cards(action_kind action, const card_choice &options, const char *folder, renderers *r) {
    card_list list;
    if (!find_cards(&list, &r->failures) || !prepare_folder(action, folder, &r->failures)) {
        free_cards(&list);
        r->stopped = true;
        return -1;
    }
    int status = 0;
    id_list orphans{};
    if (action != action_kind::SAVE && !images_without_cards(folder, list, &orphans, &r->failures))
        status = -1;
    if (action == action_kind::LOAD) {
        status = worse(status, load_each(options, folder, list, orphans, r));
    } else {
        sync_folders_later(action == action_kind::SAVE);  // once, after the last image
        status = worse(status, save_or_check_each(action, options, folder, list, r));
        if (action == action_kind::SAVE) status = worse(status, flush_folder(folder, &r->failures));
        status = worse(status, report_images_without_cards(folder, orphans, &r->failures));
    }
    for (size_t k = 0; k < orphans.count; k++)
        render_image_without_card(r, action, folder, orphans.ids[k]);
    free_ids(&orphans);
    free_cards(&list);
    return status;
}
