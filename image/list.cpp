// list: every card of the host, by index (cards.h). An index whose open or
// card information fails is a row that names it and why, and the list goes
// on: a backup loop over the list must not skip a card unseen.
#include "actions.h"
#include "cards.h"
#include "report.h"

namespace {

// The failure of an index, on standard error (its row is the record's).
void report_failed_index(const found_card &f, failure_log *log) {
    const unsigned long i = f.index;
    if (!f.opened) log_failure(log, "Failed to open card with index %lu: %s\n", i, f.failure);
    else log_failure(log, "Failed to get card info of card with index %lu: %s\n", i, f.failure);
}

}  // namespace

int list_cards(image_run *run) {
    renderers *out = run->out;
    card_list list;
    if (!find_cards(&list, &out->failures)) {
        out->stopped = true;
        return -1;
    }
    int status = 0;
    for (size_t k = 0; k < list.count; k++) {
        const found_card &f = list.cards[k];
        card_record r{};
        start_record(&r, action_kind::LIST, k, nullptr);
        r.has_index = true;
        r.index = f.index;
        r.opened = f.opened;
        r.list.library_text = f.failure;
        if (f.has_info) {
            note_card(&r, f.card_id, f.board_type);
            note_unfinished(run, f.card_id, &r, false);
        } else {
            report_failed_index(f, &r.failures);
            r.card_failed = true;
            status = -1;
        }
        end_record(&r, f.has_info ? 0 : -1);
        render_card(out, r);
        release_record(&r);
    }
    free_cards(&list);
    return status;
}
