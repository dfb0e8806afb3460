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

#include "bank.h"

// Slots of the card IDs' hash table: twice the cards a bank may hold.
constexpr unsigned ID_SLOT_BITS = 13;
static_assert(size_t{1} << ID_SLOT_BITS >= 2 * BANK_MAX_CARDS);

struct bank_scan {
    const char *text;  // not owned; outlives the scan
    size_t length;
    const char *path;  // for messages; not owned
    size_t pos;        // of the next line
    unsigned line;     // of the last line read
    bool finished;     // every line read: the bank holds every card
    sim_error error;   // status 0, or why a line was refused
    sim_bank bank;     // the cards read, each whole
    uint64_t total_words;
    // Card ID -> place in the bank + 1 (0: empty), open addressing, at most
    // half full: lookups and the refusal of a repeated ID cost the same for
    // every card.
    uint16_t id_slots[size_t{1} << ID_SLOT_BITS];
};

void scan_start(bank_scan *scan, const char *text, size_t length, const char *path);
inline void scan_free(bank_scan *scan) { bank_free(&scan->bank); }

constexpr size_t NO_CARD = static_cast<size_t>(-1);

// Reads on until the card at that index, or with that ID, has been read;
// *index is its place, or NO_CARD when the text ends first. False when a
// line is refused, with err filled.
bool scan_find(bank_scan *scan, bool by_index, uint32_t key, size_t *index, sim_error *err);

// Reads every line, decoding no card.
bool scan_all(bank_scan *scan, sim_error *err);

// Decodes the words of a complete card from its data lines, once; a card
// that fails keeps no words.
bool scan_decode(bank_scan *scan, size_t index, sim_error *err);

// A write's new text: the scan's, which has read every line, with the
// lines of the card at index replaced by the given ones. A heap text, or
// null when memory runs out.
char *scan_splice(const bank_scan *scan, size_t index, const char *lines, size_t lines_length,
                  size_t *length);

// The scan goes on in that text (not owned), as if it had read it: the
// card at index has its words, the cards after it have moved.
void scan_moved(bank_scan *scan, size_t index, const char *text, size_t length);

#endif
