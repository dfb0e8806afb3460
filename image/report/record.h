// What an action found of one card: the record that the renderers (the
// text, the JSON document, the metrics) show. A common part, with what the
// board table makes of the card worked out once, and a part for the
// action. Only what the card-access library defines of a card is in it:
// its ID and board type.
#ifndef IMAGE_REPORT_RECORD_H
#define IMAGE_REPORT_RECORD_H

#include <cstddef>
#include <cstdint>

#include "card.h"
#include "config_area.h"
#include "journal.h"
#include "report.h"

struct json_object;

enum class action_kind { LIST, SAVE, CHECK, LOAD, RECOVER, UNDO, HISTORY };
// The action's word, as the command line and the documents name it.
const char *action_word(action_kind action);

// The card, as the library gave it and the board table classes it.
struct card_part {
    uint32_t card_id;
    int32_t board_type;
    unsigned word_bits;        // 16 or 32; 0 for a board the tools do not support
    uint32_t protected_below;  // the first location that is not protected; 0: none
};
card_part classify_card(uint32_t card_id, int32_t board_type);
// The locations only +unlock writes.
inline location_mask protected_locations(const card_part &card) {
    return bit(card.protected_below) - 1;
}

// list: an index, and what the library said when it failed.
struct list_part {
    const char *library_text;  // borrowed from the list of cards
};

// save: how many locations the image holds.
struct save_part {
    unsigned locations;
};

// check, and load before its writes: where card and image differ.
struct comparison_part {
    bool compared;  // the card was read at every location of the image
    location_mask listed, differ;
    uint32_t card_values[CONFIG_LOCATIONS], image_values[CONFIG_LOCATIONS];
};

// What a load, a recover or an undo came to; NONE until it comes to one (a
// failure).
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

// load, recover and undo: the card's values before (card_values) and the
// values to write (image_values: the image's, or the change's).
struct load_part {
    comparison_part comparison;
    location_mask protected_mask;  // of the differing locations
    location_mask written;
    bool far_written;  // recover, undo: the location past 0x3F of a change of sorvit's
    bool verified;     // the final read found every location of the image
    load_result result;
};

// history: one change, as the history holds it.
struct history_part {
    json_object *entry;  // the line, whole: owned
    long long time;      // seconds since the epoch
    bool has_card;
    uint32_t card_id;
    unsigned locations;  // written
    char change[48];     // "sorvit-image load"
    char outcome[24];
    char user[64];
    const char *file;  // inside entry; null when the change had no image
};

struct card_record {
    action_kind action;
    size_t slot;  // its place among the run's records, in the order the run found them
    int status;   // 0, 1 (differs) or -1 (failed)
    bool has_index;
    uint32_t index;
    bool has_card;  // card holds the card's ID and board type
    card_part card;
    bool opened;           // the card (list: its index) was opened
    bool card_failed;      // an operation on the card itself failed: open, information, read, write
    bool skipped;          // +all: a board the tools do not support
    bool image_only;       // +all: an image whose card is not on the host
    const char *file;      // the image file, or null
    bool change_known;     // the card was looked at for an unfinished change
    bool unfinished;       // it has one: change holds it
    change_entry *change;  // its unfinished change; for recover and undo, the change settled: owned
    failure_log failures;  // what was reported of the card, as it was reported
    char *error;           // its failures' text when it failed: owned, or null
    union {
        list_part list;
        save_part save;
        comparison_part check;
        load_part load;  // and recover, undo
        history_part history;
    };
};

// Starts a record of the action for the file; what it owned before (a
// zeroed record owns nothing) is freed.
void start_record(card_record *r, action_kind action, size_t slot, const char *file);
void note_card(card_record *r, uint32_t card_id, int32_t board_type);
// Opens the card the choice names (card.h), its failures kept in the
// record, and notes it there as opened. 0, or -1 with the failure
// reported; close_card on every path.
int open_card_for(const card_choice &choice, card_session *card, card_record *r);
// Ends it with its status, taking its failures' text as the error when it
// failed.
int end_record(card_record *r, int status);
void set_record_error(card_record *r, const char *text);
void release_record(card_record *r);

// Keeps a copy of the change in the record (change); false when memory
// runs out.
bool keep_change(card_record *r, const change_entry &entry, bool unfinished);

// Whether the action writes the card: load, recover, undo.
bool writes_card(action_kind action);

// The comparison of a check, a load, a recover or an undo; null for the
// other actions.
const comparison_part *comparison_of(const card_record &r);
comparison_part *comparison_of(card_record *r);

// A text of its own, sized to what it holds: a copy, or when memory runs
// out a text that says so; free_text frees either.
char *copy_text(const char *text);
void free_text(char *text);

#endif
