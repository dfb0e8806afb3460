#include "outcome.h"

#include <cstdlib>
#include <cstring>

#include "board.h"
#include "json_doc.h"
#include "report.h"

namespace {

// What a text says when memory for a copy of it ran out.
const char NO_MEMORY[] = "(out of memory for the message)";

}  // namespace

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

void release_outcome(card_outcome *out) {
    free_text(out->error);
    out->error = nullptr;
    clear_failures(&out->failures);
}

void set_outcome_error(card_outcome *out, const char *text) {
    free_text(out->error);
    out->error = copy_text(text);
}

void start_outcome(card_outcome *out, const char *file) {
    release_outcome(out);
    out->status = 0;
    out->has_index = out->has_card = out->opened = out->skipped = out->image_only = false;
    out->card_failed = false;
    out->library_text = nullptr;
    out->compared = out->verified = false;
    out->file = file;
    out->listed = out->differ = out->protected_mask = out->written = 0;
    out->result = load_result::NONE;
    out->locations = 0;
}

void note_card(card_outcome *out, const card_session &card) {
    out->has_card = out->opened = true;
    out->card_id = card.card_id;
    out->board_type = card.board_type;
}

int end_outcome(card_outcome *out, int status) {
    out->status = status;
    if (status < 0) set_outcome_error(out, failure_text(&out->failures));
    return status;
}

json_object *error_json(const char *message) {
    json_object *error = json::object();
    json::set_string(error, "message", message);
    return error;
}

void add_card_members(json_object *target, uint32_t card_id, int32_t board_type) {
    json::set_int(target, "card_id", card_id);
    json::set_string(target, "label", label_of(card_id).text);
    json::set_int(target, "board_type", board_type);
    unsigned width = classify_board(board_type);
    if (width) json::set_int(target, "word_bits", int64_t{width} * 8);
    else json::set(target, "word_bits", nullptr);
    json::set_bool(target, "supported", width != 0);
    uint32_t below = protected_below(board_type);
    json_object *range = nullptr;
    if (below) {
        range = json::object();
        json::set_int(range, "first", 0);
        json::set_int(range, "last", below - 1);
    }
    json::set(target, "protected", range);
}

namespace {

// The differing locations: check's "differences" (card, image), or load's
// "changes" (before, after, and whether each is protected and was written).
void add_locations(json_object *doc, action_kind action, const card_outcome &out) {
    const bool load = action == action_kind::LOAD;
    json_object *list = json::array();
    for (uint32_t loc = 0; loc < CONFIG_LOCATIONS; loc++) {
        if ((out.differ >> loc & 1u) == 0) continue;
        json_object *d = json::object();
        json::set_int(d, "location", loc);
        json::set_int(d, load ? "before" : "card", out.card_values[loc]);
        json::set_int(d, load ? "after" : "image", out.image_values[loc]);
        if (load) {
            json::set_bool(d, "protected", (out.protected_mask >> loc & 1u) != 0);
            json::set_bool(d, "written", (out.written >> loc & 1u) != 0);
        }
        json::push(list, d);
    }
    json::set(doc, load ? "changes" : "differences", list);
}

}  // namespace

void add_outcome(json_object *doc, action_kind action, const card_outcome &out) {
    if (out.has_index) json::set_int(doc, "index", out.index);
    if (out.has_card && action == action_kind::LIST) {
        add_card_members(doc, out.card_id, out.board_type);
    } else if (out.has_card) {
        json_object *card = json::object();
        add_card_members(card, out.card_id, out.board_type);
        json::set(doc, "card", card);
    }
    if (out.skipped) json::set_bool(doc, "skipped", true);
    if (out.file && action != action_kind::LIST) json::set_string(doc, "file", out.file);
    if (action == action_kind::SAVE && out.status == 0 && !out.skipped)
        json::set_int(doc, "locations", out.locations);
    if (action == action_kind::CHECK && out.compared) {
        json::set_bool(doc, "matches", out.differ == 0);
        json::set_int(doc, "locations_checked", __builtin_popcountll(out.listed));
        add_locations(doc, action, out);
    }
    if (action == action_kind::LOAD && out.compared) {
        add_locations(doc, action, out);
        json::set_bool(doc, "verified", out.verified);
    }
    // What a load came to belongs to a card: an index that failed to open,
    // or an image without its card, has only its error.
    const bool without_card = (out.has_index && !out.has_card) || out.image_only;
    if (action == action_kind::LOAD && (out.compared || out.status < 0) && !without_card)
        json::set_string(doc, "result", load_result_word(out.result));
    if (out.status < 0) json::set(doc, "error", error_json(out.error ? out.error : ""));
}

json_object *outcome_json(action_kind action, const card_outcome &out) {
    json_object *doc = json::object();
    add_outcome(doc, action, out);
    return doc;
}
