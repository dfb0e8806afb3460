// Writes the bank in the text format that bank_scan reads. Every write
// renders the whole bank, so the text is built by hand into one buffer
// sized beforehand: no formatted print per word.
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
    "# listed hold the erased value (all ones). Writes rewrite this file.\n"
    "# Limits: 4096 cards, 65536 words a card, 4194304 words in all.\n";

constexpr uint32_t WORDS_PER_LINE = 8;
constexpr size_t CARD_FIXED_BYTES = 512;  // a card's settings lines, its model included
constexpr size_t FAULT_LINE_BYTES = 32;

struct writer {
    char *at;
    void text(const char *s, size_t n) {
        memcpy(at, s, n);
        at += n;
    }
    template <size_t N>
    void literal(const char (&s)[N]) {
        text(s, N - 1);
    }
    void decimal(uint64_t v) {
        char digits[20];
        size_t n = 0;
        do digits[n++] = static_cast<char>('0' + v % 10);
        while ((v /= 10) != 0);
        while (n > 0) *at++ = digits[--n];
    }
    // Exactly count digits, upper case.
    void hex(uint32_t v, int count) {
        for (int i = count - 1; i >= 0; i--) *at++ = "0123456789ABCDEF"[(v >> (4 * i)) & 15u];
    }
    void hex_minimal(uint32_t v) {
        int count = 1;
        while (count < 8 && (v >> (4 * count)) != 0) count++;
        hex(v, count);
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
        if (card.faults & f.bit) w->text(f.line, strlen(f.line));
    for (uint32_t i = 0; i < card.read_faults.count; i++) {
        w->literal("fault        = read 0x");
        w->hex_minimal(card.read_faults.at[i]);
        w->literal("\n");
    }
    for (uint32_t i = 0; i < card.write_faults.count; i++) {
        w->literal("fault        = write 0x");
        w->hex_minimal(card.write_faults.at[i]);
        w->literal("\n");
    }
}

// Rows that hold only erased words are left out: they read back erased.
void write_words(writer *w, const sim_card &card) {
    const int digits = card.word_bits == 16 ? 4 : 8;
    const uint32_t erased = erased_word(&card);
    for (uint32_t row = 0; row < card.eeprom_words; row += WORDS_PER_LINE) {
        uint32_t end =
            card.eeprom_words - row > WORDS_PER_LINE ? row + WORDS_PER_LINE : card.eeprom_words;
        uint32_t differ = 0;
        for (uint32_t i = row; i < end; i++) differ |= card.words[i] ^ erased;
        if (differ == 0) continue;
        w->literal("0x");
        w->hex(row, 4);
        w->literal(":");
        for (uint32_t i = row; i < end; i++) {
            w->literal(" ");
            w->hex(card.words[i], digits);
        }
        w->literal("\n");
    }
}

void write_card(writer *w, const sim_card &card, size_t index) {
    w->literal("\n[card]                # index ");
    w->decimal(index);
    w->literal("\nid           = ");
    w->decimal(card.id);
    w->literal("\nboard_type   = ");
    if (card.board_type < 0) w->literal("-");
    w->decimal(card.board_type < 0 ? 0u - static_cast<uint64_t>(card.board_type)
                                   : static_cast<uint64_t>(card.board_type));
    w->literal("\nword_bits    = ");
    w->decimal(card.word_bits);
    w->literal("\neeprom_words = ");
    w->decimal(card.eeprom_words);
    w->literal("\nserial       = 0x");
    w->hex(card.serial, 8);
    w->literal("\nmodel        = ");
    w->text(card.model, strnlen(card.model, sizeof card.model));
    w->literal("\n");
    write_faults(w, card);
    write_words(w, card);
}

}  // namespace

char *bank_format(const sim_bank *bank, size_t *length) {
    size_t bound = sizeof HEADER;
    for (size_t i = 0; i < bank->count; i++) bound += card_bound(bank->cards[i]);
    char *text = static_cast<char *>(malloc(bound));
    if (!text) return nullptr;
    writer w{text};
    w.literal(HEADER);
    for (size_t i = 0; i < bank->count; i++) write_card(&w, bank->cards[i], i);
    *length = static_cast<size_t>(w.at - text);
    return text;
}
