// What an action found of one card: its exit status, the card, what the
// action adds and its own failures, kept as the action goes for the
// renderers: the text, the JSON document and the metrics. Only what the
// card-access library defines of a card is in it: its ID and board type,
// and what the board table makes of them.
#ifndef IMAGE_OUTCOME_H
#define IMAGE_OUTCOME_H

#include <cstdint>

#include "card.h"
#include "report.h"

struct json_object;

enum class action_kind { LIST, SAVE, CHECK, LOAD };

// What a load came to; NONE until it comes to one (a failure).
enum class load_result {
    NONE,
    ALREADY_MATCHED,
    WRITTEN,
    PROTECTED_LEFT,
    CHANGED_MEANWHILE,
    ABORTED
};
// Its word in the documents: "failed" for NONE.
const char *load_result_word(load_result result);

struct card_outcome {
    int status;  // 0, 1 (differs) or -1 (failed)
    bool has_index;
    uint32_t index;
    bool has_card;
    bool opened;  // the card was opened (list: its index opened)
    uint32_t card_id;
    int32_t board_type;
    bool skipped;          // +all: a board the tools do not support
    bool image_only;       // +all: an image whose card is not on the host
    bool card_failed;      // an operation on the card itself failed: open, information, read, write
    failure_log failures;  // what was reported of the card, as it was reported
    char *error;           // its failures' text when it failed: owned, or null
    const char *library_text;  // list: the library's text of the failure, borrowed
    const char *file;          // the image file, or null
    // check and load: the locations the image lists and where they differ
    bool compared;
    location_mask listed, differ;
    uint32_t card_values[CONFIG_LOCATIONS], image_values[CONFIG_LOCATIONS];
    // load
    location_mask protected_mask;  // of the differing locations
    location_mask written;
    bool verified;  // the final read found every location of the image
    load_result result;
    // save
    unsigned locations;
};

// Starts an outcome for the card at index (or for the chosen card when
// index is not given) and for the file. The outcome is zeroed or was
// started before: what it owned is freed.
void start_outcome(card_outcome *out, const char *file);
void note_card(card_outcome *out, const card_session &card);
// Ends it with its status, taking its failures' text as the error when it
// failed.
int end_outcome(card_outcome *out, int status);
// A text of its own, sized to what it holds: a copy, or when memory runs
// out a text that says so; free_text frees either.
char *copy_text(const char *text);
void free_text(char *text);

// Sets the error text itself.
void set_outcome_error(card_outcome *out, const char *text);
void release_outcome(card_outcome *out);

// The members of the document for one card, as the action has them: added
// to doc, or as an object of their own.
void add_outcome(json_object *doc, action_kind action, const card_outcome &out);
json_object *outcome_json(action_kind action, const card_outcome &out);
// The card's members, as list and the other actions show them: card_id,
// board_type, word_bits (null when the board is not supported), supported,
// protected ({"first", "last"}, or null).
void add_card_members(json_object *target, uint32_t card_id, int32_t board_type);
json_object *error_json(const char *message);

#endif
