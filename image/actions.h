// sorvit-image's actions. Each returns the exit status: 0 when it did what
// was asked (or the user declined), 1 when check or load leaves the card
// different from the image, -1 when anything failed. What a card's action
// found goes to its record (report/record.h), which the action hands to the
// renderers once the card is done; failures and warnings go to standard
// error as they happen (report.h), and the failures into the record too.
#ifndef IMAGE_ACTIONS_H
#define IMAGE_ACTIONS_H

#include "card.h"
#include "change.h"
#include "history_file.h"
#include "image_file.h"
#include "record.h"
#include "render.h"
#include "safe_path.h"

// What the actions of one run share: where their records go, the options
// of the command line, the warnings already given (each place that others
// can change is warned about once), and the run's changes (their locks,
// journal and history).
struct image_run {
    renderers *out;
    card_choice options;
    char warned[SAFE_TEXT_MAX];
    change_run changes;
    history_index history;  // read once, for undo
    bool history_read;
    char undo_run[48];    // +all undo: the run whose changes it undoes
    change_entry *plans;  // +all recover: what dead runs planned and never began; owned
    size_t plan_count;
    bool went_on;  // the writes went on after the question (or without one)
};

// list: every index, a record each.
int list_cards(image_run *run);

// recover or undo of the card the command line chose.
int settle_card(image_run *run, action_kind action, const card_choice &choice);
// history: the changes of the card /card chose, or of every card.
int show_history(image_run *run);

// The card's unfinished change, noted in its record; when it has one, it is
// said on the error stream, as a failure of the record when as_failure.
bool note_unfinished(image_run *run, uint32_t card_id, card_record *r, bool as_failure);

// A read of the card that must see no half of a change: its lock held
// shared, and a card with an unfinished change refused (-1, said). 0 with
// the lock held; unlock_card on every path.
int lock_for_reading(image_run *run, const card_session &card, card_record *r, card_lock *lock);

// One card, chosen by the command line (choice, file) or by +all.
int save_card(image_run *run, const card_choice &choice, const image_path &file, bool flush_folder,
              card_record *r);
int check_card(image_run *run, const card_choice &choice, const image_path &file, card_record *r);

#endif
