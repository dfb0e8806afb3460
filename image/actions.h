// sorvit-image's four actions. Each returns the exit status: 0 when it did
// what was asked (or the user declined), 1 when check or load leaves the
// card different from the image, -1 when anything failed.
#ifndef IMAGE_ACTIONS_H
#define IMAGE_ACTIONS_H

#include "card.h"

int list_cards();
int save_image(const option_desc options[CARD_OPTION_COUNT], const char *file);
int check_image(const option_desc options[CARD_OPTION_COUNT], const char *file);
int load_image(const option_desc options[CARD_OPTION_COUNT], const char *file);

// Reads the card at the given locations (bit n: location n), ascending.
// When any read fails, prints each failed location as the dump shows it and
// the count with the first failure's text, and returns false.
bool read_card_values(const card_session *card, uint64_t locations, uint32_t values[64]);

// The model name of the card information, cut at its NUL or its end, with
// any byte that is not printable ASCII shown as '?' so it stays on its line.
const char *printable_model(const VELQOR2_CARD_INFO &info, char (&out)[44]);

#endif
