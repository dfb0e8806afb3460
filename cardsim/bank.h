// The simulated card bank: its records, its text format and its defaults.
// The bank is plain data; bank_scan.h reads it from text, snapshot.h
// moves it to and from the file.
#ifndef CARDSIM_BANK_H
#define CARDSIM_BANK_H

#include <algorithm>
#include <cstdarg>
#include <cstddef>
#include <cstdint>

#include "velqor2.h"

// Operations that a card can be marked to fail as a whole; faults of single
// locations are kept in the card's location lists.
enum sim_fault_mask : unsigned {
    FAULT_OPEN = 1u << 0,
    FAULT_INFO = 1u << 1,
    FAULT_READ = 1u << 2,   // every read
    FAULT_WRITE = 1u << 4,  // every write
};

// Limits that every load and every write share, far above any real host
// (a few cards of 256 words). A bank within them formats to well under
// BANK_MAX_BYTES, so a write can never make the bank unreadable.
constexpr uint32_t BANK_DEFAULT_WORDS = 256;
constexpr uint32_t BANK_MAX_WORDS = 65536;           // of one card
constexpr size_t BANK_MAX_CARDS = 4096;              // in one bank
constexpr uint64_t BANK_MAX_TOTAL_WORDS = 4u << 20;  // of all cards together
constexpr size_t BANK_MAX_BYTES = size_t{64} << 20;  // of the bank file
constexpr size_t BANK_MODEL_MAX = 43;                // the info record's 44 bytes, less the NUL

// A text made when the library is compiled, so that what it says of the
// limits is written from the constants above.
struct fixed_text {
    char text[1024];
    size_t length;
    constexpr fixed_text &add(const char *s) {
        while (*s && length + 1 < sizeof text) text[length++] = *s++;
        return *this;
    }
    constexpr fixed_text &add(uint64_t n) {
        char digits[20] = {};
        int d = 0;
        do digits[d++] = static_cast<char>('0' + n % 10);
        while ((n /= 10) != 0);
        while (d > 0 && length + 1 < sizeof text) text[length++] = digits[--d];
        return *this;
    }
};

// A set of locations: the faults of single locations. Added in any order,
// then settled (ascending, each once) before it is searched; giving one
// twice changes nothing.
struct location_set {
    uint32_t *at;  // owned
    uint32_t count;
    uint32_t capacity;
};
bool location_set_add(location_set *set, uint32_t location);  // false when memory runs out
void location_set_settle(location_set *set);
inline bool location_set_has(const location_set *set, uint32_t location) {
    return std::binary_search(set->at, set->at + set->count, location);
}
void location_set_free(location_set *set);

struct sim_card {
    uint32_t id;
    int32_t board_type;
    uint32_t word_bits;  // 16 or 32
    uint32_t eeprom_words;
    uint32_t serial;
    char model[BANK_MODEL_MAX + 1];
    unsigned faults;  // sim_fault_mask bits
    location_set read_faults;
    location_set write_faults;
    bool has_cut;        // "fault = cut N": the process ends, as a power cut would end it,
    uint32_t cut_after;  // at its write to the card after its N-th
    uint32_t *words;     // eeprom_words values, owned; null until the card is decoded
    unsigned line;       // of its "[card]" in the bank file, for messages
    // Its lines in the text it was read from: all of them from its "[card]"
    // (text_begin; the first card's from the start of the text) to the next
    // card's (data_end), and the data lines, from data_begin, which are
    // decoded on first use.
    size_t text_begin, data_begin, data_end;
    unsigned data_line;  // the line at data_begin
};

struct sim_bank {
    sim_card *cards;  // owned
    size_t count;
    size_t capacity;
};

// A failure with the status it maps to and a one-line explanation.
struct sim_error {
    VELQOR2_STATUS status;
    char text[768];
};

void sim_error_set(sim_error *err, VELQOR2_STATUS status, const char *format, ...)
    __attribute__((format(printf, 3, 4)));
void sim_error_vset(sim_error *err, VELQOR2_STATUS status, const char *format, va_list ap)
    __attribute__((format(printf, 3, 0)));

// The value every location holds until written: erased EEPROM reads all ones.
inline uint32_t erased_word(const sim_card *card) {
    return card->word_bits == 16 ? 0xFFFFu : 0xFFFFFFFFu;
}
inline bool word_fits(const sim_card *card, uint32_t value) {
    return card->word_bits == 32 || value <= 0xFFFFu;
}
inline bool read_fails(const sim_card *card, uint32_t location) {
    return (card->faults & FAULT_READ) || location_set_has(&card->read_faults, location);
}
inline bool write_fails(const sim_card *card, uint32_t location) {
    return (card->faults & FAULT_WRITE) || location_set_has(&card->write_faults, location);
}

// Whether the card has the location and, when value is given, whether the
// value fits its word; the error says which check failed.
bool bank_check_word(const sim_card *card, uint32_t location, const uint32_t *value,
                     sim_error *err);

void bank_free(sim_bank *bank);

// Appends a card with the given settings and no words. Returns null when
// memory runs out. The card's fault lists move into the bank.
sim_card *bank_add_card(sim_bank *bank, const sim_card &settings);

// Gives the card its words, all erased. False when memory runs out.
bool card_erase_words(sim_card *card);

// Which cards bank_parse decodes: every card, or only the one an open
// selects (the others keep their settings, and no words).
struct bank_selection {
    bool all;
    bool by_index;
    uint32_t key;  // the index or the card ID
};
constexpr bank_selection BANK_ALL{true, false, 0};

// Parses bank text; on failure fills err (SIM_BANK_MALFORMED naming path and
// line, or SIM_NO_MEMORY) and leaves *out empty. With BANK_ALL every line is
// checked. An open needs less: it stops after the card it selects, and of
// the cards before it reads the settings but not the data lines.
bool bank_parse(const char *text, size_t length, const char *path, const bank_selection &which,
                sim_bank *out, sim_error *err);

// Renders a bank whose cards all have their words as text that bank_parse
// reads back to the same bank. Returns a heap text (free it) or null when
// memory runs out.
char *bank_format(const sim_bank *bank, size_t *length);

// The lines bank_format writes for the card at index (the first card's
// with the header, and with the blank line that comes before the next card
// when asked), as a heap text.
char *card_format(const sim_card &card, size_t index, bool blank_after, size_t *length);

// The bank a new user sees before any write: one card of each kind of
// board, with its words. bank_default_words gives a card of it its words.
bool bank_default(sim_bank *out);
bool bank_default_words(sim_card *card);

#endif
