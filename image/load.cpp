// load: puts an image back on the card. The whole image is read and checked
// before the card is opened; only the locations that differ are written,
// once the user agrees, and each is read back.
#include <cstdio>

#include "board.h"
#include "compare.h"
#include "confirm.h"

namespace {

uint64_t bit(uint32_t location) { return uint64_t{1} << location; }

uint64_t protected_locations(const card_session *card) {
    uint64_t mask = 0;
    for (uint32_t loc = 0; loc < IMAGE_LOCATIONS; loc++)
        if (is_protected_location(card->board_type, loc)) mask |= bit(loc);
    return mask;
}

void show_changes(const comparison *c, uint64_t protected_mask, bool unlock) {
    for (uint32_t loc = 0; loc < IMAGE_LOCATIONS; loc++) {
        if ((c->differ & bit(loc)) == 0) continue;
        const char *note = (protected_mask & bit(loc)) == 0 ? ""
                           : unlock                         ? "  (protected)"
                                                            : "  (protected: left unchanged)";
        print_location(&c->card, loc, c->card_values[loc]);
        printf(" -> 0x%0*lX%s\n", value_digits(&c->card),
               static_cast<unsigned long>(c->image.values[loc]), note);
    }
}

// Asks once; returns 1 to go on, or the exit status of a run that stops.
int confirm_writes(const card_session *card, unsigned count) {
    printf("Warning: this will write %u EEPROM location%s of card %lu(0x%lx)\n", count,
           plural(count), static_cast<unsigned long>(card->card_id),
           static_cast<unsigned long>(card->card_id));
    reply answer = ask_to_continue();
    if (answer == REPLY_YES) return 1;
    if (answer == REPLY_UNSEEN) return -1;
    printf("Aborted.\n");
    return answer == REPLY_NO ? 0 : -1;  // declining is a decision; no reply is not
}

void report_partial_load(uint64_t written, unsigned total) {
    printf("Wrote %u of %u locations before the failure", count_bits(written), total);
    const char *separator = " (";
    for (uint32_t loc = 0; loc < IMAGE_LOCATIONS; loc++)
        if (written & bit(loc)) {
            printf("%s0x%02lX", separator, static_cast<unsigned long>(loc));
            separator = ", ";
        }
    printf("%s; running load again finishes the job (it writes only what still differs)\n",
           written ? ")" : "");
}

// Writes in ascending order; stops at the first failure.
bool write_locations(const comparison *c, uint64_t to_write) {
    uint64_t written = 0;
    for (uint32_t loc = 0; loc < IMAGE_LOCATIONS; loc++) {
        if ((to_write & bit(loc)) == 0) continue;
        VELQOR2_STATUS status = VELQOR2_WriteConfig(c->card.handle, loc, c->image.values[loc]);
        if (status != VELQOR2_SUCCESS) {
            printf("Failed to write EEPROM location 0x%lx: %s\n", static_cast<unsigned long>(loc),
                   VELQOR2_GetStatusString(status));
            report_partial_load(written, count_bits(to_write));
            return false;
        }
        written |= bit(loc);
    }
    return true;
}

bool read_back(const comparison *c, uint64_t written) {
    for (uint32_t loc = 0; loc < IMAGE_LOCATIONS; loc++) {
        if ((written & bit(loc)) == 0) continue;
        uint32_t value = 0;
        VELQOR2_STATUS status = VELQOR2_ReadConfig(c->card.handle, loc, &value);
        if (status != VELQOR2_SUCCESS) {
            printf("Failed to read back EEPROM location 0x%lx: %s\n",
                   static_cast<unsigned long>(loc), VELQOR2_GetStatusString(status));
            return false;
        }
        if (value != c->image.values[loc]) {
            printf("EEPROM location 0x%lx reads back 0x%0*lX after 0x%0*lX was written\n",
                   static_cast<unsigned long>(loc), value_digits(&c->card),
                   static_cast<unsigned long>(value), value_digits(&c->card),
                   static_cast<unsigned long>(c->image.values[loc]));
            return false;
        }
    }
    return true;
}

int load_differences(const comparison *c, const char *name, bool force, bool unlock) {
    if (c->differ == 0) {
        printf("The card already matches %s: nothing to write\n", name);
        return 0;
    }
    uint64_t protected_mask = protected_locations(&c->card) & c->differ;
    uint64_t held = unlock ? 0 : protected_mask;
    uint64_t to_write = c->differ & ~held;
    show_changes(c, protected_mask, unlock);
    if (to_write == 0) {
        printf("Nothing written: %u protected location%s differ%s (+unlock writes them)\n",
               count_bits(held), plural(count_bits(held)), count_bits(held) == 1 ? "s" : "");
        return 1;
    }
    if (!force) {
        int go_on = confirm_writes(&c->card, count_bits(to_write));
        if (go_on != 1) return go_on;
    }
    if (!write_locations(c, to_write) || !read_back(c, to_write)) return -1;
    if (held == 0) {
        printf("Wrote %u location%s: the card now matches %s\n", count_bits(to_write),
               plural(count_bits(to_write)), name);
        return 0;
    }
    printf("Wrote %u location%s; %u protected location%s still differ%s (+unlock writes them)\n",
           count_bits(to_write), plural(count_bits(to_write)), count_bits(held),
           plural(count_bits(held)), count_bits(held) == 1 ? "s" : "");
    return 1;
}

}  // namespace

int load_image(const option_desc options[CARD_OPTION_COUNT], const char *file) {
    bool force = options[OPT_FORCE].value.b != 0;
    if (is_standard_stream(file) && !force) {
        printf(
            "An image from standard input needs +f: standard input cannot also answer the "
            "question\n");
        return -1;
    }
    static comparison c;
    int status = start_comparison(options, file, &c);
    if (status == 0)
        status = load_differences(&c, image_name(file), force, options[OPT_UNLOCK].value.b != 0);
    close_card(&c.card);
    return status;
}
