// sorvit-image's actions. Each returns the exit status: 0 when it did what
// was asked (or the user declined), 1 when check or load leaves the card
// different from the image, -1 when anything failed. What a card's action
// found goes to its record (outcome.h), which the renderers show (render.h);
// failures and warnings go to standard error as they happen (report.h), and
// the failures into the record too.
#ifndef IMAGE_ACTIONS_H
#define IMAGE_ACTIONS_H

#include "card.h"
#include "outcome.h"
#include "render.h"

struct json_object;

// Each card's record also goes to the renderers.
int list_cards(renderers *r);

// One card, chosen by the command line or by +all.
int save_card(const card_choice &choice, const char *file, card_outcome *out);
int check_card(const card_choice &choice, const char *file, card_outcome *out);
int load_card(const card_choice &choice, const char *file, card_outcome *out);

// Reads the card at the given locations (bit n: location n), ascending.
// When any read fails, reports each failed location as the dump shows it
// and the count with the first failure's text, and returns false.
bool read_card_values(const card_session *card, location_mask locations,
                      uint32_t values[CONFIG_LOCATIONS]);

#endif
