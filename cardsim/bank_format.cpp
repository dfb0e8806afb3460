// Writes the bank in the text format that bank_parse reads.
#include <cstdarg>
#include <cstdio>
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

// A growing text; on the first failed allocation it stays failed.
struct text_buffer {
    char *data;
    size_t length;
    size_t capacity;
    bool failed;
};

void append(text_buffer *b, const char *format, ...) __attribute__((format(printf, 2, 3)));

void append(text_buffer *b, const char *format, ...) {
    if (b->failed) return;
    va_list ap;
    va_start(ap, format);
    int n = vsnprintf(nullptr, 0, format, ap);
    va_end(ap);
    if (n < 0) {
        b->failed = true;
        return;
    }
    size_t need = b->length + static_cast<size_t>(n) + 1;
    if (need > b->capacity) {
        size_t capacity = b->capacity ? b->capacity : 4096;
        while (capacity < need) capacity *= 2;
        void *grown = realloc(b->data, capacity);
        if (!grown) {
            b->failed = true;
            return;
        }
        b->data = static_cast<char *>(grown);
        b->capacity = capacity;
    }
    va_start(ap, format);
    vsnprintf(b->data + b->length, b->capacity - b->length, format, ap);
    va_end(ap);
    b->length += static_cast<size_t>(n);
}

void append_faults(text_buffer *b, const sim_card *card) {
    static const struct {
        unsigned bit;
        const char *word;
    } faults[] = {
        {FAULT_OPEN, "open"}, {FAULT_INFO, "info"}, {FAULT_READ, "read"}, {FAULT_WRITE, "write"}};
    for (const auto &f : faults)
        if (card->faults & f.bit) append(b, "fault        = %s\n", f.word);
    if (card->faults & FAULT_READ_AT)
        append(b, "fault        = read 0x%X\n", static_cast<unsigned>(card->read_fault_at));
    if (card->faults & FAULT_WRITE_AT)
        append(b, "fault        = write 0x%X\n", static_cast<unsigned>(card->write_fault_at));
}

// Rows that hold only erased words are left out: they read back erased.
void append_words(text_buffer *b, const sim_card *card) {
    const int digits = card->word_bits == 16 ? 4 : 8;
    for (uint32_t row = 0; row < card->eeprom_words; row += WORDS_PER_LINE) {
        uint32_t end =
            row + WORDS_PER_LINE < card->eeprom_words ? row + WORDS_PER_LINE : card->eeprom_words;
        bool erased = true;
        for (uint32_t i = row; i < end; i++) erased = erased && card->words[i] == erased_word(card);
        if (erased) continue;
        append(b, "0x%04X:", static_cast<unsigned>(row));
        for (uint32_t i = row; i < end; i++)
            append(b, " %0*X", digits, static_cast<unsigned>(card->words[i]));
        append(b, "\n");
    }
}

}  // namespace

char *bank_format(const sim_bank *bank, size_t *length) {
    text_buffer b{};
    append(&b, "%s", HEADER);
    for (size_t i = 0; i < bank->count; i++) {
        const sim_card *card = &bank->cards[i];
        append(&b, "\n[card]                # index %zu\n", i);
        append(&b, "id           = %u\n", static_cast<unsigned>(card->id));
        append(&b, "board_type   = %d\n", static_cast<int>(card->board_type));
        append(&b, "word_bits    = %u\n", static_cast<unsigned>(card->word_bits));
        append(&b, "eeprom_words = %u\n", static_cast<unsigned>(card->eeprom_words));
        append(&b, "serial       = 0x%08X\n", static_cast<unsigned>(card->serial));
        append(&b, "model        = %s\n", card->model);
        append_faults(&b, card);
        append_words(&b, card);
    }
    if (b.failed) {
        free(b.data);
        return nullptr;
    }
    *length = b.length;
    return b.data;
}
