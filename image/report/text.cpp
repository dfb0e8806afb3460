// The text renderer: what a card's record says, as the actions have always
// printed it on standard output. Failures are not among it: they went to
// standard error as they happened.
#include <time.h>

#include <cstdio>

#include "cells.h"
#include "image_file.h"
#include "render.h"

namespace {

const char *image_of(const card_record &r) { return image_name(r.file ? r.file : ""); }
int digits_of(const card_part &card) { return card.word_bits == 32 ? 8 : 4; }

void print_list_heading() {
    printf("%5s  %-23s  %6s  %-11s  %s\n", "Index", "ID", "Board", "Word", "Protected");
}

void print_list_row(const card_record &r) {
    const unsigned long i = r.index;
    if (!r.has_card) {
        printf(r.opened ? "%5lu  Failed to get card info: %s\n" : "%5lu  Failed to open card: %s\n",
               i, r.list.library_text ? r.list.library_text : "");
        return;
    }
    const card_part &c = r.card;
    char range[16];
    if (c.word_bits == 0) snprintf(range, sizeof range, "-");
    else if (c.protected_below == 0) snprintf(range, sizeof range, "none");
    else
        snprintf(range, sizeof range, "0x00-0x%02lX",
                 static_cast<unsigned long>(c.protected_below - 1));
    const char *word = c.word_bits == 0 ? "unsupported" : c.word_bits == 16 ? "16-bit" : "32-bit";
    printf("%5lu  %-23s  %6ld  %-11s  %s\n", i, label_of(c.card_id, label_style::SPACED).text,
           static_cast<long>(c.board_type), word, range);
}

void print_check(const card_record &r) {
    printf("%s\n", card_line(r.card.card_id).text);
    const comparison_part &c = r.check;
    if (!c.compared) return;
    const int digits = digits_of(r.card);
    for (uint32_t loc = 0; loc < CONFIG_LOCATIONS; loc++) {
        if ((c.differ & bit(loc)) == 0) continue;
        printf("   %s on the card, %s in the image\n",
               format_cell(loc, &c.card_values[loc], digits).text,
               format_value(&c.image_values[loc], digits).text);
    }
    const unsigned differing = count_bits(c.differ), listed = count_bits(c.listed);
    if (differing == 0) printf("All %u locations of %s match the card\n", listed, image_of(r));
    else
        printf("%u of %u locations of %s differ%s from the card\n", differing, listed, image_of(r),
               differing == 1 ? "s" : "");
}

// What a load came to; its changes and its question were shown before.
void print_load(const card_record &r) {
    const load_part &l = r.load;
    const unsigned w = count_bits(l.written), h = count_bits(l.protected_mask);
    if (l.result == load_result::ALREADY_MATCHED)
        printf("The card already matches %s: nothing to write\n", image_of(r));
    else if (l.result == load_result::WRITTEN)
        printf("Wrote %u location%s: the card now matches %s\n", w, plural(w), image_of(r));
    else if (l.result == load_result::PROTECTED_LEFT && w == 0)
        printf("Nothing written: %u protected location%s differ%s (+unlock writes them)\n", h,
               plural(h), h == 1 ? "s" : "");
    else if (l.result == load_result::PROTECTED_LEFT)
        printf(
            "Wrote %u location%s; %u protected location%s still differ%s (+unlock writes them)\n",
            w, plural(w), h, plural(h), h == 1 ? "s" : "");
}

// What a recover or an undo came to; its changes and its question were
// shown before.
void print_settled(const run_description &run, const card_record &r) {
    const bool recover = r.action == action_kind::RECOVER;
    const card_label label = label_of(r.card.card_id);
    const char *card = label.text;
    const unsigned w = count_bits(r.load.written) + r.load.far_written;
    if (!r.change && !run.all)
        printf("Card %s has no unfinished change: nothing to recover\n", card);
    else if (!r.change || r.load.result == load_result::PROTECTED_LEFT) print_load(r);
    else if (r.load.result == load_result::ALREADY_MATCHED)
        printf("Card %s already holds what %s: nothing to write\n", card,
               recover ? "its change wrote" : "it held before its change");
    else if (r.load.result == load_result::WRITTEN)
        printf("Wrote %u location%s: card %s %s\n", w, plural(w), card,
               recover ? "now holds what its change wrote"
                       : "holds again what it held before its change");
}

void print_history_heading() {
    printf("%-20s  %-15s  %-20s  %9s  %-17s  %-12s  %s\n", "Time (UTC)", "Card", "Change",
           "Locations", "Outcome", "User", "File");
}

void print_history_row(const history_part &h) {
    char when[40];
    const time_t t = static_cast<time_t>(h.time);
    struct tm utc;
    if (!gmtime_r(&t, &utc) || !strftime(when, sizeof when, "%Y-%m-%d %H:%M:%S", &utc))
        snprintf(when, sizeof when, "?");
    printf("%-20s  %-15s  %-20s  %9u  %-17s  %-12s  %s\n", when,
           h.has_card ? label_of(h.card_id).text : "?", h.change, h.locations, h.outcome, h.user,
           h.file ? h.file : "-");
}

}  // namespace

void text_card(const run_description &run, const card_record &r) {
    if (r.skipped) {
        printf("Skipped card %s at index %lu: board type %ld is not supported\n",
               label_of(r.card.card_id).text, static_cast<unsigned long>(r.index),
               static_cast<long>(r.card.board_type));
        return;
    }
    switch (r.action) {
    case action_kind::LIST:
        if (r.slot == 0) print_list_heading();
        print_list_row(r);
        break;
    case action_kind::SAVE:
        // Standard output holds the image itself.
        if (r.status == 0 && !is_standard_stream(r.file))
            printf("Saved locations 0x00 to 0x%02X of card %s to %s\n", CONFIG_LOCATIONS - 1,
                   label_of(r.card.card_id).text, r.file);
        break;
    case action_kind::CHECK:
        if (r.opened) print_check(r);
        break;
    case action_kind::LOAD:
        if (r.status >= 0) print_load(r);
        break;
    case action_kind::RECOVER:
    case action_kind::UNDO:
        if (r.status >= 0) print_settled(run, r);
        break;
    case action_kind::HISTORY:
        if (r.slot == 0) print_history_heading();
        print_history_row(r.history);
        break;
    }
}
