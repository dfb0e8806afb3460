// Writes the bank in the text format that bank_scan reads, into one buffer
// sized beforehand.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include "bank.h"

namespace {

constexpr fixed_text make_header() {
    fixed_text h{};
    h.add(
        "# Simulated card bank of libvelqor2 (the card simulator).\n"
        "# Each [card] is one card; its index is its place in this file, from 0.\n"
        "# Settings: id, board_type (signed), word_bits (16 or 32), eeprom_words\n"
        "# (default ");
    h.add(BANK_DEFAULT_WORDS);
    h.add(
        "), serial, model, and any number of 'fault =' lines: open,\n"
        "# info, read, read <location>, write, write <location> or cut <writes>\n"
        "# (a power cut after that many writes). Numbers are decimal or 0x-hex.\n"
        "# Data lines 'location: value value ...' are hexadecimal; locations not\n"
        "# listed hold the erased value (all ones). A write rewrites its card.\n"
        "# Limits: ");
    h.add(BANK_MAX_CARDS);
    h.add(" cards, ");
    h.add(BANK_MAX_WORDS);
    h.add(" words a card, ");
    h.add(BANK_MAX_TOTAL_WORDS);
    h.add(" words in all.\n");
    return h;
}
constexpr fixed_text HEADER = make_header();

constexpr uint32_t WORDS_PER_LINE = 8;
constexpr size_t CARD_FIXED_BYTES = 512;  // a card's settings lines, its model included
constexpr size_t FAULT_LINE_BYTES = 32;

struct writer {
    char *at;
    void text(const char *s, const char *more = "", const char *end = "") {
        for (const char *part : {s, more, end}) {
            size_t n = strlen(part);
            memcpy(at, part, n);
            at += n;
        }
    }
    // Upper case, with at least that many digits.
    void hex(uint32_t v, int digits) {
        while (digits < 8 && (v >> (4 * digits)) != 0) digits++;
        for (int i = digits - 1; i >= 0; i--) *at++ = "0123456789ABCDEF"[(v >> (4 * i)) & 15u];
    }
};

size_t card_bound(const sim_card &card) {
    size_t rows = (card.eeprom_words + WORDS_PER_LINE - 1) / WORDS_PER_LINE;
    return CARD_FIXED_BYTES +
           FAULT_LINE_BYTES * (5 + size_t{card.read_faults.count} + card.write_faults.count) +
           rows * 8 + size_t{card.eeprom_words} * 9;
}

// Whole faults first, then those of single locations.
void write_faults(writer *w, const sim_card &card) {
    const struct {
        unsigned bit;
        const char *word;
        const location_set *located;
    } kinds[] = {{FAULT_OPEN, "open", nullptr},
                 {FAULT_INFO, "info", nullptr},
                 {FAULT_READ, "read", &card.read_faults},
                 {FAULT_WRITE, "write", &card.write_faults}};
    for (const auto &k : kinds)
        if (card.faults & k.bit) w->text("fault        = ", k.word, "\n");
    for (const auto &k : kinds)
        for (uint32_t i = 0; k.located && i < k.located->count; i++) {
            w->text("fault        = ", k.word, " 0x");
            w->hex(k.located->at[i], 1);
            w->text("\n");
        }
    if (card.has_cut) {
        w->text("fault        = cut 0x");
        w->hex(card.cut_after, 1);
        w->text("\n");
    }
}

// Rows that hold only erased words are left out: they read back erased.
void write_words(writer *w, const sim_card &card) {
    const int digits = card.word_bits == 32 ? 8 : 4;
    for (uint32_t row = 0; row < card.eeprom_words; row += WORDS_PER_LINE) {
        uint32_t end =
            card.eeprom_words - row > WORDS_PER_LINE ? row + WORDS_PER_LINE : card.eeprom_words;
        uint32_t i = row;
        while (i < end && card.words[i] == erased_word(&card)) i++;
        if (i == end) continue;
        w->text("0x");
        w->hex(row, 4);
        w->text(":");
        for (i = row; i < end; i++) {
            w->text(" ");
            w->hex(card.words[i], digits);
        }
        w->text("\n");
    }
}

// The card's "[card]" line, its settings and its faults.
void write_head(writer *w, const sim_card &card, size_t index) {
    int n = snprintf(w->at, CARD_FIXED_BYTES,
                     "[card]                # index %zu\nid           = %u\n"
                     "board_type   = %d\nword_bits    = %u\neeprom_words = %u\n"
                     "serial       = 0x%08X\nmodel        = %s\n",
                     index, card.id, card.board_type, card.word_bits, card.eeprom_words,
                     card.serial, card.model);
    w->at += n > 0 && n < static_cast<int>(CARD_FIXED_BYTES) ? n : 0;  // it always fits
    write_faults(w, card);
}

// The card's lines, the first card's after the header.
void write_card(writer *w, const sim_card &card, size_t index, bool blank_after) {
    if (index == 0) w->text(HEADER.text, "\n");
    write_head(w, card, index);
    write_words(w, card);
    if (blank_after) w->text("\n");
}

}  // namespace

char *bank_format(const sim_bank *bank, size_t *length) {
    size_t bound = HEADER.length + 2;
    for (size_t i = 0; i < bank->count; i++) bound += card_bound(bank->cards[i]) + 1;
    char *text = static_cast<char *>(malloc(bound));
    if (!text) return nullptr;
    writer w{text};
    if (bank->count == 0) w.text(HEADER.text);
    for (size_t i = 0; i < bank->count; i++) write_card(&w, bank->cards[i], i, i + 1 < bank->count);
    *length = static_cast<size_t>(w.at - text);
    return text;
}

char *card_format(const sim_card &card, size_t index, bool blank_after, size_t *length) {
    char *text = static_cast<char *>(malloc(HEADER.length + 2 + card_bound(card) + 1));
    if (!text) return nullptr;
    writer w{text};
    write_card(&w, card, index, blank_after);
    *length = static_cast<size_t>(w.at - text);
    return text;
}
