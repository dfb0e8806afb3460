// +all: save, check or load every supported card that list finds, each with
// its image card-ID.img in a folder. A card's failure does not stop the
// others; the exit status is the worst of the cards'.
#ifndef IMAGE_ALL_CARDS_H
#define IMAGE_ALL_CARDS_H

#include "actions.h"

int on_all_cards(image_run *run, action_kind action, const char *folder);

#endif
