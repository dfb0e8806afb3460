// The text renderer: what a card's record says, as the actions have always
// printed it on standard output. Failures are not among it: they went to
// standard error as they happened.
#include <cstdio>

#include "board.h"
#include "compare.h"
#include "image_file.h"
#include "render.h"

namespace {

const char *image_of(const card_outcome &out) { return image_name(out.file ? out.file : ""); }

void print_list_row(const card_outcome &out) {
    const unsigned long i = out.index;
    if (!out.has_card) {
        printf(
            out.opened ? "%5lu  Failed to get card info: %s\n" : "%5lu  Failed to open card: %s\n",
            i, out.library_text ? out.library_text : "");
        return;
    }
    unsigned width = classify_board(out.board_type);
    uint32_t below = protected_below(out.board_type);
    char range[16];
    if (width == 0) snprintf(range, sizeof range, "-");
    else if (below == 0) snprintf(range, sizeof range, "none");
    else snprintf(range, sizeof range, "0x00-0x%02lX", static_cast<unsigned long>(below - 1));
    const char *word = width == 0 ? "unsupported" : width == 2 ? "16-bit" : "32-bit";
    printf("%5lu  %-23s  %6ld  %-11s  %s\n", i, label_of(out.card_id, label_style::SPACED).text,
           static_cast<long>(out.board_type), word, range);
}

void print_check(const card_outcome &out) {
    const card_session card{0, out.card_id, out.board_type, classify_board(out.board_type),
                            nullptr};
    print_card_line(stdout, &card);
    if (!out.compared) return;
    for (uint32_t loc = 0; loc < CONFIG_LOCATIONS; loc++) {
        if ((out.differ & bit(loc)) == 0) continue;
        print_location(stdout, &card, loc, out.card_values[loc]);
        printf(" on the card, 0x%0*lX in the image\n", value_digits(&card),
               static_cast<unsigned long>(out.image_values[loc]));
    }
    const unsigned differing = count_bits(out.differ), listed = count_bits(out.listed);
    if (differing == 0) printf("All %u locations of %s match the card\n", listed, image_of(out));
    else
        printf("%u of %u locations of %s differ%s from the card\n", differing, listed,
               image_of(out), differing == 1 ? "s" : "");
}

// What a load came to; its changes and its question were shown before.
void print_load(const card_outcome &out) {
    const unsigned w = count_bits(out.written), h = count_bits(out.protected_mask);
    if (out.result == load_result::ALREADY_MATCHED)
        printf("The card already matches %s: nothing to write\n", image_of(out));
    else if (out.result == load_result::WRITTEN)
        printf("Wrote %u location%s: the card now matches %s\n", w, plural(w), image_of(out));
    else if (out.result == load_result::PROTECTED_LEFT && w == 0)
        printf("Nothing written: %u protected location%s differ%s (+unlock writes them)\n", h,
               plural(h), h == 1 ? "s" : "");
    else if (out.result == load_result::PROTECTED_LEFT)
        printf(
            "Wrote %u location%s; %u protected location%s still differ%s (+unlock writes them)\n",
            w, plural(w), h, plural(h), h == 1 ? "s" : "");
}

}  // namespace

void print_list_heading() {
    printf("%5s  %-23s  %6s  %-11s  %s\n", "Index", "ID", "Board", "Word", "Protected");
}

void print_card_text(action_kind action, const card_outcome &out) {
    if (out.skipped) {
        printf("Skipped card %s at index %lu: board type %ld is not supported\n",
               label_of(out.card_id).text, static_cast<unsigned long>(out.index),
               static_cast<long>(out.board_type));
    } else if (action == action_kind::LIST) {
        print_list_row(out);
    } else if (action == action_kind::SAVE && out.status == 0 && !is_standard_stream(out.file)) {
        // Standard output holds the image itself.
        printf("Saved locations 0x00 to 0x%02X of card %s to %s\n", CONFIG_LOCATIONS - 1,
               label_of(out.card_id).text, out.file);
    } else if (action == action_kind::CHECK && out.opened) {
        print_check(out);
    } else if (action == action_kind::LOAD && out.status >= 0) {
        print_load(out);
    }
}
