// Where the record of each card goes: the text on standard output (as soon
// as the card is done), the JSON document's cards (+json, written at the
// end) and the metrics (/metrics). The renderers are chosen once, at the
// start of the run; any of them may be absent.
#ifndef IMAGE_RENDER_H
#define IMAGE_RENDER_H

#include "outcome.h"

struct json_object;
struct metrics;

struct renderers {
    bool text;                // without +json
    json_object *cards;       // the document's array, or null
    struct metrics *metrics;  // or null
    bool stopped;             // the run stopped before its cards: no card library, a bad folder
    failure_log failures;     // the run's own, not one card's: the document's error
};

// One card's record, to the document and the metrics. The text comes
// sooner: print_card_text, when the card is done.
void render_card(renderers *r, action_kind action, const card_outcome &out);

// The text renderer (text_output.cpp): the card's results as the action
// shows them, and list's heading.
void print_card_text(action_kind action, const card_outcome &out);
void print_list_heading();

#endif
