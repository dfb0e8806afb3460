// Reading one location, and the guarded write of one location.
#include <cstdio>

#include "board.h"
#include "change.h"
#include "confirm.h"
#include "modes.h"
#include "one_location.h"

int read_location(const card_session *card, uint32_t location) {
    print_card_line(stdout, card);
    uint32_t value = 0;
    VELQOR2_STATUS status = VELQOR2_ReadConfig(card->handle, location, &value);
    if (status != VELQOR2_SUCCESS) {
        printf("Failed to read EEPROM location 0x%lx: %s\n", static_cast<unsigned long>(location),
               VELQOR2_GetStatusString(status));
        return -1;
    }
    printf("%s\n", format_read_cell(location, value, value_digits(card)).text);
    return 0;
}

namespace {

// A card that a change was cut short on is written only once that change is
// settled: nothing is asked.
bool unfinished_change(change_run *run, const card_session *card) {
    change_entry unfinished;
    if (!card_unfinished(run, card->card_id, &unfinished)) return false;
    char text[SAFE_TEXT_MAX + 512];
    describe_unfinished(unfinished, text, sizeof text);
    printf("%s\n", text);
    return true;
}

int ask_and_write(change_run *run, const card_session *card, uint32_t location, uint32_t data,
                  const card_choice &choice);

}  // namespace

int write_location(const card_session *card, uint32_t location, uint32_t data,
                   const card_choice &choice) {
    change_run run{};
    start_change_run(&run, APP_NAME, "write");
    int status = ask_and_write(&run, card, location, data, choice);
    failure_log log{};
    if (finish_change_run(&run, &log) != 0) status = -1;
    clear_failures(&log);
    return status;
}

namespace {

int ask_and_write(change_run *run, const card_session *card, uint32_t location, uint32_t data,
                  const card_choice &choice) {
    reply answer = REPLY_YES;
    if (!choice.force) print_card_line(stdout, card);
    // A value the word cannot hold is refused before the question: the
    // library might cut it silently, and a question about a write that
    // cannot happen misleads.
    if (card->word_width == 2 && data > 0xFFFFu) {
        printf("Value 0x%lx does not fit the card's %u-bit word\n",
               static_cast<unsigned long>(data), card->word_width * 8);
        return -1;
    }
    if (unfinished_change(run, card)) return -1;
    if (!choice.force) {
        printf("Warning: this will write the value %lu/0x%lx to EEPROM location 0x%lx\n",
               static_cast<unsigned long>(data), static_cast<unsigned long>(data),
               static_cast<unsigned long>(location));
        answer = ask_to_continue();
        if (answer == REPLY_UNSEEN) return -1;  // main names the failed write
        // The card may have changed while the user read the question: what
        // is protected follows from the board as it is now.
        if (answer == REPLY_YES && confirm_card_unchanged(card) != 0) return -1;
    }
    if (is_protected_location(card->board_type, location) && !choice.unlock) {
        printf("Permission denied to protected location.\n");
        return -1;
    }
    if (answer != REPLY_YES) {
        printf("Aborted.\n");
        return answer == REPLY_NO ? 0 : -1;  // declining is a decision; no reply is not
    }
    // A change of its own: locked, journaled, and in the history with what
    // the location held.
    VELQOR2_STATUS status = VELQOR2_SUCCESS;
    failure_log log{};
    int written = write_one_location(run, *card, location, data, &status, &log);
    clear_failures(&log);
    if (written == 1)
        printf("Failed to write EEPROM location 0x%lx: %s\n", static_cast<unsigned long>(location),
               VELQOR2_GetStatusString(status));
    return written == 0 ? 0 : -1;
}

}  // namespace
