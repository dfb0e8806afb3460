// save: locations 0x00 to 0x3F of the selected card, as an image file.
#include <cstdarg>
#include <cstdio>
#include <ctime>

#include "actions.h"
#include "eeprom.h"
#include "identity.h"
#include "image_file.h"
#include "report.h"

namespace {

struct text_buffer {
    char data[8192];  // a full image takes about 2 KiB
    size_t length;
};

void append(text_buffer *b, const char *format, ...) __attribute__((format(printf, 2, 3)));

void append(text_buffer *b, const char *format, ...) {
    va_list ap;
    va_start(ap, format);
    int n = vsnprintf(b->data + b->length, sizeof b->data - b->length, format, ap);
    va_end(ap);
    if (n > 0) b->length += static_cast<size_t>(n);
    if (b->length >= sizeof b->data) b->length = sizeof b->data - 1;  // cut, never overrun
}

// Of the card, only what the interface defines: its ID and board type.
void format_image(const card_session *card, const uint32_t *values, text_buffer *b) {
    char when[32] = "an unknown time";
    time_t now = time(nullptr);
    struct tm utc;
    if (now != static_cast<time_t>(-1) && gmtime_r(&now, &utc))
        strftime(when, sizeof when, "%Y-%m-%d %H:%M UTC", &utc);
    append(b, "# EEPROM image of card %s, saved by %s %s at %s\n", label_of(card->card_id).text,
           APP_NAME, tool_version().text, when);
    append(b, "card_id    = %lu\n", static_cast<unsigned long>(card->card_id));
    append(b, "board_type = %ld\n", static_cast<long>(card->board_type));
    append(b, "word_bits  = %u\n", card->word_width * 8);
    for (uint32_t loc = 0; loc < CONFIG_LOCATIONS; loc++)
        append(b, "%s\n", format_cell(loc, &values[loc], value_digits(card)).text);
}

int save_open_card(image_run *run, const card_session *card, const image_path &file,
                   bool flush_folder, card_record *r) {
    uint32_t values[CONFIG_LOCATIONS] = {};
    card_lock lock;
    if (lock_for_reading(run, *card, r, &lock) != 0) {
        unlock_card(&lock);
        log_failure(&r->failures, "No image written.\n");
        return -1;
    }
    const bool read = read_locations(card, ~location_mask{0}, values);
    unlock_card(&lock);
    if (!read) {
        r->card_failed = true;
        log_failure(&r->failures, "No image written.\n");
        return -1;
    }
    text_buffer image;
    image.length = 0;
    format_image(card, values, &image);
    image_error err;
    if (!write_image_file(file, image.data, image.length, flush_folder, &err)) {
        log_failure(&r->failures, "%s", err.text);
        return -1;
    }
    r->save.locations = CONFIG_LOCATIONS;
    return 0;
}

}  // namespace

int save_card(image_run *run, const card_choice &choice, const image_path &file, bool flush_folder,
              card_record *r) {
    card_session card{};
    int status = open_card_for(choice, &card, r);
    if (status == 0) status = save_open_card(run, &card, file, flush_folder, r);
    close_card(&card);
    return end_record(r, status);
}
