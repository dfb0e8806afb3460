// Writes the bank in the text format that bank_scan reads. Every write
// renders the whole bank, so the text is built by hand into one buffer
// sized beforehand: no formatted print per word.
#include <cstdlib>
#include <cstring>

#include "bank.h"
#include "bank_lex.h"

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

// Two hexadecimal digits for each byte value, upper case.
struct hex_pairs {
    char pair[256][2];
    constexpr hex_pairs() : pair() {
        const char *digits = "0123456789ABCDEF";
        for (int b = 0; b < 256; b++) {
            pair[b][0] = digits[b >> 4];
            pair[b][1] = digits[b & 15];
        }
    }
};
inline constexpr hex_pairs HEX;

struct writer {
    char *at;
    void text(const char *s, size_t n) {
        memcpy(at, s, n);
        at += n;
    }
    template <size_t N>
    void literal(const char (&s)[N]) {
        __builtin_memcpy(at, s, N - 1);  // a constant size: no call
        at += N - 1;
    }
    void put(char c) { *at++ = c; }
    void decimal(uint64_t v) {
        char digits[20];
        size_t n = 0;
        do digits[n++] = static_cast<char>('0' + v % 10);
        while ((v /= 10) != 0);
        while (n > 0) *at++ = digits[--n];
    }
    // Exactly four or eight digits, upper case, a byte at a time.
    void hex4(uint32_t v) {
        __builtin_memcpy(at, HEX.pair[v >> 8 & 0xFF], 2);
        __builtin_memcpy(at + 2, HEX.pair[v & 0xFF], 2);
        at += 4;
    }
    void hex8(uint32_t v) {
        hex4(v >> 16);
        hex4(v & 0xFFFF);
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
        if (card.faults & f.bit) w->text(f.line, strlen(f.line));
    for (uint32_t i = 0; i < card.read_faults.count; i++) {
        w->literal("fault        = read 0x");
        w->hex_minimal(card.read_faults.at[i]);
        w->put('\n');
    }
    for (uint32_t i = 0; i < card.write_faults.count; i++) {
        w->literal("fault        = write 0x");
        w->hex_minimal(card.write_faults.at[i]);
        w->put('\n');
    }
}

// Whether count words all hold the erased value; eight words (a whole row)
// are compared two at a time.
bool row_erased(const uint32_t *words, uint32_t count, uint32_t erased) {
    if (count != WORDS_PER_LINE) {
        uint32_t differ = 0;
        for (uint32_t i = 0; i < count; i++) differ |= words[i] ^ erased;
        return differ == 0;
    }
    const uint64_t pair = uint64_t{erased} << 32 | erased;
    uint64_t q[4];
    __builtin_memcpy(q, words, sizeof q);
    return ((q[0] ^ pair) | (q[1] ^ pair) | (q[2] ^ pair) | (q[3] ^ pair)) == 0;
}

// Rows that hold only erased words are left out: they read back erased.
void write_words(writer *w, const sim_card &card) {
    const bool wide = card.word_bits == 32;
    const uint32_t erased = erased_word(&card);
    for (uint32_t row = 0; row < card.eeprom_words; row += WORDS_PER_LINE) {
        uint32_t end =
            card.eeprom_words - row > WORDS_PER_LINE ? row + WORDS_PER_LINE : card.eeprom_words;
        if (row_erased(card.words + row, end - row, erased)) continue;
        w->literal("0x");
        w->hex4(row);
        w->put(':');
        for (uint32_t i = row; i < end; i++) {
            w->put(' ');
            if (wide) w->hex8(card.words[i]);
            else w->hex4(card.words[i]);
        }
        w->put('\n');
    }
}

// The card's "[card]" line, its settings and its faults.
void write_head(writer *w, const sim_card &card, size_t index) {
    w->literal("[card]                # index ");
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
    w->hex8(card.serial);
    w->literal("\nmodel        = ");
    w->text(card.model, strnlen(card.model, sizeof card.model));
    w->put('\n');
    write_faults(w, card);
}

// One row line as the writer puts it down, at text: "0xNNNN:" with the
// row's location, then a blank and the word's digits for each word of the
// row, then a line feed; not every word erased. Returns its length, or 0.
size_t written_row(const sim_card &card, const char *text, const char *end, uint32_t *row) {
    uint32_t at;
    if (end - text < 7 || text[0] != '0' || text[1] != 'x' || text[6] != ':' ||
        !bank_lex::upper_hex4(text + 2, &at) || at < *row || at % WORDS_PER_LINE != 0 ||
        at >= card.eeprom_words)
        return 0;
    const bool wide = card.word_bits == 32;
    const size_t digits = wide ? 8 : 4;
    const uint32_t count =
        card.eeprom_words - at < WORDS_PER_LINE ? card.eeprom_words - at : WORDS_PER_LINE;
    const size_t length = 7 + count * (digits + 1) + 1;
    if (static_cast<size_t>(end - text) < length || text[length - 1] != '\n') return 0;
    // Each token as eight bytes (byte i is its character i), a 16-bit word's
    // four digits followed by four '0' bytes; the erased word is all 'F'.
    const uint64_t pad = wide ? 0 : 0x3030303000000000u;
    const uint64_t erased_token = pad | (wide ? 0x4646464646464646u : 0x46464646u);
    bool erased = true;
    for (const char *token = text + 7; token < text + length - 1; token += digits + 1) {
        uint64_t x = pad;
        if (wide) memcpy(&x, token + 1, 8);  // sizes the compiler sees: no call
        else memcpy(&x, token + 1, 4);
        if (*token != ' ' || !bank_lex::upper_hex_valid(x)) return 0;
        erased = erased && x == erased_token;
    }
    *row = at + WORDS_PER_LINE;  // rows ascend; those left out are all erased
    return erased ? 0 : length;
}

}  // namespace

bool card_text_is_written(const sim_card &card, size_t index, const char *text, size_t length) {
    char head[CARD_FIXED_BYTES + 4 * FAULT_LINE_BYTES];
    if (card.read_faults.count != 0 || card.write_faults.count != 0)
        return false;  // rare: rewritten
    writer w{head};
    write_head(&w, card, index);
    const size_t head_length = static_cast<size_t>(w.at - head);
    if (length < head_length || memcmp(text, head, head_length) != 0) return false;
    const char *c = text + head_length, *const end = text + length;
    for (uint32_t row = 0; c < end;) {
        size_t row_length = written_row(card, c, end, &row);
        if (row_length == 0) return false;
        c += row_length;
    }
    return true;
}

char *bank_render(const sim_bank *bank, const card_copy *copies, size_t *length) {
    size_t bound = sizeof HEADER;
    for (size_t i = 0; i < bank->count; i++)
        bound += 1 + (copies && copies[i].text ? copies[i].length : card_bound(bank->cards[i]));
    char *text = static_cast<char *>(malloc(bound));
    if (!text) return nullptr;
    writer w{text};
    w.literal(HEADER);
    for (size_t i = 0; i < bank->count; i++) {
        w.put('\n');
        if (copies && copies[i].text) {
            w.text(copies[i].text, copies[i].length);
        } else {
            write_head(&w, bank->cards[i], i);
            write_words(&w, bank->cards[i]);
        }
    }
    *length = static_cast<size_t>(w.at - text);
    return text;
}

char *bank_format(const sim_bank *bank, size_t *length) {
    return bank_render(bank, nullptr, length);
}
