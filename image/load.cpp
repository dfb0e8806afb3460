// load: puts an image back on the card. The whole image is read and checked
// before the card is opened; only the locations that differ are written,
// once the user agrees; then every location the image lists is read again,
// written or not, and the card is said to match only when all of them do.
#include <cstdio>

#include "board.h"
#include "compare.h"
#include "confirm.h"
#include "report.h"

namespace {

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
    printf("Warning: this will write %u EEPROM location%s of card %s\n", count, plural(count),
           label_of(card->card_id).text);
    reply answer = ask_to_continue();
    if (answer == REPLY_YES) return 1;
    if (answer == REPLY_UNSEEN) return -1;
    printf("Aborted.\n");
    return answer == REPLY_NO ? 0 : -1;  // declining is a decision; no reply is not
}

void report_partial_load(uint64_t written, unsigned total) {
    char list[IMAGE_LOCATIONS * 6 + 4] = "";
    size_t n = 0;
    for (uint32_t loc = 0; loc < IMAGE_LOCATIONS; loc++)
        if (written & bit(loc))
            n += static_cast<size_t>(snprintf(list + n, sizeof list - n, "%s0x%02lX",
                                              n ? ", " : " (", static_cast<unsigned long>(loc)));
    report_failure(
        "Wrote %u of %u locations before the failure%s%s; running load again finishes the job "
        "(it writes only what still differs)\n",
        count_bits(written), total, list, written ? ")" : "");
}

// Writes in ascending order; stops at the first failure.
bool write_locations(const comparison *c, uint64_t to_write) {
    uint64_t written = 0;
    for (uint32_t loc = 0; loc < IMAGE_LOCATIONS; loc++) {
        if ((to_write & bit(loc)) == 0) continue;
        VELQOR2_STATUS status = VELQOR2_WriteConfig(c->card.handle, loc, c->image.values[loc]);
        if (status != VELQOR2_SUCCESS) {
            report_failure("Failed to write EEPROM location 0x%lx: %s\n",
                           static_cast<unsigned long>(loc), VELQOR2_GetStatusString(status));
            report_partial_load(written, count_bits(to_write));
            return false;
        }
        written |= bit(loc);
    }
    return true;
}

// What the final read found, over every location of the image.
struct verification {
    uint64_t not_written;  // written, and reading back another value or failing to read
    uint64_t changed;      // not written, and no longer matching: someone else wrote it
};

verification verify(const comparison *c, uint64_t written, uint64_t held) {
    verification v{};
    const int digits = value_digits(&c->card);
    for (uint32_t loc = 0; loc < IMAGE_LOCATIONS; loc++) {
        if (!image_lists(&c->image, loc) || (held & bit(loc))) continue;
        const unsigned long l = loc, wanted = c->image.values[loc];
        uint32_t value = 0;
        VELQOR2_STATUS status = VELQOR2_ReadConfig(c->card.handle, loc, &value);
        if (status != VELQOR2_SUCCESS) {
            report_failure("Failed to read back EEPROM location 0x%lx: %s\n", l,
                           VELQOR2_GetStatusString(status));
            v.not_written |= bit(loc);
        } else if (value == wanted) {
            continue;
        } else if (written & bit(loc)) {
            report_failure("EEPROM location 0x%lx reads back 0x%0*lX after 0x%0*lX was written\n",
                           l, digits, static_cast<unsigned long>(value), digits, wanted);
            v.not_written |= bit(loc);
        } else {
            report_failure(
                "EEPROM location 0x%lx changed to 0x%0*lX during the load; the image has "
                "0x%0*lX\n",
                l, digits, static_cast<unsigned long>(value), digits, wanted);
            v.changed |= bit(loc);
        }
    }
    return v;
}

// The outcome of the writes, as the final read found the card.
int conclude(const comparison *c, const char *name, uint64_t written, uint64_t held) {
    const unsigned w = count_bits(written), h = count_bits(held);
    const verification v = verify(c, written, held);
    if (v.not_written != 0) {
        report_failure("Wrote %u location%s, but %u of the image's do not read back as written\n",
                       w, plural(w), count_bits(v.not_written));
        return -1;
    }
    if (v.changed != 0) {
        report_failure(
            "Wrote %u location%s, but %u other location%s changed meanwhile: the card does not "
            "match %s\n",
            w, plural(w), count_bits(v.changed), plural(count_bits(v.changed)), name);
        return 1;
    }
    if (h == 0) {
        printf("Wrote %u location%s: the card now matches %s\n", w, plural(w), name);
        return 0;
    }
    printf("Wrote %u location%s; %u protected location%s still differ%s (+unlock writes them)\n", w,
           plural(w), h, plural(h), h == 1 ? "s" : "");
    return 1;
}

int load_differences(const comparison *c, const char *name, const card_choice &choice) {
    if (c->differ == 0) {
        printf("The card already matches %s: nothing to write\n", name);
        return 0;
    }
    uint64_t protected_mask = protected_locations(&c->card) & c->differ;
    uint64_t held = choice.unlock ? 0 : protected_mask;
    uint64_t to_write = c->differ & ~held;
    show_changes(c, protected_mask, choice.unlock);
    if (to_write == 0) {
        printf("Nothing written: %u protected location%s differ%s (+unlock writes them)\n",
               count_bits(held), plural(count_bits(held)), count_bits(held) == 1 ? "s" : "");
        return 1;
    }
    if (!choice.force) {
        int go_on = confirm_writes(&c->card, count_bits(to_write));
        if (go_on != 1) return go_on;
    }
    if (!write_locations(c, to_write)) return -1;
    return conclude(c, name, to_write, held);
}

}  // namespace

int load_image(const card_choice &choice, const char *file) {
    if (is_standard_stream(file) && !choice.force) {
        report_failure(
            "An image from standard input needs +f: standard input cannot also answer the "
            "question\n");
        return -1;
    }
    static comparison c;
    int status = start_comparison(choice, file, &c);
    if (status == 0) status = load_differences(&c, image_name(file), choice);
    close_card(&c.card);
    return status;
}
