// The journal's lines (journal.h), written and read: apart from the files,
// so that the tests and the fuzzer reach them.
#ifndef CHANGE_JOURNAL_TEXT_H
#define CHANGE_JOURNAL_TEXT_H

#include <cstddef>
#include <cstdint>

#include "journal.h"

struct journal_text {
    char *data;  // owned
    size_t length;
};
void free_journal_text(journal_text *t);

// The entry's lines, "change" to "ready"; false when memory runs out.
bool format_entry(const change_entry &entry, journal_text *out);

// A journal file, whole (at most JOURNAL_MAX_BYTES); false when it cannot
// be read.
constexpr size_t JOURNAL_MAX_BYTES = size_t{64} << 20;
bool read_journal(int fd, journal_text *out);

// The cards whose changes the text holds whole ("ready") and not over
// ("done"), ascending; false when memory runs out.
struct card_ids {
    uint32_t *ids;  // owned
    size_t count;
};
bool unfinished_cards(const char *text, size_t length, card_ids *out);
void free_card_ids(card_ids *ids);
bool holds_card(const card_ids &ids, uint32_t card_id);

// The card's last whole entry, with the locations written since; false when
// the text holds none.
bool parse_entry(const char *text, size_t length, uint32_t card_id, change_entry *out);

// A card's plan lines, "plan" to "planned"; false when memory runs out.
bool format_plan(const change_entry &e, journal_text *out);
// The cards the text plans and never begins (no "change" of them follows),
// appended to *out (grown; owned) with their run; false when memory runs
// out.
bool parse_plans(const char *text, size_t length, change_entry **out, size_t *count);

// Whether every whole entry of the file is over.
bool journal_all_done(int fd);

#endif
