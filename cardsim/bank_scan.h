// Reads bank text (the format is documented in the README) as far as a
// caller needs and no further, and goes on from there when asked for more:
//
//   [card]                     starts a card; its index is its place, from 0
//   key = value                settings: id, board_type, word_bits,
//                              eeprom_words, serial, model, fault
//   address: value value ...   word values from that location on (hex)
//
// '#' starts a comment. Settings come before a card's first data line, so
// that every data line can be checked against the card's size and width.
// The scan reads every line's shape and every setting; a card's data lines
// are only located, and decoded into its words when the card is used. So
// opening cards 0, 1, 2, ... one after another reads each line once.
#ifndef CARDSIM_BANK_SCAN_H
#define CARDSIM_BANK_SCAN_H

#include <cstddef>
#include <cstdint>

#include "bank.h"

// Card ID -> place in the bank, for lookups and for refusing a repeated ID.
// A bank of a few cards needs no allocation.
struct id_index {
    uint32_t *slots;  // place + 1; 0 is empty: small, or owned
    size_t capacity;  // a power of two, or 0
    size_t used;
    uint32_t small[16];
};

struct bank_scan {
    const char *text;  // not owned; outlives the scan
    size_t length;
    const char *path;  // for messages; not owned
    size_t pos;        // of the next line
    unsigned line;     // of the last line read
    bool finished;     // every line read: the bank holds every card
    bool failed;       // a line was refused: error says why, for every later call
    sim_error error;
    sim_bank bank;  // the cards found so far; the last one may be incomplete
    uint64_t total_words;
    id_index ids;
    // The card a caller asked for: its data lines are decoded as they are
    // read, rather than read again afterwards.
    bool want_by_id;
    size_t want_index;
    uint32_t want_id;
    bool decoding;  // the current card is that one
    // The card being read.
    bool in_card;
    bool added;  // it is in the bank already (its first data line was read)
    unsigned card_line;
    size_t card_begin;    // of its "[card]" line
    unsigned seen;        // settings given, a bit each
    sim_card draft;       // its settings until it is added
    size_t nul_searched;  // the text holds no NUL byte before this
};

void scan_start(bank_scan *scan, const char *text, size_t length, const char *path);
void scan_free(bank_scan *scan);

// A scan that has read everything: the bank given (taken over, every card
// with its words), for a bank that comes from no text.
bool scan_adopt(bank_scan *scan, sim_bank *bank, const char *path);

// Cards whose every line has been read.
size_t scan_complete(const bank_scan *scan);

constexpr size_t NO_CARD = static_cast<size_t>(-1);

// Reads on until the card at index is complete, or the text ends (then
// *found is false). False when a line is refused, with err filled.
bool scan_to_index(bank_scan *scan, size_t index, bool *found, sim_error *err);

// Reads on until the first card with that ID is complete; *index is its
// place, or NO_CARD when the text ends without one.
bool scan_find_id(bank_scan *scan, uint32_t id, size_t *index, sim_error *err);

// Reads every line, decoding no card.
bool scan_all(bank_scan *scan, sim_error *err);
bool scan_decode_all(bank_scan *scan, sim_error *err);

// Decodes the words of a complete card from its data lines, once.
bool scan_decode(bank_scan *scan, size_t index, sim_error *err);

// For a write of the whole bank, of a scan that has read every line: where
// the lines of each card are that can be copied as they are (the writer's
// own), and null for the others, whose words are decoded then; the card at
// changed is always written from its words. *copied says whether any is.
bool scan_plan_copies(bank_scan *scan, size_t changed, card_copy *copies, bool *copied,
                      sim_error *err);

// For the scan's own use: a card's words before its data lines (erased, or
// the built-in bank's), and one data line "address: values" (trimmed, its
// comment cut, colon its first ':') decoded into them.
bool card_words_begin(sim_card *card, const char *path, sim_error *err);
bool decode_data_line(const char *path, sim_card *card, unsigned line, const char *begin,
                      const char *colon, const char *end, sim_error *err);

#endif
