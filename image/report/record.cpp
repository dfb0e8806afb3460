#include "record.h"

#include <cstdlib>
#include <cstring>

#include <json-c/json.h>

#include "board.h"

namespace {

// What a text says when memory for a copy of it ran out.
const char NO_MEMORY[] = "(out of memory for the message)";

}  // namespace

card_part classify_card(uint32_t card_id, int32_t board_type) {
    return card_part{card_id, board_type, classify_board(board_type) * 8,
                     protected_below(board_type)};
}

const char *action_word(action_kind action) {
    static const char *const WORDS[] = {"list",    "save", "check",  "load",
                                        "recover", "undo", "history"};
    static_assert(sizeof WORDS / sizeof *WORDS == static_cast<size_t>(action_kind::HISTORY) + 1);
    return WORDS[static_cast<size_t>(action)];
}

bool writes_card(action_kind action) {
    return action == action_kind::LOAD || action == action_kind::RECOVER ||
           action == action_kind::UNDO;
}

const char *load_result_word(load_result result) {
    static const char *const WORDS[] = {"failed",         "already_matched",   "written",
                                        "protected_left", "changed_meanwhile", "aborted"};
    static_assert(sizeof WORDS / sizeof *WORDS == static_cast<size_t>(load_result::ABORTED) + 1);
    return WORDS[static_cast<size_t>(result)];
}

char *copy_text(const char *text) {
    size_t n = strlen(text);
    char *copy = static_cast<char *>(malloc(n + 1));
    if (copy) memcpy(copy, text, n + 1);
    return copy ? copy : const_cast<char *>(NO_MEMORY);
}

void free_text(char *text) {
    if (text != NO_MEMORY) free(text);
}

void release_record(card_record *r) {
    free_text(r->error);
    r->error = nullptr;
    clear_failures(&r->failures);
    free(r->change);
    r->change = nullptr;
    if (r->action == action_kind::HISTORY && r->history.entry) json_object_put(r->history.entry);
    if (r->action == action_kind::HISTORY) r->history.entry = nullptr;
}

bool keep_change(card_record *r, const change_entry &entry, bool unfinished) {
    free(r->change);
    r->change = static_cast<change_entry *>(malloc(sizeof entry));
    if (r->change) memcpy(r->change, &entry, sizeof entry);
    r->unfinished = unfinished && r->change;
    return r->change != nullptr;
}

void set_record_error(card_record *r, const char *text) {
    free_text(r->error);
    r->error = copy_text(text);
}

void start_record(card_record *r, action_kind action, size_t slot, const char *file) {
    release_record(r);
    *r = card_record{};
    r->action = action;
    r->slot = slot;
    r->file = file;
    switch (action) {
    case action_kind::LIST:
        r->list = list_part{};
        break;
    case action_kind::SAVE:
        r->save = save_part{};
        break;
    case action_kind::CHECK:
        r->check = comparison_part{};
        break;
    case action_kind::LOAD:
    case action_kind::RECOVER:
    case action_kind::UNDO:
        r->load = load_part{};
        break;
    case action_kind::HISTORY:
        r->history = history_part{};
        break;
    }
}

void note_card(card_record *r, uint32_t card_id, int32_t board_type) {
    r->has_card = true;
    r->card = classify_card(card_id, board_type);
}

int end_record(card_record *r, int status) {
    r->status = status;
    if (status < 0) set_record_error(r, failure_text(&r->failures));
    return status;
}

const comparison_part *comparison_of(const card_record &r) {
    if (r.action == action_kind::CHECK) return &r.check;
    if (writes_card(r.action)) return &r.load.comparison;
    return nullptr;
}

comparison_part *comparison_of(card_record *r) {
    return const_cast<comparison_part *>(comparison_of(static_cast<const card_record &>(*r)));
}

int open_card_for(const card_choice &choice, card_session *card, card_record *r) {
    card->log = &r->failures;
    if (open_card_info(choice, card) != 0) {
        r->card_failed = true;
        return -1;
    }
    if (card->word_width == 0) {  // one line, as +all says it
        note_card(r, card->card_id, card->board_type);
        log_failure(card->log, "Card %s: board type %ld is not supported\n",
                    label_of(card->card_id).text, static_cast<long>(card->board_type));
        r->card_failed = true;
        return -1;
    }
    note_card(r, card->card_id, card->board_type);
    r->opened = true;
    return 0;
}
