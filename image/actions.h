// sorvit-image's actions. Each returns the exit status: 0 when it did what
// was asked (or the user declined), 1 when check or load leaves the card
// different from the image, -1 when anything failed. Results go to standard
// output; failures and warnings to standard error (report.h).
#ifndef IMAGE_ACTIONS_H
#define IMAGE_ACTIONS_H

#include "card.h"

int list_cards();
int save_image(const card_choice &choice, const char *file);
int check_image(const card_choice &choice, const char *file);
int load_image(const card_choice &choice, const char *file);

// Reads the card at the given locations (bit n: location n), ascending.
// When any read fails, reports each failed location as the dump shows it
// and the count with the first failure's text, and returns false.
bool read_card_values(const card_session *card, uint64_t locations,
                      uint32_t values[CONFIG_LOCATIONS]);

#endif
