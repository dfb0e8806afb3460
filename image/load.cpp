// load: puts an image back on the card. The whole image is read and checked
// before the card is opened; only the locations that differ are written,
// once the user agrees; then every location the image lists is read again,
// written or not, and the card is said to match only when all of them do.
#include "load.h"

#include <cstdio>

#include "board.h"
#include "confirm.h"
#include "output.h"
#include "report.h"

namespace {

location_mask protected_locations(const card_session *card) {
    location_mask mask = 0;
    for (uint32_t loc = 0; loc < CONFIG_LOCATIONS; loc++)
        if (is_protected_location(card->board_type, loc)) mask |= bit(loc);
    return mask;
}

void show_changes(FILE *stream, const comparison *c, location_mask protected_mask, bool unlock) {
    for (uint32_t loc = 0; stream && loc < CONFIG_LOCATIONS; loc++) {
        if ((c->differ & bit(loc)) == 0) continue;
        const char *note = (protected_mask & bit(loc)) == 0 ? ""
                           : unlock                         ? "  (protected)"
                                                            : "  (protected: left unchanged)";
        print_location(stream, &c->card, loc, c->card_values[loc]);
        fprintf(stream, " -> 0x%0*lX%s\n", value_digits(&c->card),
                static_cast<unsigned long>(c->image.values[loc]), note);
    }
}

void report_partial_load(location_mask written, unsigned total, failure_log *log) {
    char list[CONFIG_LOCATIONS * 6 + 4] = "";
    size_t n = 0;
    for (uint32_t loc = 0; loc < CONFIG_LOCATIONS; loc++)
        if (written & bit(loc))
            n += static_cast<size_t>(snprintf(list + n, sizeof list - n, "%s0x%02lX",
                                              n ? ", " : " (", static_cast<unsigned long>(loc)));
    log_failure(
        log,
        "Wrote %u of %u locations before the failure%s%s; running load again finishes the job "
        "(it writes only what still differs)\n",
        count_bits(written), total, list, written ? ")" : "");
}

// Writes in ascending order; stops at the first failure.
bool write_locations(const comparison *c, location_mask to_write, card_outcome *out) {
    for (uint32_t loc = 0; loc < CONFIG_LOCATIONS; loc++) {
        if ((to_write & bit(loc)) == 0) continue;
        VELQOR2_STATUS status = VELQOR2_WriteConfig(c->card.handle, loc, c->image.values[loc]);
        if (status != VELQOR2_SUCCESS) {
            log_failure(c->card.log, "Failed to write EEPROM location 0x%lx: %s\n",
                        static_cast<unsigned long>(loc), VELQOR2_GetStatusString(status));
            report_partial_load(out->written, count_bits(to_write), c->card.log);
            return false;
        }
        out->written |= bit(loc);
    }
    return true;
}

// What the final read found, over every location of the image.
struct verification {
    location_mask not_written;  // written, and reading back another value or failing to read
    location_mask changed;      // not written, and no longer matching: someone else wrote it
};

verification verify(const comparison *c, location_mask written, location_mask held) {
    verification v{};
    const int digits = value_digits(&c->card);
    for (uint32_t loc = 0; loc < CONFIG_LOCATIONS; loc++) {
        if (!image_lists(&c->image, loc) || (held & bit(loc))) continue;
        const unsigned long l = loc, wanted = c->image.values[loc];
        uint32_t value = 0;
        VELQOR2_STATUS status = VELQOR2_ReadConfig(c->card.handle, loc, &value);
        if (status != VELQOR2_SUCCESS) {
            log_failure(c->card.log, "Failed to read back EEPROM location 0x%lx: %s\n", l,
                        VELQOR2_GetStatusString(status));
            v.not_written |= bit(loc);
        } else if (value == wanted) {
            continue;
        } else if (written & bit(loc)) {
            log_failure(c->card.log,
                        "EEPROM location 0x%lx reads back 0x%0*lX after 0x%0*lX was written\n", l,
                        digits, static_cast<unsigned long>(value), digits, wanted);
            v.not_written |= bit(loc);
        } else {
            log_failure(c->card.log,
                        "EEPROM location 0x%lx changed to 0x%0*lX during the load; the image has "
                        "0x%0*lX\n",
                        l, digits, static_cast<unsigned long>(value), digits, wanted);
            v.changed |= bit(loc);
        }
    }
    return v;
}

// The outcome of the writes, as the final read found the card.
int conclude(const comparison *c, const char *name, location_mask written, location_mask held,
             card_outcome *out) {
    const unsigned w = count_bits(written), h = count_bits(held);
    const verification v = verify(c, written, held);
    out->verified = v.not_written == 0 && v.changed == 0;
    if (v.not_written != 0) {
        log_failure(c->card.log,
                    "Wrote %u location%s, but %u of the image's do not read back as written\n", w,
                    plural(w), count_bits(v.not_written));
        return -1;
    }
    if (v.changed != 0) {
        log_failure(
            c->card.log,
            "Wrote %u location%s, but %u other location%s changed meanwhile: the card does not "
            "match %s\n",
            w, plural(w), count_bits(v.changed), plural(count_bits(v.changed)), name);
        out->result = load_result::CHANGED_MEANWHILE;
        return 1;
    }
    out->result = h == 0 ? load_result::WRITTEN : load_result::PROTECTED_LEFT;
    return h == 0 ? 0 : 1;
}

}  // namespace

int prepare_load(const card_choice &choice, const char *file, pending_load *p, card_outcome *out) {
    // Shown before the question, and with +json only when it is asked.
    FILE *shown = json_output() && choice.force ? nullptr : prompt_stream();
    p->name = image_name(file);
    p->unlock = choice.unlock;
    p->to_write = p->held = 0;
    if (start_comparison(choice, file, image_use::LOAD, shown, &p->c, out) != 0) return -1;
    const comparison *c = &p->c;
    if (c->differ == 0) {
        out->result = load_result::ALREADY_MATCHED;
        out->verified = true;
        return 0;
    }
    location_mask protected_mask = protected_locations(&c->card) & c->differ;
    out->protected_mask = protected_mask;
    p->held = choice.unlock ? 0 : protected_mask;
    p->to_write = c->differ & ~p->held;
    show_changes(shown, c, protected_mask, choice.unlock);
    if (p->to_write != 0) return 0;
    out->result = load_result::PROTECTED_LEFT;
    out->verified = true;
    return 1;
}

int apply_load(pending_load *p, bool asked, card_outcome *out) {
    // What is protected, and the word, follow from the board type the
    // question showed; a card that changed meanwhile is not written.
    card_session *card = &p->c.card;
    if (card->handle == 0 ? reopen_card(card) != 0 : asked && confirm_card_unchanged(card) != 0) {
        out->card_failed = true;
        return -1;
    }
    if (!write_locations(&p->c, p->to_write, out)) {
        out->card_failed = true;
        return -1;
    }
    return conclude(&p->c, p->name, p->to_write, p->held, out);
}

int ask_before_loading(unsigned locations, unsigned cards, const card_session *card,
                       failure_log *log) {
    FILE *stream = prompt_stream();
    if (cards == 1)
        fprintf(stream, "Warning: this will write %u EEPROM location%s of card %s\n", locations,
                plural(locations), label_of(card->card_id).text);
    else
        fprintf(stream, "Warning: this will write %u EEPROM location%s of %u cards\n", locations,
                plural(locations), cards);
    reply answer = ask_to_continue(stream);
    if (answer == REPLY_YES) return 1;
    if (answer == REPLY_UNSEEN) {
        log_failure(log,
                    "Cannot ask before writing: the question could not be shown; nothing "
                    "written\n");
        return -1;
    }
    fprintf(stream, "Aborted.\n");
    if (answer == REPLY_NO) return 0;
    // Declining is a decision; no reply is not.
    log_failure(log, "No reply to the question: nothing written\n");
    return -1;
}

int load_card(const card_choice &choice, const char *file, card_outcome *out) {
    if (is_standard_stream(file) && !choice.force) {
        log_failure(&out->failures,
                    "An image from standard input needs +f: standard input cannot also answer the "
                    "question\n");
        return end_outcome(out, -1);
    }
    static pending_load p;
    int status = prepare_load(choice, file, &p, out);
    if (status == 0 && p.to_write != 0) {
        int go_on = choice.force
                        ? 1
                        : ask_before_loading(count_bits(p.to_write), 1, &p.c.card, &out->failures);
        if (go_on == 1) status = apply_load(&p, !choice.force, out);
        else {
            out->result = load_result::ABORTED;
            status = go_on;
        }
    }
    close_card(&p.c.card);
    return end_outcome(out, status);
}
