// The JSON renderer: the run's one document. A run of many records (list,
// +all) gives each its entry of "cards", at its place; a run of one card
// gives the card's members to the document itself.
#include <cstdlib>

#include "args.h"
#include "cells.h"
#include "history.h"
#include "identity.h"
#include "json_doc.h"
#include "render.h"

using M = json_member;

struct json_renderer {
    json::builder b;
    json_object *doc;
    json_object *cards;  // list and +all; null for one card; history: its changes
    bool changes;        // cards holds history's changes
};

namespace {

// What every document of the tool begins with: its format and the tool.
json_object *document_head(json::builder *b) {
    json_object *doc = json::object(b), *tool = json::object(b);
    json::set_int(b, doc, M::FORMAT_VERSION, 1);
    json::set_string(b, tool, M::NAME, APP_NAME);
    json::set_string(b, tool, M::VERSION, tool_version().text);
    json::set(b, doc, M::TOOL, tool);
    return doc;
}

json_object *error_json(json::builder *b, const char *message) {
    json_object *error = json::object(b);
    json::set_string(b, error, M::MESSAGE, message);
    return error;
}

// The card's members, as list and the other actions show them: card_id,
// label, board_type, word_bits (null when the board is not supported),
// supported, protected ({"first", "last"}, or null).
void add_card_members(json::builder *b, json_object *target, const card_part &card) {
    json::set_int(b, target, M::CARD_ID, card.card_id);
    json::set_string(b, target, M::LABEL, label_of(card.card_id).text);
    json::set_int(b, target, M::BOARD_TYPE, card.board_type);
    if (card.word_bits) json::set_int(b, target, M::WORD_BITS, card.word_bits);
    else json::set(b, target, M::WORD_BITS, nullptr);
    json::set_bool(b, target, M::SUPPORTED, card.word_bits != 0);
    json_object *range = nullptr;
    if (card.protected_below) {
        range = json::object(b);
        json::set_int(b, range, M::FIRST, 0);
        json::set_int(b, range, M::LAST, card.protected_below - 1);
    }
    json::set(b, target, M::PROTECTED, range);
}

// The differing locations: check's "differences" (card, image), or load's
// "changes" (before, after, and whether each is protected and was written).
void add_locations(json::builder *b, json_object *doc, const card_record &r) {
    const comparison_part &c = *comparison_of(r);
    const bool load = writes_card(r.action);
    json_object *list = json::array(b);
    size_t n = 0;
    for (uint32_t loc = 0; loc < CONFIG_LOCATIONS; loc++) {
        if ((c.differ & bit(loc)) == 0) continue;
        json_object *d = json::object(b);
        json::set_int(b, d, M::LOCATION, loc);
        json::set_int(b, d, load ? M::BEFORE : M::CARD, c.card_values[loc]);
        json::set_int(b, d, load ? M::AFTER : M::IMAGE, c.image_values[loc]);
        if (load) {
            json::set_bool(b, d, M::PROTECTED, (r.load.protected_mask & bit(loc)) != 0);
            json::set_bool(b, d, M::WRITTEN, (r.load.written & bit(loc)) != 0);
        }
        json::put_at(b, list, n++, d);
    }
    json::set(b, doc, load ? M::CHANGES : M::DIFFERENCES, list);
}

// The card's unfinished change: what it is, by whom and when, and how far
// it got.
void add_unfinished(json::builder *b, json_object *doc, const change_entry &e) {
    json_object *change = json::object(b);
    json::set_string(b, change, M::TOOL, e.tool);
    json::set_string(b, change, M::ACTION, e.action);
    if (e.image[0]) json::set_string(b, change, M::FILE_NAME, e.image);
    json::set_string(b, change, M::USER, e.user);
    json::set_int(b, change, M::UID, e.uid);
    json::set_string(b, change, M::TIME, rfc3339(e.time).text);
    json::set_string(b, change, M::RUN, e.run);
    json::set_int(b, change, M::LOCATIONS, change_size(e));
    json::set_int(b, change, M::LOCATIONS_WRITTEN, change_written_count(e));
    json::set(b, doc, M::UNFINISHED_CHANGE, change);
}

void add_record(json::builder *b, json_object *doc, const card_record &r) {
    if (r.has_index) json::set_int(b, doc, M::INDEX, r.index);
    if (r.has_card && r.action == action_kind::LIST) {
        add_card_members(b, doc, r.card);
    } else if (r.has_card) {
        json_object *card = json::object(b);
        add_card_members(b, card, r.card);
        json::set(b, doc, M::CARD, card);
    }
    if (r.skipped) json::set_bool(b, doc, M::SKIPPED, true);
    if (r.file && r.action != action_kind::LIST) json::set_string(b, doc, M::FILE_NAME, r.file);
    if (r.action == action_kind::SAVE && r.status == 0 && !r.skipped)
        json::set_int(b, doc, M::LOCATIONS, r.save.locations);
    if (r.action == action_kind::CHECK && r.check.compared) {
        json::set_bool(b, doc, M::MATCHES, r.check.differ == 0);
        json::set_int(b, doc, M::LOCATIONS_CHECKED, count_bits(r.check.listed));
        add_locations(b, doc, r);
    }
    if (r.unfinished) add_unfinished(b, doc, *r.change);
    const bool load = writes_card(r.action);
    if (load && r.load.comparison.compared) {
        add_locations(b, doc, r);
        json::set_bool(b, doc, M::VERIFIED, r.load.verified);
    }
    // What a load came to belongs to a card: an index that failed to open,
    // or an image without its card, has only its error.
    const bool without_card = (r.has_index && !r.has_card) || r.image_only;
    if (load && (r.load.comparison.compared || r.status < 0) && !without_card)
        json::set_string(b, doc, M::RESULT, load_result_word(r.load.result));
    if (r.status < 0) json::set(b, doc, M::ERROR, error_json(b, r.error ? r.error : ""));
}

}  // namespace

json_renderer *json_start(const run_description &run) {
    auto *j = static_cast<json_renderer *>(calloc(1, sizeof(json_renderer)));
    if (!j) return nullptr;
    j->doc = document_head(&j->b);
    json::set_string(&j->b, j->doc, M::ACTION, action_word(run.action));
    if (run.all) {
        json::set_bool(&j->b, j->doc, M::ALL, true);
        if (run.file)
            json::set_string(&j->b, j->doc, M::FOLDER, run.file);  // not for recover, undo
    }
    if (run.all || run.action == action_kind::LIST || run.action == action_kind::HISTORY)
        j->cards = json::array(&j->b);
    j->changes = run.action == action_kind::HISTORY;
    if (run.action == action_kind::HISTORY && run.has_card_id)
        json::set_int(&j->b, j->doc, M::CARD_ID, run.card_id);
    return j;
}

void json_card(json_renderer *j, const card_record &r) {
    if (r.action == action_kind::HISTORY) {  // the line as the history holds it
        json::put_at(&j->b, j->cards, r.slot, json::share(r.history.entry));
        return;
    }
    if (!j->cards) {
        add_record(&j->b, j->doc, r);
        return;
    }
    json_object *entry = json::object(&j->b);
    add_record(&j->b, entry, r);
    json::put_at(&j->b, j->cards, r.slot, entry);
}

bool json_finish(json_renderer *j, const failure_log &run_failures, int status) {
    if (j->cards) {
        const size_t cards = json::length(j->cards);
        json::set(&j->b, j->doc, j->changes ? M::CHANGES : M::CARDS, j->cards);
        // Not one card reached: the failure is the run's.
        if (status < 0 && run_failures.text && cards == 0)
            json::set(&j->b, j->doc, M::ERROR, error_json(&j->b, failure_text(&run_failures)));
    }
    bool written = json::write(&j->b, j->doc);
    free(j);
    return written;
}

void json_discard(json_renderer *j) {
    if (!j) return;
    json::release(j->cards);  // not yet in the document
    json::release(j->doc);
    free(j);
}

bool json_version() {
    json::builder b{};
    return json::write(&b, document_head(&b));
}
