// history: the changes of every card, or of the card /card names, oldest
// first, as the history holds them (change.h): a row each, or with +json
// the lines themselves in the document's "changes".
#include <json-c/json.h>

#include <cstdio>

#include "actions.h"
#include "json_members.h"

namespace {

struct history_run {
    image_run *run;
    size_t count;
};

bool render_line(json_object *line, void *context) {
    auto *h = static_cast<history_run *>(context);
    const card_choice &choice = h->run->options;
    change_entry e;
    card_record r{};
    start_record(&r, action_kind::HISTORY, h->count, nullptr);
    history_part *part = &r.history;
    if (!change_of(line, &e, part->outcome, sizeof part->outcome)) return true;
    if (choice.card_given && e.card_id != choice.card_id) return true;
    part->entry = json_object_get(line);
    part->time = e.time;
    part->has_card = true;
    part->card_id = e.card_id;
    part->locations = change_written_count(e);
    snprintf(part->change, sizeof part->change, "%s %s", e.tool, e.action);
    snprintf(part->user, sizeof part->user, "%s", e.user);
    json_object *file = nullptr;
    part->file = json_object_object_get_ex(line, json_member_name(json_member::FILE_NAME), &file)
                     ? json_object_get_string(file)
                     : nullptr;
    render_card(h->run->out, r);
    release_record(&r);
    h->count++;
    return true;
}

}  // namespace

int show_history(image_run *run) {
    history_run h{run, 0};
    failure_log *log = &run->out->failures;
    if (!read_history(&run->changes, render_line, &h, log)) {
        run->out->stopped = true;
        return -1;
    }
    if (h.count == 0 && run->out->text) {
        if (run->options.card_given)
            printf("No change of card %s in the history\n", label_of(run->options.card_id).text);
        else printf("No change in the history\n");
    }
    return 0;
}
