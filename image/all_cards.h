// +all: save, check or load every supported card that list finds, each with
// its image card-ID.img in a folder (the ID in decimal: an ID stays with
// its card when cards move between slots). A card's failure does not stop
// the others; the exit status is the worst of the cards'.
#ifndef IMAGE_ALL_CARDS_H
#define IMAGE_ALL_CARDS_H

#include "card.h"
#include "outcome.h"
#include "render.h"

struct json_object;

// Each card's record also goes to the renderers. The choice gives +f and
// +unlock.
int on_all_cards(action_kind action, const card_choice &options, const char *folder, renderers *r);

#endif
