// Writes the bank in the text format that bank_scan reads, into one buffer
// sized beforehand.
#include <cstdlib>
#include <cstring>

#include "bank.h"

namespace {

const char HEADER[] =
    "# Simulated card bank of libvelqor2 (the card simulator).\n"
    "# Each [card] is one card; its index is its place in this file, from 0.\n"
    "# Settings: id, board_type (signed), word_bits (16 or 32), eeprom_words\n"
    "# (default 256), serial, model, and any number of 'fault =' lines: open,\n"
    "# info, read, read <location>, write or write <location>. Numbers are\n"
    "# decimal or 0x-hex.\n"
    "# Data lines 'location: value value ...' are hexadecimal; locations not\n"
    "# listed hold the erased value (all ones). A write rewrites its card.\n"
    "# Limits: 4096 cards, 65536 words a card, 4194304 words in all.\n";

constexpr uint32_t WORDS_PER_LINE = 8;
constexpr size_t CARD_FIXED_BYTES = 512;  // a card's settings lines, its model included
constexpr size_t FAULT_LINE_BYTES = 32;

// Two upper-case hexadecimal digits for each byte value: a write puts down
// every word of the bank.
struct hex_pairs {
    char pair[256][2];
    constexpr hex_pairs() : pair() {
        for (int b = 0; b < 256; b++) {
            pair[b][0] = "0123456789ABCDEF"[b >> 4];
            pair[b][1] = "0123456789ABCDEF"[b & 15];
        }
    }
};
constexpr hex_pairs HEX;

struct writer {
    char *at;
    void text(const char *s) {
        size_t n = strlen(s);
        memcpy(at, s, n);
        at += n;
    }
    void decimal(uint64_t v) {
        char digits[20];
        size_t n = 0;
        do digits[n++] = static_cast<char>('0' + v % 10);
        while ((v /= 10) != 0);
        while (n > 0) *at++ = digits[--n];
    }
    // Upper case: exactly four or eight digits.
    void hex(uint32_t v, int digits) {
        for (int shift = digits * 4 - 8; shift >= 0; shift -= 8, at += 2)
            memcpy(at, HEX.pair[(v >> shift) & 0xFF], 2);
    }
    void hex_minimal(uint32_t v) {
        int count = 1;
        while (count < 8 && (v >> (4 * count)) != 0) count++;
        for (int i = count - 1; i >= 0; i--) *at++ = "0123456789ABCDEF"[(v >> (4 * i)) & 15u];
    }
};

size_t card_bound(const sim_card &card) {
    size_t rows = (card.eeprom_words + WORDS_PER_LINE - 1) / WORDS_PER_LINE;
    return CARD_FIXED_BYTES +
           FAULT_LINE_BYTES * (4 + size_t{card.read_faults.count} + card.write_faults.count) +
           rows * 8 + size_t{card.eeprom_words} * 9;
}

void write_faults(writer *w, const sim_card &card) {
    static const struct {
        unsigned bit;
        const char *line;
    } faults[] = {{FAULT_OPEN, "fault        = open\n"},
                  {FAULT_INFO, "fault        = info\n"},
                  {FAULT_READ, "fault        = read\n"},
                  {FAULT_WRITE, "fault        = write\n"}};
    for (const auto &f : faults)
        if (card.faults & f.bit) w->text(f.line);
    const struct {
        const char *prefix;
        const location_set &set;
    } located[] = {{"fault        = read 0x", card.read_faults},
                   {"fault        = write 0x", card.write_faults}};
    for (const auto &l : located)
        for (uint32_t i = 0; i < l.set.count; i++) {
            w->text(l.prefix);
            w->hex_minimal(l.set.at[i]);
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
    w->text("[card]                # index ");
    w->decimal(index);
    w->text("\nid           = ");
    w->decimal(card.id);
    w->text("\nboard_type   = ");
    if (card.board_type < 0) w->text("-");
    w->decimal(card.board_type < 0 ? 0u - static_cast<uint64_t>(card.board_type)
                                   : static_cast<uint64_t>(card.board_type));
    w->text("\nword_bits    = ");
    w->decimal(card.word_bits);
    w->text("\neeprom_words = ");
    w->decimal(card.eeprom_words);
    w->text("\nserial       = 0x");
    w->hex(card.serial, 8);
    w->text("\nmodel        = ");
    memcpy(w->at, card.model, strnlen(card.model, sizeof card.model));
    w->at += strnlen(card.model, sizeof card.model);
    w->text("\n");
    write_faults(w, card);
}

}  // namespace

char *bank_format(const sim_bank *bank, size_t *length) {
    size_t bound = sizeof HEADER;
    for (size_t i = 0; i < bank->count; i++) bound += 1 + card_bound(bank->cards[i]);
    char *text = static_cast<char *>(malloc(bound));
    if (!text) return nullptr;
    writer w{text};
    w.text(HEADER);
    for (size_t i = 0; i < bank->count; i++) {
        w.text("\n");
        write_head(&w, bank->cards[i], i);
        write_words(&w, bank->cards[i]);
    }
    *length = static_cast<size_t>(w.at - text);
    return text;
}

char *card_format(const sim_card &card, size_t index, bool blank_after, size_t *length) {
    char *text = static_cast<char *>(malloc(sizeof HEADER + 1 + card_bound(card) + 1));
    if (!text) return nullptr;
    writer w{text};
    if (index == 0) w.text(HEADER), w.text("\n");
    write_head(&w, card, index);
    write_words(&w, card);
    if (blank_after) w.text("\n");
    *length = static_cast<size_t>(w.at - text);
    return text;
}
