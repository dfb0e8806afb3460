// sorvit-image's actions. Each returns the exit status: 0 when it did what
// was asked (or the user declined), 1 when check or load leaves the card
// different from the image, -1 when anything failed. What a card's action
// found goes to its record (report/record.h), which the action hands to the
// renderers once the card is done; failures and warnings go to standard
// error as they happen (report.h), and the failures into the record too.
#ifndef IMAGE_ACTIONS_H
#define IMAGE_ACTIONS_H

#include "card.h"
#include "image_file.h"
#include "record.h"
#include "render.h"
#include "safe_path.h"

// What the actions of one run share: where their records go, the options
// of the command line, and the warnings already given (each place that
// others can change is warned about once).
struct image_run {
    renderers *out;
    card_choice options;
    char warned[SAFE_TEXT_MAX];
};

// list: every index, a record each.
int list_cards(image_run *run);

// One card, chosen by the command line (choice, file) or by +all.
int save_card(const card_choice &choice, const image_path &file, bool flush_folder, card_record *r);
int check_card(image_run *run, const card_choice &choice, const image_path &file, card_record *r);

#endif
