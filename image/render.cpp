#include "render.h"

#include "json_doc.h"
#include "metrics.h"

void render_card(renderers *r, action_kind action, const card_outcome &out) {
    if (r->cards) json::push(r->cards, outcome_json(action, out));
    if (r->metrics) metrics_card(r->metrics, action, out);
}
