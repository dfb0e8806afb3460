// Where the result of each card goes besides the text, which each action
// prints as it goes: the JSON document's cards (+json) and the metrics
// (/metrics), two renderers of the same records. Either may be absent.
#ifndef IMAGE_RENDER_H
#define IMAGE_RENDER_H

#include "outcome.h"

struct json_object;
struct metrics;

struct renderers {
    json_object *cards;       // the document's array, or null
    struct metrics *metrics;  // or null
    bool stopped;             // the run stopped before its cards: no card library, a bad folder
};

// One card's record, to every renderer there is.
void render_card(renderers *r, action_kind action, const card_outcome &out);

#endif
