// The simulated card bank: its records, its text format and its defaults.
// The bank is plain data; bank_store.h moves it to and from the file.
#ifndef CARDSIM_BANK_H
#define CARDSIM_BANK_H

#include <cstdarg>
#include <cstddef>
#include <cstdint>

#include "velqor2.h"

// Operations that a card can be marked to fail.
enum sim_fault_mask : unsigned {
    FAULT_OPEN = 1u << 0,
    FAULT_INFO = 1u << 1,
    FAULT_READ = 1u << 2,      // every read
    FAULT_READ_AT = 1u << 3,   // the read of read_fault_at only
    FAULT_WRITE = 1u << 4,     // every write
    FAULT_WRITE_AT = 1u << 5,  // the write of write_fault_at only
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

struct sim_card {
    uint32_t id;
    int32_t board_type;
    uint32_t word_bits;  // 16 or 32
    uint32_t eeprom_words;
    uint32_t serial;
    char model[BANK_MODEL_MAX + 1];
    unsigned faults;  // sim_fault_mask bits
    uint32_t read_fault_at;
    uint32_t write_fault_at;
    uint32_t *words;  // eeprom_words values, owned; null for a card not loaded
    unsigned line;    // of its "[card]" in the bank file, for messages
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

// Whether the card has the location and, when value is given, whether the
// value fits its word; the error says which check failed.
bool bank_check_word(const sim_card *card, uint32_t location, const uint32_t *value,
                     sim_error *err);

void bank_free(sim_bank *bank);
sim_card *bank_find_id(const sim_bank *bank, uint32_t id);

// Which cards a load fills with their words: every card (for a write,
// which rewrites the whole bank), or only the one that an open selects.
// The others keep their settings, for lookups, and no words.
struct bank_selection {
    bool all;
    bool by_index;
    uint32_t key;  // the index or the card ID
};
constexpr bank_selection BANK_ALL{true, false, 0};

// Appends a card with the given settings, its words all erased when
// with_words, else none. Returns null when memory runs out.
sim_card *bank_add_card(sim_bank *bank, uint32_t id, int32_t board_type, uint32_t word_bits,
                        uint32_t eeprom_words, bool with_words);

// Parses bank text; on failure fills err (SIM_BANK_MALFORMED naming path and
// line, or SIM_NO_MEMORY) and leaves *out empty. With BANK_ALL every line is
// checked. An open needs less: it stops after the card it selects, and of
// the cards before it reads the settings but not the data lines.
bool bank_parse(const char *text, size_t length, const char *path, const bank_selection &which,
                sim_bank *out, sim_error *err);

// Renders the bank as text that bank_parse reads back to the same bank.
// Returns a heap text (free it) or null when memory runs out.
char *bank_format(const sim_bank *bank, size_t *length);

// The bank a new user sees before any write: one card of each kind of board.
bool bank_default(const bank_selection &which, sim_bank *out);

#endif
